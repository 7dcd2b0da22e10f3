#include "links.h"

#include <algorithm>
#include <limits>

#include "paths.h"

namespace vellumate {

std::int32_t AddonToPdfPage(const std::vector<PageSource>& queue, std::int32_t addonPage) {
    std::int32_t addonSeen = 0, others = 0;
    for (const PageSource& src : queue) {
        if (src.addonSource) {
            if (addonPage < addonSeen + src.pageCount) break;
            addonSeen += src.pageCount;
        } else {
            others += src.pageCount;
        }
    }
    return addonPage + others;
}

namespace {

// "scheme:" of a URL (letters, digits, "+", "-", "." before the colon; a
// single letter is a drive, not a scheme).
bool HasScheme(std::string_view lower) {
    const size_t colon = lower.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = lower[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) return false;
    }
    return true;
}

}  // namespace

std::string AddressKey(std::string_view address) {
    std::string a(address.substr(0, address.find('#')));
    while (!a.empty() && a.back() == '/') a.pop_back();
    const size_t scheme = a.find("://");
    size_t hostEnd = scheme == std::string::npos ? 0 : a.find('/', scheme + 3);
    if (hostEnd == std::string::npos) hostEnd = a.size();
    for (size_t i = 0; i < hostEnd; ++i) a[i] = ToLowerAscii(a[i]);
    return a;
}

PageTableIndex::PageTableIndex(const RunPages& pages) {
    std::int32_t addonSeen = 0;
    for (const PageSource& src : pages.queue) {
        if (src.addonSource) {
            addonSeen += src.pageCount;
            addonEnd_.push_back(addonSeen);
            othersBefore_.push_back(othersTotal_);
        } else {
            othersTotal_ += src.pageCount;
        }
    }
    first_.reserve(pages.pageTable.size());
    byFirst_.reserve(pages.pageTable.size());
    for (size_t i = 0; i < pages.pageTable.size(); ++i) {
        const PageTableEntry& e = pages.pageTable[i];
        const auto index = static_cast<std::int32_t>(i);
        first_.push_back(e.addonIndex ? PdfPage(e.firstPage) : e.firstPage);
        byFirst_.emplace_back(first_.back(), index);
        names_.emplace(ToLowerAscii(FileNamePart(e.fileName)), index);
        if (!e.address.empty()) addresses_.emplace(AddressKey(e.address), index);
    }
    std::sort(byFirst_.begin(), byFirst_.end());
}

std::int32_t PageTableIndex::PdfPage(std::int32_t addonPage) const {
    // The first add-on source that ends after the page holds it (sources of
    // no pages hold none); past them all, every other page stands before it.
    const auto it = std::upper_bound(addonEnd_.begin(), addonEnd_.end(), addonPage);
    const std::int32_t others =
        it == addonEnd_.end() ? othersTotal_ : othersBefore_[static_cast<size_t>(it - addonEnd_.begin())];
    return addonPage + others;
}

std::int32_t PageTableIndex::ByFileName(const std::string& lowerName) const {
    if (lowerName.empty()) return -1;
    const auto it = names_.find(lowerName);
    return it == names_.end() ? -1 : it->second;
}

std::int32_t PageTableIndex::ByAddress(const std::string& key) const {
    const auto it = addresses_.find(key);
    return it == addresses_.end() ? -1 : it->second;
}

std::int32_t PageTableIndex::DocumentOf(std::int32_t pdfPage) const {
    const auto it = std::upper_bound(byFirst_.begin(), byFirst_.end(),
                                     std::pair(pdfPage, std::numeric_limits<std::int32_t>::max()));
    return it == byFirst_.begin() ? -1 : std::prev(it)->second;
}

std::int32_t PageTableIndex::NextFirstPage(std::int32_t page) const {
    const auto it = std::upper_bound(byFirst_.begin(), byFirst_.end(),
                                     std::pair(page, std::numeric_limits<std::int32_t>::max()));
    return it == byFirst_.end() ? std::numeric_limits<std::int32_t>::max() : it->first;
}

AnchorIndex::AnchorIndex(const std::vector<AnchorEntry>& anchors) {
    for (const AnchorEntry& a : anchors) {
        Named& named = byName_[ToLowerAscii(a.name)];
        if (!named.entries.empty() && named.entries.back()->page > a.page) named.pagesAscending = false;
        named.entries.push_back(&a);
    }
}

const AnchorEntry* AnchorIndex::Find(const std::string& lowerName, std::int32_t from, std::int32_t to) const {
    const auto it = byName_.find(lowerName);
    if (it == byName_.end()) return nullptr;
    const std::vector<const AnchorEntry*>& entries = it->second.entries;
    if (it->second.pagesAscending) {
        // Found page by page (the usual case): the first in range is the
        // first at or after `from`.
        const auto at = std::lower_bound(entries.begin(), entries.end(), from,
                                         [](const AnchorEntry* a, std::int32_t page) { return a->page < page; });
        return at != entries.end() && (*at)->page < to ? *at : nullptr;
    }
    for (const AnchorEntry* a : entries)
        if (a->page >= from && a->page < to) return a;
    return nullptr;
}

void ResolveLinkTarget(const RunPages& pages, const std::string& reported, LinkEntry* link,
                       std::int32_t fromPage) {
    ResolveLinkTarget(PageTableIndex(pages), reported, link, fromPage);
}

void ResolveLinkTarget(const PageTableIndex& index, const std::string& reported, LinkEntry* link,
                       std::int32_t fromPage) {
    // Compared in lower case; what is stored is the target as reported, since
    // the path of an address is case-sensitive.
    const std::string target = ToLowerAscii(reported);
    link->targetPage = -1;
    link->url.clear();
    link->anchor.clear();
    link->anchorDocument = -1;
    link->targetTop = 0;
    const size_t hash = reported.find('#');
    const std::string fragment = hash == std::string::npos ? std::string() : reported.substr(hash + 1);

    std::int32_t document = -1;
    if (HasScheme(target) && !target.starts_with("file:")) {
        // A web address is outside the PDF unless a converted page came from it.
        document = index.ByAddress(AddressKey(reported));
    } else if (hash == 0) {
        // "#name": an anchor of the document the link is on.
        document = index.DocumentOf(fromPage);
        if (document < 0) {
            link->url = reported;  // unless an anchor of the run has that name
            link->anchor = fragment;
            return;
        }
    } else {
        std::string path = target.substr(0, target.find('#'));
        for (char& c : path)
            if (c == '\\') c = '/';
        if (path.starts_with("../")) {
            for (size_t pos = path.find("../"); pos != std::string::npos; pos = path.find("../", pos))
                path.erase(pos, 3);
        }
        document = index.ByFileName(FileNamePart(path));
    }
    if (document < 0) {
        link->url = reported;
        return;
    }
    link->targetPage = index.FirstPdfPage(static_cast<size_t>(document));
    link->anchor = fragment;
    link->anchorDocument = document;
}

void ResolveAnchor(const RunPages& pages, LinkEntry* link) {
    if (link->anchor.empty()) return;
    ResolveAnchor(PageTableIndex(pages), AnchorIndex(pages.anchors), link);
}

void ResolveAnchor(const PageTableIndex& index, const AnchorIndex& anchors, LinkEntry* link) {
    if (link->anchor.empty()) return;
    // The pages of the link's document: from its first page to the next
    // document's first page.
    std::int32_t from = 0, to = std::numeric_limits<std::int32_t>::max();
    if (link->anchorDocument >= 0 && static_cast<size_t>(link->anchorDocument) < index.size()) {
        from = index.FirstPdfPage(static_cast<size_t>(link->anchorDocument));
        to = index.NextFirstPage(from);
    }
    if (const AnchorEntry* a = anchors.Find(ToLowerAscii(link->anchor), from, to)) {
        link->targetPage = a->page;
        link->targetTop = a->top;
        link->url.clear();
    }
}

void AddDocumentEntry(ConversionContext& ctx, const std::string& source, const std::string& address) {
    if (ctx.MakeOne && address.empty()) return;  // AddFileEntries has made it
    PageTableEntry entry;
    if (address.empty()) {
        entry.displayName = DisplayName(source);
        entry.fileName = FileNamePart(source);
    }
    entry.firstPage = ctx.MakeOne ? ctx.mergedPageCount : 0;
    entry.address = address;
    ctx.pageTable.push_back(std::move(entry));
}


}  // namespace vellumate
