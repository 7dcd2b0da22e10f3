#include "sanitize.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <sstream>
#include <unordered_set>

#include "platform/text.h"
#include "style_text.h"

namespace htmlengine {
namespace {

void Escape(std::string& out, const char* s, bool attribute) {
    for (; *s; ++s) {
        switch (*s) {
            case '&': out += "&amp;"; break;
            case '<': out += attribute ? "<" : "&lt;"; break;
            case '>': out += attribute ? ">" : "&gt;"; break;
            case '"': out += attribute ? "&quot;" : "\""; break;
            case '\xC2':
                if (s[1] == '\xA0') {  // keep non-breaking spaces visible to the layout as such
                    out += "&nbsp;";
                    ++s;
                    break;
                }
                out += *s;
                break;
            default: out += *s;
        }
    }
}

// Preformatted text longer than this is written in pieces of about this size.
constexpr std::size_t kPrePieceBytes = 32u << 10;

bool IsRawText(GumboTag tag) {
    return tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_XMP || tag == GUMBO_TAG_NOEMBED ||
           tag == GUMBO_TAG_NOFRAMES || tag == GUMBO_TAG_PLAINTEXT || tag == GUMBO_TAG_IFRAME;
}

// Whether an element's own markup hides it: the hidden attribute, or
// "display: none" in its style attribute.
bool HiddenByMarkup(const GumboElement& e) {
    if (gumbo_get_attribute(&e.attributes, "hidden")) return true;
    const GumboAttribute* style = gumbo_get_attribute(&e.attributes, "style");
    if (!style) return false;
    std::string compact;
    for (const char* c = style->value; *c; ++c)
        if (!std::isspace(static_cast<unsigned char>(*c))) compact += platform::ToLowerAscii(*c);
    return compact.find("display:none") != std::string::npos;
}

// Text the layout never shows: in the head, in a template, in a list's
// entries (shown through their own elements), inside raw-text elements or
// in elements their markup hides.
bool InvisibleText(const GumboNode* parent) {
    for (const GumboNode* p = parent; p && p->type == GUMBO_NODE_ELEMENT; p = p->parent) {
        const GumboTag t = p->v.element.tag;
        if (t == GUMBO_TAG_HEAD || t == GUMBO_TAG_TITLE || t == GUMBO_TAG_TEMPLATE || t == GUMBO_TAG_NOSCRIPT ||
            t == GUMBO_TAG_OPTION || IsRawText(t) || HiddenByMarkup(p->v.element))
            return true;
        if (t == GUMBO_TAG_BODY) return false;
    }
    return false;
}

bool IsVoid(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_AREA: case GUMBO_TAG_BASE: case GUMBO_TAG_BR: case GUMBO_TAG_COL: case GUMBO_TAG_EMBED:
        case GUMBO_TAG_HR: case GUMBO_TAG_IMG: case GUMBO_TAG_INPUT: case GUMBO_TAG_LINK: case GUMBO_TAG_META:
        case GUMBO_TAG_PARAM: case GUMBO_TAG_SOURCE: case GUMBO_TAG_TRACK: case GUMBO_TAG_WBR: case GUMBO_TAG_KEYGEN:
        case GUMBO_TAG_FRAME: case GUMBO_TAG_BASEFONT: case GUMBO_TAG_BGSOUND:
            return true;
        default: return false;
    }
}

bool IsTablePart(GumboTag t) {
    return t == GUMBO_TAG_TABLE || t == GUMBO_TAG_TBODY || t == GUMBO_TAG_THEAD || t == GUMBO_TAG_TFOOT ||
           t == GUMBO_TAG_TR || t == GUMBO_TAG_TD || t == GUMBO_TAG_TH || t == GUMBO_TAG_CAPTION ||
           t == GUMBO_TAG_COLGROUP || t == GUMBO_TAG_COL;
}

std::string TagName(const GumboElement& e) {
    if (e.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(e.tag);
    GumboStringPiece p = e.original_tag;
    gumbo_tag_from_original_text(&p);
    const std::string name = platform::ToLowerAscii(std::string_view(p.data, p.length));
    // Only names a tag can have; anything else becomes a span.
    bool ok = !name.empty();
    for (char c : name) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':');
    return ok ? name : "span";
}

const char* Attr(const GumboElement& e, const char* name) {
    GumboAttribute* a = gumbo_get_attribute(&e.attributes, name);
    return a ? a->value : nullptr;
}

// A length attribute of HTML 4 ("10", "10px", "50%") as CSS; empty when it is none.
std::string HtmlLength(const char* v) {
    if (!v) return {};
    std::string_view s(v);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n')) s.remove_prefix(1);
    std::size_t n = 0;
    while (n < s.size() && (std::isdigit(static_cast<unsigned char>(s[n])) || s[n] == '.')) ++n;
    if (n == 0 || n > 8) return {};
    std::string out(s.substr(0, n));
    return out + (n < s.size() && s[n] == '%' ? "%" : "px");
}

// A colour attribute ("#ff0000", "red") as CSS; empty when it holds anything else.
std::string HtmlColor(const char* v) {
    if (!v) return {};
    std::string out;
    for (const char* c = v; *c; ++c) {
        if (!std::isalnum(static_cast<unsigned char>(*c)) && *c != '#') return {};
        out += *c;
    }
    if (out.empty() || out.size() > 24) return {};
    // HTML 4 pages write hexadecimal colours without their '#'.
    if (out[0] != '#' && out.size() == 6 && std::all_of(out.begin(), out.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        out.insert(out.begin(), '#');
    return out;
}

std::string LowerValue(const char* v) {
    std::string out = v ? v : "";
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The presentational attributes of HTML 4 that litehtml does not read, as
// declarations ("; name: value" each). They go before the element's own
// style attribute, which overrides them as in a browser.
std::string PresentationalStyle(const GumboNode* n) {
    const GumboElement& e = n->v.element;
    std::string out;
    auto add = [&out](std::string_view name, const std::string& value) {
        if (!value.empty()) out.append("; ").append(name).append(": ").append(value);
    };
    const std::string align = LowerValue(Attr(e, "align"));
    const bool textAlign = align == "left" || align == "right" || align == "center" || align == "justify";
    switch (e.tag) {
        case GUMBO_TAG_BODY:
            add("background-color", HtmlColor(Attr(e, "bgcolor")));
            add("color", HtmlColor(Attr(e, "text")));
            break;
        case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5:
        case GUMBO_TAG_H6: case GUMBO_TAG_CAPTION: case GUMBO_TAG_THEAD: case GUMBO_TAG_TBODY:
        case GUMBO_TAG_TFOOT:
            if (textAlign) add("text-align", align);
            break;
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
        case GUMBO_TAG_TR: {
            if (textAlign) add("text-align", align);
            const std::string valign = LowerValue(Attr(e, "valign"));
            if (valign == "top" || valign == "middle" || valign == "bottom" || valign == "baseline") add("vertical-align", valign);
            if (e.tag == GUMBO_TAG_TR) break;
            add("height", HtmlLength(Attr(e, "height")));
            if (Attr(e, "nowrap")) add("white-space", "nowrap");
            // Padding comes from the table the cell is in.
            for (const GumboNode* up = n->parent; up && up->type == GUMBO_NODE_ELEMENT; up = up->parent) {
                if (up->v.element.tag != GUMBO_TAG_TABLE) continue;
                add("padding", HtmlLength(Attr(up->v.element, "cellpadding")));
                break;
            }
            break;
        }
        case GUMBO_TAG_HR: {
            add("width", HtmlLength(Attr(e, "width")));
            if (align == "left") add("margin-left", "0");
            else if (align == "right") add("margin-right", "0");
            break;
        }
        case GUMBO_TAG_IMG:
            if (align == "left" || align == "right") add("float", align);
            break;
        default: break;
    }
    return out;
}

// The name an SVG element is written with (gumbo lower-cases the ones it
// does not know: "lineargradient" is "linearGradient" again).
std::string SvgTagName(const GumboElement& e) {
    if (e.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(e.tag);
    GumboStringPiece piece = e.original_tag;
    gumbo_tag_from_original_text(&piece);
    std::string name(piece.data ? piece.data : "", piece.data ? piece.length : 0);
    if (const char* fixed = gumbo_normalize_svg_tagname(&piece)) name = fixed;
    return name;
}

void EscapeXml(std::string& out, std::string_view s) {
    for (char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
}

// What a text element of an SVG inherits from its ancestors' attributes.
const char* SvgInherited(const GumboNode* n, const GumboNode* svg, const char* name) {
    for (; n; n = n->parent) {
        if (n->type != GUMBO_NODE_ELEMENT) break;
        if (const char* v = Attr(n->v.element, name)) return v;
        if (n == svg) break;
    }
    return nullptr;
}

// The text of an SVG text element, white space collapsed; false when parts
// of it are placed on their own (a tspan with a position) or hold more than text.
bool SvgPlainText(const GumboNode* text, std::string& out) {
    std::vector<const GumboNode*> todo{text};
    std::string raw;
    while (!todo.empty()) {
        const GumboNode* n = todo.back();
        todo.pop_back();
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
            raw += n->v.text.text;
            continue;
        }
        if (n->type != GUMBO_NODE_ELEMENT) continue;
        const GumboElement& e = n->v.element;
        if (n != text) {
            if (SvgTagName(e) != "tspan") return false;
            for (const char* a : {"x", "y", "dx", "dy", "rotate"})
                if (Attr(e, a)) return false;
        }
        for (unsigned k = e.children.length; k-- > 0;) todo.push_back(static_cast<const GumboNode*>(e.children.data[k]));
    }
    for (char c : raw) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return true;
}

// An inline <svg> element as an SVG document of its own (XML, with the
// namespaces it needs). Nesting is bounded by the clean-up's depth cap.
InlineSvg SvgDocument(const GumboNode* svg) {
    InlineSvg out;
    bool textsPlaceable = true;
    struct Item {
        const GumboNode* node;
        bool close;
    };
    std::vector<Item> stack{{svg, false}};
    auto both = [&out](std::string_view piece) { out.document += piece, out.withoutText += piece; };
    while (!stack.empty()) {
        const Item it = stack.back();
        stack.pop_back();
        const GumboNode* n = it.node;
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
            std::string t;
            EscapeXml(t, n->v.text.text);
            both(t);
            continue;
        }
        if (n->type != GUMBO_NODE_ELEMENT) continue;
        const GumboElement& e = n->v.element;
        const std::string name = SvgTagName(e);
        if (name.empty()) continue;
        if (it.close) {
            both("</" + name + ">");
            continue;
        }
        const bool text = name == "text";
        std::string attrs;
        if (n == svg) attrs += " xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"";
        std::string id;
        for (unsigned k = 0; k < e.attributes.length; ++k) {
            const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[k]);
            std::string an = a->name;
            if (an.empty() || an == "xmlns" || an.starts_with("xmlns:") || (an.size() > 2 && an[0] == 'o' && an[1] == 'n')) continue;
            if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_XLINK) an = "xlink:" + an;
            else if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_XML) an = "xml:" + an;
            bool ok = true;
            for (char c : an) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':');
            if (!ok || (text && an == "opacity")) continue;
            if (an == "id") id = a->value;
            attrs += " " + an + "=\"";
            EscapeXml(attrs, a->value);
            attrs += "\"";
        }
        if (text) {
            InlineSvg::Text t;
            bool simpleId = !id.empty();
            for (char c : id) simpleId = simpleId && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_');
            if (id.empty()) {
                id = "vm-svg-text-" + std::to_string(out.texts.size());
                attrs += " id=\"" + id + "\"";
            } else if (!simpleId) {
                textsPlaceable = false;
            }
            textsPlaceable = textsPlaceable && SvgPlainText(n, t.text);
            t.id = id;
            if (const char* v = SvgInherited(n, svg, "font-family")) t.family = v;
            if (const char* v = SvgInherited(n, svg, "fill")) t.fill = v;
            const std::string weight = LowerValue(SvgInherited(n, svg, "font-weight"));
            t.weight = weight == "bold" || weight == "bolder" ? 700 : std::max(100, std::min(900, std::atoi(weight.c_str()) > 0 ? std::atoi(weight.c_str()) : 400));
            t.italic = LowerValue(SvgInherited(n, svg, "font-style")) == "italic";
            if (const char* v = SvgInherited(n, svg, "font-size")) t.size = std::atof(v);
            if (!(t.size >= 0 && t.size < 1000)) t.size = 0;
            if (!t.text.empty()) out.texts.push_back(std::move(t));
        }
        out.document += "<" + name + attrs + ">";
        out.withoutText += "<" + name + attrs + (text ? " opacity=\"0\">" : ">");
        stack.push_back({n, true});
        for (unsigned k = e.children.length; k-- > 0;) stack.push_back({static_cast<const GumboNode*>(e.children.data[k]), false});
    }
    if (!textsPlaceable || out.texts.empty()) {
        out.withoutText.clear();
        out.texts.clear();
    }
    return out;
}

// An SVG length attribute as CSS ("120" is pixels); empty when absent or odd.
std::string SvgLength(const char* v) {
    if (!v) return {};
    std::string s = v;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(s.begin());
    if (s.empty() || s.size() > 16 || !(std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '.')) return {};
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '%') return {};
    const char last = s.back();
    return std::isdigit(static_cast<unsigned char>(last)) || last == '.' ? s + "px" : s;
}

// ---- scanning markup without parsing it

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// `s` has `lower` (lower case) at `at`, in any case.
bool HasAt(std::string_view s, std::size_t at, std::string_view lower) {
    if (at > s.size() || s.size() - at < lower.size()) return false;
    for (std::size_t k = 0; k < lower.size(); ++k)
        if (platform::ToLowerAscii(s[at + k]) != lower[k]) return false;
    return true;
}

using platform::FindNoCaseAscii;

// From just after a tag's name to just past its '>', as the tokenizer reads
// attributes (a '>' inside a quoted value does not end the tag). Calls
// `attribute(name, from, to)` for each, with where it starts and ends. npos
// when the text ends inside the tag.
template <class F>
std::size_t SkipAttributes(std::string_view s, std::size_t i, F&& attribute) {
    while (i < s.size()) {
        while (i < s.size() && (IsHtmlSpace(s[i]) || s[i] == '/')) ++i;
        if (i >= s.size()) break;
        if (s[i] == '>') return i + 1;
        const std::size_t n0 = i++;  // a first '=' belongs to the name
        while (i < s.size() && !IsHtmlSpace(s[i]) && s[i] != '/' && s[i] != '>' && s[i] != '=') ++i;
        const std::string_view name = s.substr(n0, i - n0);
        std::size_t to = i;
        while (i < s.size() && IsHtmlSpace(s[i])) ++i;
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && IsHtmlSpace(s[i])) ++i;
            if (i >= s.size()) break;
            if (s[i] == '"' || s[i] == '\'') {
                const std::size_t close = s.find(s[i], i + 1);
                if (close == std::string_view::npos) break;
                i = close + 1;
            } else {
                while (i < s.size() && !IsHtmlSpace(s[i]) && s[i] != '>') ++i;
            }
            to = i;
        }
        attribute(name, n0, to);
    }
    return std::string_view::npos;
}

// The HTML parser slows down with the square of the nesting depth. Before
// parsing, an estimate of the depth (start tags of elements whose end tag is
// required, minus end tags) finds the tags that open beyond `limit`: those
// are left out together with the end tags that close them, so their text
// stays where it was, only less deeply nested. Calls `drop(from, to)` for
// each tag left out, in order; returns whether there was one.
template <class F>
bool FindRunawayNesting(std::string_view s, int limit, F&& drop) {
    // Sorted, for binary search.
    static constexpr std::string_view optionalEnd[] = {
        "area", "base", "basefont", "body", "br", "caption", "col", "colgroup", "dd", "dt", "embed", "frame",
        "head", "hr", "html", "img", "input", "keygen", "li", "link", "meta", "optgroup", "option", "p", "param",
        "rb", "rp", "rt", "source", "tbody", "td", "tfoot", "th", "thead", "tr", "track", "wbr"};
    int depth = 0;
    std::size_t dropped = 0;  // start tags left out and not closed yet
    bool any = false;
    std::size_t i = 0;
    char buf[16];
    while ((i = s.find('<', i)) != std::string_view::npos) {
        std::size_t at = i++;
        bool end = i < s.size() && s[i] == '/';
        if (end) ++i;
        std::size_t n0 = i;
        while (i < s.size() && std::isalnum(static_cast<unsigned char>(s[i]))) ++i;
        if (i == n0) continue;
        // Longer names are none of the ones looked for below.
        const std::size_t len = i - n0;
        std::string_view name;
        if (len < sizeof buf) {
            for (std::size_t k = 0; k < len; ++k) buf[k] = platform::ToLowerAscii(s[n0 + k]);
            name = std::string_view(buf, len);
        }
        if (name == "script" || name == "style" || name == "textarea" || name == "title" || name == "xmp") {
            if (!end) {  // skip raw text up to its end tag
                auto close = s.find("</", i);
                while (close != std::string_view::npos && !HasAt(s, close + 2, name)) close = s.find("</", close + 2);
                if (close == std::string_view::npos) return any;
                i = close;
            }
            continue;
        }
        if (!name.empty() && std::binary_search(std::begin(optionalEnd), std::end(optionalEnd), name)) continue;
        const std::size_t after = SkipAttributes(s, i, [](std::string_view, std::size_t, std::size_t) {});
        if (after == std::string_view::npos) return any;
        const bool selfClosing = s[after - 2] == '/';
        if (end) {
            if (dropped > 0) {
                --dropped;
                drop(at, after);
            } else {
                depth = std::max(0, depth - 1);
            }
        } else if (!selfClosing && depth >= limit) {
            ++dropped;
            any = true;
            drop(at, after);
        } else if (!selfClosing) {
            ++depth;
        }
        i = after;
    }
    return any;
}

// The text without the tags FindRunawayNesting leaves out; nullopt when it
// leaves out none.
std::optional<std::string> FlattenRunawayNesting(std::string_view s, int limit) {
    std::string out;
    std::size_t from = 0;
    const bool any = FindRunawayNesting(s, limit, [&](std::size_t a, std::size_t b) {
        if (out.empty()) out.reserve(s.size());
        out.append(s.substr(from, a - from));
        from = b;
    });
    if (!any) return std::nullopt;
    out.append(s.substr(from));
    return out;
}

}  // namespace

std::string WrapGradients(std::string_view css) {
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t g = css.find("gradient(", pos);
        if (g == std::string_view::npos) break;
        // Back up over the function name ("linear-", "-webkit-radial-", "repeating-linear-").
        std::size_t start = g;
        while (start > pos && (std::isalpha(static_cast<unsigned char>(css[start - 1])) || css[start - 1] == '-')) --start;
        std::size_t open = g + 8, depth = 0, end = open;
        for (; end < css.size(); ++end) {
            if (css[end] == '(') ++depth;
            else if (css[end] == ')' && --depth == 0) break;
        }
        if (end >= css.size()) break;
        // Already wrapped (or inside some other url()): leave it.
        std::string_view before = css.substr(pos, start - pos);
        bool wrapped = start >= 5 && css.substr(start - 5, 5) == "url(\"";
        out.append(before);
        std::string fn(css.substr(start, end + 1 - start));
        if (wrapped) {
            out += fn;
        } else {
            // No parentheses or quotes inside url(): litehtml ends the address at the first ')'.
            for (char& c : fn) {
                if (c == '"') c = '\'';
                else if (c == '(') c = '[';
                else if (c == ')') c = ']';
            }
            out += "url(\"";
            out += kGradientScheme;
            out += fn;
            out += "\")";
        }
        pos = end + 1;
    }
    out.append(css.substr(pos));
    return out;
}

SanitizedHtml SanitizeHtml(std::string_view utf8, int maxDepth, int maxTableDepth) {
    SanitizedHtml out;
    const std::optional<std::string> flat = FlattenRunawayNesting(utf8, std::max(maxDepth, 1) * 16);
    if (flat) {
        out.depthFlattened = true;
        utf8 = *flat;
    }
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    GumboOutput* doc = gumbo_parse_with_options(&options, utf8.data(), utf8.size());
    if (!doc) return out;
    out.quirks = doc->document->v.document.doc_type_quirks_mode == GUMBO_DOCTYPE_QUIRKS;
    out.html.reserve(utf8.size() + utf8.size() / 8);
    if (doc->document->v.document.has_doctype) out.html += "<!DOCTYPE html>\n";

    // Depth-first without recursion: (node, depth, table depth, closing,
    // the span of the element written around it or closed here).
    struct Item {
        GumboNode* node;
        int depth;
        int tables;
        bool close;
        std::string closeTag;
        bool endsFrameset = false;
        int span = -1;
    };
    std::vector<Item> stack;
    stack.push_back({doc->root, 0, 0, false, {}});
    // Where the walk is inside the frameset tree: indices of kids from the root.
    bool framesetOpen = false;
    std::vector<std::size_t> framePath;
    auto currentFrameset = [&]() {
        FrameNode* n = &out.frames;
        for (std::size_t k : framePath) n = &n->kids[k];
        return n;
    };
    bool pushedFrameset = false;
    // A hash set: a page can have as many distinct tags as elements.
    std::unordered_set<std::string> tags;
    auto addTag = [&tags](const std::string& name) { tags.insert(name); };
    while (!stack.empty()) {
        Item it = std::move(stack.back());
        stack.pop_back();
        if (it.close) {
            if (it.endsFrameset) {
                if (!framePath.empty()) framePath.pop_back();
                else framesetOpen = false;
            }
            out.spans[static_cast<std::size_t>(it.span)].close = out.html.size();
            out.html += "</" + it.closeTag + ">";
            out.spans[static_cast<std::size_t>(it.span)].closeEnd = out.html.size();
            continue;
        }
        GumboNode* n = it.node;
        switch (n->type) {
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_WHITESPACE:
            case GUMBO_NODE_CDATA: {
                GumboNode* parent = n->parent;
                bool raw = parent && parent->type == GUMBO_NODE_ELEMENT && IsRawText(parent->v.element.tag);
                if (raw) {
                    // The end tag of a raw-text element must not appear inside it.
                    std::string t = n->v.text.text;
                    if (parent->v.element.tag == GUMBO_TAG_STYLE) t = PrepareStyleSheet(t);
                    for (std::size_t p = 0; (p = t.find("</", p)) != std::string::npos; p += 2) t.replace(p, 2, "<\\/");
                    out.html += t;
                } else {
                    if (!out.hasText && n->type != GUMBO_NODE_WHITESPACE && !InvisibleText(parent)) out.hasText = true;
                    Escape(out.html, n->v.text.text, false);
                }
                break;
            }
            case GUMBO_NODE_ELEMENT:
            case GUMBO_NODE_TEMPLATE: {
                const GumboElement& e = n->v.element;
                if (it.depth >= maxDepth) {
                    // Beyond the cap the element itself is left out and its
                    // content written in its place, so its text is still drawn.
                    out.depthFlattened = true;
                    if (IsRawText(e.tag) || e.tag == GUMBO_TAG_TEMPLATE || e.tag == GUMBO_TAG_TITLE ||
                        e.tag == GUMBO_TAG_TEXTAREA || e.tag == GUMBO_TAG_HEAD)
                        break;
                    if (e.tag == GUMBO_TAG_BR) {
                        out.html += "<br>";
                        break;
                    }
                    for (unsigned k = e.children.length; k-- > 0;)
                        stack.push_back({static_cast<GumboNode*>(e.children.data[k]), it.depth, it.tables, false, {}, false,
                                         it.span});
                    break;
                }
                pushedFrameset = false;
                if (e.tag == GUMBO_TAG_FRAMESET && (framesetOpen || !out.frameset)) {
                    FrameNode node;
                    if (const char* r = Attr(e, "rows")) node.rows = r;
                    if (const char* c = Attr(e, "cols")) node.cols = c;
                    if (!out.frameset) {
                        out.frameset = framesetOpen = true;
                        out.frames = std::move(node);
                    } else {
                        FrameNode* cur = currentFrameset();
                        cur->kids.push_back(std::move(node));
                        framePath.push_back(cur->kids.size() - 1);
                    }
                    pushedFrameset = true;
                }
                if (e.tag == GUMBO_TAG_FRAME && framesetOpen) {
                    FrameNode frame;
                    frame.isFrame = true;
                    if (const char* src = Attr(e, "src")) frame.src = src;
                    currentFrameset()->kids.push_back(std::move(frame));
                }
                if (e.tag == GUMBO_TAG_IMG) {
                    const char* src = Attr(e, "src");
                    const char* alt = Attr(e, "alt");
                    if (src && alt) out.imageAlts.emplace_back(src, alt);
                }
                if (e.tag == GUMBO_TAG_INPUT) {
                    // Form fields show their text as a browser shows it.
                    const char* t = Attr(e, "type");
                    const std::string type = platform::ToLowerAscii(t ? t : "text");
                    const char* v = Attr(e, "value");
                    std::string value = v ? v : "";
                    std::string cls = "vm-input";
                    if (type == "hidden" || type == "image" || type == "file" || type == "range" || type == "color") {
                        // hidden: not shown; the others keep the engine's plain box
                    } else {
                        if (type == "submit" || type == "button" || type == "reset") {
                            cls += " vm-button";
                            if (value.empty()) value = type == "reset" ? "Reset" : type == "submit" ? "Submit" : "";
                        } else if (type == "checkbox" || type == "radio") {
                            cls += " vm-check";
                            value = Attr(e, "checked") ? (type == "radio" ? "\xE2\x97\x8F" : "\xE2\x9C\x93") : "";
                        } else if (type == "password") {
                            std::string dots;
                            for (std::size_t k = 0; k < value.size(); ++k)
                                if ((static_cast<unsigned char>(value[k]) & 0xC0) != 0x80) dots += "\xE2\x80\xA2";
                            value = dots;
                        }
                        addTag("span");
                        out.spans.push_back({it.span, out.html.size(), 0, 0, 0});
                        out.html += "<span class=\"" + cls + "\"";
                        if (const char* st = Attr(e, "style")) {
                            out.html += " style=\"";
                            Escape(out.html, PrepareStyleAttribute(st).c_str(), true);
                            out.html += "\"";
                        }
                        out.html += ">";
                        out.spans.back().openEnd = out.html.size();
                        Escape(out.html, value.c_str(), false);
                        out.spans.back().close = out.html.size();
                        out.html += "</span>";
                        out.spans.back().closeEnd = out.html.size();
                        break;
                    }
                }
                if (e.tag == GUMBO_TAG_LINK || e.tag == GUMBO_TAG_STYLE) {
                    // A sheet for a dark colour scheme (or any other device)
                    // is left out as a browser here would leave it out.
                    std::string kept;
                    if (const char* media = Attr(e, "media"); media && !DecideMediaQueries(media, kept)) break;
                }
                if (e.tag == GUMBO_TAG_SVG && n->v.element.tag_namespace == GUMBO_NAMESPACE_SVG) {
                    // Drawn as a picture at its place and size: an <img> of
                    // the SVG document it makes on its own.
                    std::string width = SvgLength(Attr(e, "width")), height = SvgLength(Attr(e, "height"));
                    if (width.empty() && height.empty()) {
                        // Without a size: its view box's, else a browser's default.
                        double vb[4] = {0, 0, 300, 150};
                        if (const char* box = Attr(e, "viewbox")) {
                            std::string t = box;
                            for (char& c : t) c = c == ',' ? ' ' : c;
                            std::istringstream in(t);
                            double v[4];
                            if (in >> v[0] >> v[1] >> v[2] >> v[3] && v[2] > 0 && v[3] > 0 && v[2] < 1e5 && v[3] < 1e5)
                                std::copy(v, v + 4, vb);
                        }
                        width = std::to_string(static_cast<int>(vb[2])) + "px";
                        height = std::to_string(static_cast<int>(vb[3])) + "px";
                    }
                    std::string style;
                    if (!width.empty()) style += "width: " + width + "; ";
                    if (!height.empty()) style += "height: " + height + "; ";
                    if (const char* st = Attr(e, "style")) style += PrepareStyleAttribute(st);
                    addTag("img");
                    out.spans.push_back({it.span, out.html.size(), 0, 0, 0});
                    out.html += "<img src=\"" + std::string(kInlineSvgScheme) + std::to_string(out.inlineSvgs.size()) + "\"";
                    for (const char* keep : {"id", "class"})
                        if (const char* v = Attr(e, keep)) {
                            out.html += std::string(" ") + keep + "=\"";
                            Escape(out.html, v, true);
                            out.html += "\"";
                        }
                    out.html += " style=\"";
                    Escape(out.html, style.c_str(), true);
                    out.html += "\">";
                    out.spans.back().openEnd = out.spans.back().close = out.spans.back().closeEnd = out.html.size();
                    out.inlineSvgs.push_back(SvgDocument(n));
                    break;
                }
                bool markSelected = false;
                if (e.tag == GUMBO_TAG_OPTION && n->parent && n->parent->type == GUMBO_NODE_ELEMENT) {
                    // A list shows its chosen entry, the first one when none is chosen.
                    GumboNode* list = n->parent;
                    if (list->v.element.tag == GUMBO_TAG_OPTGROUP && list->parent) list = list->parent;
                    bool anySelected = false;
                    GumboNode* firstOption = nullptr;
                    std::vector<GumboNode*> todo{list};
                    while (!todo.empty()) {
                        GumboNode* x = todo.back();
                        todo.pop_back();
                        if (x->type != GUMBO_NODE_ELEMENT) continue;
                        if (x->v.element.tag == GUMBO_TAG_OPTION) {
                            if (!firstOption) firstOption = x;
                            anySelected = anySelected || gumbo_get_attribute(&x->v.element.attributes, "selected");
                        } else if (x == list || x->v.element.tag == GUMBO_TAG_OPTGROUP) {
                            for (unsigned k = x->v.element.children.length; k-- > 0;)
                                todo.push_back(static_cast<GumboNode*>(x->v.element.children.data[k]));
                        }
                    }
                    markSelected = !anySelected && firstOption == n;
                }
                int tables = it.tables + (e.tag == GUMBO_TAG_TABLE ? 1 : 0);
                std::string name = TagName(e);
                if (tables > maxTableDepth && IsTablePart(e.tag)) {
                    out.tablesFlattened = true;
                    name = e.tag == GUMBO_TAG_TD || e.tag == GUMBO_TAG_TH ? "span" : "div";
                    if (e.tag == GUMBO_TAG_COL || e.tag == GUMBO_TAG_COLGROUP) break;
                }
                addTag(name);
                // The body is always shown, whatever the page's own rules say.
                const bool body = e.tag == GUMBO_TAG_BODY;
                // Writes the start tag; `extraStyle` goes after the element's own.
                auto startTag = [&](std::string_view extraStyle, bool withIds) {
                    out.spans.push_back({it.span, out.html.size(), 0, 0, 0});
                    out.html += "<" + name;
                    std::string more(extraStyle);
                    if (body) more += "; visibility: visible";
                    const std::string hints = PresentationalStyle(n);
                    if ((!more.empty() || !hints.empty()) && !gumbo_get_attribute(&e.attributes, "style"))
                        out.html += " style=\"" + (hints + more).substr(2) + "\"";
                    for (unsigned k = 0; k < e.attributes.length; ++k) {
                        auto* a = static_cast<GumboAttribute*>(e.attributes.data[k]);
                        std::string an = a->name;
                        bool ok = !an.empty();
                        for (char c : an) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':');
                        // Event handlers never run here: they only cost the layout time
                        // (help-file topics carry one on every link).
                        if (!ok || (an.size() > 2 && (an[0] == 'o' || an[0] == 'O') && (an[1] == 'n' || an[1] == 'N'))) continue;
                        if (!withIds && (an == "id" || an == "name")) continue;
                        out.html += " " + an + "=\"";
                        if (an == "selected" && !*a->value) {
                            out.html += "selected\"";  // the engine ignores attributes without a value
                            continue;
                        }
                        if (an == "style") Escape(out.html, ((hints.empty() ? "" : hints.substr(2) + "; ") + PrepareStyleAttribute(a->value) + more).c_str(), true);
                        else Escape(out.html, a->value, true);
                        out.html += "\"";
                    }
                    if (markSelected) out.html += " selected=\"selected\"";
                    out.html += ">";
                    ElementSpan& written = out.spans.back();
                    written.openEnd = written.close = written.closeEnd = out.html.size();
                };
                if (e.tag == GUMBO_TAG_PRE && e.children.length == 1 && !(tables > maxTableDepth) &&
                    static_cast<GumboNode*>(e.children.data[0])->type == GUMBO_NODE_TEXT &&
                    std::strlen(static_cast<GumboNode*>(e.children.data[0])->v.text.text) > kPrePieceBytes) {
                    // Long preformatted text is written as pieces of lines,
                    // each a block of its own that a long document is laid
                    // out in parts by; they join without the margins,
                    // paddings and borders between them.
                    const std::string_view text = static_cast<GumboNode*>(e.children.data[0])->v.text.text;
                    out.hasText = true;
                    std::size_t from = 0;
                    for (bool first = true; from < text.size(); first = false) {
                        // Cut between two lines with text: a piece that began
                        // or ended with an empty line would lose it.
                        std::size_t to = text.find('\n', std::min(text.size(), from + kPrePieceBytes));
                        while (to != std::string_view::npos &&
                               ((to + 1 < text.size() && text[to + 1] == '\n') || text[to - 1] == '\n'))
                            to = text.find('\n', to + 1);
                        to = to == std::string_view::npos ? text.size() : to;
                        const bool last = to + 1 >= text.size();
                        std::string style;
                        if (!first) style += "; margin-top: 0; padding-top: 0; border-top-width: 0";
                        if (!last) style += "; margin-bottom: 0; padding-bottom: 0; border-bottom-width: 0";
                        startTag(style, first);
                        // The parser drops a newline right after the start tag: this one.
                        out.html += '\n';
                        Escape(out.html, std::string(text.substr(from, to - from)).c_str(), false);
                        out.spans.back().close = out.html.size();
                        out.html += "</pre>";
                        out.spans.back().closeEnd = out.html.size();
                        from = last ? text.size() : to + 1;
                    }
                    break;
                }
                const int span = static_cast<int>(out.spans.size());
                startTag({}, true);
                if (IsVoid(e.tag)) break;
                stack.push_back({nullptr, 0, 0, true, name, pushedFrameset, span});
                const GumboVector& kids = e.children;
                // A table's footer rows are drawn after its other rows,
                // wherever the markup wrote them: they go last.
                auto isFoot = [&](unsigned k) {
                    auto* kid = static_cast<GumboNode*>(kids.data[k]);
                    return e.tag == GUMBO_TAG_TABLE && kid->type == GUMBO_NODE_ELEMENT && kid->v.element.tag == GUMBO_TAG_TFOOT;
                };
                for (int pass = 0; pass < 2; ++pass)
                    for (unsigned k = kids.length; k-- > 0;)
                        if (isFoot(k) == (pass == 0))
                            stack.push_back({static_cast<GumboNode*>(kids.data[k]), it.depth + 1, tables, false, {}, false, span});
                break;
            }
            case GUMBO_NODE_DOCUMENT: {
                const GumboVector& kids = n->v.document.children;
                for (unsigned k = kids.length; k-- > 0;)
                    stack.push_back({static_cast<GumboNode*>(kids.data[k]), 0, 0, false, {}});
                break;
            }
            default: break;  // comments
        }
    }
    gumbo_destroy_output(&options, doc);
    out.tags.assign(tags.begin(), tags.end());
    std::sort(out.tags.begin(), out.tags.end());
    return out;
}

std::optional<SanitizedHtml> PassThroughHtml(std::string_view utf8, int maxDepth) {
    if (FindRunawayNesting(utf8, std::max(maxDepth, 1) * 16, [](std::size_t, std::size_t) {})) return std::nullopt;
    std::size_t i = 0;
    while (i < utf8.size() && IsHtmlSpace(utf8[i])) ++i;
    if (i >= utf8.size() || utf8[i] != '<') return std::nullopt;  // text or a byte-order mark first
    if (FindNoCaseAscii(utf8, "gradient") != std::string_view::npos) return std::nullopt;

    static const std::unordered_set<std::string_view> rewritten = {
        "input", "option", "optgroup", "select", "frameset", "frame", "img", "image", "isindex",
        "svg", "math", "template", "plaintext", "tfoot"};
    // Attributes whose presentation the clean-up writes as style.
    static const std::unordered_set<std::string_view> presentational = {
        "bgcolor", "cellpadding", "valign", "nowrap", "text", "height", "align"};
    static const std::unordered_set<std::string_view> rawText = {
        "script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"};
    std::unordered_set<std::string> tags;
    // Changes to the text, in order: where, how many bytes go, what comes instead.
    struct Edit {
        std::size_t at, remove;
        std::string_view insert;
    };
    std::vector<Edit> edits;
    std::deque<std::string> owned;  // texts edits insert
    std::size_t doctypeFrom = std::string_view::npos, doctypeTo = 0, bodyAt = std::string_view::npos;
    bool anyTag = false;
    for (i = utf8.find('<', i); i != std::string_view::npos; i = utf8.find('<', i)) {
        const std::size_t at = i;
        if (HasAt(utf8, at, "<!--")) {
            std::size_t body = at + 4;
            if (HasAt(utf8, body, ">")) {  // "<!-->" and "<!--->" end where they start
                i = body + 1;
                continue;
            }
            if (HasAt(utf8, body, "->")) {
                i = body + 2;
                continue;
            }
            std::size_t end = utf8.find("--", body);
            while (end != std::string_view::npos && !HasAt(utf8, end + 2, ">") && !HasAt(utf8, end + 2, "!>"))
                end = utf8.find("--", end + 1);
            if (end == std::string_view::npos) return std::nullopt;
            i = utf8.find('>', end) + 1;
            continue;
        }
        if (HasAt(utf8, at, "<!doctype")) {
            if (anyTag || doctypeFrom != std::string_view::npos) return std::nullopt;
            const std::size_t gt = utf8.find('>', at);
            if (gt == std::string_view::npos) return std::nullopt;
            doctypeFrom = at, doctypeTo = gt + 1;
            i = gt + 1;
            continue;
        }
        const bool end = HasAt(utf8, at, "</");
        const std::size_t n0 = at + (end ? 2 : 1);
        if (n0 >= utf8.size() || !IsAsciiAlpha(utf8[n0])) {
            if (end && HasAt(utf8, n0, ">")) {  // "</>" is dropped
                i = n0 + 1;
                continue;
            }
            if (end || HasAt(utf8, at, "<!") || HasAt(utf8, at, "<?")) {  // bogus comments
                const std::size_t gt = utf8.find('>', at);
                if (gt == std::string_view::npos) return std::nullopt;
                i = gt + 1;
                continue;
            }
            i = at + 1;  // a '<' in the text
            continue;
        }
        std::size_t n1 = n0;
        std::string name;
        while (n1 < utf8.size() && !IsHtmlSpace(utf8[n1]) && utf8[n1] != '/' && utf8[n1] != '>') {
            const char c = platform::ToLowerAscii(utf8[n1++]);
            // Names no tag can have are written as a span by SanitizeHtml.
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != ':') return std::nullopt;
            name += c;
        }
        if (!end && name == "body") {
            if (bodyAt != std::string_view::npos) return std::nullopt;
            bodyAt = n1;
            edits.push_back({n1, 0, " style=\"visibility: visible\""});
        }
        bool styled = false, presents = false;
        i = SkipAttributes(utf8, n1, [&](std::string_view a, std::size_t from, std::size_t to) {
            styled = styled || (a.size() == 5 && HasAt(a, 0, "style"));
            if (!presents && a.size() <= 11) {
                std::string lower;
                for (char c : a) lower += platform::ToLowerAscii(c);
                presents = presentational.count(lower) > 0;
                // Style attributes that need rewriting are left to the clean-up.
                if (lower == "style" && StyleTextNeedsRewrite(utf8.substr(from, to - from))) presents = true;
            }
            // Event handlers are left out, as SanitizeHtml leaves them out.
            if (!end && a.size() > 2 && HasAt(a, 0, "on")) edits.push_back({from, to - from, {}});
        });
        if (i == std::string_view::npos) return std::nullopt;
        if (end) continue;
        anyTag = true;
        if (rewritten.count(name)) return std::nullopt;
        // litehtml reads some of them itself (paragraphs' align, rows' colours),
        // not the ones on other elements.
        if (presents && name != "p" && name != "div" && name != "table") return std::nullopt;
        // Media of sheets are decided by the clean-up.
        if ((name == "link" || name == "style") && FindNoCaseAscii(utf8.substr(n1, i - n1), "media") != std::string_view::npos)
            return std::nullopt;
        if (name == "body" && styled) return std::nullopt;
        if (rawText.count(name)) {
            // The text up to the element's end tag is no markup.
            std::size_t close = i;
            for (;;) {
                close = FindNoCaseAscii(utf8, "</" + name, close);
                if (close == std::string_view::npos) return std::nullopt;
                const std::size_t after = close + 2 + name.size();
                if (after >= utf8.size() || IsHtmlSpace(utf8[after]) || utf8[after] == '/' || utf8[after] == '>') break;
                close = after;
            }
            // Comment-like text in a script can hide its end tag from the parser.
            if (name == "script" && utf8.substr(i, close - i).find("<!--") != std::string_view::npos) return std::nullopt;
            if (name == "style") {
                const std::string_view sheet = utf8.substr(i, close - i);
                if (StyleTextNeedsRewrite(sheet)) {
                    std::string prepared = PrepareStyleSheet(sheet);
                    if (prepared.find("</") != std::string::npos) return std::nullopt;
                    if (prepared != sheet) edits.push_back({i, sheet.size(), owned.emplace_back(std::move(prepared))});
                }
            }
            i = close;
        }
        tags.insert(std::move(name));
    }
    if (bodyAt == std::string_view::npos) return std::nullopt;

    SanitizedHtml out;
    out.quirks = true;  // no doctype
    if (doctypeFrom != std::string_view::npos) {
        GumboOptions options = kGumboDefaultOptions;
        options.max_errors = 0;
        GumboOutput* doc = gumbo_parse_with_options(&options, utf8.data() + doctypeFrom, doctypeTo - doctypeFrom);
        if (!doc) return std::nullopt;
        out.quirks = doc->document->v.document.doc_type_quirks_mode == GUMBO_DOCTYPE_QUIRKS;
        gumbo_destroy_output(&options, doc);
        // Written back with the standards doctype, a quirks-mode tree can come
        // out differently where a table meets an open paragraph.
        if (out.quirks && tags.count("table")) return std::nullopt;
    }
    if (doctypeFrom != std::string_view::npos) edits.insert(edits.begin(), {doctypeFrom, doctypeTo - doctypeFrom, "<!DOCTYPE html>"});
    out.html.reserve(utf8.size() + 48);
    std::size_t from = 0;
    for (const Edit& e : edits) {
        out.html.append(utf8.substr(from, e.at - from));
        out.html.append(e.insert);
        from = e.at + e.remove;
    }
    out.html.append(utf8.substr(from));
    out.tags.assign(tags.begin(), tags.end());
    std::sort(out.tags.begin(), out.tags.end());
    return out;
}

}  // namespace htmlengine
