#include "htmlengine/url.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "platform/text.h"

namespace htmlengine {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Parts {
    std::string scheme, authority, path, query, fragment;
    bool hasAuthority = false, hasQuery = false, hasFragment = false;
};

Parts Split(std::string_view url) {
    Parts p;
    std::string scheme = SchemeOf(url);
    std::string_view rest = url;
    if (!scheme.empty()) {
        p.scheme = scheme;
        rest.remove_prefix(scheme.size() + 1);
    }
    if (auto h = rest.find('#'); h != std::string_view::npos) {
        p.fragment = rest.substr(h + 1);
        p.hasFragment = true;
        rest = rest.substr(0, h);
    }
    if (auto q = rest.find('?'); q != std::string_view::npos) {
        p.query = rest.substr(q + 1);
        p.hasQuery = true;
        rest = rest.substr(0, q);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        p.authority = rest.substr(0, slash);
        p.hasAuthority = true;
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
    }
    p.path = rest;
    return p;
}

std::string RemoveDotSegments(const std::string& path) {
    std::vector<std::string> out;
    bool absolute = path.starts_with('/');
    std::size_t i = absolute ? 1 : 0;
    bool trailing = false;
    while (i <= path.size()) {
        auto j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string seg = path.substr(i, j - i);
        trailing = false;
        if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailing = true;
        } else if (seg == ".") {
            trailing = true;
        } else {
            out.push_back(seg);
        }
        i = j + 1;
    }
    std::string r = absolute ? "/" : "";
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (k) r += '/';
        r += out[k];
    }
    if (trailing && !r.ends_with('/')) r += '/';
    return r;
}

std::string Join(const Parts& p) {
    std::string r;
    if (!p.scheme.empty()) r = p.scheme + ":";
    if (p.hasAuthority) r += "//" + p.authority;
    r += p.path;
    if (p.hasQuery) r += "?" + p.query;
    if (p.hasFragment) r += "#" + p.fragment;
    return r;
}

bool IsHierarchical(const std::string& scheme) {
    return scheme == "http" || scheme == "https" || scheme == "file" || scheme == "ftp";
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text, std::size_t capacity) {
    std::string out;
    out.reserve(std::min(text.size(), capacity));
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (out.size() + 1 >= capacity) return std::nullopt;
        out.push_back(c);
    }
    return out;
}

std::string SchemeOf(std::string_view url) {
    std::size_t i = 0;
    while (i < url.size()) {
        char c = url[i];
        bool ok = std::isalpha(static_cast<unsigned char>(c)) ||
                  (i > 0 && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'));
        if (!ok) break;
        ++i;
    }
    if (i < 2 || i >= url.size() || url[i] != ':') return {};
    return platform::ToLowerAscii(url.substr(0, i));
}

std::string NormaliseSource(std::string_view source, const std::string& currentDir) {
    auto decoded = PercentDecode(source);
    if (!decoded) return "about:blank";
    static constexpr std::array<std::string_view, 8> kSchemes = {
        "ftp", "gopher", "http", "https", "file", "news", "mailto", "socks"};
    std::string scheme = SchemeOf(*decoded);
    if (std::find(kSchemes.begin(), kSchemes.end(), scheme) != kSchemes.end()) return std::string(source);

    // A relative path (with or without folders of its own) is taken from the
    // current folder; "file://" with a relative path would name a host.
    std::string path = *decoded;
    if (!path.starts_with('/') && !currentDir.empty()) {
        path = currentDir + (currentDir.ends_with('/') ? "" : "/") + path;
    }
    if (IsRegularFile(path)) return "file://" + path;
    return "http://" + std::string(source);
}

std::string ResolveUrl(std::string_view base, std::string_view ref) {
    std::string r(ref);
    // Browsers trim surrounding blanks and controls from attribute addresses.
    while (!r.empty() && static_cast<unsigned char>(r.back()) <= ' ') r.pop_back();
    std::size_t lead = 0;
    while (lead < r.size() && static_cast<unsigned char>(r[lead]) <= ' ') ++lead;
    r.erase(0, lead);
    if (base.empty()) return r;
    std::string refScheme = SchemeOf(r);
    Parts b = Split(base);
    if (!refScheme.empty() && !(refScheme == b.scheme && IsHierarchical(refScheme) && !r.substr(refScheme.size() + 1).starts_with("/")))
        return r;
    if (!refScheme.empty()) r = r.substr(refScheme.size() + 1);  // "http:foo" relative form
    if (IsHierarchical(b.scheme)) std::replace(r.begin(), r.end(), '\\', '/');
    Parts rp = Split(r);
    Parts t;
    t.scheme = b.scheme;
    if (rp.hasAuthority) {
        t.authority = rp.authority, t.hasAuthority = true;
        t.path = RemoveDotSegments(rp.path);
        t.query = rp.query, t.hasQuery = rp.hasQuery;
    } else if (rp.path.empty()) {
        t.authority = b.authority, t.hasAuthority = b.hasAuthority;
        t.path = b.path;
        if (rp.hasQuery) t.query = rp.query, t.hasQuery = true;
        else t.query = b.query, t.hasQuery = b.hasQuery;
    } else {
        t.authority = b.authority, t.hasAuthority = b.hasAuthority;
        if (rp.path.starts_with('/')) {
            t.path = RemoveDotSegments(rp.path);
        } else {
            std::string merged;
            if (b.hasAuthority && b.path.empty()) merged = "/" + rp.path;
            else {
                auto slash = b.path.rfind('/');
                merged = (slash == std::string::npos ? std::string() : b.path.substr(0, slash + 1)) + rp.path;
            }
            t.path = RemoveDotSegments(merged);
        }
        t.query = rp.query, t.hasQuery = rp.hasQuery;
    }
    t.fragment = rp.fragment, t.hasFragment = rp.hasFragment;
    return Join(t);
}

std::optional<std::string> FilePathFromUrl(std::string_view url) {
    if (SchemeOf(url) != "file") return std::nullopt;
    std::string_view rest = url.substr(5);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        if (rest.starts_with("localhost/")) rest.remove_prefix(9);
        else if (!rest.starts_with('/')) return std::nullopt;  // another host
    }
    std::string raw(rest);
    if (auto h = raw.find('#'); h != std::string::npos) raw.erase(h);
    if (IsRegularFile(raw)) return raw;
    if (auto q = raw.find('?'); q != std::string::npos) raw.erase(q);
    if (auto decoded = PercentDecode(raw, raw.size() + 1)) return *decoded;
    return raw;
}

std::string FileUrlFromPath(std::string_view path) {
    std::string r = "file://";
    for (char c : path) {
        if (c == ' ' || c == '%' || c == '#' || c == '?') {
            static const char* hex = "0123456789ABCDEF";
            r += '%';
            r += hex[(static_cast<unsigned char>(c) >> 4) & 15];
            r += hex[static_cast<unsigned char>(c) & 15];
        } else {
            r += c;
        }
    }
    return r;
}

std::string StripFragment(std::string_view url) {
    auto h = url.find('#');
    return std::string(url.substr(0, h));
}

}  // namespace htmlengine
