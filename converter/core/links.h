// The link and anchor bookkeeping of a run: where each converted document's
// pages stand in the PDF, the named anchors found while pages are drawn, and
// how a link target reported by the add-on becomes a page, a position or an
// address.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "context.h"

namespace vellumate {

// An add-on page index as a PDF page index: adds the pages of the non-add-on
// sources that stand before that add-on page in the queue.
std::int32_t AddonToPdfPage(const std::vector<PageSource>& queue, std::int32_t addonPage);
// Lookups over a finished queue and page table, so that resolving the links of
// a run with many documents costs no pass over the table per link. Built
// when every source is queued (the page table and queue must not change while
// it is used); the answers are those of a pass in table order (the first
// entry of a name or address wins).
class PageTableIndex {
public:
    explicit PageTableIndex(const RunPages& pages);
    // AddonToPdfPage over the indexed queue.
    std::int32_t PdfPage(std::int32_t addonPage) const;
    // The PDF index of the first page of page-table entry `entry`.
    std::int32_t FirstPdfPage(size_t entry) const { return first_[entry]; }
    size_t size() const { return first_.size(); }
    // The first entry whose file name (after the last "/"), in lower case, is
    // `lowerName`; -1 when none is (or the name is empty).
    std::int32_t ByFileName(const std::string& lowerName) const;
    // The first entry loaded from an address with this key (see AddressKey); -1 when none.
    std::int32_t ByAddress(const std::string& key) const;
    // The entry whose pages hold pdfPage (the latest first page not after it,
    // the last entry among equals); -1 when none does.
    std::int32_t DocumentOf(std::int32_t pdfPage) const;
    // The smallest first page of an entry after `page`; INT32_MAX when none.
    std::int32_t NextFirstPage(std::int32_t page) const;

private:
    std::vector<std::int32_t> addonEnd_;      // per add-on source: add-on pages up to its end
    std::vector<std::int32_t> othersBefore_;  // per add-on source: other pages before it
    std::int32_t othersTotal_ = 0;
    std::vector<std::int32_t> first_;                               // per entry
    std::vector<std::pair<std::int32_t, std::int32_t>> byFirst_;  // (first page, entry), sorted
    std::unordered_map<std::string, std::int32_t> names_, addresses_;
};

// The named anchors of a run by lower-case name, for ResolveAnchor.
class AnchorIndex {
public:
    explicit AnchorIndex(const std::vector<AnchorEntry>& anchors);
    // The first anchor (in the order they were found) named `lowerName` on a
    // page in [from, to); nullptr when none is.
    const AnchorEntry* Find(const std::string& lowerName, std::int32_t from, std::int32_t to) const;

private:
    struct Named {
        std::vector<const AnchorEntry*> entries;  // in the order found; borrowed from the vector
        bool pagesAscending = true;
    };
    std::unordered_map<std::string, Named> byName_;
};

// Resolves a link target as the add-on reported it against the page table:
// sets targetPage (PDF index of the document's first page) and url of `link`,
// and for a target with a fragment the anchor to look for (see ResolveAnchor).
// fromPage is the PDF page the link is on (for "#name", the same document).
// Targets are compared in lower case; the URL keeps the reported case.
void ResolveLinkTarget(const RunPages& pages, const std::string& target, LinkEntry* link,
                       std::int32_t fromPage = -1);
// Once every page is drawn: sends a link with an anchor to the page and
// position of the first anchor of that name (case-insensitive) in its
// document; without one the link keeps its page (or URL).
void ResolveAnchor(const RunPages& pages, LinkEntry* link);
// The same two steps over indexes of the context (what a run uses).
void ResolveLinkTarget(const PageTableIndex& index, const std::string& target, LinkEntry* link,
                       std::int32_t fromPage = -1);
void ResolveAnchor(const PageTableIndex& index, const AnchorIndex& anchors, LinkEntry* link);
// An address as compared with the address a page was loaded from: without
// fragment and trailing "/", scheme and host in lower case, the path as is.
std::string AddressKey(std::string_view address);
// Adds the page-table entry of a converted page outside MakeOne runs (links
// to the document itself), or of a page loaded from an address.
void AddDocumentEntry(ConversionContext& ctx, const std::string& source, const std::string& address);

}  // namespace vellumate
