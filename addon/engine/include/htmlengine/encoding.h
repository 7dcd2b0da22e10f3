// Character encodings of documents and style sheets: finding the encoding of
// a byte stream and converting it to UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace htmlengine {

// Where the encoding of a document was found.
enum class EncodingSource { Bom, Transport, Meta, Utf8Guess, Default };

struct DetectedEncoding {
    std::string name;  // iconv name: "UTF-8", "UTF-16LE", "WINDOWS-1252", ...
    EncodingSource source = EncodingSource::Default;
    std::size_t bomLength = 0;
};

// The charset parameter of a Content-Type value ("text/html; charset=utf-8"
// -> "utf-8"), or empty.
std::string CharsetFromContentType(std::string_view contentType);

// Maps a label as documents write it to the name iconv knows, following the
// browsers' table for the common labels (latin1, ascii and iso-8859-1 are
// windows-1252; utf-16 in a meta tag is UTF-8). Unknown labels give "".
std::string CanonicalEncoding(std::string_view label);

// Byte-order mark first, then the transport's charset (HTTP header), then a
// <meta charset> or <meta http-equiv content-type> in the first 1024 bytes,
// then: bytes that are valid UTF-8 with non-ASCII text are UTF-8, anything
// else windows-1252.
DetectedEncoding DetectHtmlEncoding(std::string_view bytes, std::string_view transportCharset);

// Converts to UTF-8. Bytes that cannot be converted become U+FFFD; the BOM is
// dropped. Never fails: an encoding iconv does not know is read as windows-1252.
std::string ToUtf8(std::string_view bytes, const DetectedEncoding& encoding);

// Both steps for an HTML document.
std::string DecodeHtml(std::string_view bytes, std::string_view transportCharset,
                       DetectedEncoding* found = nullptr);

// Style sheets: BOM, transport, @charset, then the document's encoding.
std::string DecodeCss(std::string_view bytes, std::string_view transportCharset,
                      std::string_view documentEncoding);

bool IsValidUtf8(std::string_view bytes);

}  // namespace htmlengine
