#include "fixtures.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gif_lib.h>
#include <png.h>
#include <stdexcept>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

namespace images::test {
namespace {

void Le16(std::string& s, unsigned v) { s += char(v & 255), s += char(v >> 8 & 255); }
void Le32(std::string& s, std::uint32_t v) { Le16(s, v & 0xFFFF), Le16(s, v >> 16); }
void Be16(std::string& s, unsigned v) { s += char(v >> 8 & 255), s += char(v & 255); }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string TempPath(const char* ext) {
    char buf[] = "/tmp/vm_images_fixtureXXXXXX";
    int fd = mkstemp(buf);
    if (fd >= 0) close(fd);
    std::remove(buf);
    return std::string(buf) + ext;
}

}  // namespace

std::string MakePng(const PngSpec& s) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write failed");
    png_set_write_fn(
        png, &out, [](png_structp p, png_bytep d, png_size_t n) { static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(d), n); },
        nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType, s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> pal;
    for (std::size_t i = 0; i + 2 < s.palette.size(); i += 3) pal.push_back({s.palette[i], s.palette[i + 1], s.palette[i + 2]});
    if (!pal.empty()) png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
    if (!s.trns.empty()) {
        if (s.colorType == 3) png_set_tRNS(png, info, s.trns.data(), static_cast<int>(s.trns.size()), nullptr);
        else {
            png_color_16 key{};
            key.gray = s.trns[0], key.red = s.trns[0], key.green = s.trns.size() > 1 ? s.trns[1] : 0, key.blue = s.trns.size() > 2 ? s.trns[2] : 0;
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    if (s.ppm) png_set_pHYs(png, info, s.ppm, s.ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows;
    for (int y = 0; y < s.height; ++y) rows.push_back(const_cast<png_bytep>(s.rows.data()) + y * rowBytes);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string MakeGif(int width, int height, const std::vector<std::uint8_t>& palette, const std::vector<GifFrame>& frames) {
    std::string path = TempPath(".gif");
    int err = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &err);
    if (!g) throw std::runtime_error("giflib open failed");
    int n = static_cast<int>(palette.size() / 3), size = 2;
    while (size < n) size *= 2;
    std::vector<GifColorType> colors(size);
    for (int i = 0; i < n; ++i) colors[i] = {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]};
    ColorMapObject* map = GifMakeMapObject(size, colors.data());
    EGifSetGifVersion(g, true);
    EGifPutScreenDesc(g, width, height, 8, 0, map);
    for (const auto& f : frames) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = f.disposal, gcb.TransparentColor = f.transparent, gcb.DelayTime = 10;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, nullptr);
        std::vector<int> order;
        if (f.interlace) {
            static const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = start[p]; y < f.height; y += step[p]) order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) EGifPutLine(g, const_cast<GifPixelType*>(f.pixels.data()) + y * f.width, f.width);
    }
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    std::string bytes = ReadAll(path);
    std::remove(path.c_str());
    return bytes;
}

std::string MakeTiff(const std::vector<TiffPage>& pages) {
    std::string path = TempPath(".tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) throw std::runtime_error("libtiff open failed");
    for (const auto& p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.height);
        if (p.extra) {
            std::uint16_t e = static_cast<std::uint16_t>(p.extra);
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &e);
        }
        if (p.orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, p.orientation);
        if (p.dpi > 0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, p.dpi);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, p.dpi);
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        if (p.photometric == PHOTOMETRIC_PALETTE) {
            std::vector<std::uint16_t> r(1 << p.bits), g(1 << p.bits), b(1 << p.bits);
            for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint16_t>(i * 0x1111), g[i] = 0x8000, b[i] = 0xFFFF;
            TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        }
        std::size_t rowBytes = (static_cast<std::size_t>(p.width) * p.samples * p.bits + 7) / 8;
        for (int y = 0; y < p.height; ++y)
            TIFFWriteScanline(t, const_cast<std::uint8_t*>(p.data.data()) + y * rowBytes, y, 0);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    std::string bytes = ReadAll(path);
    std::remove(path.c_str());
    return bytes;
}

std::string MakeBmp(int hs, int width, int height, int bpp, int compression, const std::vector<std::uint8_t>& palette,
                    const std::vector<std::uint8_t>& pixels, const std::vector<std::uint32_t>& masks, int ppm) {
    std::string info;
    Le32(info, hs);
    if (hs == 12) {
        Le16(info, width), Le16(info, height), Le16(info, 1), Le16(info, bpp);
    } else {
        Le32(info, width), Le32(info, static_cast<std::uint32_t>(height)), Le16(info, 1), Le16(info, bpp);
        Le32(info, compression), Le32(info, static_cast<std::uint32_t>(pixels.size()));
        Le32(info, ppm), Le32(info, ppm), Le32(info, static_cast<std::uint32_t>(palette.size() / 4)), Le32(info, 0);
        std::string extra;
        for (auto m : masks) Le32(extra, m);
        if (hs > 40) {
            extra.resize(hs - 40, '\0');
            info += extra;
        } else {
            info += extra;  // masks after a 40-byte header
        }
    }
    std::string pal;
    for (std::size_t i = 0; i + 3 < palette.size() + 1 && i < palette.size(); i += 4) {
        pal += char(palette[i]), pal += char(palette[i + 1]), pal += char(palette[i + 2]);
        if (hs != 12) pal += char(palette[i + 3]);
    }
    std::string f = "BM";
    std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size() + pal.size());
    Le32(f, static_cast<std::uint32_t>(offset + pixels.size())), Le32(f, 0), Le32(f, offset);
    return f + info + pal + std::string(pixels.begin(), pixels.end());
}

std::string MakeJpeg(const JpegSpec& s) {
    std::string j = "\xFF\xD8";
    auto segment = [&](int marker, const std::string& body) {
        j += '\xFF', j += char(marker);
        Be16(j, static_cast<unsigned>(body.size() + 2));
        j += body;
    };
    if (s.jfifUnits >= 0) {
        std::string b("JFIF\0\x01\x02", 7);
        b += char(s.jfifUnits);
        Be16(b, s.jfifX), Be16(b, s.jfifY);
        b += std::string("\0\0", 2);
        segment(0xE0, b);
    }
    if (s.exifOrientation || s.exifDpi > 0) {
        std::string t("Exif\0\0MM\0\x2A\0\0\0\x08", 14);
        int n = 1 + (s.exifDpi > 0 ? 3 : 0);
        Be16(t, n);
        std::size_t dataAt = 8 + 2 + 12 * n + 4;  // offsets count from the TIFF header
        std::string data;
        auto entry = [&](int tag, int type, std::uint32_t count, std::uint32_t value) {
            Be16(t, tag), Be16(t, type);
            t += char(count >> 24), t += char(count >> 16), t += char(count >> 8), t += char(count);
            t += char(value >> 24), t += char(value >> 16), t += char(value >> 8), t += char(value);
        };
        entry(0x0112, 3, 1, static_cast<std::uint32_t>(s.exifOrientation ? s.exifOrientation : 1) << 16);
        if (s.exifDpi > 0) {
            std::uint32_t num = static_cast<std::uint32_t>(s.exifDpi * 100);
            for (int tag : {0x011A, 0x011B}) {
                entry(tag, 5, 1, static_cast<std::uint32_t>(dataAt + data.size()));
                for (std::uint32_t v : {num, 100u}) data += char(v >> 24), data += char(v >> 16), data += char(v >> 8), data += char(v);
            }
            entry(0x0128, 3, 1, 2u << 16);
        }
        t += std::string(4, '\0');
        segment(0xE1, t + data);
    }
    if (!s.icc.empty()) {
        std::size_t n = (s.icc.size() + s.iccChunk - 1) / s.iccChunk;
        for (std::size_t i = 0; i < n; ++i)
            segment(0xE2, std::string("ICC_PROFILE\0", 12) + char(i + 1) + char(n) + s.icc.substr(i * s.iccChunk, s.iccChunk));
    }
    if (s.adobe) segment(0xEE, std::string("Adobe\0\x64\0\0\0\0\x02", 12));
    std::string sof;
    sof += char(8);
    Be16(sof, s.height), Be16(sof, s.width);
    sof += char(s.components);
    for (int c = 0; c < s.components; ++c) sof += char(c + 1), sof += char(0x11), sof += char(0);
    segment(s.sof, sof);
    std::string sos;
    sos += char(s.components);
    for (int c = 0; c < s.components; ++c) sos += char(c + 1), sos += char(0);
    sos += std::string("\0\x3F\0", 3);
    segment(0xDA, sos);
    j += std::string("\x12\x34\x56\xFF\x00\x78", 6);  // stands for entropy-coded data
    j += "\xFF\xD9";
    return j;
}

std::vector<std::uint8_t> DecodeSamples(const PdfImage& im) {
    if (im.filter != "FlateDecode") return {};
    std::vector<std::uint8_t> raw(64u << 20);
    uLongf n = raw.size();
    if (uncompress(raw.data(), &n, reinterpret_cast<const Bytef*>(im.data.data()), im.data.size()) != Z_OK) return {};
    raw.resize(n);
    if (im.decodeParms.find("/Predictor") == std::string::npos) return raw;
    std::size_t bpp = std::max(1, im.Components() * im.bitsPerComponent / 8);
    std::size_t rowBytes = (static_cast<std::size_t>(im.width) * im.Components() * im.bitsPerComponent + 7) / 8;
    std::vector<std::uint8_t> out(rowBytes * im.height);
    for (int y = 0; y < im.height && (y + 1) * (rowBytes + 1) <= raw.size(); ++y) {
        int f = raw[y * (rowBytes + 1)];
        const std::uint8_t* in = &raw[y * (rowBytes + 1) + 1];
        std::uint8_t* o = &out[y * rowBytes];
        const std::uint8_t* up = y ? o - rowBytes : nullptr;
        for (std::size_t i = 0; i < rowBytes; ++i) {
            int a = i >= bpp ? o[i - bpp] : 0, u = up ? up[i] : 0, c = (up && i >= bpp) ? up[i - bpp] : 0, p = 0;
            switch (f) {
                case 1: p = a; break;
                case 2: p = u; break;
                case 3: p = (a + u) / 2; break;
                case 4: {
                    int q = a + u - c, pa = std::abs(q - a), pb = std::abs(q - u), pc = std::abs(q - c);
                    p = pa <= pb && pa <= pc ? a : pb <= pc ? u : c;
                    break;
                }
            }
            o[i] = static_cast<std::uint8_t>(in[i] + p);
        }
    }
    return out;
}

std::string FakeIcc(const char* space, std::size_t size) {
    std::string p(size, '\0');
    p[0] = char(size >> 24), p[1] = char(size >> 16), p[2] = char(size >> 8), p[3] = char(size);
    std::memcpy(&p[16], space, 4);
    std::memcpy(&p[36], "acsp", 4);
    return p;
}

}  // namespace images::test
