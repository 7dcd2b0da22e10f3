// HTML pages, saved web archives, plain text and web addresses, loaded by the
// add-on, which decides how each is shown.
#include "converters.h"
#include "com_checks.h"
#include "frame.h"
#include "links.h"
#include "paths.h"
#include "router.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

// HTML files announced ahead of the one loading: the add-on's browser
// prints the next while this one is converted.
constexpr std::size_t kLookahead = 2;

// Announces the HTML files the run converts next, up to the first other
// file. Only when they are loaded with the settings of this one: a new
// add-on object of the run gets the same settings, and files merged into
// one document are loaded by this object.
void AnnounceNextFiles(ConversionContext& ctx) {
    com::ComPtr<tessaline::ITessalineLookahead> lookahead;
    if (ctx.nextSources.empty() || !ctx.addon || ctx.addon.As(&lookahead) != com::S_OK) return;
    for (std::size_t i = 0; i < ctx.nextSources.size() && i < kLookahead; ++i) {
        const std::string source = ResolveSource(ctx, ctx.nextSources[i]);
        const std::optional<std::string> ext = source.empty() ? std::nullopt : LowerExtension(source);
        if (!ext || !IsHtmlExtension(*ext) || !sys::CanOpenForReading(source)) return;
        com::Bstr name(source);
        lookahead->AnnounceHTMLFile(name.Get());
    }
}

// Loads one source into the add-on and queues its pages: the pages the load
// added, or one when it reports none.
std::int32_t LoadAndQueue(ConversionContext& ctx, const std::string& source, bool address) {
    std::int32_t before = 0, after = 0;
    if (!address) AnnounceNextFiles(ctx);
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

bool IsHtmlExtension(const std::string& ext) {
    for (const char* e : {"html", "htm", "shtml", "shtm", "mht", "txt"})
        if (ext == e) return true;
    return false;
}

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
