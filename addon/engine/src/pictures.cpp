// Pictures come from the suite's picture loaders (the same as the picture
// conversion uses), which hand out samples encoded for PDF streams; the
// layout needs plain pixels, so the Flate data and its PNG predictors are
// undone here. JPEG data is kept as it is.
#include "pictures.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "pictures/flate.h"
#include "pictures/picture.h"
#include "optional_modules.h"

namespace htmlengine {
namespace {

// One byte per sample (8-bit; deeper samples keep their high byte, shallower are scaled).
bool Samples(const images::PdfImage& im, std::vector<std::uint8_t>& out, int comps) {
    const std::size_t w = static_cast<std::size_t>(im.width), h = static_cast<std::size_t>(im.height);
    const int bpc = im.bitsPerComponent;
    if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) return false;
    const std::size_t rowBytes = (w * comps * bpc + 7) / 8;
    std::string plain;
    if (im.filter == "FlateDecode") {
        const bool predicted = im.decodeParms.find("/Predictor 1") != std::string::npos;
        auto rows = images::InflateRows(im.data, h, rowBytes, predicted, static_cast<std::size_t>(comps * bpc / 8));
        if (!rows) return false;
        plain = std::move(*rows);
    } else if (im.filter.empty()) {
        plain = im.data;
        if (plain.size() < h * rowBytes) return false;
    } else {
        return false;  // CCITT and other encodings are not shown
    }
    out.resize(w * h * comps);
    const auto* p = reinterpret_cast<const unsigned char*>(plain.data());
    const bool indexed = im.model == images::ColorModel::Indexed;
    for (std::size_t y = 0; y < h; ++y) {
        const unsigned char* row = p + y * rowBytes;
        for (std::size_t i = 0; i < w * comps; ++i) {
            unsigned v;
            if (bpc == 8) v = row[i];
            else if (bpc == 16) v = row[2 * i];
            else {
                std::size_t bit = i * bpc;
                v = (row[bit / 8] >> (8 - bpc - bit % 8)) & ((1u << bpc) - 1);
                if (!indexed) v = v * 255 / ((1u << bpc) - 1);
            }
            out[y * w * comps + i] = static_cast<std::uint8_t>(v);
        }
    }
    return true;
}

std::shared_ptr<emf::Image> ToImage(const images::Picture& pic) {
    const images::PdfImage& im = pic.image;
    if (pic.vector || im.width <= 0 || im.height <= 0) return nullptr;
    auto image = std::make_shared<emf::Image>();
    image->width = im.width;
    image->height = im.height;
    image->dpiX = pic.dpiX, image->dpiY = pic.dpiY;
    if (im.filter == "DCTDecode") {
        image->format = emf::Image::Format::Jpeg;
        image->components = im.Components();
        image->encoded.assign(im.data.begin(), im.data.end());
        return image;
    }
    const int comps = im.Components();
    std::vector<std::uint8_t> s;
    if (!Samples(im, s, comps)) return nullptr;
    std::vector<std::uint8_t> alpha;
    if (im.softMask && (im.softMask->width != im.width || im.softMask->height != im.height || !Samples(*im.softMask, alpha, 1)))
        alpha.clear();
    const std::size_t n = static_cast<std::size_t>(im.width) * im.height;
    image->format = emf::Image::Format::Rgba8;
    image->components = 4;
    image->pixels.resize(n * 4);
    const bool invert = im.decode.size() >= 2 && im.decode[0] > im.decode[1];
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t r, g, b;
        switch (im.model) {
            case images::ColorModel::Gray: r = g = b = s[i]; break;
            case images::ColorModel::Rgb: r = s[i * 3], g = s[i * 3 + 1], b = s[i * 3 + 2]; break;
            case images::ColorModel::Cmyk: {
                unsigned k = s[i * 4 + 3];
                r = static_cast<std::uint8_t>((255 - s[i * 4]) * (255 - k) / 255);
                g = static_cast<std::uint8_t>((255 - s[i * 4 + 1]) * (255 - k) / 255);
                b = static_cast<std::uint8_t>((255 - s[i * 4 + 2]) * (255 - k) / 255);
                break;
            }
            default: {  // indexed
                std::size_t at = static_cast<std::size_t>(s[i]) * 3;
                if (at + 2 < im.palette.size()) r = im.palette[at], g = im.palette[at + 1], b = im.palette[at + 2];
                else r = g = b = 0;
            }
        }
        if (invert && im.model != images::ColorModel::Indexed) r = 255 - r, g = 255 - g, b = 255 - b;
        auto* px = &image->pixels[i * 4];
        px[0] = r, px[1] = g, px[2] = b, px[3] = alpha.empty() ? 255 : alpha[i];
    }
    return image;
}

}  // namespace

// An SVG document: XML whose first element is <svg> (a BOM, an XML
// declaration, comments or a doctype may come first).
bool LooksLikeSvg(std::string_view bytes) {
    std::string_view head = bytes.substr(0, 4096);
    const std::size_t svg = head.find("<svg");
    if (svg == std::string_view::npos) return false;
    std::size_t i = head.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i]))) ++i;
    return i == svg || head.substr(i, 5) == "<?xml" || head.substr(i, 4) == "<!--" || head.substr(i, 9) == "<!DOCTYPE";
}

// SVG pictures are drawn by the SVG module; without it they show their alt text.
std::shared_ptr<emf::Image> DecodeSvg(std::string_view bytes, std::size_t maxPixels, SvgBoxQuery* query) {
    RenderSvgFn* render = SvgModule();
    if (!render) return nullptr;
    auto image = std::make_shared<emf::Image>();
    if (!render(bytes.data(), bytes.size(), maxPixels, image.get(), query)) return nullptr;
    return image;
}

std::shared_ptr<emf::Image> DecodePicture(std::string_view bytes, std::size_t maxPixels) {
    std::vector<images::Picture> pics;
    if (LooksLikeSvg(bytes)) return DecodeSvg(bytes, maxPixels, nullptr);
    if (!images::LoadPicturesFromMemory(bytes, pics).ok || pics.empty()) return nullptr;
    const auto& first = pics.front();
    if (static_cast<std::size_t>(first.image.width) * static_cast<std::size_t>(first.image.height) > maxPixels) return nullptr;
    return ToImage(first);
}

}  // namespace htmlengine
