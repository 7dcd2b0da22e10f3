// What one successful load produces: the page image (the whole document drawn
// into one enhanced metafile at screen resolution) and the facts found in the
// document while it was drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaline {

// A hyperlink or a named anchor of a document. In a page image the rectangle
// is in page-image pixels; in a page's link list (after mapping) it is in PDF
// page units without the margins.
struct LinkRecord {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    std::string target;  // the link's href; empty for a plain anchor
    std::string name;    // the anchor name; may be empty
    friend bool operator==(const LinkRecord&, const LinkRecord&) = default;
};

// A named target collected for internal links: position as the link queries
// report it (margins included) and the 0-based PDF page index.
struct AnchorRecord {
    std::string name;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t pdfPage = 0;
};

struct PageImage {
    // The metafile: a file on disk (also listed among the load's temporary
    // files), its bytes, or both. Whoever reads it prefers the bytes.
    std::string emfPath;
    std::vector<std::uint8_t> emfBytes;
    // Size of the drawn document in page-image pixels.
    std::int32_t widthPx = 0;
    std::int32_t heightPx = 0;
    std::vector<LinkRecord> links;
    // Forced break positions in page-image pixels, ascending.
    std::vector<std::int32_t> pageBreaks;
    // Page-image pixels per PDF page unit as the load worked it out.
    float renderScale = 1.0f;
};

}  // namespace tessaline
