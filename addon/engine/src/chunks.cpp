#include "chunks.h"

#include <algorithm>

namespace htmlengine {
namespace {

// Elements whose children are laid out on lines, or that lay out their
// children together (a table sizes its columns to all of its rows, a
// numbered list counts its items): their children are not split.
bool KeepsChildrenTogether(std::string_view tag) {
    static constexpr std::string_view tags[] = {
        "a", "abbr", "b", "big", "button", "caption", "cite", "code", "dt", "em", "font", "h1", "h2", "h3", "h4",
        "h5", "h6", "i", "label", "ol", "p", "pre", "q", "s", "select", "small", "span", "strike", "strong", "sub", "sup",
        "table", "tbody", "textarea", "tfoot", "thead", "tr", "tt", "u"};
    return std::find(std::begin(tags), std::end(tags), tag) != std::end(tags);
}

std::size_t Size(const ElementSpan& s) { return s.closeEnd - s.open; }

std::vector<int> ChildrenOf(const SanitizedHtml& doc, int parent) {
    std::vector<int> kids;
    for (std::size_t i = static_cast<std::size_t>(parent) + 1; i < doc.spans.size(); ++i) {
        const ElementSpan& s = doc.spans[i];
        if (s.open >= doc.spans[static_cast<std::size_t>(parent)].close) break;
        if (s.parent == parent) kids.push_back(static_cast<int>(i));
    }
    return kids;
}

}  // namespace

std::string_view SpanTag(const SanitizedHtml& doc, int span) {
    const ElementSpan& s = doc.spans[static_cast<std::size_t>(span)];
    std::string_view t(doc.html.data() + s.open + 1, s.openEnd - s.open - 1);
    std::size_t n = 0;
    while (n < t.size() && t[n] != ' ' && t[n] != '>' && t[n] != '/') ++n;
    return t.substr(0, n);
}

ChunkPlan PlanChunks(const SanitizedHtml& doc, std::size_t partBytes) {
    ChunkPlan plan;
    int body = -1;
    for (std::size_t i = 0; i < doc.spans.size() && body < 0; ++i)
        if (doc.spans[i].parent == 0 && SpanTag(doc, static_cast<int>(i)) == "body") body = static_cast<int>(i);
    if (body < 0 || partBytes == 0) return plan;
    // Down from the body while one child holds most of the document.
    int cur = body;
    std::vector<int> kids = ChildrenOf(doc, cur);
    plan.spine.push_back(cur);
    for (;;) {
        auto largest = std::max_element(kids.begin(), kids.end(), [&](int a, int b) {
            return Size(doc.spans[static_cast<std::size_t>(a)]) < Size(doc.spans[static_cast<std::size_t>(b)]);
        });
        if (largest == kids.end()) break;
        const ElementSpan& p = doc.spans[static_cast<std::size_t>(cur)];
        if (Size(doc.spans[static_cast<std::size_t>(*largest)]) * 2 < p.close - p.openEnd) break;
        if (KeepsChildrenTogether(SpanTag(doc, *largest))) break;
        cur = *largest;
        plan.spine.push_back(cur);
        kids = ChildrenOf(doc, cur);
    }
    plan.units = std::move(kids);
    std::size_t size = partBytes;  // the first unit starts a part
    for (std::size_t u = 0; u < plan.units.size(); ++u) {
        if (size >= partBytes) plan.firstUnit.push_back(u), size = 0;
        size += Size(doc.spans[static_cast<std::size_t>(plan.units[u])]);
    }
    return plan;
}

std::string ChunkHtml(const SanitizedHtml& doc, const ChunkPlan& plan, std::size_t k, std::size_t lookahead) {
    const std::string_view html = doc.html;
    auto span = [&](int i) -> const ElementSpan& { return doc.spans[static_cast<std::size_t>(i)]; };
    const std::size_t first = plan.firstUnit[k];
    const bool last = k + 1 >= plan.Parts();
    std::string out;
    std::size_t from = 0;
    if (k > 0) {
        out.append(html.substr(0, span(plan.spine.front()).openEnd));
        for (std::size_t i = 1; i < plan.spine.size(); ++i) {
            const ElementSpan& s = span(plan.spine[i]);
            out.append(html.substr(s.open, s.openEnd - s.open));
        }
        from = span(plan.units[first]).open;
    }
    if (last) {
        out.append(html.substr(from));
        return out;
    }
    const std::size_t end = std::min(plan.firstUnit[k + 1] + lookahead, plan.units.size());
    const std::size_t to = end < plan.units.size() ? span(plan.units[end]).open : span(plan.spine.back()).close;
    out.append(html.substr(from, to - from));
    for (std::size_t i = plan.spine.size(); i-- > 0;) {
        const ElementSpan& s = span(plan.spine[i]);
        out.append(html.substr(s.close, s.closeEnd - s.close));
    }
    out += "</html>";
    return out;
}

}  // namespace htmlengine
