// The contents file of a compiled help file (".hhc", an HTML sitemap): one
// entry per sitemap object, at the depth of the list that holds it.
//
// The text is outside input. It is read as bytes (no encoding is assumed
// beyond skipping a UTF-8 byte-order mark); any damage is skipped, never
// fatal, and the parser touches no state but its own, so every contents file
// starts at the same depth.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellumate {

struct SitemapEntry {
    std::string title;   // value of the "name" parameter, entities decoded
    bool web = false;    // the reference is an address (http:, https:, ...)
    std::string local;   // the reference; for files "\" turned into "/" and %XX decoded
    int level = 0;       // depth of the holding list; entries of the outermost list are 0
};

// Parses a whole contents file.
//
// Lists: every "<UL>" (attributes allowed) deepens, every "</UL>" returns;
// the depth starts at -1, so entries directly in the first list are level 0
// (entries outside any list, or behind a surplus "</UL>", get negative
// levels; callers clamp). "<LI>"/"</LI>" play no part, so a list may open
// after "</LI>" as well as inside the item.
//
// Objects: each `<object type="text/sitemap">` up to its `</object>`; its
// `<param name=.. value=..>` tags are walked in order, closed with ">" or
// "/>", quoted with " or ' (or unquoted), names in any case. Parameters with
// an empty name or value are passed over. With the first parameter named
// "name" its value is the title and, unless the last one is "imagenumber",
// the last value is the reference; with the last one named "name" the roles
// swap. With no "name" parameter there is no title and the reference is the
// last value (the first one, when the last is "imagenumber").
//
// An object whose title and reference are both non-empty, neither containing
// ".htm" (in any case), with a reference that is not an address, gives two
// reference-less entries: the title, then the reference as a title.
std::vector<SitemapEntry> ParseSitemap(std::string_view text);

// True for references that are addresses rather than files in the help file:
// a scheme of two or more letters before ":" ("http://", "https://",
// "mailto:", "ms-its:").
bool IsWebReference(std::string_view reference);

// Decodes "%" followed by two hexadecimal digits; other "%" stay.
std::string PercentDecode(std::string_view text);

// Decodes the character references of attribute values: &amp; &lt; &gt;
// &quot; &apos; &nbsp; and numeric ones (as UTF-8). Unknown ones stay.
std::string DecodeEntities(std::string_view text);

}  // namespace vellumate
