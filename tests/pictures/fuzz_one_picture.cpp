#include "fuzz_one_picture.h"

#include <string_view>
#include <vector>

#include "pictures/picture.h"

namespace vmtest {
namespace {

bool Consistent(const images::PdfImage& im) {
    if (im.width <= 0 || im.height <= 0 || im.data.empty()) return false;
    if (im.model == images::ColorModel::Indexed) {
        std::size_t n = im.palette.size() / 3;
        if (im.palette.size() % 3 || n == 0 || n > 256) return false;
    }
    if (im.softMask && (im.softMask->width != im.width || im.softMask->height != im.height ||
                        im.softMask->model != images::ColorModel::Gray))
        return false;
    return true;
}

}  // namespace

bool FuzzOnePicture(const std::uint8_t* data, std::size_t size) {
    std::vector<images::Picture> out;
    images::LoadResult r = images::LoadPicturesFromMemory(std::string_view(reinterpret_cast<const char*>(data), size), out);
    if (!r.ok) return out.empty() && !r.error.empty();
    for (auto& p : out) {
        if (p.width <= 0 || p.height <= 0 || p.dpiX < 1 || p.dpiY < 1) return false;
        if (p.vector) continue;
        if (!Consistent(p.image)) return false;
        images::Invert(p);
        if (!Consistent(p.image)) return false;
    }
    return true;
}

}  // namespace vmtest
