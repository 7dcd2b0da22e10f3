// TIFF through libtiff, built as the module libvm_tiff.so: every page
// (directory) becomes a picture. Common layouts are read sample for sample
// (1..16 bits, palette, grey, RGB, CMYK, with alpha); single-strip CCITT G4 pages keep their compressed data
// (CCITTFaxDecode); anything else goes through libtiff's RGBA reader.
#include <mutex>
#include <tiffio.h>

#include "codecs.h"

namespace images::detail {
namespace {

struct Mem {
    std::string_view file;
    toff_t at = 0;
};

tsize_t MemRead(thandle_t h, tdata_t buf, tsize_t n) {
    auto* m = static_cast<Mem*>(h);
    if (n < 0 || m->at >= m->file.size()) return 0;
    std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), m->file.size() - m->at);
    std::memcpy(buf, m->file.data() + m->at, k);
    m->at += k;
    return static_cast<tsize_t>(k);
}
tsize_t MemWrite(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<Mem*>(h);
    toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->file.size();
    m->at = base + off;
    return m->at;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<Mem*>(h)->file.size(); }
int MemMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void MemUnmap(thandle_t, tdata_t, toff_t) {}

void Dpi(TIFF* t, Picture& p) {
    float xr = 0, yr = 0;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (!TIFFGetField(t, TIFFTAG_XRESOLUTION, &xr) || unit == RESUNIT_NONE) return;
    if (!TIFFGetField(t, TIFFTAG_YRESOLUTION, &yr)) yr = xr;
    double k = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    p.dpiX = SaneDpi(xr * k), p.dpiY = SaneDpi(yr * k);
}

bool PassThroughG4(TIFF* t, std::string_view file, std::uint32_t w, std::uint32_t h, Picture& p) {
    std::uint16_t comp = 0, bps = 1, spp = 1, photo = 0, fill = FILLORDER_MSB2LSB;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fill);
    if (comp != COMPRESSION_CCITTFAX4 || bps != 1 || spp != 1 || TIFFIsTiled(t) || TIFFNumberOfStrips(t) != 1 ||
        (photo != PHOTOMETRIC_MINISWHITE && photo != PHOTOMETRIC_MINISBLACK))
        return false;
    std::uint64_t* counts = nullptr;
    if (!TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts || counts[0] == 0 || counts[0] > file.size())
        return false;
    std::string raw(static_cast<std::size_t>(counts[0]), '\0');
    tmsize_t got = TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size()));
    if (got <= 0) return false;
    raw.resize(static_cast<std::size_t>(got));
    if (fill == FILLORDER_LSB2MSB) TIFFReverseBits(reinterpret_cast<std::uint8_t*>(raw.data()), got);
    PdfImage& im = p.image;
    im.data = std::move(raw);
    im.filter = "CCITTFaxDecode";
    im.decodeParms = "<< /K -1 /Columns " + std::to_string(w) + " /Rows " + std::to_string(h) +
                     (photo == PHOTOMETRIC_MINISBLACK ? " /BlackIs1 true" : "") + " >>";
    im.model = ColorModel::Gray;
    im.bitsPerComponent = 1;
    im.width = static_cast<int>(w), im.height = static_cast<int>(h);
    return true;
}

// Sample for sample; false when the layout is not one of ours.
bool ReadDirect(TIFF* t, std::uint32_t w, std::uint32_t h, Raster& r, std::string& note) {
    std::uint16_t bps = 1, spp = 1, photo = 0, planar = PLANARCONFIG_CONTIG, fmt = SAMPLEFORMAT_UINT, inks = INKSET_CMYK;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &fmt);
    TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &inks);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo)) return false;
    if (TIFFIsTiled(t) || fmt != SAMPLEFORMAT_UINT || (planar != PLANARCONFIG_CONTIG && spp > 1)) return false;
    int colors;
    switch (photo) {
        case PHOTOMETRIC_MINISWHITE: case PHOTOMETRIC_MINISBLACK: colors = 1; r.model = ColorModel::Gray; break;
        case PHOTOMETRIC_PALETTE: colors = 1; r.model = ColorModel::Indexed; break;
        case PHOTOMETRIC_RGB: colors = 3; r.model = ColorModel::Rgb; break;
        case PHOTOMETRIC_SEPARATED:
            if (inks != INKSET_CMYK) return false;
            colors = 4; r.model = ColorModel::Cmyk; break;
        default: return false;
    }
    if (spp < colors) return false;
    if (bps != 1 && bps != 2 && bps != 4 && bps != 8 && bps != 16) return false;
    if (bps < 8 && spp != colors) return false;
    if (r.model == ColorModel::Indexed && bps > 8) return false;
    std::uint16_t nExtra = 0, *extra = nullptr;
    TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &nExtra, &extra);
    bool alpha = spp > colors && nExtra && extra &&
                 (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    bool premultiplied = alpha && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    if (alpha && bps < 8) return false;
    std::size_t bytes = bps / 8;
    if (!FitsLimit(w, h, static_cast<std::uint64_t>(spp) * std::max<std::size_t>(bytes, 1)))
        return false;
    r.width = static_cast<int>(w), r.height = static_cast<int>(h), r.bits = bps;
    if (r.model == ColorModel::Indexed) {
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(t, TIFFTAG_COLORMAP, &red, &green, &blue)) return false;
        for (int i = 0; i < (1 << bps); ++i)
            r.palette += static_cast<char>(red[i] >> 8), r.palette += static_cast<char>(green[i] >> 8),
                r.palette += static_cast<char>(blue[i] >> 8);
    }
    tmsize_t scan = TIFFScanlineSize(t);
    std::size_t rowBytes = r.RowBytes();
    std::size_t fileRow = (static_cast<std::size_t>(w) * spp * bps + 7) / 8;
    if (scan <= 0 || static_cast<std::size_t>(scan) < fileRow) return false;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(scan));
    if (alpha) r.alphaBits = bps;
    std::uint32_t y = 0;
    for (; y < h; ++y) {
        if (TIFFReadScanline(t, line.data(), y, 0) < 0) break;
        // Grown row by row: a page claiming more rows than its strips hold
        // costs only the rows that are there.
        r.samples.resize(rowBytes * (y + 1));
        if (alpha) r.alpha.resize(static_cast<std::size_t>(w) * (y + 1) * bytes);
        std::uint8_t* dst = r.samples.data() + y * rowBytes;
        if (spp == colors && bps < 16) { std::memcpy(dst, line.data(), rowBytes); continue; }
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint8_t* s = line.data() + static_cast<std::size_t>(x) * spp * bytes;
            auto get = [&](int k) -> unsigned {
                if (bytes == 1) return s[k];
                std::uint16_t v;
                std::memcpy(&v, s + 2 * k, 2);
                return v;
            };
            unsigned a = alpha ? get(colors) : 0, max = bytes == 1 ? 255 : 65535;
            for (int k = 0; k < colors; ++k) {
                unsigned v = get(k);
                if (premultiplied) v = a ? std::min(max, (v * max + a / 2) / a) : 0;
                if (bytes == 1) dst[x * colors + k] = static_cast<std::uint8_t>(v);
                else dst[2 * (x * colors + k)] = static_cast<std::uint8_t>(v >> 8), dst[2 * (x * colors + k) + 1] = static_cast<std::uint8_t>(v);
            }
            if (alpha) {
                std::size_t i = static_cast<std::size_t>(y) * w + x;
                if (bytes == 1) r.alpha[i] = static_cast<std::uint8_t>(a);
                else r.alpha[2 * i] = static_cast<std::uint8_t>(a >> 8), r.alpha[2 * i + 1] = static_cast<std::uint8_t>(a);
            }
        }
    }
    if (y == 0) return false;
    if (y < h) {
        note = "damaged TIFF page: " + std::to_string(y) + " of " + std::to_string(h) + " rows";
        r.height = static_cast<int>(y);
    }
    if (photo == PHOTOMETRIC_MINISWHITE) r.icc.clear();
    return true;
}

bool ReadRgba(TIFF* t, std::uint32_t w, std::uint32_t h, Raster& r) {
    char emsg[1024] = "";
    if (!TIFFRGBAImageOK(t, emsg) || !FitsLimit(w, h, 8)) return false;
    std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h);
    if (!TIFFReadRGBAImageOriented(t, w, h, px.data(), ORIENTATION_TOPLEFT, 0)) return false;
    r.width = static_cast<int>(w), r.height = static_cast<int>(h), r.bits = 8, r.model = ColorModel::Rgb;
    r.samples.resize(px.size() * 3);
    r.alpha.resize(px.size());
    for (std::size_t i = 0; i < px.size(); ++i) {
        std::uint32_t v = px[i];
        unsigned a = TIFFGetA(v);
        unsigned c[3] = {TIFFGetR(v), TIFFGetG(v), TIFFGetB(v)};
        for (int k = 0; k < 3; ++k) r.samples[3 * i + k] = static_cast<std::uint8_t>(a && a < 255 ? std::min(255u, c[k] * 255 / a) : c[k]);
        r.alpha[i] = static_cast<std::uint8_t>(a);
    }
    return true;
}

}  // namespace

LoadResult LoadTiffWithLibtiff(std::string_view file, std::vector<Picture>& out);
LoadResult LoadTiffWithLibtiff(std::string_view file, std::vector<Picture>& out) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    Mem mem{file};
    TIFF* t = TIFFClientOpen("picture", "rm", &mem, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap);
    if (!t) return Fail("damaged TIFF file");
    std::vector<Picture> pages;
    std::string skipped;
    int page = 0;
    do {
        ++page;
        std::uint32_t w = 0, h = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        Picture p;
        p.format = Format::Tiff;
        Dpi(t, p);
        if (w == 0 || h == 0) { skipped += " " + std::to_string(page); continue; }
        // Pages read as stored keep the file's orientation for the placement
        // (same numbering as EXIF); libtiff's RGBA reader turns them upright itself.
        std::uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
        if (orientation < 1 || orientation > 8) orientation = ORIENTATION_TOPLEFT;
        bool stored = true;
        if (!PassThroughG4(t, file, w, h, p)) {
            Raster r;
            std::uint16_t photo = 0;
            TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
            std::uint32_t iccSize = 0;
            void* icc = nullptr;
            if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize >= 132)
                r.icc.assign(static_cast<const char*>(icc), iccSize);
            bool direct = ReadDirect(t, w, h, r, p.note);
            if (!direct) {
                std::string icc = std::move(r.icc);
                r = Raster{};
                if (!ReadRgba(t, w, h, r)) { skipped += " " + std::to_string(page); continue; }
                stored = false;
                if (photo == PHOTOMETRIC_RGB) r.icc = std::move(icc);
            }
            if (r.model == ColorModel::Gray && r.icc.size() >= 132 && std::string_view(r.icc).substr(16, 4) != "GRAY") r.icc.clear();
            if (r.model == ColorModel::Rgb && r.icc.size() >= 132 && std::string_view(r.icc).substr(16, 4) != "RGB ") r.icc.clear();
            if (r.model == ColorModel::Cmyk && r.icc.size() >= 132 && std::string_view(r.icc).substr(16, 4) != "CMYK") r.icc.clear();
            p.image = EncodeRaster(std::move(r));
            if (direct && photo == PHOTOMETRIC_MINISWHITE) p.image.decode = {1, 0};
        }
        p.width = p.image.width, p.height = p.image.height;
        if (stored && orientation != ORIENTATION_TOPLEFT) {
            p.orientation = orientation;
            if (orientation >= 5) std::swap(p.width, p.height), std::swap(p.dpiX, p.dpiY);
        }
        pages.push_back(std::move(p));
    } while (page < 10000 && TIFFReadDirectory(t));
    TIFFClose(t);
    if (pages.empty()) return Fail("TIFF file without a page that can be read");
    if (!skipped.empty()) pages.back().note += "unreadable TIFF pages:" + skipped;
    for (auto& p : pages) out.push_back(std::move(p));
    return Ok();
}

}  // namespace images::detail

// The module's entry points.
extern "C" __attribute__((visibility("default"))) std::uint32_t VmModuleAbiVersion() {
    return images::detail::kTiffModuleAbi;
}

extern "C" __attribute__((visibility("default"))) void VmLoadTiff(std::string_view file,
                                                                  std::vector<images::Picture>* out,
                                                                  images::LoadResult* result) {
    *result = images::detail::LoadTiffWithLibtiff(file, *out);
}
