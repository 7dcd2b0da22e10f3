// Scanning CSS text without parsing it: comments and strings are skipped as
// opaque, brackets counted. Used to take style sheets apart into rules.
#pragma once

#include <cstddef>
#include <string_view>

namespace htmlengine::css {

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Index just past the comment or string that starts at `i`, or `i` when none
// does. An unclosed one runs to the end.
std::size_t SkipOpaque(std::string_view s, std::size_t i);
// Index of the first of `stops` at bracket depth 0 from `i`, outside strings
// and comments; s.size() when there is none.
std::size_t FindTopLevel(std::string_view s, std::size_t i, std::string_view stops);
// Index just past the '}' closing the block that opens at s[open] == '{'
// (s.size() when it is not closed).
std::size_t BlockEnd(std::string_view s, std::size_t open);
std::string_view Trim(std::string_view s);

}  // namespace htmlengine::css
