// PDF pages as enhanced metafiles that keep their text.
//
// Each page is walked by poppler's interpreter and said again through our
// metafile recorder: text as EXTTEXTOUTW runs with every character's Unicode
// and advance, the face, size, angle and colour; paths with their fill rule,
// width, caps, joins and dashes; clips; JPEG pictures unchanged, large
// others packed as PNG, the rest as DIBs (an image object shown on several
// pages is decoded and packed once); shadings
// as pictures of the area they fill; what soft masks, blend modes and
// knockout groups touch as a picture of its area as the page looks there,
// but for a soft mask of one grey picture over solid fills (a browser's
// shadow): each fill becomes a picture of its colour with the mask as alpha. The PDF's own TrueType programs travel
// with each page in a comment record of ours (see emf/font_comment.h), so
// our PDF painter draws exactly those glyphs again.
//
// The PDF is outside input: damage gives an error text, never a crash.
// A PdfPages object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pagedraw {

struct ConvertOptions {
    int dpi = 600;            // device pixels per inch of the metafiles (72..2400)
    bool carryFonts = true;   // put the PDF's font programs into the pages
    // Pixels per inch, at most, of the pictures standing in for what the
    // metafile cannot say (soft masks, blending); 0: `dpi`.
    int pictureDpi = 0;
};

class PdfPages {
public:
    // Null with `error` set ("cannot read ...", "... is encrypted and needs a
    // password", "... is not a PDF file or is damaged beyond repair",
    // "... has no pages").
    static std::unique_ptr<PdfPages> Open(const std::string& path, std::string& error, const ConvertOptions& = {});
    // The same for a PDF in memory (the bytes are copied).
    static std::unique_ptr<PdfPages> OpenBytes(std::span<const std::uint8_t> bytes, std::string& error,
                                               const ConvertOptions& = {});
    ~PdfPages();

    int PageCount() const;
    // The page's size in points as it is shown (its rotation applied).
    void PageSize(int index, double& width, double& height) const;

    // Page `index` (from 0) as a metafile. Complaints of the interpreter about
    // damaged content go to `warnings` (at most 100 a page). Empty with
    // `error` set when the page cannot be converted at all.
    std::vector<std::uint8_t> ConvertPage(int index, std::string& error, std::vector<std::string>* warnings = nullptr);

    // How many pictures the pages converted so far took from an earlier
    // page's decoding instead of decoding their image object again.
    std::size_t PicturesReused() const;

private:
    PdfPages();
    struct Members;
    std::unique_ptr<Members> m_;
};

}  // namespace pagedraw
