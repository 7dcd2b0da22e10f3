#include "pdfcore/flatten.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pdfcore/pdf_writer.h"
#include "pictures/flate.h"

namespace pdfcore {
namespace {

constexpr std::size_t kMaxSamples = std::size_t(1) << 30;

// An integer parameter of a decode-parameter dictionary ("/Columns 40"), or -1.
long Param(const std::string& dict, const char* key) {
    const std::size_t at = dict.find(key);
    if (at == std::string::npos) return -1;
    return std::strtol(dict.c_str() + at + std::strlen(key), nullptr, 10);
}

// The samples of a Flate image as written here: rows of `rowBytes`, after
// PNG predictors when the parameters name them.
std::optional<std::string> Samples(const EncodedImage& im, int components) {
    if (im.filter != "FlateDecode" || im.width <= 0 || im.height <= 0) return std::nullopt;
    const std::size_t rowBytes = (std::size_t(im.width) * components * im.bitsPerComponent + 7) / 8;
    const std::size_t bpp = std::size_t(components) * im.bitsPerComponent / 8;
    return images::InflateRows(im.data, std::size_t(im.height), rowBytes, Param(im.decodeParms, "/Predictor") >= 10,
                               bpp, kMaxSamples);
}

// Sample `i` of a row-packed buffer as a value from 0 to 1.
double Sample(const std::string& s, std::size_t rowBytes, int bits, std::size_t y, std::size_t i) {
    const auto* row = reinterpret_cast<const unsigned char*>(s.data()) + y * rowBytes;
    if (bits == 8) return row[i] / 255.0;
    if (bits == 16) return (row[2 * i] << 8 | row[2 * i + 1]) / 65535.0;
    const std::size_t bit = i * bits;
    const int max = (1 << bits) - 1;
    return ((row[bit / 8] >> (8 - bits - bit % 8)) & max) / double(max);
}

}  // namespace

std::optional<EncodedImage> OnWhite(const EncodedImage& im) {
    if (!im.softMask || im.imageMask) return std::nullopt;
    const EncodedImage& mask = *im.softMask;
    if (mask.width != im.width || mask.height != im.height) return std::nullopt;
    // The colour space: a device space, an ICC space of N components, or an
    // indexed space over RGB written as "[/Indexed /DeviceRGB hival <hex>]".
    int components = im.iccComponents > 0 ? im.iccComponents
                     : im.colorSpace == "/DeviceGray" ? 1 : im.colorSpace == "/DeviceCMYK" ? 4 : 3;
    std::vector<unsigned char> palette;
    const bool indexed = im.colorSpace.rfind("[/Indexed", 0) == 0;
    if (indexed) {
        const std::size_t lt = im.colorSpace.find('<'), gt = im.colorSpace.find('>');
        if (im.colorSpace.find("/DeviceRGB") == std::string::npos || lt == std::string::npos || gt < lt) return std::nullopt;
        for (std::size_t k = lt + 1; k + 1 < gt; k += 2)
            palette.push_back(static_cast<unsigned char>(std::strtol(im.colorSpace.substr(k, 2).c_str(), nullptr, 16)));
        components = 1;
    } else if (im.iccComponents <= 0 && im.colorSpace != "/DeviceRGB" && im.colorSpace != "/DeviceGray" &&
               im.colorSpace != "/DeviceCMYK") {
        return std::nullopt;
    }
    const int bits = im.bitsPerComponent, maskBits = mask.bitsPerComponent;
    if ((bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) || (indexed && bits > 8) ||
        (maskBits != 1 && maskBits != 8 && maskBits != 16))
        return std::nullopt;
    auto color = Samples(im, components);
    auto alpha = Samples(mask, 1);
    if (!color || !alpha) return std::nullopt;

    const int outComponents = indexed ? 3 : components;
    const bool cmyk = !indexed && components == 4;  // white is no ink
    const std::size_t w = std::size_t(im.width), h = std::size_t(im.height);
    const std::size_t rowBytes = (w * components * bits + 7) / 8, maskRow = (w * maskBits + 7) / 8;
    std::string out;
    out.reserve(w * h * outComponents);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            const double a = Sample(*alpha, maskRow, maskBits, y, x);
            for (int c = 0; c < outComponents; ++c) {
                double v;
                if (indexed) {
                    const std::size_t index = std::size_t(std::lround(Sample(*color, rowBytes, bits, y, x) * ((1 << bits) - 1)));
                    v = index * 3 + c < palette.size() ? palette[index * 3 + c] / 255.0 : 0;
                } else {
                    v = Sample(*color, rowBytes, bits, y, x * components + c);
                    if (im.decode.size() >= std::size_t(2 * c + 2))
                        v = im.decode[2 * c] + v * (im.decode[2 * c + 1] - im.decode[2 * c]);
                }
                const double on = cmyk ? v * a : v * a + (1 - a);
                out += static_cast<char>(std::lround(std::clamp(on, 0.0, 1.0) * 255));
            }
        }
    }
    EncodedImage flat;
    flat.width = im.width, flat.height = im.height;
    flat.bitsPerComponent = 8;
    flat.colorSpace = indexed ? "/DeviceRGB" : im.colorSpace;
    flat.iccProfile = indexed ? std::string() : im.iccProfile;
    flat.iccComponents = indexed ? 0 : im.iccComponents;
    flat.interpolate = im.interpolate;
    flat.data = Deflate(out);
    flat.filter = "FlateDecode";
    return flat;
}

}  // namespace pdfcore
