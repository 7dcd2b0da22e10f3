// Test-only: small picture files written with the format libraries (or by
// hand where we own the parser), and a reader for our encoded streams.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pictures/picture.h"

namespace images::test {

struct PngSpec {
    int width = 4, height = 3;
    int colorType = 2;  // PNG colour type
    int depth = 8;
    bool interlace = false;
    int ppm = 0;  // pHYs pixels per metre, 0 for none
    std::vector<std::uint8_t> palette;  // RGB triples
    std::vector<std::uint8_t> trns;
    // Row-major samples as libpng wants them (packed rows).
    std::vector<std::uint8_t> rows;
};
std::string MakePng(const PngSpec& s);

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    int disposal = 0, transparent = -1;
    bool interlace = false;
    std::vector<std::uint8_t> pixels;  // indexes into the global palette
};
std::string MakeGif(int width, int height, const std::vector<std::uint8_t>& palette, const std::vector<GifFrame>& frames);

struct TiffPage {
    int width = 4, height = 3;
    int bits = 8, samples = 3, photometric = 2, compression = 1;
    int extra = 0;  // EXTRASAMPLES value of one extra sample, 0 for none
    float dpi = 0;
    int orientation = 0;  // ORIENTATION tag, 0 for none
    std::vector<std::uint8_t> data;  // rows as libtiff writes them (native 16-bit)
};
std::string MakeTiff(const std::vector<TiffPage>& pages);

// A BMP with the given info header size, depth and compression; `pixels` are
// the rows exactly as stored (padding included); `masks` follow the header
// (40-byte headers) or sit inside it (v4/v5).
std::string MakeBmp(int headerSize, int width, int height, int bpp, int compression,
                    const std::vector<std::uint8_t>& palette /* BGRX */, const std::vector<std::uint8_t>& pixels,
                    const std::vector<std::uint32_t>& masks = {}, int ppm = 0);

// Markers of a JPEG file (no real scan data: the loader never decodes).
struct JpegSpec {
    int width = 16, height = 8, components = 3, sof = 0xC0;
    int jfifUnits = -1, jfifX = 0, jfifY = 0;  // -1: no JFIF segment
    bool adobe = false;
    int exifOrientation = 0;  // 0: no Exif segment
    double exifDpi = 0;
    std::string icc;             // split into chunks of iccChunk bytes
    std::size_t iccChunk = 60000;
};
std::string MakeJpeg(const JpegSpec& s);

// The samples an encoded stream stands for: Flate inflated and PNG predictors
// undone. Empty when the stream is not Flate.
std::vector<std::uint8_t> DecodeSamples(const PdfImage& im);

// A minimal ICC profile header of the given colour space ("RGB ", "GRAY", "CMYK").
std::string FakeIcc(const char* space, std::size_t size = 200);

}  // namespace images::test
