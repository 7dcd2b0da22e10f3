// Length-prefixed UTF-16 strings and the UTF-8 conversions at the boundary.
#include "platform/com.h"

#include <cstdlib>
#include <cstring>

namespace com {

namespace {

// The block is [uint32 byte length][UTF-16 units][0 terminator]; the BSTR
// points at the first unit, so the length sits 4 bytes before it.
std::uint32_t* Header(BSTR s) { return reinterpret_cast<std::uint32_t*>(s) - 1; }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* s, std::uint32_t len) {
    if (len > (0x7FFFFFFFu - 8) / sizeof(OLECHAR)) return nullptr;
    std::size_t bytes = sizeof(std::uint32_t) + (std::size_t(len) + 1) * sizeof(OLECHAR);
    auto* block = static_cast<std::uint32_t*>(std::malloc(bytes));
    if (!block) return nullptr;
    block[0] = len * sizeof(OLECHAR);
    BSTR out = reinterpret_cast<BSTR>(block + 1);
    if (s)
        std::memcpy(out, s, len * sizeof(OLECHAR));
    else
        std::memset(out, 0, len * sizeof(OLECHAR));
    out[len] = 0;
    return out;
}

BSTR SysAllocString(const OLECHAR* s) {
    if (!s) return nullptr;
    std::uint32_t n = 0;
    while (s[n]) ++n;
    return SysAllocStringLen(s, n);
}

void SysFreeString(BSTR s) {
    if (s) std::free(Header(s));
}

std::uint32_t SysStringLen(BSTR s) { return s ? *Header(s) / sizeof(OLECHAR) : 0; }

namespace {

// Decodes one UTF-8 sequence at p (strict: no overlongs, no surrogates, at
// most U+10FFFF). Returns the sequence length, or 0 when the byte at p does
// not start a valid sequence.
std::size_t DecodeUtf8(const unsigned char* p, std::size_t avail, char32_t* cp) {
    unsigned char b = p[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    std::size_t len;
    char32_t c;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (avail < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return len;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::u16string Utf16FromUtf8Carrying(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t n = utf8.size();
    for (std::size_t i = 0; i < n;) {
        char32_t c;
        std::size_t len = DecodeUtf8(p + i, n - i, &c);
        if (len == 0) {
            out += static_cast<char16_t>(0xDC80 + (p[i] - 0x80));
            ++i;
            continue;
        }
        i += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Utf8FromUtf16Carrying(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out += static_cast<char>(c - 0xDC80 + 0x80);  // a carried raw byte
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // any other lone surrogate has no UTF-8 form
        }
        AppendUtf8(out, c);
    }
    return out;
}

BSTR BstrFromUtf8(std::string_view utf8) {
    std::u16string w = Utf16FromUtf8Carrying(utf8);
    return SysAllocStringLen(w.data(), static_cast<std::uint32_t>(w.size()));
}

std::string Utf8FromBstr(const OLECHAR* s) {
    if (!s) return {};
    std::size_t n = 0;
    while (s[n]) ++n;
    return Utf8FromUtf16Carrying(std::u16string_view(s, n));
}

std::string Utf8FromBstrLen(BSTR s) {
    return Utf8FromUtf16Carrying(std::u16string_view(s, SysStringLen(s)));
}

}  // namespace com
