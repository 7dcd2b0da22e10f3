// Case folding, strict UTF conversions and code pages through iconv.
#include "platform/text.h"

#include "utf8.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

locale_t Utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return loc;
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    locale_t loc = nullptr;
    for (std::size_t i = 0; i < utf8.size();) {
        if (p[i] < 0x80) {
            unsigned char c = p[i++];
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            continue;
        }
        char32_t c;
        std::size_t len = utf8::Decode(p + i, utf8.size() - i, &c);
        if (len == 0) {
            out += static_cast<char>(p[i++]);
            continue;
        }
        if (!loc) loc = Utf8Locale();
        i += len;
        utf8::Append(out, loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc)) : c);
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

bool IsValidUtf8(std::string_view bytes) {
    auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c;
        std::size_t len = utf8::Decode(p + i, bytes.size() - i, &c);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string ToLowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = ToLowerAscii(c);
    return out;
}

std::string ToUpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = ToUpperAscii(c);
    return out;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}

bool StartsWithNoCaseAscii(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCaseAscii(s.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCaseAscii(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && EqualsNoCaseAscii(s.substr(s.size() - suffix.size()), suffix);
}

std::size_t FindNoCaseAscii(std::string_view hay, std::string_view needle, std::size_t from) {
    if (needle.empty() || hay.size() < needle.size()) return std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= hay.size(); ++i)
        if (EqualsNoCaseAscii(hay.substr(i, needle.size()), needle)) return i;
    return std::string_view::npos;
}

void AppendUtf8(std::string& out, char32_t c) { utf8::Append(out, c); }

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

namespace {

// Calls `character(c)` for each character of UTF-8 text, and `bad(byte)` for
// each byte that does not start a valid sequence.
template <class Character, class Bad>
void EachUtf8(std::string_view utf8, Character&& character, Bad&& bad) {
    auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c;
        const std::size_t len = utf8::Decode(p + i, utf8.size() - i, &c);
        if (len == 0) {
            bad(p[i++]);
            continue;
        }
        i += len;
        character(c);
    }
}

// Calls `character(c)` for each character of UTF-16 text (pairs joined), and
// `lone(unit)` for each lone surrogate.
template <class Character, class Lone>
void EachUtf16(std::u16string_view s, Character&& character, Lone&& lone) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            character(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            lone(static_cast<char16_t>(c));
        } else {
            character(c);
        }
    }
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    EachUtf8(utf8, [&](char32_t c) { AppendUtf16(out, c); }, [&](unsigned char) { out += u'\uFFFD'; });
    return out;
}

std::string Utf8FromUtf16(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    EachUtf16(s, [&](char32_t c) { utf8::Append(out, c); }, [&](char16_t) { utf8::Append(out, 0xFFFD); });
    return out;
}

std::u32string Utf32FromUtf8(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    EachUtf8(utf8, [&](char32_t c) { out += c; }, [&](unsigned char) { out += U'\uFFFD'; });
    return out;
}

std::string Utf8FromUtf32(std::u32string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : s) utf8::Append(out, c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
    return out;
}

std::u16string Utf16FromUtf32(std::u32string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char32_t c : s) AppendUtf16(out, c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
    return out;
}

std::u16string Utf16FromUtf8Carrying(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    EachUtf8(
        utf8, [&](char32_t c) { AppendUtf16(out, c); },
        [&](unsigned char byte) { out += static_cast<char16_t>(0xDC80 + (byte - 0x80)); });
    return out;
}

std::string Utf8FromUtf16Carrying(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    EachUtf16(
        s, [&](char32_t c) { utf8::Append(out, c); },
        [&](char16_t unit) {
            if (unit >= 0xDC80 && unit <= 0xDCFF) out += static_cast<char>(unit - 0xDC80 + 0x80);  // a carried byte
            else utf8::Append(out, 0xFFFD);
        });
    return out;
}

int CodePageFromCharset(int charset) {
    switch (charset) {
    case 0: return 1252;
    case 1: return 65001;
    case 2: return 42;  // symbol: bytes map to U+F000 + byte
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 1252;
    }
}

namespace {

const char* IconvName(int codePage) {
    switch (codePage) {
    case 437: return "CP437";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "BIG5";  // glibc's CP950 alias is BIG5 with the vendor extras
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 1361: return "JOHAB";
    case 10000: return "MACINTOSH";
    case 65001: return "UTF-8";
    default: return nullptr;
    }
}

// Runs iconv over the whole input; an invalid or unmappable sequence becomes
// `bad` and the conversion goes on one byte later.
std::string RunIconv(const char* to, const char* from, std::string_view in, std::string_view bad) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    char buf[1024];
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        std::size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            out += bad;  // EILSEQ or EINVAL (truncated at the end)
            ++src;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* dst = buf;
    std::size_t room = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    iconv_close(cd);
    return out;
}

// 1252 done here: iconv leaves its five unassigned bytes undecodable, while
// Windows passes them through as the C1 controls of the same number.
std::string Utf8From1252(std::string_view bytes) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) utf8::Append(out, b >= 0x80 && b < 0xA0 ? char32_t(kHigh[b - 0x80]) : char32_t(b));
    return out;
}

}  // namespace

std::string Utf8FromCodePage(std::string_view bytes, int codePage) {
    if (codePage == 1252) return Utf8From1252(bytes);
    if (codePage == 65001) {
        if (IsValidUtf8(bytes)) return std::string(bytes);
        // Valid sequences stay; each invalid byte is read as 1252.
        std::string out;
        auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        for (std::size_t i = 0; i < bytes.size();) {
            char32_t c;
            std::size_t len = utf8::Decode(p + i, bytes.size() - i, &c);
            if (len == 0) {
                out += Utf8FromCodePage(bytes.substr(i, 1), 1252);
                ++i;
            } else {
                out.append(bytes.substr(i, len));
                i += len;
            }
        }
        return out;
    }
    if (codePage == 42) {  // symbol fonts: the private-use block
        std::string out;
        for (unsigned char b : bytes) utf8::Append(out, b < 0x20 ? char32_t(b) : char32_t(0xF000 + b));
        return out;
    }
    const char* name = IconvName(codePage);
    if (!name) name = "CP1252";
    return RunIconv("UTF-8", name, bytes, "\xEF\xBF\xBD");
}

std::string CodePageFromUtf8(std::string_view utf8, int codePage) {
    if (codePage == 65001) return std::string(utf8);
    const char* name = IconvName(codePage);
    if (!name) name = "CP1252";
    std::string to = std::string(name) + "//TRANSLIT";
    return RunIconv(to.c_str(), "UTF-8", utf8, "?");
}

std::string Utf8FromCharset(std::string_view bytes, int charset) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    int cp = CodePageFromCharset(charset);
    return Utf8FromCodePage(bytes, cp);
}

}  // namespace platform
