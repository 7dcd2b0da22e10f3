// BMP: core (12-byte), info (40), v2/v3 (52/56), OS/2 v2 (64), v4 (108) and
// v5 (124) headers; 1/4/8 bits kept as palette indexes, 16/24/32 bits through
// their bit masks, RLE4/RLE8 decoded with every run checked against the row.
// Everything the header claims is checked against the file before a pixel is read.
#include <bit>

#include "codecs.h"

namespace images::detail {
namespace {

struct Mask {
    std::uint32_t mask = 0;
    int shift = 0, width = 0;
    explicit Mask(std::uint32_t m = 0) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        width = std::popcount(m >> shift) ;
        if (width > 16) shift += width - 16, width = 16;  // keep the top 16 bits
    }
    std::uint8_t Get(std::uint32_t v) const {
        if (!mask) return 0;
        std::uint32_t max = (1u << width) - 1, x = (v >> shift) & max;
        return static_cast<std::uint8_t>((x * 255 + max / 2) / max);
    }
    bool Contiguous() const { return !mask || std::popcount(mask) == std::countr_one(mask >> std::countr_zero(mask)); }
};

void PutIndex(Raster& r, std::size_t rowBytes, int x, int y, unsigned v) {
    if (x < 0 || x >= r.width || y < 0 || y >= r.height) return;
    std::uint8_t* row = r.samples.data() + static_cast<std::size_t>(y) * rowBytes;
    if (r.bits == 8) row[x] = static_cast<std::uint8_t>(v);
    else {
        int shift = x & 1 ? 0 : 4;
        row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & ~(0xF << shift)) | (v & 0xF) << shift);
    }
}

// Decodes RLE data into r (rows bottom-up as the file stores them, then
// flipped by the caller). Returns false when nothing was decoded.
bool DecodeRle(std::string_view data, Raster& r, int bits) {
    std::size_t rowBytes = r.RowBytes();
    Bytes b{data};
    std::size_t at = 0;
    int x = 0, y = 0;
    bool any = false;
    while (b.Has(at, 2) && y < r.height) {
        unsigned n = b.U8(at), v = b.U8(at + 1);
        at += 2;
        any = true;
        if (n) {  // a run of n pixels
            for (unsigned i = 0; i < n && x < r.width; ++i, ++x)
                PutIndex(r, rowBytes, x, y, bits == 8 ? v : (i & 1 ? v & 0xF : v >> 4));
            continue;
        }
        if (v == 0) { x = 0, ++y; continue; }  // end of line
        if (v == 1) break;                      // end of bitmap
        if (v == 2) {                            // move
            if (!b.Has(at, 2)) break;
            x += b.U8(at), y += b.U8(at + 1);
            at += 2;
            continue;
        }
        // v literal pixels, padded to a 16-bit boundary
        std::size_t bytes = bits == 8 ? v : (v + 1) / 2;
        if (!b.Has(at, bytes)) break;
        for (unsigned i = 0; i < v; ++i, ++x) {
            unsigned byte = b.U8(at + (bits == 8 ? i : i / 2));
            PutIndex(r, rowBytes, x, y, bits == 8 ? byte : (i & 1 ? byte & 0xF : byte >> 4));
        }
        at += (bytes + 1) & ~std::size_t{1};
    }
    return any;
}

}  // namespace

LoadResult LoadBmp(std::string_view file, std::vector<Picture>& out) {
    Bytes b{file};
    if (!b.Has(0, 18)) return Fail("truncated BMP file");
    std::uint32_t dataOffset = b.Le32(10), hs = b.Le32(14);
    bool core = hs == 12;
    if (!core && hs != 40 && hs != 52 && hs != 56 && hs != 64 && hs != 108 && hs != 124)
        return Fail("BMP file with an unknown header");
    if (!b.Has(14, hs)) return Fail("truncated BMP file");
    std::int64_t w = core ? b.Le16(18) : static_cast<std::int32_t>(b.Le32(18));
    std::int64_t h = core ? b.Le16(20) : static_cast<std::int32_t>(b.Le32(22));
    int bpp = b.Le16(core ? 24 : 28);
    std::uint32_t comp = core ? 0 : b.Le32(30);
    std::uint32_t colorsUsed = core ? 0 : b.Le32(46);
    bool topDown = h < 0;
    h = h < 0 ? -h : h;
    if (w <= 0 || h <= 0) return Fail("BMP file with an empty or negative size");
    if (comp == 4 || comp == 5) return Fail("BMP file wrapping another format");
    if (comp != 0 && comp != 1 && comp != 2 && comp != 3 && comp != 6) return Fail("BMP file with an unknown compression");
    if ((comp == 1 && bpp != 8) || (comp == 2 && bpp != 4) || ((comp == 3 || comp == 6) && bpp != 16 && bpp != 32))
        return Fail("BMP file whose compression does not fit its depth");
    if ((comp == 1 || comp == 2) && topDown) return Fail("BMP file with top-down RLE data");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return Fail("BMP file with " + std::to_string(bpp) + " bits per pixel");
    bool indexed = bpp <= 8;
    const std::uint64_t pixelBytes = indexed ? 1 : 4;
    // Uncompressed rows are checked once it is known how many the file holds.
    if ((comp == 1 || comp == 2) && !FitsLimit(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h), pixelBytes))
        return Fail("BMP picture too large to decode");
    if (w > (1 << 30) || h > (1 << 30)) return Fail("BMP picture too large to decode");

    Raster r;
    r.width = static_cast<int>(w), r.height = static_cast<int>(h);
    Picture p;
    p.format = Format::Bmp;
    if (!core) {
        p.dpiX = SaneDpi(b.Le32(38) * 0.0254), p.dpiY = SaneDpi(b.Le32(42) * 0.0254);
        if (b.Le32(38) == 0) p.dpiX = p.dpiY = 96;
    }

    // Masks: in the header from v2 on, else right after a 40-byte header.
    Mask red(0x7C00), green(0x03E0), blue(0x001F), alpha;
    if (bpp == 32 || bpp == 24) red = Mask(0xFF0000), green = Mask(0xFF00), blue = Mask(0xFF);
    std::size_t paletteAt = 14 + hs;
    if (comp == 3 || comp == 6) {
        std::size_t m = 54;
        if (hs == 40) paletteAt += comp == 6 ? 16 : 12;
        if (!b.Has(m, comp == 6 ? 16 : 12)) return Fail("truncated BMP file");
        red = Mask(b.Le32(m)), green = Mask(b.Le32(m + 4)), blue = Mask(b.Le32(m + 8));
        if (comp == 6 || hs >= 56) alpha = Mask(b.Le32(m + 12));
        if (!red.Contiguous() || !green.Contiguous() || !blue.Contiguous() || !alpha.Contiguous())
            return Fail("BMP file with bad bit masks");
    } else if (hs >= 108 && bpp == 32) {
        alpha = Mask(b.Le32(66));
    }
    // An embedded ICC profile (v5, 'MBED').
    if (hs == 124 && b.Le32(70) == 0x4D424544) {
        std::size_t at = 14 + static_cast<std::size_t>(b.Le32(126)), n = b.Le32(130);
        if (b.Has(at, n) && n >= 132 && file.substr(at + 16, 4) == "RGB ") r.icc.assign(file.substr(at, n));
    }

    if (indexed) {
        std::size_t entry = core ? 3 : 4, max = std::size_t{1} << bpp;
        std::size_t n = colorsUsed && colorsUsed < max ? colorsUsed : max;
        std::size_t avail = dataOffset > paletteAt ? (dataOffset - paletteAt) / entry : 0;
        n = std::min(n, avail);
        if (!b.Has(paletteAt, n * entry)) n = b.Has(paletteAt, 0) ? (file.size() - paletteAt) / entry : 0;
        if (n == 0 && bpp == 1) r.palette = std::string("\0\0\0\xFF\xFF\xFF", 6);
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t e = paletteAt + i * entry;
            r.palette += static_cast<char>(b.U8(e + 2));
            r.palette += static_cast<char>(b.U8(e + 1));
            r.palette += static_cast<char>(b.U8(e));
        }
        // Indexes past the palette show black.
        r.palette.resize(max * 3, '\0');
        r.model = ColorModel::Indexed;
        r.bits = bpp;
    } else {
        r.model = ColorModel::Rgb;
        r.bits = 8;
    }
    if (dataOffset >= file.size()) return Fail("BMP file without pixel data");
    std::string_view data = file.substr(dataOffset);
    std::size_t rowBytes = r.RowBytes();

    if (comp == 1 || comp == 2) {
        r.samples.assign(rowBytes * r.height, 0);
        if (!DecodeRle(data, r, bpp)) return Fail("damaged BMP file (no RLE data)");
        for (int y = 0; y < r.height / 2; ++y)
            std::swap_ranges(r.samples.begin() + y * rowBytes, r.samples.begin() + (y + 1) * rowBytes,
                             r.samples.begin() + (r.height - 1 - y) * rowBytes);
    } else {
        std::size_t stride = ((static_cast<std::size_t>(w) * bpp + 31) / 32) * 4;
        std::size_t rows = std::min<std::size_t>(r.height, data.size() / stride);
        if (rows == 0) return Fail("truncated BMP file (no complete row)");
        if (!FitsLimit(static_cast<std::uint64_t>(w), rows, pixelBytes)) return Fail("BMP picture too large to decode");
        if (rows < static_cast<std::size_t>(r.height)) {
            // Keep the rows the file has, and nothing invented around them.
            p.note = "truncated BMP file: " + std::to_string(rows) + " of " + std::to_string(r.height) + " rows";
            r.height = static_cast<int>(rows);
        }
        r.samples.assign(rowBytes * r.height, 0);
        bool anyAlpha = false;
        std::vector<std::uint8_t> a;
        if (alpha.mask) a.assign(static_cast<std::size_t>(r.width) * r.height, 255);
        for (std::size_t i = 0; i < rows; ++i) {
            // Rows missing from a cut-off bottom-up file are the top ones.
            std::size_t y = topDown ? i : r.height - 1 - i;
            const auto* src = reinterpret_cast<const std::uint8_t*>(data.data()) + i * stride;
            std::uint8_t* dst = r.samples.data() + y * rowBytes;
            if (indexed) { std::memcpy(dst, src, rowBytes); continue; }
            for (int x = 0; x < r.width; ++x) {
                std::uint32_t v = bpp == 16 ? src[2 * x] | src[2 * x + 1] << 8
                                : bpp == 24 ? src[3 * x] | src[3 * x + 1] << 8 | src[3 * x + 2] << 16
                                            : static_cast<std::uint32_t>(src[4 * x] | src[4 * x + 1] << 8 |
                                                                         src[4 * x + 2] << 16) | static_cast<std::uint32_t>(src[4 * x + 3]) << 24;
                dst[3 * x] = red.Get(v), dst[3 * x + 1] = green.Get(v), dst[3 * x + 2] = blue.Get(v);
                if (alpha.mask) {
                    std::uint8_t av = alpha.Get(v);
                    a[y * r.width + x] = av;
                    anyAlpha = anyAlpha || av != 0;
                }
            }
        }
        // A mask over an alpha that is zero everywhere means the writer left it unused.
        if (anyAlpha) r.alpha = std::move(a);
    }
    p.width = r.width, p.height = r.height;
    p.image = EncodeRaster(std::move(r));
    out.push_back(std::move(p));
    return Ok();
}

}  // namespace images::detail
