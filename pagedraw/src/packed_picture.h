// Large decoded pictures packed as PNG files, so that they travel through
// the metafile compressed and the PDF painter can store their data as it is.
#pragma once

#include <cstddef>
#include <optional>

#include "emf/device.h"

namespace pagedraw {

// Pictures with more decoded bytes than this are packed; smaller ones cost
// more to pack than they save.
inline constexpr std::size_t kPackAbove = std::size_t(256) << 10;

// A Gray8 or Rgb8 picture as an 8-bit, non-interlaced PNG (format Png, the
// file in `encoded`, no pixels); nothing for other formats, for pictures
// whose pixels do not fill them or that carry a colour profile, or when
// compressing fails.
std::optional<emf::Image> PackPng(const emf::Image& picture);

}  // namespace pagedraw
