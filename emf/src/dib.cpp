#include "emf/dib.h"

#include <algorithm>
#include <bit>

#include "bytes.h"

namespace emf {

using namespace detail;

namespace {

std::vector<std::uint8_t> InfoHeader(std::int32_t w, std::int32_t h, std::uint16_t bpp, std::uint32_t compression,
                                     std::uint32_t sizeImage, std::uint32_t colors, double dpiX, double dpiY) {
    std::vector<std::uint8_t> v;
    PutU32(v, kBitmapInfoHeaderSize), PutI32(v, w), PutI32(v, h), PutU16(v, 1), PutU16(v, bpp);
    PutU32(v, compression), PutU32(v, sizeImage);
    // Resolutions are positive: adding a half rounds them to the nearest.
    PutI32(v, std::int32_t(dpiX / 0.0254 + 0.5)), PutI32(v, std::int32_t(dpiY / 0.0254 + 0.5));  // NOLINT(bugprone-incorrect-roundings)
    PutU32(v, colors), PutU32(v, 0);
    return v;
}

// The picture a PNG file describes, from its header chunk, which must come
// first: its size must be the bitmap's, its depth and colour type valid. The
// rest of the file is left to whoever decodes or embeds it.
bool PngHeader(std::span<const std::uint8_t> png, std::int64_t width, std::int64_t height, Image& out,
               std::string& error) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 8 + 8 + 13 || !std::equal(kSignature, kSignature + 8, png.begin()))
        return error = "PNG bitmap without a PNG signature", false;
    auto be32 = [&](std::size_t at) {
        return std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 | std::uint32_t(png[at + 2]) << 8 |
               std::uint32_t(png[at + 3]);
    };
    if (be32(8) != 13 || !std::equal(png.begin() + 12, png.begin() + 16, "IHDR"))
        return error = "PNG bitmap without its header chunk", false;
    const std::uint32_t w = be32(16), h = be32(20);
    const int depth = png[24], colorType = png[25], interlace = png[28];
    if (w != width || h != height) return error = "PNG bitmap of another size than its header says", false;
    const bool depthOk = colorType == 0   ? depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16
                         : colorType == 3 ? depth == 1 || depth == 2 || depth == 4 || depth == 8
                         : colorType == 2 || colorType == 4 || colorType == 6 ? depth == 8 || depth == 16
                                                                                : false;
    if (!depthOk || interlace > 1) return error = "PNG bitmap with an invalid header", false;
    out.format = Image::Format::Png;
    out.components = colorType == 0 || colorType == 4 ? 1 : 3;
    out.encoded.assign(png.begin(), png.end());
    return true;
}

}  // namespace

DibData EncodeDib(const Image& img) {
    DibData d;
    const int w = img.width, h = img.height;
    if (img.Encoded()) {
        if (img.encoded.empty() || img.encoded.size() > UINT32_MAX) return d;
        const std::uint32_t compression = img.format == Image::Format::Jpeg ? BI_JPEG : BI_PNG;
        d.info = InfoHeader(w, h, 0, compression, std::uint32_t(img.encoded.size()), 0, img.dpiX, img.dpiY);
        d.bits = img.encoded;
        return d;
    }
    if (w <= 0 || h <= 0) return d;
    const std::size_t n = std::size_t(w) * std::size_t(h);
    auto px = [&](std::size_t i, int c) -> std::uint8_t {
        std::size_t k = i * std::size_t(img.components) + std::size_t(c);
        return k < img.pixels.size() ? img.pixels[k] : 0;
    };
    if (img.format == Image::Format::Gray8) {
        d.info = InfoHeader(w, h, 8, BI_RGB, 0, 256, img.dpiX, img.dpiY);
        for (int i = 0; i < 256; ++i) d.info.insert(d.info.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
        std::size_t stride = (std::size_t(w) + 3) & ~std::size_t(3);
        d.bits.assign(stride * std::size_t(h), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) d.bits[std::size_t(h - 1 - y) * stride + std::size_t(x)] = px(std::size_t(y) * w + x, 0);
        return d;
    }
    if (img.format == Image::Format::Rgba8) {
        d.info = InfoHeader(w, h, 32, BI_RGB, 0, 0, img.dpiX, img.dpiY);
        d.bits.resize(n * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::size_t i = std::size_t(y) * w + x;
                std::uint8_t* o = &d.bits[(std::size_t(h - 1 - y) * w + x) * 4];
                unsigned a = px(i, 3);
                o[0] = std::uint8_t(px(i, 2) * a / 255), o[1] = std::uint8_t(px(i, 1) * a / 255);
                o[2] = std::uint8_t(px(i, 0) * a / 255), o[3] = std::uint8_t(a);
            }
        return d;
    }
    d.info = InfoHeader(w, h, 24, BI_RGB, 0, 0, img.dpiX, img.dpiY);
    std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
    d.bits.assign(stride * std::size_t(h), 0);
    if (img.format == Image::Format::Rgb8 && img.components == 3 && img.pixels.size() >= n * 3) {
        // Whole rows at a time: printed pages carry pictures of tens of megabytes.
        for (std::size_t y = 0; y < std::size_t(h); ++y) {
            const std::uint8_t* in = &img.pixels[y * std::size_t(w) * 3];
            std::uint8_t* o = &d.bits[(std::size_t(h) - 1 - y) * stride];
            for (std::size_t x = 0; x < std::size_t(w); ++x, in += 3, o += 3) o[0] = in[2], o[1] = in[1], o[2] = in[0];
        }
        return d;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::size_t i = std::size_t(y) * w + x;
            std::uint8_t r, g, b;
            if (img.format == Image::Format::Cmyk8) {
                unsigned k = 255 - px(i, 3);
                r = std::uint8_t((255 - px(i, 0)) * k / 255), g = std::uint8_t((255 - px(i, 1)) * k / 255);
                b = std::uint8_t((255 - px(i, 2)) * k / 255);
            } else {
                r = px(i, 0), g = px(i, 1), b = px(i, 2);
            }
            std::uint8_t* o = &d.bits[std::size_t(h - 1 - y) * stride + std::size_t(x) * 3];
            o[0] = b, o[1] = g, o[2] = r;
        }
    return d;
}

namespace {

struct Mask {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;
    explicit Mask(std::uint32_t m = 0) : mask(m) {
        if (m) shift = std::countr_zero(m), max = m >> shift;
    }
    std::uint8_t Get(std::uint32_t v) const {
        if (!mask) return 0;
        std::uint32_t x = (v & mask) >> shift;
        return std::uint8_t(std::uint64_t(x) * 255 / max);
    }
};

}  // namespace

bool DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits, Image& out,
               std::string& error, const DibDecodeOptions& opt) {
    if (info.size() < 12) return error = "bitmap header shorter than 12 bytes", false;
    const std::uint32_t hsize = GetU32(info.data());
    if (hsize < 12 || hsize > info.size()) return error = "bitmap header size outside the header data", false;
    std::int64_t width, height;
    std::uint32_t bpp, compression = BI_RGB, clrUsed = 0;
    bool core = hsize < kBitmapInfoHeaderSize;
    if (core) {
        if (hsize != 12) return error = "unknown bitmap header size", false;
        width = GetU16(info.data() + 4), height = GetU16(info.data() + 6), bpp = GetU16(info.data() + 10);
    } else {
        width = GetI32(info.data() + 4), height = GetI32(info.data() + 8), bpp = GetU16(info.data() + 14);
        compression = GetU32(info.data() + 16), clrUsed = GetU32(info.data() + 32);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0) return error = "bitmap with no pixels", false;
    if (std::uint64_t(width) * std::uint64_t(height) > opt.maxPixels) return error = "bitmap too large", false;
    out = Image{};
    out.width = int(width), out.height = int(height);
    if (!core) {
        std::int32_t xppm = GetI32(info.data() + 24), yppm = GetI32(info.data() + 28);
        if (xppm > 0 && yppm > 0) out.dpiX = xppm * 0.0254, out.dpiY = yppm * 0.0254;
    }
    if (compression == BI_JPEG) {
        out.format = Image::Format::Jpeg;
        out.encoded.assign(bits.begin(), bits.end());
        out.components = 3;
        // Number of colour components from the frame header, when present.
        for (std::size_t i = 2; i + 9 < bits.size();) {
            if (bits[i] != 0xFF) break;
            std::uint8_t m = bits[i + 1];
            std::size_t len = std::size_t(bits[i + 2]) << 8 | bits[i + 3];
            if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
                out.components = bits[i + 9];
                break;
            }
            i += 2 + len;
        }
        return true;
    }
    if (compression == BI_PNG) return PngHeader(bits, width, height, out, error);
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return error = "bitmap of " + std::to_string(bpp) + " bits per pixel", false;
    // Run-length data can describe far more pixels than it has bytes; a
    // picture that would need more than 4096 pixels a byte is not believed.
    if ((compression == BI_RLE8 || compression == BI_RLE4) &&
        std::uint64_t(width) * std::uint64_t(height) > std::uint64_t(bits.size() + 1) * 4096)
        return error = "run-length bitmap far larger than its data", false;
    if ((compression == BI_RLE8 && bpp != 8) || (compression == BI_RLE4 && bpp != 4))
        return error = "run-length compression does not match the depth", false;
    if (compression != BI_RGB && compression != BI_RLE8 && compression != BI_RLE4 && compression != BI_BITFIELDS)
        return error = "unknown bitmap compression " + std::to_string(compression), false;

    // Masks and colour table.
    std::size_t pos = hsize;
    Mask rm, gm, bm, am;
    if (compression == BI_BITFIELDS) {
        if (hsize >= 52) {
            rm = Mask(GetU32(info.data() + 40)), gm = Mask(GetU32(info.data() + 44)), bm = Mask(GetU32(info.data() + 48));
            if (hsize >= 56) am = Mask(GetU32(info.data() + 52));
        } else {
            if (pos + 12 > info.size()) return error = "bit masks missing", false;
            rm = Mask(GetU32(info.data() + pos)), gm = Mask(GetU32(info.data() + pos + 4));
            bm = Mask(GetU32(info.data() + pos + 8));
            pos += 12;
        }
        if (bpp != 16 && bpp != 32) return error = "bit masks need 16 or 32 bits per pixel", false;
    } else if (bpp == 16) {
        rm = Mask(0x7C00), gm = Mask(0x03E0), bm = Mask(0x001F);
    } else if (bpp == 32) {
        rm = Mask(0xFF0000), gm = Mask(0xFF00), bm = Mask(0xFF);
        if (opt.useAlpha || opt.premultipliedAlpha) am = Mask(0xFF000000u);
    }
    std::vector<std::uint8_t> palette;  // RGB triples
    if (bpp <= 8) {
        std::size_t entries = std::size_t(1) << bpp;
        if (!core && clrUsed != 0) entries = std::min<std::size_t>(clrUsed, entries);
        std::size_t esize = core ? 3 : (opt.usage == DIB_PAL_COLORS ? 2 : 4);
        std::size_t avail = pos <= info.size() ? (info.size() - pos) / esize : 0;
        if (avail < entries) entries = avail;  // a short table leaves the rest black
        palette.assign((std::size_t(1) << bpp) * 3, 0);
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint8_t* e = info.data() + pos + i * esize;
            if (esize == 2) {  // indices into a logical palette we do not have: grey ramp
                std::uint8_t g = std::uint8_t(GetU16(e) * 255 / ((1u << bpp) - 1));
                palette[i * 3] = palette[i * 3 + 1] = palette[i * 3 + 2] = g;
            } else {
                palette[i * 3] = e[2], palette[i * 3 + 1] = e[1], palette[i * 3 + 2] = e[0];
            }
        }
    }

    // Pixels that run-length data skips, and rows outside the given scans, stay transparent.
    const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
    const bool alpha = am.mask != 0 || opt.scanCount >= 0 || rle;
    out.format = alpha ? Image::Format::Rgba8 : Image::Format::Rgb8;
    out.components = alpha ? 4 : 3;
    const std::size_t W = std::size_t(width), H = std::size_t(height), C = std::size_t(out.components);
    out.pixels.assign(W * H * C, alpha ? 0 : 255);
    auto setPixel = [&](std::size_t row, std::size_t x, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
        // `row` counts stored rows; bottom-up DIBs store the last row first.
        std::size_t y = topDown ? row : H - 1 - row;
        std::uint8_t* p = &out.pixels[(y * W + x) * C];
        if (opt.premultipliedAlpha && a != 0 && a != 255) {
            r = std::uint8_t(std::min(255u, r * 255u / a)), g = std::uint8_t(std::min(255u, g * 255u / a));
            b = std::uint8_t(std::min(255u, b * 255u / a));
        }
        p[0] = r, p[1] = g, p[2] = b;
        if (alpha) p[3] = a;
    };
    auto setIndex = [&](std::size_t row, std::size_t x, std::size_t idx) {
        idx &= (std::size_t(1) << bpp) - 1;
        setPixel(row, x, palette[idx * 3], palette[idx * 3 + 1], palette[idx * 3 + 2], 255);
    };

    if (compression == BI_RLE8 || compression == BI_RLE4) {
        if (topDown) return error = "run-length bitmaps are bottom-up", false;
        std::size_t x = 0, row = 0, i = 0;
        // Every step consumes input, so the walk ends.
        while (i + 1 < bits.size() && row < H) {
            std::uint8_t n = bits[i], v = bits[i + 1];
            i += 2;
            if (n > 0) {
                for (std::size_t k = 0; k < n && x < W; ++k, ++x)
                    setIndex(row, x, bpp == 8 ? v : (k % 2 ? v & 0xF : v >> 4));
            } else if (v == 0) {
                x = 0, ++row;
            } else if (v == 1) {
                break;
            } else if (v == 2) {
                if (i + 1 >= bits.size()) break;
                x += bits[i], row += bits[i + 1];
                i += 2;
            } else {
                std::size_t bytes = bpp == 8 ? v : (std::size_t(v) + 1) / 2;
                if (i + bytes > bits.size()) return error = "run-length data ends inside a run", false;
                for (std::size_t k = 0; k < v && x < W; ++k, ++x)
                    setIndex(row, x, bpp == 8 ? bits[i + k] : (k % 2 ? bits[i + k / 2] & 0xF : bits[i + k / 2] >> 4));
                i += (bytes + 1) & ~std::size_t(1);
            }
        }
        return true;
    }

    const std::size_t stride = ((W * bpp + 31) / 32) * 4;
    std::size_t firstRow = 0, rows = H;
    if (opt.scanCount >= 0) {
        if (opt.startScan < 0 || std::uint64_t(opt.startScan) >= H) return error = "start scan outside the bitmap", false;
        firstRow = std::size_t(opt.startScan);
        rows = std::min<std::size_t>(std::size_t(opt.scanCount), H - firstRow);
    }
    if (stride == 0 || bits.size() / stride < rows) return error = "bitmap bits shorter than its rows", false;
    if (bpp == 24 && !alpha) {
        // Whole rows at a time: printed pages carry pictures of tens of megabytes.
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint8_t* line = bits.data() + r * stride;
            const std::size_t row = firstRow + r, y = topDown ? row : H - 1 - row;
            std::uint8_t* p = &out.pixels[y * W * 3];
            for (std::size_t x = 0; x < W; ++x, line += 3, p += 3) p[0] = line[2], p[1] = line[1], p[2] = line[0];
        }
        return true;
    }
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* line = bits.data() + r * stride;
        const std::size_t row = firstRow + r;
        for (std::size_t x = 0; x < W; ++x) {
            switch (bpp) {
            case 1: setIndex(row, x, line[x / 8] >> (7 - x % 8) & 1); break;
            case 4: setIndex(row, x, x % 2 ? line[x / 2] & 0xF : line[x / 2] >> 4); break;
            case 8: setIndex(row, x, line[x]); break;
            case 16: {
                std::uint32_t v = GetU16(line + x * 2);
                setPixel(row, x, rm.Get(v), gm.Get(v), bm.Get(v), am.mask ? am.Get(v) : 255);
                break;
            }
            case 24: setPixel(row, x, line[x * 3 + 2], line[x * 3 + 1], line[x * 3], 255); break;
            case 32: {
                std::uint32_t v = GetU32(line + x * 4);
                setPixel(row, x, rm.Get(v), gm.Get(v), bm.Get(v), am.mask ? am.Get(v) : 255);
                break;
            }
            }
        }
    }
    // 32-bit data whose fourth byte is zero everywhere was written without alpha.
    if (bpp == 32 && compression == BI_RGB && alpha && opt.scanCount < 0) {
        bool any = false;
        for (std::size_t k = 3; k < out.pixels.size() && !any; k += 4) any = out.pixels[k] != 0;
        if (!any)
            for (std::size_t k = 3; k < out.pixels.size(); k += 4) out.pixels[k] = 255;
    }
    return true;
}

}  // namespace emf
