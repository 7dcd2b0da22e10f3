// Device-independent bitmaps as metafile records carry them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "emf/device.h"
#include "emf/writer.h"

namespace emf {

// Packs an image as a bottom-up DIB: 24 bits per pixel for opaque colour,
// 8 bits with a grey palette for Gray8, 32 bits premultiplied BGRA for Rgba8,
// a JPEG or PNG DIB (the file's bytes unchanged) for Jpeg and Png.
DibData EncodeDib(const Image&);

// Colours the colour table and 1-bit pictures of a DIB take: for monochrome
// brushes and blits, bit 0 is `foreground`, bit 1 `background`.
struct DibDecodeOptions {
    bool premultipliedAlpha = false;  // 32-bit data carries alpha premultiplied (AlphaBlend with AC_SRC_ALPHA)
    bool useAlpha = false;            // 32-bit BI_RGB data's fourth byte is alpha
    std::uint32_t usage = DIB_RGB_COLORS;
    std::size_t maxPixels = std::size_t(1) << 25;  // 32 Mpixels: an A4 page at 600 per inch fits
    // For SETDIBITSTODEVICE: bits hold only `scanCount` rows from `startScan`.
    std::int64_t startScan = 0, scanCount = -1;
};

// Decodes `info` (BITMAPINFOHEADER or BITMAPCOREHEADER with colour table or
// masks) and `bits` into out (Rgb8, Rgba8, or Jpeg or Png with the bytes
// kept). 1, 4, 8, 16, 24 and 32 bits per pixel, RLE4/RLE8, BITFIELDS, JPEG,
// PNG (its signature and header chunk checked, the rest not decoded). Returns
// false with a reason for anything malformed or unsupported; never reads
// outside the two spans.
bool DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits, Image& out,
               std::string& error, const DibDecodeOptions& options = {});

}  // namespace emf
