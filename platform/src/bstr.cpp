// Length-prefixed UTF-16 strings and the UTF-8 conversions at the boundary.
#include "platform/com.h"
#include "utf8.h"

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


std::u16string Utf16FromUtf8Carrying(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t n = utf8.size();
    for (std::size_t i = 0; i < n;) {
        char32_t c;
        std::size_t len = platform::utf8::Decode(p + i, n - i, &c);
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
        platform::utf8::Append(out, c);
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
