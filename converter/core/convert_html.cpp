// HTML pages, saved web archives and plain text, loaded by the add-on.
#include "converters.h"
#include "driver.h"
#include "strings.h"

namespace vellumate {

std::int32_t ConvertHtmlFile(ConversionContext& ctx, const std::string& source, const std::string& output) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, true, false)) return kCancelled;
    AddFileEntries(ctx, source);
    AddDocumentEntry(ctx, source, "");

    std::int32_t before = 0, after = 0;
    try {
        AddonCheck(ctx.addon->get_TotalPageCount(&before));
        com::Bstr path(source);
        AddonCheck(ctx.addon->LoadHTMLFile(path.Get()));
        AddonCheck(ctx.addon->get_TotalPageCount(&after));
    } catch (...) {
        ShowError(ctx, LoadString(IDS_HTML_LOAD_FAILED));
        return kHtmlLoadFailed;
    }
    PageSource src;
    src.pageCount = after - before > 0 ? after - before : 1;
    src.addonSource = true;
    QueuePageSource(ctx, src);
    return EndFileFrame(ctx, src.pageCount, true);
}

}  // namespace vellumate
