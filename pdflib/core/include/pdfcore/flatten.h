// Pictures for PDF 1.3, which has no soft masks: a picture with an alpha
// mask is composited on white instead.
#pragma once

#include <optional>

#include "pdfcore/document.h"

namespace pdfcore {

// `im` with its soft mask composited on white: 8 bits a component in the
// picture's own colour space (an indexed picture in its base space), Flate
// compressed, no mask. Nothing when the picture's encoding is not one this
// library writes with a mask (its samples cannot be read back).
std::optional<EncodedImage> OnWhite(const EncodedImage& im);

}  // namespace pdfcore
