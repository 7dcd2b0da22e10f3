// Drawing enhanced metafiles onto the current page through the PDF painter.
#include "pdf_document.h"

namespace corvanth {

HRESULT CPdfDocument::DrawEmfAny(const std::uint8_t* data, std::uint32_t size, const std::string& path, double x,
                                 double y, double scaleX, double scaleY, std::int32_t logPixels) {
    (void)data, (void)size, (void)path, (void)x, (void)y, (void)scaleX, (void)scaleY, (void)logPixels;
    return Trap([]() -> HRESULT { throw Failure(com::E_NOTIMPL, "drawing metafiles is not available yet"); });
}

}  // namespace corvanth
