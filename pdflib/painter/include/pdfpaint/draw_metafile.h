// Drawing an enhanced metafile onto a page of a PDF document: the entry point
// behind the document object's DrawEmf and DrawEmfFile.
//
// Placement: the metafile's frame, scaled by scaleX/scaleY, with its top-left
// corner at (x, y) in page units. With scale 1 one metafile device pixel is
// one page unit. `pointsPerUnit` converts page units to points (72 ÷ the
// document's resolution). `logPixels` > 0 replaces the metafile's own
// reference-device resolution when the frame is converted to pixels.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "emf/device.h"
#include "emf/reader.h"

namespace pdfpaint {

enum class DrawStatus : std::uint8_t {
    Ok,           // played; diagnostics may list skipped records
    NotMetafile,  // the bytes are no metafile; nothing was drawn
    NoFile,       // DrawMetafileFile: the file cannot be read
    BadPage,      // the page index does not exist
};

struct DrawOutcome {
    DrawStatus status = DrawStatus::Ok;
    std::string error;                      // for the failures, a sentence for the caller's error text
    std::vector<emf::Diagnostic> diagnostics;
};

// Failures of the document core (no font can be loaded at all, say) are
// thrown as its exceptions; the content stays balanced (q ... Q) even then.
//
// Plays a metafile into any content (a page's, or a form XObject's for
// pictures that stay vector); `base` maps metafile device pixels into that
// content's space. The content gets one balanced q ... Q group.
DrawOutcome PaintMetafile(pdfcore::Document& doc, pdfcore::ContentBuilder& content, std::span<const std::uint8_t> bytes,
                          const emf::Matrix& base);

// `asPicture`: the metafile is a picture of its own (a picture file), placed
// by PictureFrame rather than by its header's frame.
DrawOutcome DrawMetafile(pdfcore::Document& doc, int page, std::span<const std::uint8_t> bytes, double x, double y,
                         double scaleX, double scaleY, int logPixels, double pointsPerUnit, bool asPicture = false);

// What a metafile picture shows, in its device pixels: the header's frame,
// unless the frame and what the records draw disagree that far that the
// drawing would land off the picture (mostly outside the frame, or in a frame
// eight or more times its size both ways, as some converters write it); then
// the bounds of the drawing, with a warning. `replaced` tells which. Empty
// for no metafile.
emf::Rect PictureFrame(std::span<const std::uint8_t> bytes, bool* replaced = nullptr,
                       std::vector<emf::Diagnostic>* diagnostics = nullptr);

DrawOutcome DrawMetafileFile(pdfcore::Document& doc, int page, const std::string& path, double x, double y,
                             double scaleX, double scaleY, int logPixels, double pointsPerUnit);

}  // namespace pdfpaint
