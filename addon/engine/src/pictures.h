// Picture decoding for the layout: the seam between the container and the
// suite's picture decoders, and SVG documents drawn by the SVG module
// (librsvg, opened on first use) where it is installed.
#pragma once

#include <memory>
#include <string_view>

#include "emf/device.h"

namespace htmlengine {

// Decodes a picture file's bytes; null when the format is unknown or the data
// is damaged. Pictures larger than `maxPixels` are refused.
std::shared_ptr<emf::Image> DecodePicture(std::string_view bytes, std::size_t maxPixels = 64u << 20);

struct SvgBoxQuery;
// An SVG document drawn by the SVG module (null without it, or when damaged);
// `query`, when given, gets the boxes of the elements it names.
std::shared_ptr<emf::Image> DecodeSvg(std::string_view bytes, std::size_t maxPixels, SvgBoxQuery* query);

}  // namespace htmlengine
