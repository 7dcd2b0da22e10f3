// Flate image data back to rows of samples: the PDF library reads back the
// pictures it wrote (to composite a soft mask), the HTML engine lays out the
// pictures the loaders encoded for PDF.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace images {

// The samples of a zlib stream of `rows` rows of `rowBytes` bytes. With
// `predicted` every row starts with a PNG filter byte (None, Sub, Up,
// Average, Paeth; `bpp` bytes a pixel, at least 1), which is undone; what
// the stream holds beyond the rows is not read. Nothing when the stream is
// damaged or ends before the rows do, names an unknown filter, or when the
// inflated rows (filter bytes included) would be larger than `limit` bytes.
std::optional<std::string> InflateRows(std::string_view data, std::size_t rows, std::size_t rowBytes, bool predicted,
                                       std::size_t bpp, std::size_t limit = static_cast<std::size_t>(-1));

}  // namespace images
