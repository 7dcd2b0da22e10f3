// Length-prefixed UTF-16 strings and the UTF-8 conversions at the boundary.
#include "platform/com.h"
#include "platform/text.h"

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

// The conversions themselves are the text toolkit's.
std::u16string Utf16FromUtf8Carrying(std::string_view utf8) { return platform::Utf16FromUtf8Carrying(utf8); }
std::string Utf8FromUtf16Carrying(std::u16string_view s) { return platform::Utf8FromUtf16Carrying(s); }

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
