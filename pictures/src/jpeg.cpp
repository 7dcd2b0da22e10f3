// JPEG files are never decoded: the markers up to the first scan tell the
// size, colour model, resolution, orientation and ICC profile, and the file's
// bytes become the DCTDecode stream as they are.
#include <map>

#include "codecs.h"

namespace images::detail {
namespace {

struct Exif {
    int orientation = 1;
    double dpiX = 0, dpiY = 0;
};

// IFD0 of the TIFF structure inside an Exif segment.
Exif ParseExif(std::string_view t) {
    Exif e;
    Bytes b{t};
    if (t.size() < 8) return e;
    bool le = t[0] == 'I' && t[1] == 'I';
    if (!le && !(t[0] == 'M' && t[1] == 'M')) return e;
    auto u16 = [&](std::size_t at) { return le ? b.Le16(at) : b.Be16(at); };
    auto u32 = [&](std::size_t at) { return le ? b.Le32(at) : b.Be32(at); };
    if (u16(2) != 42) return e;
    std::size_t ifd = u32(4);
    if (!b.Has(ifd, 2)) return e;
    unsigned n = u16(ifd);
    double xr = 0, yr = 0;
    int unit = 2;
    auto rational = [&](std::size_t entry) -> double {
        std::size_t off = u32(entry + 8);
        if (!b.Has(off, 8)) return 0;
        std::uint32_t num = u32(off), den = u32(off + 4);
        return den ? static_cast<double>(num) / den : 0;
    };
    for (unsigned i = 0; i < n && b.Has(ifd + 2 + 12 * i, 12); ++i) {
        std::size_t en = ifd + 2 + 12 * i;
        switch (u16(en)) {
            case 0x0112: {
                int o = u16(en + 8);
                if (o >= 1 && o <= 8) e.orientation = o;
                break;
            }
            case 0x011A: xr = rational(en); break;
            case 0x011B: yr = rational(en); break;
            case 0x0128: unit = u16(en + 8); break;
        }
    }
    double k = unit == 3 ? 2.54 : unit == 2 ? 1.0 : 0.0;
    e.dpiX = xr * k, e.dpiY = (yr ? yr : xr) * k;
    return e;
}

int IccComponents(std::string_view icc) {
    if (icc.size() < 132) return 0;
    std::string_view cs = icc.substr(16, 4);
    return cs == "GRAY" ? 1 : cs == "RGB " ? 3 : cs == "CMYK" ? 4 : 0;
}

}  // namespace

LoadResult LoadJpeg(std::string_view file, std::vector<Picture>& out) {
    Bytes b{file};
    std::size_t at = 2;
    int width = 0, height = 0, comps = 0, precision = 0;
    bool adobe = false, sawScan = false;
    int jfifUnits = 0;
    double jfifX = 0, jfifY = 0;
    Exif exif;
    std::map<int, std::string_view> iccChunks;
    int iccCount = 0;

    while (!sawScan) {
        if (!b.Has(at, 2)) return Fail("truncated JPEG file (no image data)");
        if (b.U8(at) != 0xFF) return Fail("damaged JPEG file (marker expected)");
        while (b.U8(at) == 0xFF && b.Has(at, 2)) ++at;
        int m = b.U8(at++);
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
        if (m == 0xD8 || m == 0xD9) return Fail("damaged JPEG file (no image data)");
        if (!b.Has(at, 2)) return Fail("truncated JPEG file");
        std::size_t len = b.Be16(at);
        if (len < 2 || !b.Has(at, len)) return Fail("truncated JPEG file");
        std::string_view seg = file.substr(at + 2, len - 2);
        Bytes s{seg};
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            if (m != 0xC0 && m != 0xC1 && m != 0xC2)
                return Fail("JPEG coding (lossless, hierarchical or arithmetic) that PDF cannot carry");
            if (width) return Fail("damaged JPEG file (two frame headers)");
            precision = s.U8(0);
            height = s.Be16(1), width = s.Be16(3), comps = s.U8(5);
            if (seg.size() < 6u + 3u * comps) return Fail("damaged JPEG frame header");
        } else if (m == 0xDA) {
            sawScan = true;
        } else if (m == 0xE0 && seg.substr(0, 5) == std::string_view("JFIF\0", 5) && seg.size() >= 12) {
            jfifUnits = s.U8(7), jfifX = s.Be16(8), jfifY = s.Be16(10);
        } else if (m == 0xE1 && seg.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
            exif = ParseExif(seg.substr(6));
        } else if (m == 0xE2 && seg.substr(0, 12) == std::string_view("ICC_PROFILE\0", 12) && seg.size() > 14) {
            iccCount = s.U8(13);
            iccChunks.emplace(s.U8(12), seg.substr(14));
        } else if (m == 0xEE && seg.substr(0, 5) == "Adobe" && seg.size() >= 12) {
            adobe = true;
        }
        at += len;
    }
    if (!width) return Fail("damaged JPEG file (no frame header)");
    if (height == 0) return Fail("JPEG file with its height after the scan, which PDF cannot carry");
    if (precision != 8) return Fail("JPEG file with " + std::to_string(precision) + "-bit samples");
    if (comps != 1 && comps != 3 && comps != 4) return Fail("JPEG file with " + std::to_string(comps) + " colour components");

    Picture p;
    p.format = Format::Jpeg;
    PdfImage& im = p.image;
    im.filter = "DCTDecode";
    im.model = comps == 1 ? ColorModel::Gray : comps == 3 ? ColorModel::Rgb : ColorModel::Cmyk;
    im.width = width, im.height = height;
    im.bitsPerComponent = 8;
    // Adobe's writers store CMYK inverted; their APP14 marker tells.
    if (comps == 4 && adobe) im.decode = {1, 0, 1, 0, 1, 0, 1, 0};
    if (iccCount > 0 && static_cast<int>(iccChunks.size()) == iccCount && iccChunks.begin()->first == 1 &&
        iccChunks.rbegin()->first == iccCount) {
        std::string icc;
        for (auto& [seq, chunk] : iccChunks) icc.append(chunk);
        if (IccComponents(icc) == comps) im.iccProfile = std::move(icc);
    }
    if (jfifUnits == 1 || jfifUnits == 2) {
        double k = jfifUnits == 2 ? 2.54 : 1.0;
        p.dpiX = SaneDpi(jfifX * k), p.dpiY = SaneDpi(jfifY * k);
    } else if (exif.dpiX > 0) {
        p.dpiX = SaneDpi(exif.dpiX), p.dpiY = SaneDpi(exif.dpiY);
    }
    p.orientation = exif.orientation;
    bool turned = p.orientation >= 5;
    p.width = turned ? height : width;
    p.height = turned ? width : height;
    if (turned) std::swap(p.dpiX, p.dpiY);
    im.data.assign(file);
    out.push_back(std::move(p));
    return Ok();
}

}  // namespace images::detail
