#include "pictures/flate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>

namespace images {
namespace {

// `expected` bytes; a stream that ends early is damaged, one that goes on is
// read no further.
std::optional<std::string> Inflate(std::string_view data, std::size_t expected) {
    std::string out(expected, '\0');
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const std::size_t got = out.size() - z.avail_out;
    inflateEnd(&z);
    if ((rc != Z_STREAM_END && rc != Z_BUF_ERROR && rc != Z_OK) || got != expected) return std::nullopt;
    return out;
}

int Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

std::optional<std::string> InflateRows(std::string_view data, std::size_t rows, std::size_t rowBytes, bool predicted,
                                       std::size_t bpp, std::size_t limit) {
    const std::size_t stored = rowBytes + (predicted ? 1 : 0);
    if (stored != 0 && rows > limit / stored) return std::nullopt;
    if (!predicted) return Inflate(data, rows * rowBytes);
    auto raw = Inflate(data, stored * rows);
    if (!raw) return std::nullopt;
    bpp = std::max<std::size_t>(1, bpp);
    std::string out(rowBytes * rows, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const auto* in = reinterpret_cast<const unsigned char*>(raw->data());
    for (std::size_t y = 0; y < rows; ++y) {
        const unsigned char filter = in[y * (rowBytes + 1)];
        const unsigned char* src = in + y * (rowBytes + 1) + 1;
        unsigned char* row = o + y * rowBytes;
        const unsigned char* up = y ? row - rowBytes : nullptr;
        for (std::size_t x = 0; x < rowBytes; ++x) {
            const int a = x >= bpp ? row[x - bpp] : 0, b = up ? up[x] : 0, c = up && x >= bpp ? up[x - bpp] : 0;
            int v = src[x];
            switch (filter) {
                case 0: break;
                case 1: v += a; break;
                case 2: v += b; break;
                case 3: v += (a + b) / 2; break;
                case 4: v += Paeth(a, b, c); break;
                default: return std::nullopt;
            }
            row[x] = static_cast<unsigned char>(v);
        }
    }
    return out;
}

}  // namespace images
