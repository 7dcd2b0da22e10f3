#include "pdfpaint/draw_metafile.h"

#include <fstream>
#include <iterator>

#include "emf/player.h"
#include "pdfpaint/painter.h"

namespace pdfpaint {

namespace {

DrawOutcome Paint(pdfcore::Document& doc, pdfcore::ContentBuilder& content, std::span<const std::uint8_t> bytes,
                  const emf::Metafile& mf, const emf::Matrix& base, DrawOutcome out) {
    emf::PlayOptions opt;
    opt.base = base;
    content.Save();
    try {
        PdfPainter painter(doc, content);
        emf::PlayResult r = emf::Play(bytes, mf, painter, opt);
        out.diagnostics.insert(out.diagnostics.end(), r.diagnostics.begin(), r.diagnostics.end());
        painter.Finish();
    } catch (...) {
        // The painter closed its clips on the way out; keep the page's q/Q balanced.
        content.Restore();
        throw;
    }
    content.Restore();
    return out;
}

DrawOutcome NotMetafile(const emf::Metafile& mf) {
    DrawOutcome out;
    out.diagnostics = mf.diagnostics;
    out.status = DrawStatus::NotMetafile;
    out.error = mf.diagnostics.empty() ? "not an enhanced metafile" : mf.diagnostics.front().message;
    return out;
}

}  // namespace

DrawOutcome PaintMetafile(pdfcore::Document& doc, pdfcore::ContentBuilder& content, std::span<const std::uint8_t> bytes,
                          const emf::Matrix& base) {
    emf::Metafile mf = emf::Read(bytes);
    if (!mf.Usable()) return NotMetafile(mf);
    DrawOutcome out;
    out.diagnostics = mf.diagnostics;
    return Paint(doc, content, bytes, mf, base, std::move(out));
}

DrawOutcome DrawMetafile(pdfcore::Document& doc, int page, std::span<const std::uint8_t> bytes, double x, double y,
                         double scaleX, double scaleY, int logPixels, double pointsPerUnit) {
    if (page < 0 || page >= doc.PageCount()) {
        DrawOutcome out;
        out.status = DrawStatus::BadPage;
        out.error = "page " + std::to_string(page) + " does not exist";
        return out;
    }
    emf::Metafile mf = emf::Read(bytes);
    if (!mf.Usable()) return NotMetafile(mf);
    DrawOutcome out;
    out.diagnostics = mf.diagnostics;
    emf::Matrix base = emf::FramePlacement(mf.header, x, y, scaleX, scaleY, logPixels, &out.diagnostics)
                           .Then(emf::Matrix::Scale(pointsPerUnit, pointsPerUnit));
    return Paint(doc, doc.GetPage(page).content, bytes, mf, base, std::move(out));
}

DrawOutcome DrawMetafileFile(pdfcore::Document& doc, int page, const std::string& path, double x, double y,
                             double scaleX, double scaleY, int logPixels, double pointsPerUnit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        DrawOutcome out;
        out.status = DrawStatus::NoFile;
        out.error = "cannot read " + path;
        return out;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        DrawOutcome out;
        out.status = DrawStatus::NoFile;
        out.error = "cannot read " + path;
        return out;
    }
    return DrawMetafile(doc, page, bytes, x, y, scaleX, scaleY, logPixels, pointsPerUnit);
}

}  // namespace pdfpaint
