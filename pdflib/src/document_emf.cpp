// Drawing enhanced metafiles onto the current page through the PDF painter.
#include "pdf_document.h"

#include <cmath>

#if VM_HAVE_PDFPAINT
#include "pdfpaint/draw_metafile.h"
#endif

namespace corvanth {

bool CPdfDocument::MetafileShows(const std::string& bytes, double* width, double* height) {
#if VM_HAVE_PDFPAINT
    bool replaced = false;
    const emf::Rect f = pdfpaint::PictureFrame(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), &replaced);
    if (!replaced || f.Empty()) return false;
    *width = f.Width(), *height = f.Height();
    return true;
#else
    (void)bytes, (void)width, (void)height;
    return false;
#endif
}

HRESULT CPdfDocument::DrawEmfAny(const std::uint8_t* data, std::uint32_t size, const std::string& path, double x,
                                 double y, double scaleX, double scaleY, std::int32_t logPixels, bool asPicture) {
#if VM_HAVE_PDFPAINT
    return Trap([&] {
        for (double v : {x, y, scaleX, scaleY})
            if (!std::isfinite(v)) throw InvalidArgument("position and scale must be numbers");
        if (scaleX <= 0 || scaleY <= 0) throw InvalidArgument("scales must be positive");
        if (logPixels < 0 || logPixels > 100000) throw InvalidArgument("bad device resolution");
        RequireBegun();
        double ppu = ToPoints(1);
        pdfpaint::DrawOutcome out =
            data ? pdfpaint::DrawMetafile(*doc_, current_, std::span<const std::uint8_t>(data, size), x, y, scaleX,
                                          scaleY, logPixels, ppu, asPicture)
                 : pdfpaint::DrawMetafileFile(*doc_, current_, path, x, y, scaleX, scaleY, logPixels, ppu);
        switch (out.status) {
        case pdfpaint::DrawStatus::Ok: return com::S_OK;
        case pdfpaint::DrawStatus::NotMetafile: throw InvalidArgument(out.error.empty() ? "not a metafile" : out.error);
        case pdfpaint::DrawStatus::NoFile: throw Failure(com::E_FAIL, out.error.empty() ? "cannot read " + path : out.error);
        case pdfpaint::DrawStatus::BadPage: throw Failure(com::E_UNEXPECTED, out.error);
        }
        return com::S_OK;
    });
#else
    (void)data, (void)size, (void)path, (void)x, (void)y, (void)scaleX, (void)scaleY, (void)logPixels, (void)asPicture;
    return Trap([]() -> HRESULT { throw Failure(com::E_NOTIMPL, "drawing metafiles is not available in this build"); });
#endif
}

}  // namespace corvanth
