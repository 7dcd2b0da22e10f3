// Style text rewrites (see style_text.h). The scanning helpers are shared
// with the default style sheet's pruning (user_agent_css.cpp).
#include "style_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

#include "css_scan.h"
#include "sanitize.h"

namespace htmlengine {
namespace {

std::string LowerTrim(std::string_view s) {
    s = css::Trim(s);
    std::string o(s);
    for (char& c : o) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return o;
}

// Pieces of `s` between top-level occurrences of `sep`.
std::vector<std::string_view> SplitTopLevel(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    const char stops[2] = {sep, 0};
    for (std::size_t from = 0;;) {
        const std::size_t at = css::FindTopLevel(s, from, stops);
        parts.push_back(s.substr(from, at - from));
        if (at >= s.size()) break;
        from = at + 1;
    }
    return parts;
}

// The features litehtml evaluates itself.
bool LitehtmlKnows(std::string_view name) {
    static const char* const known[] = {
        "width", "height", "device-width", "device-height", "orientation", "aspect-ratio", "device-aspect-ratio",
        "color", "color-index", "monochrome", "resolution"};
    std::string_view base = name;
    if (base.starts_with("min-")) base.remove_prefix(4);
    else if (base.starts_with("max-")) base.remove_prefix(4);
    return std::any_of(std::begin(known), std::end(known), [&](const char* k) { return base == k; });
}

// A feature litehtml does not know, for a desktop screen in a light colour
// scheme, with a mouse and no scripts, at one device pixel per CSS pixel.
// `value` is empty in the boolean form "(hover)". Unknown features are false,
// as in a browser.
bool FeatureHolds(const std::string& name, const std::string& value) {
    const bool bare = value.empty();
    if (name == "prefers-color-scheme") return bare || value == "light";
    if (name == "prefers-reduced-motion" || name == "prefers-reduced-transparency" || name == "prefers-reduced-data" ||
        name == "prefers-contrast")
        return value == "no-preference";
    if (name == "forced-colors" || name == "inverted-colors") return value == "none";
    if (name == "hover" || name == "any-hover") return bare || value == "hover";
    if (name == "pointer" || name == "any-pointer") return bare || value == "fine";
    if (name == "scripting") return value == "none";
    if (name == "display-mode") return value == "browser";
    if (name == "update") return bare || value == "fast";
    if (name == "color-gamut") return bare || value == "srgb";
    if (name == "dynamic-range" || name == "video-dynamic-range") return value == "standard";
    if (name == "overflow-block" || name == "overflow-inline") return bare || value == "scroll";
    if (name == "grid") return value == "0";
    if (name.find("device-pixel-ratio") != std::string::npos) {
        if (bare) return true;
        const double v = std::atof(value.c_str());
        if (name.find("min-") != std::string::npos || name.find("min--") != std::string::npos) return v <= 1;
        if (name.find("max-") != std::string::npos) return v >= 1;
        return v == 1;
    }
    return false;
}

// One query: nullopt when a decided feature makes it false, else the query
// without its decided features.
std::optional<std::string> DecideQuery(std::string_view query) {
    const std::string lower = LowerTrim(query);
    // Negated queries are left to litehtml as written.
    if (lower.starts_with("not ") || lower.starts_with("not(")) return std::string(css::Trim(query));
    std::vector<std::string> parts;
    std::string_view rest = css::Trim(query);
    // Terms are media types and parenthesised features joined by "and".
    while (!rest.empty()) {
        std::string_view term;
        if (rest.front() == '(') {
            int depth = 0;
            std::size_t close = rest.size();
            for (std::size_t i = 0; i < rest.size(); ++i) {
                const std::size_t j = css::SkipOpaque(rest, i);
                if (j != i) {
                    i = j - 1;
                    continue;
                }
                if (rest[i] == '(') ++depth;
                else if (rest[i] == ')' && --depth == 0) {
                    close = i;
                    break;
                }
            }
            term = rest.substr(0, std::min(close + 1, rest.size()));
            rest.remove_prefix(term.size());
            const std::string_view inside = term.substr(1, term.size() >= 2 && term.back() == ')' ? term.size() - 2 : term.size() - 1);
            const std::size_t colon = inside.find(':');
            const std::string name = LowerTrim(inside.substr(0, colon));
            const std::string value = colon == std::string_view::npos ? std::string() : LowerTrim(inside.substr(colon + 1));
            const bool range = inside.find_first_of("<>=") != std::string_view::npos;
            if (range || LitehtmlKnows(name) || name.find('(') != std::string::npos) {
                parts.emplace_back(term);
            } else if (!FeatureHolds(name, value)) {
                return std::nullopt;
            }
        } else {
            std::size_t end = 0;
            while (end < rest.size() && !css::IsSpace(rest[end]) && rest[end] != '(') ++end;
            term = rest.substr(0, end);
            rest.remove_prefix(end);
            const std::string word = LowerTrim(term);
            if (word != "and" && !word.empty()) parts.emplace_back(term);
        }
        rest = css::Trim(rest);
    }
    std::string out;
    for (const auto& p : parts) {
        const bool only = LowerTrim(p) == "only";
        out += out.empty() ? "" : " ";
        out += p;
        if (!only && &p != &parts.back()) out += " and";
    }
    if (out.empty() || LowerTrim(out) == "only") return std::string("all");
    return out;
}

// Declarations of one block, rewritten where they need it.
std::string RewriteDeclarations(std::string_view block) {
    const std::vector<std::string_view> decls = SplitTopLevel(block, ';');
    bool fixed = false;
    for (std::string_view d : decls) {
        const std::size_t colon = d.find(':');
        if (colon == std::string_view::npos || LowerTrim(d.substr(0, colon)) != "position") continue;
        std::string v = LowerTrim(d.substr(colon + 1));
        if (v.starts_with("fixed")) fixed = true;
    }
    std::string out;
    out.reserve(block.size());
    for (std::size_t k = 0; k < decls.size(); ++k) {
        std::string_view d = decls[k];
        if (k > 0) out += ';';
        const std::size_t colon = d.find(':');
        if (colon == std::string_view::npos) {
            out += d;
            continue;
        }
        const std::string name = LowerTrim(d.substr(0, colon));
        const std::string value = LowerTrim(d.substr(colon + 1));
        const std::string_view head = d.substr(0, colon + 1);
        if (fixed && name == "position" && value.starts_with("fixed")) {
            out.append(head).append(" relative");
        } else if (fixed && (name == "top" || name == "left" || name == "right" || name == "bottom")) {
            out.append(head).append(" auto");
        } else if (name == "display" && (value.starts_with("table-header-group") || value.starts_with("table-footer-group"))) {
            out.append(head).append(" table-row-group");
        } else {
            out += d;
        }
    }
    return out;
}

// Rules and at-rules of `s`, rewritten; @media blocks are decided and their
// rules rewritten in turn (`depth` bounds nesting in hostile text).
std::string RewriteRules(std::string_view s, int depth) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (css::IsSpace(c) || c == '}' || c == ';') {
            out += c;
            ++i;
            continue;
        }
        if (s.compare(i, 2, "/*") == 0) {
            const std::size_t e = css::SkipOpaque(s, i);
            out.append(s.substr(i, e - i));
            i = e;
            continue;
        }
        const std::size_t stop = css::FindTopLevel(s, i, c == '@' ? ";{" : "{");
        if (stop >= s.size()) {
            out.append(s.substr(i));
            break;
        }
        if (s[stop] == ';') {  // @import, @charset, ...
            out.append(s.substr(i, stop + 1 - i));
            i = stop + 1;
            continue;
        }
        const std::size_t end = css::BlockEnd(s, stop);
        const std::string_view prelude = s.substr(i, stop - i);
        const bool closed = end <= s.size() && end > stop + 1 && s[end - 1] == '}';
        const std::string_view inner = s.substr(stop + 1, (closed ? end - 1 : end) - stop - 1);
        if (c == '@') {
            const std::string lower = LowerTrim(prelude);
            const bool media = lower.starts_with("@media") && (lower.size() == 6 || !std::isalnum(static_cast<unsigned char>(lower[6])));
            const bool supports = lower.starts_with("@supports");
            if (media && depth < 16) {
                std::string kept;
                if (DecideMediaQueries(prelude.substr(6), kept)) {
                    out.append("@media ").append(kept).append(" {").append(RewriteRules(inner, depth + 1));
                    if (closed) out += '}';
                }
            } else if (supports && depth < 16) {
                out.append(prelude).append("{").append(RewriteRules(inner, depth + 1));
                if (closed) out += '}';
            } else {
                out.append(s.substr(i, end - i));
            }
        } else {
            out.append(prelude).append("{").append(RewriteDeclarations(inner));
            if (closed) out += '}';
        }
        i = end;
    }
    return out;
}

}  // namespace

bool DecideMediaQueries(std::string_view queries, std::string& kept) {
    kept.clear();
    if (css::Trim(queries).empty()) {
        kept = "all";
        return true;
    }
    bool any = false;
    for (std::string_view q : SplitTopLevel(queries, ',')) {
        if (css::Trim(q).empty()) continue;
        if (auto d = DecideQuery(q)) {
            kept += any ? ", " : "";
            kept += *d;
            any = true;
        }
    }
    return any;
}

bool StyleTextNeedsRewrite(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* w : {"gradient", "@media", "fixed", "table-header-group", "table-footer-group", "@supports"})
        if (lower.find(w) != std::string::npos) return true;
    return false;
}

std::string PrepareStyleSheet(std::string_view text) {
    if (!StyleTextNeedsRewrite(text)) return std::string(text);
    return RewriteRules(WrapGradients(text), 0);
}

std::string PrepareStyleAttribute(std::string_view declarations) {
    if (!StyleTextNeedsRewrite(declarations)) return std::string(declarations);
    return RewriteDeclarations(WrapGradients(declarations));
}

}  // namespace htmlengine
