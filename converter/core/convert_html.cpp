// HTML pages, saved web archives, plain text and web addresses, loaded by the
// add-on, which decides how each is shown.
#include "converters.h"
#include "com_checks.h"
#include "frame.h"
#include "links.h"
#include "strings.h"

namespace vellumate {
namespace {

// Loads one source into the add-on and queues its pages: the pages the load
// added, or one when it reports none.
std::int32_t LoadAndQueue(ConversionContext& ctx, const std::string& source, bool address) {
    std::int32_t before = 0, after = 0;
    try {
        AddonCheck(ctx.addon->get_TotalPageCount(&before));
        com::Bstr text(source);
        AddonCheck(address ? ctx.addon->LoadURL(text.Get()) : ctx.addon->LoadHTMLFile(text.Get()));
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

}  // namespace

std::int32_t ConvertHtmlFile(ConversionContext& ctx, const std::string& source, const std::string& output) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, true, false)) return kCancelled;
    AddFileEntries(ctx, source);
    AddDocumentEntry(ctx, source, "");
    return LoadAndQueue(ctx, source, false);
}

// The URL mode of the command line: no cancellation check before the load and
// no outline of its own.
std::int32_t ConvertUrl(ConversionContext& ctx, const std::string& url, const std::string& output) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    AddDocumentEntry(ctx, url, url);
    return LoadAndQueue(ctx, url, true);
}

}  // namespace vellumate
