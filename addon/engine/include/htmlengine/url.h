// Addresses: turning a load's source text into the address the engine opens,
// resolving relative references and mapping file addresses to paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace htmlengine {

// Longest decoded source the load accepts, terminator included.
inline constexpr std::size_t kMaxSourceChars = 2084;

// Decodes %XX escapes. Fails (nullopt) when a '%' is not followed by two
// hexadecimal digits or the result would not fit in `capacity` characters
// including the terminator.
std::optional<std::string> PercentDecode(std::string_view text,
                                         std::size_t capacity = kMaxSourceChars);

// The scheme of an address ("http" for "http://x"), lower-cased, or empty when
// the text has none. One-letter schemes are not schemes (they are drives).
std::string SchemeOf(std::string_view url);

// The address a file or address load opens:
//  - a broken escape gives "about:blank";
//  - an address with one of the known schemes is kept as given;
//  - otherwise the text is a path: a relative one is taken from `currentDir`;
//    an existing file gives "file://" + path, anything else "http://" + text.
std::string NormaliseSource(std::string_view source, const std::string& currentDir);

// Resolves `ref` against `base` (RFC 3986 reference resolution, with the
// leniencies of browsers: backslashes in hierarchical addresses are slashes).
// An absolute `ref` is returned as given; an empty base returns `ref`.
std::string ResolveUrl(std::string_view base, std::string_view ref);

// "file:///a/b%20c.html" -> "/a/b c.html". Accepts "file:/x", "file://localhost/x".
// Escapes are decoded only when the raw path does not name an existing file.
std::optional<std::string> FilePathFromUrl(std::string_view url);

// "/a/b c.html" -> "file:///a/b%20c.html" (spaces, '%', '#' and '?' escaped).
std::string FileUrlFromPath(std::string_view path);

// The address without its fragment.
std::string StripFragment(std::string_view url);

}  // namespace htmlengine
