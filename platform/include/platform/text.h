// The suite's text toolkit: ASCII case for protocol words, Unicode case
// folding for names people type, the UTF-8/UTF-16/UTF-32 conversions, and the
// Windows character-set codes decoded through iconv. Use these rather than a
// local helper: each conversion has one policy for bad input, stated here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// ---- ASCII case ----------------------------------------------------------------
// For words a format or protocol defines in ASCII (tags, schemes, extensions,
// switch names, charsets): only A-Z change, every other byte stays, whatever
// the process locale says.

constexpr char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
bool StartsWithNoCaseAscii(std::string_view s, std::string_view prefix);
bool EndsWithNoCaseAscii(std::string_view s, std::string_view suffix);
// The first position at or after `from` where `needle` stands in `hay` in any
// ASCII case; npos when it does not, or when `needle` is empty.
std::size_t FindNoCaseAscii(std::string_view hay, std::string_view needle, std::size_t from = 0);
inline bool ContainsNoCaseAscii(std::string_view hay, std::string_view needle) {
    return FindNoCaseAscii(hay, needle) != std::string_view::npos;
}

// ---- Unicode case ---------------------------------------------------------------

// Lower-case form for case-insensitive comparison (Unicode simple case
// mapping; bytes that are not valid UTF-8 are kept as they are).
std::string FoldCase(std::string_view utf8);
bool EqualsNoCase(std::string_view a, std::string_view b);

bool IsValidUtf8(std::string_view bytes);

// ---- UTF conversions --------------------------------------------------------------

// Strict conversions: every byte that does not start a valid UTF-8 sequence
// (overlong forms, surrogates and values past U+10FFFF included) becomes one
// U+FFFD, and so does a lone surrogate in UTF-16 or a value that is no
// character in UTF-32.
std::u16string Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::u16string_view utf16);
std::u32string Utf32FromUtf8(std::string_view utf8);
std::string Utf8FromUtf32(std::u32string_view utf32);
std::u16string Utf16FromUtf32(std::u32string_view utf32);
// One character appended in UTF-8 or UTF-16 (a surrogate pair past U+FFFF).
void AppendUtf8(std::string& out, char32_t c);
void AppendUtf16(std::u16string& out, char32_t c);

// Carrying conversions, for text that crosses a component boundary and must
// come back byte for byte: a byte that is not valid UTF-8 travels as the lone
// surrogate U+DC80 + (byte - 0x80) and turns back into that byte; any other
// lone surrogate becomes U+FFFD. (com::BstrFromUtf8 and com::Utf8FromBstr use these.)
std::u16string Utf16FromUtf8Carrying(std::string_view utf8);
std::string Utf8FromUtf16Carrying(std::u16string_view utf16);

// The Windows code page a character-set code selects (0 -> 1252, 128 -> 932,
// 204 -> 1251, ...). Code 1 ("default") gives 65001: UTF-8, with 1252 as the
// fallback. Unknown codes give 1252.
int CodePageFromCharset(int charset);

// Decodes bytes of a code page into UTF-8 through iconv. Undecodable bytes
// become U+FFFD. 65001 validates the UTF-8 and decodes invalid bytes as 1252.
std::string Utf8FromCodePage(std::string_view bytes, int codePage);
// Encodes UTF-8 into a code page; characters it lacks become '?'.
std::string CodePageFromUtf8(std::string_view utf8, int codePage);

// Text of a character set as UTF-8: bytes that are already valid UTF-8 stay
// as they are; anything else is decoded with the character set's code page.
std::string Utf8FromCharset(std::string_view bytes, int charset);

}  // namespace platform
