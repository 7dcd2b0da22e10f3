// Text helpers: case folding for case-insensitive names, UTF-8/UTF-16, and
// the Windows character-set codes decoded through iconv.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Lower-case form for case-insensitive comparison (Unicode simple case
// mapping; bytes that are not valid UTF-8 are kept as they are).
std::string FoldCase(std::string_view utf8);
bool EqualsNoCase(std::string_view a, std::string_view b);

bool IsValidUtf8(std::string_view bytes);

// Strict conversions: invalid input becomes U+FFFD. (com::BstrFromUtf8 is the
// one that carries invalid bytes through unchanged.)
std::u16string Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::u16string_view utf16);

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
