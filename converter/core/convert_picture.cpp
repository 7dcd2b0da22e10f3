// Pictures: the PDF document loads the file into its picture list (every
// frame or page a picture) and the page generation gives each its own page,
// sized to the picture plus the margins.
#include <cmath>

#include "converters.h"
#include "com_checks.h"
#include "frame.h"
#include "strings.h"

namespace vellumate {
namespace {

struct Loaded {
    std::vector<PageSource> sources;
    std::int32_t pages = 0;
};

// Loads `source` into the document and describes its pictures. A source
// carries one size for all its pages, so frames of another size or
// resolution than the one before them start a source of their own (their
// pages would otherwise be cut to the first frame's size).
bool LoadPictures(ConversionContext& ctx, const std::string& source, Loaded* out) {
    corvanth::IPdfDocument* pdf = ctx.pdf.Get();
    out->sources.clear();
    out->pages = 0;
    try {
        std::int32_t first = 0, last = -1;
        PdfCheck(pdf->get_PictureCount(&first));
        if (first < 0) return false;
        com::Bstr path(source);
        PdfCheck(pdf->LoadPicture(path.Get(), &last));
        std::int32_t count = 0;
        PdfCheck(pdf->get_PictureCount(&count));
        if (count < 0 || last < first) return false;
        for (std::int32_t i = first; i <= last; ++i) {
            double w = 0, h = 0;
            std::int32_t res1 = 0, res2 = 0;
            PdfCheck(pdf->GetPictureWidth(i, &w));
            PdfCheck(pdf->GetPictureHeight(i, &h));
            PdfCheck(pdf->GetPictureResolution(i, &res1));
            PdfCheck(pdf->GetPictureResolution(i, &res2));
            PageSource src;
            src.pictureSource = true;
            src.width = static_cast<std::int32_t>(std::lround(w));
            src.height = static_cast<std::int32_t>(std::lround(h));
            src.orientation = w > h ? 1 : 0;
            src.resolution1 = res1;
            src.resolution2 = res2;
            src.firstPicture = i;
            src.pageCount = 1;
            PageSource* prev = out->sources.empty() ? nullptr : &out->sources.back();
            if (prev && prev->width == src.width && prev->height == src.height && prev->resolution2 == res2)
                ++prev->pageCount;
            else
                out->sources.push_back(src);
        }
        out->pages = last - first + 1;
    } catch (const com::ComError&) {
        return false;
    }
    return true;
}

// A file that does not load: message 7141, -24. Nothing of it was queued.
// A document that holds nothing yet is dropped unwritten; the open document
// of a merged run stays for the other files, and when this was the run's
// last file its pages are still written.
std::int32_t LoadFailed(ConversionContext& ctx, bool documentWritten) {
    ShowError(ctx, LoadString(IDS_PICTURE_LOAD_FAILED));
    if (ctx.MakeOne && !ctx.queue.empty()) {
        if (ctx.lastFile) GeneratePages(ctx, 1);
        return kPictureLoadFailed;
    }
    if (documentWritten) FinishPdfDocument(ctx, true);
    else ReleaseComObjects(ctx);
    return kPictureLoadFailed;
}

}  // namespace

std::int32_t ConvertPicture(ConversionContext& ctx, const std::string& source, const std::string& output) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, false, false)) return kCancelled;

    Loaded loaded;
    if (!LoadPictures(ctx, source, &loaded)) return LoadFailed(ctx, false);

    // A document that starts with a picture takes the picture's resolution:
    // it is begun again at that resolution (at 96 it already is).
    const std::int32_t resolution = loaded.sources.front().resolution1;
    if (ctx.queue.empty() && resolution != 96) {
        std::string name = output;
        com::Bstr current;
        if (com::SUCCEEDED(ctx.pdf->get_FileName(current.Out()))) name = current.Utf8();
        FinishPdfDocument(ctx, false);
        if (!CreateComObjects(ctx)) return kComponentsMissing;
        if (std::int32_t r = BeginPdfDocument(ctx, name, resolution)) return r;
        if (!LoadPictures(ctx, source, &loaded)) return LoadFailed(ctx, true);
    }

    AddFileEntries(ctx, source);
    for (const PageSource& src : loaded.sources) QueuePageSource(ctx, src);
    return EndFileFrame(ctx, loaded.pages, false);
}

}  // namespace vellumate
