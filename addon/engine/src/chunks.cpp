#include "chunks.h"

#include <algorithm>

namespace htmlengine {
namespace {

// Elements whose children are laid out on lines, or that lay out their
// children together (a numbered list counts its items, a row its cells):
// their children are not split. A table's body is split into rows only as
// the planner says (PlanChunks), with its columns set by the first part.
bool KeepsChildrenTogether(std::string_view tag) {
    static constexpr std::string_view tags[] = {
        "a", "abbr", "b", "big", "button", "caption", "cite", "code", "dt", "em", "font", "h1", "h2", "h3", "h4",
        "h5", "h6", "i", "label", "ol", "p", "pre", "q", "s", "select", "small", "span", "strike", "strong", "sub", "sup",
        "textarea", "tfoot", "thead", "tr", "tt", "u"};
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

// A start tag as written (with its attributes in double quotes, as the
// clean-up writes them), with `style` after its own style declarations.
void AppendWithStyle(std::string& out, std::string_view tag, std::string_view style) {
    if (style.empty()) {
        out.append(tag);
        return;
    }
    const std::size_t at = tag.find(" style=\"");
    const std::size_t close = at == std::string_view::npos ? at : tag.find('"', at + 8);
    if (close != std::string_view::npos) {
        out.append(tag.substr(0, close)).append(";").append(style).append(tag.substr(close));
        return;
    }
    std::size_t end = tag.size() - (tag.ends_with("/>") ? 2 : 1);
    out.append(tag.substr(0, end)).append(" style=\"").append(style).append("\"").append(tag.substr(end));
}

}  // namespace

std::size_t ChunkPadding(const ChunkPlan& plan, std::size_t k) {
    return k > 0 && k < plan.Parts() ? plan.firstUnit[k] % 12 : 0;
}

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
        const std::string_view tag = SpanTag(doc, *largest);
        if (KeepsChildrenTogether(tag)) break;
        if (tag == "tbody") break;  // only below a table, as follows
        if (tag == "table") {
            // Its rows are split when its one large body holds them.
            const std::vector<int> groups = ChildrenOf(doc, *largest);
            auto body = std::max_element(groups.begin(), groups.end(), [&](int a, int b) {
                return Size(doc.spans[static_cast<std::size_t>(a)]) < Size(doc.spans[static_cast<std::size_t>(b)]);
            });
            const ElementSpan& t = doc.spans[static_cast<std::size_t>(*largest)];
            // (litehtml places the rows of a table with a caption lower than
            // it reports them: such a table is laid out whole.)
            const bool captioned = std::any_of(groups.begin(), groups.end(), [&](int g) { return SpanTag(doc, g) == "caption"; });
            if (body == groups.end() || SpanTag(doc, *body) != "tbody" || captioned ||
                Size(doc.spans[static_cast<std::size_t>(*body)]) * 2 < t.close - t.openEnd)
                break;
            plan.table = static_cast<int>(plan.spine.size());
            plan.spine.push_back(*largest);
            plan.spine.push_back(*body);
            kids = ChildrenOf(doc, *body);
            break;
        }
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

std::string ChunkHtml(const SanitizedHtml& doc, const ChunkPlan& plan, std::size_t k, std::size_t lookahead,
                      const TableSetting& table) {
    const std::string_view html = doc.html;
    auto span = [&](int i) -> const ElementSpan& { return doc.spans[static_cast<std::size_t>(i)]; };
    const std::size_t first = plan.firstUnit[k];
    const bool last = k + 1 >= plan.Parts();
    const bool setTable = plan.table >= 0 && !table.ruler.empty();
    std::string out;
    std::size_t from = 0;
    if (k > 0) {
        out.append(html.substr(0, span(plan.spine.front()).openEnd));
        for (std::size_t i = 1; i < plan.spine.size(); ++i) {
            const ElementSpan& s = span(plan.spine[i]);
            if (setTable && static_cast<int>(i) == plan.table) {
                AppendWithStyle(out, html.substr(s.open, s.openEnd - s.open), table.style);
                if (last) out.append("<tbody>").append(table.ruler).append("</tbody>");
                continue;
            }
            out.append(html.substr(s.open, s.openEnd - s.open));
        }
        // As many children into the parent as in the whole document: the
        // units before this part's own stand in as hidden ones.
        const std::string_view tag = SpanTag(doc, plan.units[first]);
        for (std::size_t n = ChunkPadding(plan, k); n-- > 0;)
            out.append("<").append(tag).append(" style=\"display:none\"></").append(tag).append(">");
        from = span(plan.units[first]).open;
    } else if (setTable) {
        const ElementSpan& s = span(plan.spine[static_cast<std::size_t>(plan.table)]);
        out.append(html.substr(0, s.open));
        AppendWithStyle(out, html.substr(s.open, s.openEnd - s.open), table.style);
        from = s.openEnd;
    }
    if (last) {
        out.append(html.substr(from));
        return out;
    }
    const std::size_t end = std::min(plan.firstUnit[k + 1] + lookahead, plan.units.size());
    const std::size_t to = end < plan.units.size() ? span(plan.units[end]).open : span(plan.spine.back()).close;
    out.append(html.substr(from, to - from));
    if (setTable) out.append(table.ruler);
    for (std::size_t i = plan.spine.size(); i-- > 0;) {
        const ElementSpan& s = span(plan.spine[i]);
        out.append(html.substr(s.close, s.closeEnd - s.close));
    }
    out += "</html>";
    return out;
}

}  // namespace htmlengine
