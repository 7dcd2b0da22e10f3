// The PDF backend of the drawing device: every call becomes page content.
// Paths stay paths (fills with their rule, strokes with width, caps, joins,
// miter limit and dashes), text stays text (the face resolved through the
// document's font cache, ordered and shaped as its scripts need without
// ligatures or kerning, each cluster placed where the run's advances put it,
// characters the face lacks taken from a font that has them, and those no
// font has drawn as stand-in glyphs that keep their text), pictures
// become image XObjects (alpha as a soft mask, JPEG passed through), clips
// nest as saved graphics states. Font programs that came with the metafile
// are used for their faces instead of installed fonts.
//
// The ctm of each call maps into the content space of the page: points,
// origin top-left, y down (see core/content.h).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "pdfcore/content.h"
#include "pdfcore/document.h"
#include "emf/device.h"

namespace pdfpaint {

class PdfPainter : public emf::Device {
public:
    // Both are borrowed and must outlive the painter. Content is appended to
    // `content`; images and fonts go into `doc`.
    PdfPainter(pdfcore::Document& doc, pdfcore::ContentBuilder& content);
    ~PdfPainter() override;

    void FillPath(const emf::Path&, emf::FillRule, const emf::Paint&, const emf::Matrix& ctm) override;
    void StrokePath(const emf::Path&, const emf::StrokeStyle&, const emf::Color&, const emf::Matrix& ctm) override;
    void DrawText(const emf::TextRun&, const emf::Matrix& ctm) override;
    std::optional<double> MeasureText(const emf::TextRun&) override;
    void DrawImage(const emf::Image&, const emf::Matrix& ctm) override;
    // Runs of that face draw with the program (embedded again, so the glyphs
    // come out as they were); a program that cannot be loaded leaves the face
    // to the installed fonts.
    void DefineFont(const emf::FontProgram&) override;
    void PushClip(const emf::Path&, emf::FillRule, const emf::Matrix& ctm) override;
    void PopClip() override;

    // Closes every clip still open (called before the content is handed on).
    void Finish();

private:
    struct Members;
    std::unique_ptr<Members> m_;
};

// Turns a decoded picture into an image stream: Flate-compressed samples,
// alpha as a soft mask (left out when every pixel is opaque), JPEG bytes
// unchanged. Empty data for a picture without pixels.
pdfcore::EncodedImage EncodeImage(const emf::Image&);

}  // namespace pdfpaint
