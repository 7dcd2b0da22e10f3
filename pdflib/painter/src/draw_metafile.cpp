#include "pdfpaint/draw_metafile.h"

#include <fstream>
#include <iterator>

#include "emf/player.h"
#include "pdfpaint/painter.h"

namespace pdfpaint {

DrawOutcome DrawMetafile(pdfcore::Document& doc, int page, std::span<const std::uint8_t> bytes, double x, double y,
                         double scaleX, double scaleY, int logPixels, double pointsPerUnit) {
    DrawOutcome out;
    if (page < 0 || page >= doc.PageCount()) {
        out.status = DrawStatus::BadPage;
        out.error = "page " + std::to_string(page) + " does not exist";
        return out;
    }
    emf::Metafile mf = emf::Read(bytes);
    out.diagnostics = mf.diagnostics;
    if (!mf.Usable()) {
        out.status = DrawStatus::NotMetafile;
        out.error = mf.diagnostics.empty() ? "not an enhanced metafile" : mf.diagnostics.front().message;
        return out;
    }
    emf::PlayOptions opt;
    opt.base = emf::FramePlacement(mf.header, x, y, scaleX, scaleY, logPixels, &out.diagnostics)
                   .Then(emf::Matrix::Scale(pointsPerUnit, pointsPerUnit));
    pdfcore::ContentBuilder& content = doc.GetPage(page).content;
    content.Save();
    {
        PdfPainter painter(doc, content);
        emf::PlayResult r = emf::Play(bytes, mf, painter, opt);
        out.diagnostics.insert(out.diagnostics.end(), r.diagnostics.begin(), r.diagnostics.end());
        painter.Finish();
    }
    content.Restore();
    return out;
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
