#include "pdfpaint/draw_metafile.h"

#include <algorithm>
#include <fstream>
#include <filesystem>

#include "emf/bounds_device.h"
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

emf::Rect PictureFrameOf(std::span<const std::uint8_t> bytes, const emf::Metafile& mf, bool* replaced,
                         std::vector<emf::Diagnostic>* diagnostics) {
    if (replaced) *replaced = false;
    emf::Rect frame = emf::FrameInPixels(mf.header, 0, diagnostics);
    emf::BoundsDevice bounds;
    emf::Play(bytes, mf, bounds);
    const emf::Rect& d = bounds.Bounds();
    if (d.Empty()) return frame;
    const double inside = std::max(0.0, std::min(d.right, frame.right) - std::max(d.left, frame.left)) *
                          std::max(0.0, std::min(d.bottom, frame.bottom) - std::max(d.top, frame.top));
    const bool outside = inside < 0.5 * d.Width() * d.Height();
    const bool tooLarge = frame.Width() >= 8 * d.Width() && frame.Height() >= 8 * d.Height();
    if (!outside && !tooLarge) return frame;
    if (replaced) *replaced = true;
    if (diagnostics)
        diagnostics->push_back({emf::Diagnostic::Severity::Warning, 0, 0, emf::EMR_HEADER,
                                "the frame does not hold the drawing; the drawing's bounds are used instead"});
    return d;
}

}  // namespace

emf::Rect PictureFrame(std::span<const std::uint8_t> bytes, bool* replaced, std::vector<emf::Diagnostic>* diagnostics) {
    if (replaced) *replaced = false;
    emf::Metafile mf = emf::Read(bytes);
    if (!mf.Usable()) return {0, 0, -1, -1};
    return PictureFrameOf(bytes, mf, replaced, diagnostics);
}

DrawOutcome PaintMetafile(pdfcore::Document& doc, pdfcore::ContentBuilder& content, std::span<const std::uint8_t> bytes,
                          const emf::Matrix& base) {
    emf::Metafile mf = emf::Read(bytes);
    if (!mf.Usable()) return NotMetafile(mf);
    DrawOutcome out;
    out.diagnostics = mf.diagnostics;
    return Paint(doc, content, bytes, mf, base, std::move(out));
}

DrawOutcome DrawMetafile(pdfcore::Document& doc, int page, std::span<const std::uint8_t> bytes, double x, double y,
                         double scaleX, double scaleY, int logPixels, double pointsPerUnit, bool asPicture) {
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
    emf::Matrix place = emf::FramePlacement(mf.header, x, y, scaleX, scaleY, logPixels, &out.diagnostics);
    if (asPicture) {
        bool replaced = false;
        const emf::Rect f = PictureFrameOf(bytes, mf, &replaced, &out.diagnostics);
        if (replaced)
            place = emf::Matrix::Translate(-f.left, -f.top)
                        .Then(emf::Matrix::Scale(scaleX, scaleY))
                        .Then(emf::Matrix::Translate(x, y));
    }
    emf::Matrix base = place.Then(emf::Matrix::Scale(pointsPerUnit, pointsPerUnit));
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
    // In one read of the file's size: printed pages with pictures run to
    // megabytes, which a character at a time took longer to read than to draw.
    std::vector<std::uint8_t> bytes;
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    const std::uintmax_t size = regular ? std::filesystem::file_size(path, ec) : 0;
    if (regular && !ec && size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad() || !regular || ec) {
        DrawOutcome out;
        out.status = DrawStatus::NoFile;
        out.error = "cannot read " + path;
        return out;
    }
    return DrawMetafile(doc, page, bytes, x, y, scaleX, scaleY, logPixels, pointsPerUnit);
}

}  // namespace pdfpaint
