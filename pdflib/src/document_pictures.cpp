// Pictures held by the document: loading, measuring, drawing and inverting.
#include "pdf_document.h"

namespace corvanth {

HRESULT CPdfDocument::LoadPicture(BSTR path, std::int32_t* lastIndex) {
    (void)path;
    (void)lastIndex;
    return com::E_NOTIMPL;
}

HRESULT CPdfDocument::get_PictureCount(std::int32_t* n) {
    return Trap([&] {
        if (!n) throw Failure(com::E_POINTER, "null result pointer");
        *n = static_cast<std::int32_t>(pictures_.size());
        return com::S_OK;
    });
}

HRESULT CPdfDocument::GetPictureWidth(std::int32_t index, double* w) {
    (void)index;
    (void)w;
    return com::E_NOTIMPL;
}

HRESULT CPdfDocument::GetPictureHeight(std::int32_t index, double* h) {
    (void)index;
    (void)h;
    return com::E_NOTIMPL;
}

HRESULT CPdfDocument::GetPictureResolution(std::int32_t index, std::int32_t* dpi) {
    (void)index;
    (void)dpi;
    return com::E_NOTIMPL;
}

HRESULT CPdfDocument::DrawPicture(std::int32_t index, double x, double y) {
    (void)index;
    (void)x;
    (void)y;
    return com::E_NOTIMPL;
}

HRESULT CPdfDocument::InvertPicture(std::int32_t index) {
    (void)index;
    return com::E_NOTIMPL;
}

}  // namespace corvanth
