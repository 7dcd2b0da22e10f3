// A web address, loaded by the add-on (the URL mode of the command line).
#include "converters.h"
#include "driver.h"
#include "strings.h"

namespace vellumate {

std::int32_t ConvertUrl(ConversionContext& ctx, const std::string& url, const std::string& output) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    AddDocumentEntry(ctx, url, url);
    std::int32_t before = 0, after = 0;
    try {
        AddonCheck(ctx.addon->get_TotalPageCount(&before));
        com::Bstr address(url);
        AddonCheck(ctx.addon->LoadURL(address.Get()));
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
