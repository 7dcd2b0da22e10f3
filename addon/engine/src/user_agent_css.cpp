// The engine's own default style sheet: what every element looks like before
// the page's sheets apply. Screen rendering of HTML 4 and common HTML5 markup.
#include "user_agent_css.h"

#include <algorithm>
#include <cctype>

#include "css_scan.h"

namespace htmlengine {

const char* UserAgentStyleSheet() {
    return R"css(
html { display: block; }
head, script, style, title, meta, link, base, noscript, template, datalist, param, source, track,
area, map, noframes, noembed, input[type="hidden"], [hidden] { display: none; }
body { display: block; margin: 8px; }
address, article, aside, blockquote, center, dd, details, dialog, dir, div, dl, dt, fieldset, figcaption,
figure, footer, form, header, hgroup, hr, legend, listing, main, menu, nav, ol, p, plaintext, pre,
search, section, summary, ul, xmp, frameset, frame, iframe { display: block; }
p, dl, multicol { margin-top: 1em; margin-bottom: 1em; }
dd { margin-left: 40px; }
blockquote, figure { margin: 1em 40px; }
address, i, cite, dfn, em, var { font-style: italic; }
center { text-align: center; }
h1 { display: block; font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { display: block; font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { display: block; font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { display: block; font-size: 1em; margin: 1.33em 0; font-weight: bold; }
h5 { display: block; font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { display: block; font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
pre, listing, xmp, plaintext { white-space: pre; font-family: monospace; margin: 1em 0; }
code, kbd, samp, tt, var { font-family: monospace; }
b, strong, th { font-weight: bold; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
big { font-size: larger; }
small { font-size: smaller; }
sub { font-size: smaller; position: relative; top: 0.3em; }
sup { font-size: smaller; position: relative; top: -0.45em; }
nobr { white-space: nowrap; }
mark { background-color: yellow; color: black; }
abbr[title], acronym[title] { text-decoration: underline; }
q:before { content: "\201C"; }
q:after { content: "\201D"; }
a:link, a:visited { color: #0000EE; text-decoration: underline; }
a[href] { color: #0000EE; text-decoration: underline; }
hr { border: 1px inset; margin: 0.5em auto; color: gray; height: 0; }
img { display: inline-block; }
br { display: block; }
wbr { display: inline; }
ul, menu, dir { list-style-type: disc; margin: 1em 0; padding-left: 40px; }
ol { list-style-type: decimal; margin: 1em 0; padding-left: 40px; }
ul ul, ol ul, ul ol, ol ol, ul menu, ol menu, ul dir, ol dir { margin-top: 0; margin-bottom: 0; }
ul ul, ol ul, menu ul, dir ul { list-style-type: circle; }
ul ul ul, ul ol ul, ol ul ul, ol ol ul { list-style-type: square; }
li { display: list-item; }
table { display: table; border-collapse: separate; border-spacing: 2px; text-indent: 0; }
table[border] { border-style: outset; border-width: 1px; }
table[border] td, table[border] th { border: 1px inset gray; }
table[border="0"] { border-style: none; }
table[border="0"] td, table[border="0"] th { border-style: none; }
caption { display: table-caption; text-align: center; }
colgroup { display: table-column-group; }
col { display: table-column; }
thead, tbody, tfoot { display: table-row-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { text-align: center; }
table > tr { vertical-align: middle; }
fieldset { margin: 0 2px; padding: 0.35em 0.75em 0.625em; border: 2px groove #C0C0C0; }
legend { padding: 0 2px; }
input, select, button, textarea { display: inline-block; font-family: sans-serif; font-size: 13px;
  color: black; }
input, textarea, select { border: 2px inset #E0E0E0; background-color: white; padding: 1px 2px; }
input[type="checkbox"], input[type="radio"] { width: 13px; height: 13px; margin: 3px; padding: 0; }
input[type="submit"], input[type="button"], input[type="reset"], button { border: 2px outset #E0E0E0;
  background-color: #E0E0E0; padding: 1px 6px; }
input[type="image"] { border: none; padding: 0; background-color: transparent; }
span.vm-input { display: inline-block; font-family: sans-serif; font-size: 13px; color: black; white-space: pre;
  border: 2px inset #E0E0E0; background-color: white; padding: 1px 2px; min-width: 8em; height: 1.2em; overflow: hidden; }
span.vm-button { min-width: 0; border: 2px outset #E0E0E0; background-color: #E0E0E0; padding: 1px 6px; }
span.vm-check { min-width: 0; width: 13px; height: 13px; padding: 0; margin: 3px; text-align: center; line-height: 13px; }
textarea { white-space: pre-wrap; font-family: monospace; }
option { display: none; }
optgroup { display: inline; }
select option[selected] { display: inline; }
details > summary { display: list-item; list-style-type: disc; }
summary { font-weight: normal; }
ruby { display: inline; }
rt { font-size: 50%; }
progress, meter { display: inline-block; width: 10em; height: 1em; background-color: #E0E0E0; }
marquee { display: inline-block; }
frameset { display: block; }
)css";
}

using css::BlockEnd;
using css::FindTopLevel;
using css::IsSpace;
using css::SkipOpaque;
using css::Trim;

std::string SelectorSubjectTag(std::string_view sel) {
    sel = Trim(sel);
    // An escape may end in a space that is not a combinator ("d\\69 v" is
    // "div"): such selectors are kept whatever they name.
    if (sel.find('\\') != std::string_view::npos) return {};
    // The last combinator at depth 0 starts the subject: whitespace, '>', '+', '~'.
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < sel.size();) {
        std::size_t j = SkipOpaque(sel, i);
        if (j != i) {
            i = j;
            continue;
        }
        char c = sel[i];
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && (IsSpace(c) || c == '>' || c == '+' || c == '~')) start = i + 1;
        ++i;
    }
    std::string_view subject = sel.substr(std::min(start, sel.size()));
    std::string tag;
    std::size_t i = 0;
    while (i < subject.size()) {
        unsigned char c = static_cast<unsigned char>(subject[i]);
        if (std::isalnum(c) || c == '-' || c == '_') tag += static_cast<char>(std::tolower(c));
        else if (c >= 0x80 || c == '|') return {};  // not plain ASCII or namespaced: keep
        else break;
        ++i;
    }
    // "*|p", "ns|p": the namespace prefix is not a tag.
    if (i < subject.size() && (subject[i] == '|' || (subject[i] == '*' && subject.substr(i, 2) == "*|"))) return {};
    // An identifier cannot start with a digit or "--"/"-digit": not a tag selector.
    if (!tag.empty() && (std::isdigit(static_cast<unsigned char>(tag[0])) || tag[0] == '-')) return {};
    return tag;
}

PrunableStyleSheet::PrunableStyleSheet(std::string_view css) {
    std::size_t i = 0;
    while (i < css.size()) {
        // Whitespace and comments between rules are dropped.
        if (IsSpace(css[i])) {
            ++i;
            continue;
        }
        if (css.compare(i, 2, "/*") == 0) {
            i = SkipOpaque(css, i);
            continue;
        }
        Piece piece;
        if (css[i] == '@') {
            // Up to its ';' or the end of its block, whichever comes first, kept as written.
            std::size_t stop = FindTopLevel(css, i, ";{");
            std::size_t end = stop >= css.size() ? css.size() : css[stop] == ';' ? stop + 1 : BlockEnd(css, stop);
            piece.verbatim = std::string(css.substr(i, end - i));
            pieces_.push_back(std::move(piece));
            i = end;
            continue;
        }
        std::size_t open = FindTopLevel(css, i, "{");
        if (open >= css.size()) {  // trailing text without a block: kept as it is
            piece.verbatim = std::string(css.substr(i));
            pieces_.push_back(std::move(piece));
            break;
        }
        std::size_t end = BlockEnd(css, open);
        std::string_view prelude = css.substr(i, open - i);
        if (FindTopLevel(prelude, 0, "};") < prelude.size()) {
            // A stray end of block or statement: not a selector list to take apart.
            piece.verbatim = std::string(css.substr(i, end - i));
            pieces_.push_back(std::move(piece));
            i = end;
            continue;
        }
        for (std::size_t p = 0; p <= prelude.size();) {
            std::size_t comma = FindTopLevel(prelude, p, ",");
            std::string_view one = Trim(prelude.substr(p, comma - p));
            if (!one.empty()) piece.selectors.push_back({std::string(one), SelectorSubjectTag(one)});
            p = comma + 1;
        }
        piece.block = std::string(css.substr(open, end - open));
        if (piece.selectors.empty()) {
            piece.verbatim = std::string(css.substr(i, end - i));
            piece.block.clear();
        }
        pieces_.push_back(std::move(piece));
        i = end;
    }
}

std::string PrunableStyleSheet::Prune(const std::vector<std::string>& tags) const {
    std::string out;
    for (const Piece& piece : pieces_) {
        if (piece.selectors.empty()) {
            out += piece.verbatim;
            out += '\n';
            continue;
        }
        bool any = false;
        for (const Selector& s : piece.selectors) {
            if (!s.tag.empty() && !std::binary_search(tags.begin(), tags.end(), s.tag)) continue;
            out += any ? ", " : "";
            out += s.text;
            any = true;
        }
        if (!any) continue;
        out += ' ';
        out += piece.block;
        out += '\n';
    }
    return out;
}

const std::vector<std::string>& ImpliedTags() {
    // Sorted. The parser adds html, head and body, table sections, rows and
    // column groups, and paragraphs for a stray </p>; it turns </br> and
    // <image> into br and img. Given markup it has written back itself, the
    // second parse can repair it differently (a paragraph closed by a table
    // in one mode, not in the other), so the table parts, list items and
    // blocks it could open or close are counted in too.
    static const std::vector<std::string> tags = {
        "body", "br", "caption", "col", "colgroup", "dd", "div", "dt", "head", "html", "img", "li", "p",
        "span", "table", "tbody", "td", "tfoot", "th", "thead", "tr"};
    return tags;
}

}  // namespace htmlengine
