#include "convert_chm_sitemap.h"

#include <algorithm>
#include <cstdint>

#include "platform/text.h"

namespace vellumate {
namespace {

using platform::ContainsNoCaseAscii;
using platform::FindNoCaseAscii;
using platform::ToLowerAscii;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Does a tag named `name` (lower case) start at `at` (which holds "<")?
// True when the name is followed by a blank, "/" or ">".
bool TagAt(std::string_view text, std::size_t at, std::string_view name) {
    if (at + 1 + name.size() > text.size()) return false;
    for (std::size_t k = 0; k < name.size(); ++k)
        if (ToLowerAscii(text[at + 1 + k]) != name[k]) return false;
    std::size_t after = at + 1 + name.size();
    return after == text.size() || IsSpace(text[after]) || text[after] == '>' || text[after] == '/';
}

// End of the tag whose attributes start at `pos`: the index of its ">"
// (quotes respected), or npos.
std::size_t TagEnd(std::string_view text, std::size_t pos) {
    char quote = 0;
    for (; pos < text.size(); ++pos) {
        char c = text[pos];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return pos;
        }
    }
    return std::string_view::npos;
}

struct Attribute {
    std::string name;  // lower case
    std::string value;
};

// Attributes of a tag's inside (between its name and its ">").
std::vector<Attribute> Attributes(std::string_view s) {
    std::vector<Attribute> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (IsSpace(s[i]) || s[i] == '/')) ++i;
        std::size_t nameStart = i;
        while (i < s.size() && !IsSpace(s[i]) && s[i] != '=' && s[i] != '/') ++i;
        if (i == nameStart) {
            ++i;
            continue;
        }
        Attribute a{ToLowerAscii(s.substr(nameStart, i - nameStart)), {}};
        while (i < s.size() && IsSpace(s[i])) ++i;
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && IsSpace(s[i])) ++i;
            if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
                char q = s[i++];
                std::size_t end = s.find(q, i);
                if (end == std::string_view::npos) end = s.size();
                a.value = std::string(s.substr(i, end - i));
                i = end + 1;
            } else {
                std::size_t start = i;
                while (i < s.size() && !IsSpace(s[i])) ++i;
                a.value = std::string(s.substr(start, i - start));
                // "value=x/>" closes the tag; the slash is not part of the value.
                if (!a.value.empty() && a.value.back() == '/' && i == s.size()) a.value.pop_back();
            }
        }
        out.push_back(std::move(a));
    }
    return out;
}

const std::string* Find(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs)
        if (a.name == name) return &a.value;
    return nullptr;
}

struct Param {
    std::string name;  // lower case
    std::string value;
};

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) cp = 0xfffd;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xc0 | cp >> 6);
        out += char(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += char(0xe0 | cp >> 12);
        out += char(0x80 | ((cp >> 6) & 0x3f));
        out += char(0x80 | (cp & 0x3f));
    } else {
        out += char(0xf0 | cp >> 18);
        out += char(0x80 | ((cp >> 12) & 0x3f));
        out += char(0x80 | ((cp >> 6) & 0x3f));
        out += char(0x80 | (cp & 0x3f));
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = ToLowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AddObject(std::vector<Param> params, int level, std::vector<SitemapEntry>& out) {
    if (params.empty()) return;
    const Param& first = params.front();
    const Param* last = params.size() > 1 ? &params.back() : nullptr;
    std::string lastName = last ? last->name : std::string();
    std::string lastValue = last ? last->value : std::string();
    SitemapEntry e;
    e.level = level;
    if (first.name == "name") {
        e.title = first.value;
        if (lastName != "imagenumber") e.local = lastValue;
    } else if (lastName == "name") {
        e.title = lastValue;
        if (first.name != "imagenumber") e.local = first.value;
    } else if (last && lastName != "imagenumber") {
        e.local = lastValue;
    } else if (first.name != "imagenumber") {
        e.local = first.value;
    }
    e.title = DecodeEntities(e.title);
    e.local = DecodeEntities(e.local);
    e.web = IsWebReference(e.local);
    if (!e.web && e.local.find("://") == std::string::npos) {
        std::replace(e.local.begin(), e.local.end(), '\\', '/');
        e.local = PercentDecode(e.local);
    }
    if (!e.title.empty() && !e.local.empty() && !ContainsNoCaseAscii(e.title, ".htm") &&
        !ContainsNoCaseAscii(e.local, ".htm") && !e.web) {
        out.push_back({e.title, false, {}, level});
        out.push_back({e.local, false, {}, level});
        return;
    }
    out.push_back(std::move(e));
}

// The next "<object" at or after `from` that is not inside a comment.
std::size_t NextObject(std::string_view seg, std::size_t from) {
    for (;;) {
        std::size_t open = FindNoCaseAscii(seg, "<object", from);
        std::size_t comment = seg.find("<!--", from);
        if (comment == std::string_view::npos || open == std::string_view::npos || open < comment) return open;
        std::size_t end = seg.find("-->", comment + 4);
        if (end == std::string_view::npos) return std::string_view::npos;
        from = end + 3;
    }
}

void ParseSegment(std::string_view seg, int level, std::vector<SitemapEntry>& out) {
    if (seg.size() < 5) return;
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = NextObject(seg, pos);
        if (open == std::string_view::npos) return;
        if (!TagAt(seg, open, "object")) {
            pos = open + 7;
            continue;
        }
        std::size_t tagEnd = TagEnd(seg, open + 7);
        if (tagEnd == std::string_view::npos) return;
        std::size_t close = FindNoCaseAscii(seg, "</object", tagEnd);
        if (close == std::string_view::npos) return;  // unclosed: nothing more in this segment
        auto attrs = Attributes(seg.substr(open + 7, tagEnd - open - 7));
        const std::string* type = Find(attrs, "type");
        pos = close + 8;
        if (!type || ToLowerAscii(*type) != "text/sitemap") continue;
        std::vector<Param> params;
        std::string_view body = seg.substr(tagEnd + 1, close - tagEnd - 1);
        std::size_t p = 0;
        while ((p = FindNoCaseAscii(body, "<param", p)) != std::string_view::npos) {
            if (!TagAt(body, p, "param")) {
                p += 6;
                continue;
            }
            std::size_t end = TagEnd(body, p + 6);
            if (end == std::string_view::npos) end = body.size();
            auto pa = Attributes(body.substr(p + 6, end - p - 6));
            const std::string* name = Find(pa, "name");
            const std::string* value = Find(pa, "value");
            if (name && value && !name->empty() && !value->empty()) params.push_back({ToLowerAscii(*name), *value});
            p = end;
        }
        AddObject(std::move(params), level, out);
    }
}

}  // namespace

bool IsWebReference(std::string_view r) {
    std::size_t colon = r.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        char c = ToLowerAscii(r[i]);
        bool ok = (c >= 'a' && c <= 'z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

std::string PercentDecode(std::string_view t) {
    std::string out;
    out.reserve(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '%' && i + 2 < t.size() && HexValue(t[i + 1]) >= 0 && HexValue(t[i + 2]) >= 0) {
            out += char(HexValue(t[i + 1]) * 16 + HexValue(t[i + 2]));
            i += 2;
        } else {
            out += t[i];
        }
    }
    return out;
}

std::string DecodeEntities(std::string_view t) {
    std::string out;
    out.reserve(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '&') {
            out += t[i];
            continue;
        }
        std::size_t semi = t.find(';', i + 1);
        if (semi == std::string_view::npos || semi - i > 10) {
            out += t[i];
            continue;
        }
        std::string_view name = t.substr(i + 1, semi - i - 1);
        std::string decoded;
        if (name == "amp") decoded = "&";
        else if (name == "lt") decoded = "<";
        else if (name == "gt") decoded = ">";
        else if (name == "quot") decoded = "\"";
        else if (name == "apos") decoded = "'";
        else if (name == "nbsp") decoded = "\xc2\xa0";
        else if (name.size() > 1 && name[0] == '#') {
            bool hex = name[1] == 'x' || name[1] == 'X';
            std::uint32_t cp = 0;
            bool ok = name.size() > (hex ? 2u : 1u);
            for (std::size_t k = hex ? 2 : 1; k < name.size() && ok; ++k) {
                int d = hex ? HexValue(name[k]) : (name[k] >= '0' && name[k] <= '9' ? name[k] - '0' : -1);
                if (d < 0 || cp > 0x10ffff) ok = false;
                else cp = cp * (hex ? 16 : 10) + std::uint32_t(d);
            }
            if (ok) AppendUtf8(decoded, cp);
        }
        if (decoded.empty()) {
            out += t[i];
            continue;
        }
        out += decoded;
        i = semi;
    }
    return out;
}

std::vector<SitemapEntry> ParseSitemap(std::string_view text) {
    if (text.starts_with("\xef\xbb\xbf")) text.remove_prefix(3);
    std::vector<SitemapEntry> out;
    int depth = -1;
    std::size_t segStart = 0, pos = 0;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        if (text.substr(pos, 4) == "<!--") {
            std::size_t end = text.find("-->", pos + 4);
            pos = end == std::string_view::npos ? text.size() : end + 3;
            continue;
        }
        bool closing = pos + 1 < text.size() && text[pos + 1] == '/';
        if (!TagAt(text, pos + (closing ? 1 : 0), "ul")) {
            ++pos;
            continue;
        }
        std::size_t end = TagEnd(text, pos + (closing ? 4 : 3));
        if (end == std::string_view::npos) break;
        ParseSegment(text.substr(segStart, pos - segStart), depth, out);
        depth += closing ? -1 : 1;
        segStart = pos = end + 1;
    }
    ParseSegment(text.substr(segStart), depth, out);
    return out;
}

}  // namespace vellumate
