// EMF pictures stay vectors: only the header is read here (size and
// resolution); the metafile player draws the records when the picture is used.
#include <cmath>

#include "codecs.h"

namespace images::detail {

LoadResult LoadEmf(std::string_view file, std::vector<Picture>& out) {
    Bytes b{file};
    if (!b.Has(0, 88)) return Fail("truncated EMF file");
    std::uint32_t headerSize = b.Le32(4), total = b.Le32(48);
    if (headerSize < 88 || headerSize % 4 || !b.Has(0, headerSize)) return Fail("damaged EMF header");
    if (total < headerSize) return Fail("damaged EMF header");
    auto s32 = [&](std::size_t at) { return static_cast<std::int32_t>(b.Le32(at)); };
    double frameW = (static_cast<double>(s32(32)) - s32(24)) / 100.0;  // mm
    double frameH = (static_cast<double>(s32(36)) - s32(28)) / 100.0;
    double devX = s32(72), devY = s32(76), mmX = s32(80), mmY = s32(84);
    Picture p;
    p.format = Format::Emf;
    p.vector = true;
    if (devX > 0 && devY > 0 && mmX > 0 && mmY > 0) p.dpiX = SaneDpi(devX * 25.4 / mmX), p.dpiY = SaneDpi(devY * 25.4 / mmY);
    double w = frameW * p.dpiX / 25.4, h = frameH * p.dpiY / 25.4;
    if (!(w >= 1 && h >= 1)) {  // no frame: the bounds, in device pixels
        w = static_cast<double>(s32(16)) - s32(8) + 1;
        h = static_cast<double>(s32(20)) - s32(12) + 1;
    }
    if (!(w >= 1 && h >= 1 && w < (1 << 24) && h < (1 << 24))) return Fail("EMF file with an empty or absurd size");
    p.width = static_cast<int>(std::lround(w)), p.height = static_cast<int>(std::lround(h));
    if (total > file.size()) p.note = "truncated EMF file";
    p.metafile = std::make_shared<const std::string>(file);
    out.push_back(std::move(p));
    return Ok();
}

}  // namespace images::detail
