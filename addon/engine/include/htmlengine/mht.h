// Web archives (MIME multipart/related, as saved by browsers): unpacked into
// their parts so the root document loads as HTML and its pictures and style
// sheets come from the archive.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace htmlengine {

struct MimePart {
    std::string contentType;  // lower-case type/subtype, "text/plain" when absent
    std::string charset;      // charset parameter as written, may be empty
    std::string location;     // Content-Location, may be empty
    std::string contentId;    // Content-ID without the angle brackets, may be empty
    std::string body;         // transfer decoding undone
};

struct MhtArchive {
    std::vector<MimePart> parts;
    std::size_t root = 0;  // index of the document to show
    std::vector<std::string> warnings;

    // The part an address refers to: "cid:" references by Content-ID, others
    // by Content-Location (exact, then without fragment). Null when none.
    const MimePart* Find(std::string_view url) const;
};

// True when the bytes begin like a MIME message of type multipart/related
// (header lines, one of them a multipart Content-Type).
bool LooksLikeMht(std::string_view bytes);

// Unpacks an archive. Damaged parts are skipped with a warning; nullopt when
// the text is no multipart message at all or holds no part.
std::optional<MhtArchive> ParseMht(std::string_view bytes);

// Transfer decodings, exposed for tests and the fuzz target.
std::string DecodeQuotedPrintable(std::string_view text);
std::string DecodeBase64(std::string_view text);

}  // namespace htmlengine
