// Internal: the per-format loaders and the raster encoder they share.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/picture.h"

namespace images::detail {

// Decoded samples, rows top-down and tightly packed (each row starts on a
// byte). Indexed rasters hold palette indexes of `bits` bits.
struct Raster {
    int width = 0, height = 0;
    ColorModel model = ColorModel::Rgb;
    int bits = 8;  // per component: 1, 2, 4, 8 or 16 (16: big-endian)
    std::string palette;  // Indexed: RGB triples
    std::string icc;
    std::vector<std::uint8_t> samples;
    // Optional alpha plane, one sample per pixel of alphaBits (8 or 16);
    // empty when the picture is opaque.
    std::vector<std::uint8_t> alpha;
    int alphaBits = 8;

    int Components() const { return model == ColorModel::Indexed ? 1 : model == ColorModel::Gray ? 1 : model == ColorModel::Rgb ? 3 : 4; }
    std::size_t RowBytes() const { return (static_cast<std::size_t>(width) * Components() * bits + 7) / 8; }
};

// Whether a picture of w x h pixels with `bytesPerPixel` bytes each (colour
// plus alpha) stays within the decoding limit, counting the copy the encoder
// makes.
bool FitsLimit(std::uint64_t w, std::uint64_t h, std::uint64_t bytesPerPixel);

// Flate-compresses the raster (with the PNG predictor that gives the smaller
// stream) into a PdfImage, with the alpha plane as a soft mask. Drops an alpha
// plane that is fully opaque and narrows one that is only 0 or full to 1 bit.
PdfImage EncodeRaster(Raster&& raster);

// Deflates `in` (zlib format) at the best compression; `predicted` data went
// through PNG row filters.
std::string Deflate(const std::uint8_t* data, std::size_t size, bool predicted);
// Inflates a zlib stream; false when it is damaged or would exceed `limit`.
bool Inflate(std::string_view in, std::string& out, std::size_t limit);

// Applies PNG row filters to packed rows; returns filter byte + row per row,
// choosing for each row the filter with the smallest sum of absolute values.
std::vector<std::uint8_t> PngFilterRows(const std::uint8_t* rows, std::size_t rowBytes, int height, int bytesPerPixel);

// The per-format loaders: they append to `out` and return the result.
LoadResult LoadJpeg(std::string_view file, std::vector<Picture>& out);
LoadResult LoadPng(std::string_view file, std::vector<Picture>& out);
LoadResult LoadGif(std::string_view file, std::vector<Picture>& out);
LoadResult LoadBmp(std::string_view file, std::vector<Picture>& out);
// TIFF goes through libtiff in the module libvm_tiff.so (opened by the first
// TIFF picture: libtiff maps eight more libraries that other runs never need).
LoadResult LoadTiff(std::string_view file, std::vector<Picture>& out);
constexpr std::uint32_t kTiffModuleAbi = 1;
extern "C" {
using LoadTiffFn = void(std::string_view file, std::vector<Picture>* out, LoadResult* result);
}
LoadResult LoadEmf(std::string_view file, std::vector<Picture>& out);

inline LoadResult Fail(std::string why) { return {false, std::move(why)}; }
inline LoadResult Ok() { return {true, {}}; }

// Little- and big-endian reads within a bounded buffer; reads past the end give 0.
struct Bytes {
    std::string_view s;
    std::uint8_t U8(std::size_t at) const { return at < s.size() ? static_cast<std::uint8_t>(s[at]) : 0; }
    std::uint16_t Le16(std::size_t at) const { return static_cast<std::uint16_t>(U8(at) | U8(at + 1) << 8); }
    std::uint32_t Le32(std::size_t at) const {
        return static_cast<std::uint32_t>(Le16(at)) | static_cast<std::uint32_t>(Le16(at + 2)) << 16;
    }
    std::uint16_t Be16(std::size_t at) const { return static_cast<std::uint16_t>(U8(at) << 8 | U8(at + 1)); }
    std::uint32_t Be32(std::size_t at) const {
        return static_cast<std::uint32_t>(Be16(at)) << 16 | static_cast<std::uint32_t>(Be16(at + 2));
    }
    bool Has(std::size_t at, std::size_t n) const { return at <= s.size() && n <= s.size() - at; }
};

// A sane resolution from a file's numbers: 96 when absent or absurd.
double SaneDpi(double dpi);

}  // namespace images::detail
