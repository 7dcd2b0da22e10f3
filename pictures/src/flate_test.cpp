// Flate rows with PNG predictors: what both the PDF library and the HTML
// engine read pictures back with.
#include "pictures/flate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace images {
namespace {

std::string Deflate(const std::string& plain) {
    uLongf size = compressBound(plain.size());
    std::string out(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                       plain.size()),
              Z_OK);
    out.resize(size);
    return out;
}

TEST(InflateRows, UndoesEveryPngFilterAndRejectsDamage) {
    // Two rows of two RGB pixels; the second row is stored with each filter
    // in turn against the first (Sub, Up, Average and Paeth take bpp 3).
    const std::string first = "\x10\x20\x30\x11\x21\x31", second = "\x15\x25\x35\x40\x50\x60";
    auto stored = [&](unsigned char filter) {
        std::string row(1, char(filter));
        for (std::size_t x = 0; x < 6; ++x) {
            const int a = x >= 3 ? (unsigned char)second[x - 3] : 0, b = (unsigned char)first[x],
                      c = x >= 3 ? (unsigned char)first[x - 3] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predictors[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            row += char((unsigned char)second[x] - predictors[filter]);
        }
        return std::string(1, '\0') + first + row;
    };
    for (unsigned char filter = 0; filter <= 4; ++filter) {
        auto rows = InflateRows(Deflate(stored(filter)), 2, 6, true, 3);
        ASSERT_TRUE(rows) << int(filter);
        EXPECT_EQ(*rows, first + second) << int(filter);
    }
    EXPECT_FALSE(InflateRows(Deflate(std::string(1, '\x05') + first + stored(0).substr(7)), 2, 6, true, 3));
    // Without predictors the stream is the rows; it must be exactly as long.
    EXPECT_EQ(InflateRows(Deflate(first + second), 2, 6, false, 3), first + second);
    EXPECT_FALSE(InflateRows(Deflate(first), 2, 6, false, 3));
    // What follows the rows is not read.
    EXPECT_EQ(InflateRows(Deflate(first + second + "x"), 2, 6, false, 3), first + second);
    EXPECT_FALSE(InflateRows("not a zlib stream", 2, 6, false, 3));
    // A limit below what the stream holds stops it before anything is inflated.
    EXPECT_FALSE(InflateRows(Deflate(first + second), 2, 6, false, 3, 11));
    EXPECT_FALSE(InflateRows(Deflate(stored(1)), 2, 6, true, 3, 12));
}

}  // namespace
}  // namespace images
