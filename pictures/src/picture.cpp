#include <cmath>
#include <cstdio>
#include <fstream>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

#include "codecs.h"

namespace images {

Format Sniff(std::string_view h) {
    auto starts = [&](std::string_view p) { return h.substr(0, p.size()) == p; };
    if (starts("\xFF\xD8\xFF")) return Format::Jpeg;
    if (starts("\x89PNG\r\n\x1A\n")) return Format::Png;
    if (starts("GIF87a") || starts("GIF89a")) return Format::Gif;
    if (starts("BM")) return Format::Bmp;
    if (starts(std::string_view("II*\0", 4)) || starts(std::string_view("MM\0*", 4))) return Format::Tiff;
    if (h.size() >= 44 && starts(std::string_view("\x01\0\0\0", 4)) && h.substr(40, 4) == " EMF") return Format::Emf;
    return Format::Unknown;
}

const char* FormatName(Format f) {
    switch (f) {
        case Format::Jpeg: return "JPEG";
        case Format::Png: return "PNG";
        case Format::Gif: return "GIF";
        case Format::Bmp: return "BMP";
        case Format::Tiff: return "TIFF";
        case Format::Emf: return "EMF";
        default: return "unknown";
    }
}

int PdfImage::Components() const {
    switch (model) {
        case ColorModel::Rgb: return 3;
        case ColorModel::Cmyk: return 4;
        default: return 1;
    }
}

std::string PdfImage::ColorSpaceText() const {
    switch (model) {
        case ColorModel::Gray: return "/DeviceGray";
        case ColorModel::Rgb: return "/DeviceRGB";
        case ColorModel::Cmyk: return "/DeviceCMYK";
        case ColorModel::Indexed: break;
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string s = "[/Indexed /DeviceRGB " + std::to_string(palette.size() / 3 - 1) + " <";
    for (unsigned char c : palette) s += hex[c >> 4], s += hex[c & 15];
    return s + ">]";
}

namespace {

LoadResult Dispatch(std::string_view bytes, std::vector<Picture>& got) {
    LoadResult r;
    switch (Sniff(bytes)) {
        case Format::Jpeg: r = detail::LoadJpeg(bytes, got); break;
        case Format::Png: r = detail::LoadPng(bytes, got); break;
        case Format::Gif: r = detail::LoadGif(bytes, got); break;
        case Format::Bmp: r = detail::LoadBmp(bytes, got); break;
        case Format::Tiff: r = detail::LoadTiff(bytes, got); break;
        case Format::Emf: r = detail::LoadEmf(bytes, got); break;
        default: return detail::Fail("not a picture file of a known format");
    }
    return r;
}

}  // namespace

LoadResult LoadPicturesFromMemory(std::string_view bytes, std::vector<Picture>& out) {
    std::vector<Picture> got;
    LoadResult r;
    try {
        r = Dispatch(bytes, got);
    } catch (const std::bad_alloc&) {
        return detail::Fail("not enough memory to load the picture");
    } catch (const std::exception& e) {
        return detail::Fail(std::string("cannot load the picture: ") + e.what());
    }
    if (r.ok && got.empty()) r = detail::Fail("the file holds no picture");
    if (!r.ok) return r;
    for (auto& p : got) out.push_back(std::move(p));
    return r;
}

LoadResult LoadPictures(const std::string& path, std::vector<Picture>& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return detail::Fail("cannot open " + path);
    if (!S_ISREG(st.st_mode)) return detail::Fail(path + " is not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in) return detail::Fail("cannot open " + path);
    std::string bytes;
    try {
        bytes.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::exception&) {
        return detail::Fail(path + " is too large to read");
    }
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return LoadPicturesFromMemory(bytes, out);
}

bool Invert(Picture& p) {
    if (p.vector) return false;
    PdfImage& im = p.image;
    if (im.model == ColorModel::Indexed) {
        for (char& c : im.palette) c = static_cast<char>(255 - static_cast<unsigned char>(c));
        return true;
    }
    int n = im.Components();
    if (im.decode.size() != static_cast<std::size_t>(2 * n)) {
        im.decode.clear();
        for (int i = 0; i < n; ++i) im.decode.insert(im.decode.end(), {0.0, 1.0});
    }
    for (int i = 0; i < n; ++i) std::swap(im.decode[2 * i], im.decode[2 * i + 1]);
    bool plain = true;
    for (int i = 0; i < n; ++i) plain = plain && im.decode[2 * i] == 0 && im.decode[2 * i + 1] == 1;
    if (plain) im.decode.clear();
    return true;
}

Placement PlaceInBox(int o, double w, double h) {
    // Where a point of the unit square (u, v; v up, as PDF image space) ends up.
    auto at = [&](double u, double v) {
        double xr = u, yr = 1 - v;  // stored raster, top-down, 0..1
        double X = xr, Y = yr;      // displayed, top-down, 0..1
        switch (o) {
            case 2: X = 1 - xr; break;
            case 3: X = 1 - xr, Y = 1 - yr; break;
            case 4: Y = 1 - yr; break;
            case 5: X = yr, Y = xr; break;
            case 6: X = 1 - yr, Y = xr; break;
            case 7: X = 1 - yr, Y = 1 - xr; break;
            case 8: X = yr, Y = 1 - xr; break;
            default: break;
        }
        return std::pair{X * w, (1 - Y) * h};
    };
    auto [e, f] = at(0, 0);
    auto [ux, uy] = at(1, 0);
    auto [vx, vy] = at(0, 1);
    return {ux - e, uy - f, vx - e, vy - f, e, f};
}

namespace detail {

double SaneDpi(double dpi) {
    if (!std::isfinite(dpi) || dpi < 1 || dpi > 10000) return 96;
    // Files that count per metre or centimetre store 72 dpi as 72.009 and 300
    // as 299.72: the whole number is what was meant.
    double whole = std::round(dpi);
    if (std::abs(dpi - whole) <= std::max(0.05, dpi * 0.002)) return whole;
    return dpi;
}

bool FitsLimit(std::uint64_t w, std::uint64_t h, std::uint64_t bpp) {
    if (w == 0 || h == 0 || w > (1u << 30) || h > (1u << 30)) return false;
    // The samples and, while they are encoded, their filtered copy.
    return w * h <= kMaxDecodedBytes / (2 * (bpp ? bpp : 1));
}

}  // namespace detail
}  // namespace images
