#include "htmlengine/encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

#include "platform/text.h"

namespace htmlengine {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.front())) || s.front() == '"' || s.front() == '\''))
        s.remove_prefix(1);
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == '"' || s.back() == '\''))
        s.remove_suffix(1);
    return s;
}

// The value of charset= inside an attribute text such as a content-type.
std::string CharsetParam(std::string_view text) {
    std::string low = platform::ToLowerAscii(text);
    auto at = low.find("charset");
    while (at != std::string::npos) {
        std::size_t i = at + 7;
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
        if (i < low.size() && low[i] == '=') {
            ++i;
            while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
            char quote = (i < low.size() && (low[i] == '"' || low[i] == '\'')) ? low[i++] : 0;
            std::size_t end = i;
            while (end < low.size() && low[end] != ';' && (quote ? low[end] != quote : !std::isspace(static_cast<unsigned char>(low[end]))))
                ++end;
            return std::string(Trim(text.substr(i, end - i)));
        }
        at = low.find("charset", at + 7);
    }
    return {};
}

// Reads attributes of one tag starting after "<meta".
std::map<std::string, std::string> ReadAttributes(std::string_view s, std::size_t& i) {
    std::map<std::string, std::string> attrs;
    while (i < s.size() && s[i] != '>') {
        while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == '/')) ++i;
        std::size_t n0 = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '=' && s[i] != '>' && s[i] != '/') ++i;
        std::string name = platform::ToLowerAscii(s.substr(n0, i - n0));
        std::string value;
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
            if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
                char q = s[i++];
                std::size_t v0 = i;
                while (i < s.size() && s[i] != q) ++i;
                value = s.substr(v0, i - v0);
                if (i < s.size()) ++i;
            } else {
                std::size_t v0 = i;
                while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '>') ++i;
                value = s.substr(v0, i - v0);
            }
        }
        if (name.empty()) {
            if (i < s.size() && s[i] != '>') ++i;
            continue;
        }
        attrs.emplace(name, value);
    }
    return attrs;
}

std::string MetaCharset(std::string_view bytes) {
    std::string_view head = bytes.substr(0, std::min<std::size_t>(bytes.size(), 1024));
    std::string low = platform::ToLowerAscii(head);
    std::size_t pos = 0;
    while ((pos = low.find("<meta", pos)) != std::string::npos) {
        std::size_t i = pos + 5;
        if (i < low.size() && !std::isspace(static_cast<unsigned char>(low[i])) && low[i] != '/') {
            pos = i;
            continue;
        }
        auto attrs = ReadAttributes(head, i);
        pos = i;
        if (auto it = attrs.find("charset"); it != attrs.end()) {
            if (auto e = CanonicalEncoding(Trim(it->second)); !e.empty()) return e;
        }
        auto he = attrs.find("http-equiv");
        auto ct = attrs.find("content");
        if (he != attrs.end() && ct != attrs.end() && platform::ToLowerAscii(Trim(he->second)) == "content-type") {
            if (auto e = CanonicalEncoding(CharsetParam(ct->second)); !e.empty()) return e;
        }
    }
    return {};
}

bool HasNonAscii(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (n < 0 || (n == 1 && c < 0xC2) || (n == 3 && c > 0xF4)) return false;
        if (i + n >= s.size()) return false;
        for (int k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if (n == 2) {
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0)) return false;
        }
        if (n == 3) {
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if ((c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90)) return false;
        }
        i += n + 1;
    }
    return true;
}

std::string CharsetFromContentType(std::string_view contentType) { return CharsetParam(contentType); }

std::string CanonicalEncoding(std::string_view label) {
    std::string l = platform::ToLowerAscii(Trim(label));
    if (l.empty()) return {};
    if (l == "utf-8" || l == "utf8" || l == "unicode-1-1-utf-8") return "UTF-8";
    if (l == "utf-16" || l == "utf-16le" || l == "utf-16be" || l == "unicode") return "UTF-8";
    if (l == "iso-8859-1" || l == "latin1" || l == "l1" || l == "ascii" || l == "us-ascii" || l == "iso8859-1" ||
        l == "windows-1252" || l == "cp1252" || l == "x-cp1252" || l == "iso_8859-1" || l == "cp819")
        return "WINDOWS-1252";
    if (l == "shift_jis" || l == "shift-jis" || l == "sjis" || l == "x-sjis" || l == "ms_kanji" || l == "windows-31j")
        return "CP932";
    if (l == "gb2312" || l == "gbk" || l == "x-gbk" || l == "gb_2312-80" || l == "chinese") return "GBK";
    if (l == "big5" || l == "big5-hkscs" || l == "x-x-big5") return "BIG5-HKSCS";
    if (l == "euc-kr" || l == "ks_c_5601-1987" || l == "windows-949") return "CP949";
    if (l == "iso-8859-9" || l == "latin5") return "WINDOWS-1254";
    if (l == "tis-620" || l == "iso-8859-11") return "CP874";
    // Anything else iconv may know by the same name ("koi8-r", "windows-1251", "euc-jp", "gb18030").
    iconv_t cd = iconv_open("UTF-8", l.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    iconv_close(cd);
    return platform::ToUpperAscii(l);
}

DetectedEncoding DetectHtmlEncoding(std::string_view bytes, std::string_view transportCharset) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return {"UTF-8", EncodingSource::Bom, 3};
    if (bytes.starts_with("\xFF\xFE")) return {"UTF-16LE", EncodingSource::Bom, 2};
    if (bytes.starts_with("\xFE\xFF")) return {"UTF-16BE", EncodingSource::Bom, 2};
    if (auto e = CanonicalEncoding(transportCharset); !e.empty()) return {e, EncodingSource::Transport, 0};
    if (auto e = MetaCharset(bytes); !e.empty()) return {e, EncodingSource::Meta, 0};
    if (HasNonAscii(bytes) && IsValidUtf8(bytes)) return {"UTF-8", EncodingSource::Utf8Guess, 0};
    return {"WINDOWS-1252", EncodingSource::Default, 0};
}

std::string ToUtf8(std::string_view bytes, const DetectedEncoding& encoding) {
    bytes.remove_prefix(std::min(encoding.bomLength, bytes.size()));
    std::string name = encoding.name.empty() ? "WINDOWS-1252" : encoding.name;
    if (name == "UTF-8") {
        if (IsValidUtf8(bytes)) return std::string(bytes);
    }
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buf[16384];
    while (inLeft > 0) {
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, o - buf);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or truncated sequence: one replacement character, skip
            // one byte (two for the 16-bit encodings) and go on.
            out += "\xEF\xBF\xBD";
            std::size_t skip = name.starts_with("UTF-16") ? 2 : 1;
            skip = std::min(skip, inLeft);
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

std::string DecodeHtml(std::string_view bytes, std::string_view transportCharset, DetectedEncoding* found) {
    DetectedEncoding e = DetectHtmlEncoding(bytes, transportCharset);
    if (found) *found = e;
    return ToUtf8(bytes, e);
}

std::string DecodeCss(std::string_view bytes, std::string_view transportCharset, std::string_view documentEncoding) {
    DetectedEncoding e;
    if (bytes.starts_with("\xEF\xBB\xBF")) e = {"UTF-8", EncodingSource::Bom, 3};
    else if (bytes.starts_with("\xFF\xFE")) e = {"UTF-16LE", EncodingSource::Bom, 2};
    else if (bytes.starts_with("\xFE\xFF")) e = {"UTF-16BE", EncodingSource::Bom, 2};
    else if (auto t = CanonicalEncoding(transportCharset); !t.empty()) e = {t, EncodingSource::Transport, 0};
    else if (bytes.starts_with("@charset \"")) {
        auto end = bytes.find('"', 10);
        std::string c = end == std::string_view::npos ? "" : CanonicalEncoding(bytes.substr(10, end - 10));
        e = {c.empty() ? "UTF-8" : c, EncodingSource::Meta, 0};
    } else if (IsValidUtf8(bytes)) e = {"UTF-8", EncodingSource::Utf8Guess, 0};
    else e = {documentEncoding.empty() ? "WINDOWS-1252" : std::string(documentEncoding), EncodingSource::Default, 0};
    return ToUtf8(bytes, e);
}

}  // namespace htmlengine
