#include "pdfpaint/painter.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pdfpaint {

namespace {

pdfcore::Matrix ToPdf(const emf::Matrix& m) { return {m.a, m.b, m.c, m.d, m.e, m.f}; }
pdfcore::Rgb ToRgb(const emf::Color& c) { return {c.r / 255.0, c.g / 255.0, c.b / 255.0}; }
bool Invertible(const emf::Matrix& m) {
    double det = m.a * m.d - m.b * m.c;
    return std::isfinite(det) && std::fabs(det) > 1e-12 && std::isfinite(m.e) && std::isfinite(m.f);
}
bool FinitePath(const emf::Path& p) {
    for (auto& q : p.Points())
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
    return true;
}

void EmitPath(pdfcore::ContentBuilder& cb, const emf::Path& p, const emf::Matrix* map = nullptr) {
    const auto& pts = p.Points();
    auto pt = [&](std::size_t i) { return map ? map->Apply(pts[i]) : pts[i]; };
    std::size_t i = 0;
    for (auto op : p.Ops()) {
        switch (op) {
        case emf::Path::Op::Move: {
            auto q = pt(i++);
            cb.MoveTo(q.x, q.y);
            break;
        }
        case emf::Path::Op::Line: {
            auto q = pt(i++);
            cb.LineTo(q.x, q.y);
            break;
        }
        case emf::Path::Op::Cubic: {
            auto a = pt(i), b = pt(i + 1), c = pt(i + 2);
            i += 3;
            cb.CurveTo(a.x, a.y, b.x, b.y, c.x, c.y);
            break;
        }
        case emf::Path::Op::Close: cb.ClosePath(); break;
        }
    }
}

emf::Rect BoundsOf(const emf::Path& p) {
    emf::Rect r{1e300, 1e300, -1e300, -1e300};
    for (auto& q : p.Points())
        r.left = std::min(r.left, q.x), r.top = std::min(r.top, q.y), r.right = std::max(r.right, q.x),
        r.bottom = std::max(r.bottom, q.y);
    return r;
}

std::string Deflate(const std::uint8_t* data, std::size_t size) {
    uLongf bound = compressBound(uLong(size));
    std::string out(bound, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &bound, data, uLong(size), 6) != Z_OK) return {};
    out.resize(bound);
    return out;
}

std::u32string Codepoints(const std::u16string& s, std::vector<std::size_t>& unitOf) {
    std::u32string o;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        unitOf.push_back(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        o += c;
    }
    return o;
}

}  // namespace

pdfcore::EncodedImage EncodeImage(const emf::Image& img) {
    pdfcore::EncodedImage e;
    e.width = img.width, e.height = img.height;
    if (img.width <= 0 || img.height <= 0) return e;
    if (img.format == emf::Image::Format::Jpeg) {
        e.data.assign(img.encoded.begin(), img.encoded.end());
        e.filter = "DCTDecode";
        e.colorSpace = img.components == 1 ? "/DeviceGray" : img.components == 4 ? "/DeviceCMYK" : "/DeviceRGB";
        return e;
    }
    const std::size_t n = std::size_t(img.width) * std::size_t(img.height);
    const std::size_t C = std::size_t(img.components);
    if (img.pixels.size() < n * C) return pdfcore::EncodedImage{};
    std::vector<std::uint8_t> color, alpha;
    switch (img.format) {
    case emf::Image::Format::Gray8: e.colorSpace = "/DeviceGray", color.assign(img.pixels.begin(), img.pixels.begin() + std::ptrdiff_t(n)); break;
    case emf::Image::Format::Cmyk8: e.colorSpace = "/DeviceCMYK", color.assign(img.pixels.begin(), img.pixels.begin() + std::ptrdiff_t(n * 4)); break;
    case emf::Image::Format::Rgba8: {
        color.resize(n * 3), alpha.resize(n);
        bool opaque = true;
        for (std::size_t i = 0; i < n; ++i) {
            std::copy_n(&img.pixels[i * 4], 3, &color[i * 3]);
            alpha[i] = img.pixels[i * 4 + 3];
            opaque = opaque && alpha[i] == 255;
        }
        if (opaque) alpha.clear();
        break;
    }
    default: color.assign(img.pixels.begin(), img.pixels.begin() + std::ptrdiff_t(n * 3)); break;
    }
    e.data = Deflate(color.data(), color.size());
    e.filter = "FlateDecode";
    if (!alpha.empty()) {
        auto m = std::make_shared<pdfcore::EncodedImage>();
        m->width = img.width, m->height = img.height, m->colorSpace = "/DeviceGray";
        m->data = Deflate(alpha.data(), alpha.size());
        m->filter = "FlateDecode";
        e.softMask = m;
    }
    return e;
}

struct PdfPainter::Members {
    pdfcore::Document& doc;
    pdfcore::ContentBuilder& cb;
    int clipDepth = 0;
    // Held by owner, so that no other picture can come to live at the same address.
    std::map<std::shared_ptr<const emf::Image>, std::string> patternNames;
    std::map<std::pair<pdfcore::Font*, char16_t>, pdfcore::ShapedGlyph> glyphs;
    Members(pdfcore::Document& d, pdfcore::ContentBuilder& c) : doc(d), cb(c) {}

    // The glyph of one character on its own (cached: text pages repeat characters).
    pdfcore::ShapedGlyph GlyphOf(pdfcore::Font& f, char16_t c) {
        auto key = std::make_pair(&f, c);
        auto it = glyphs.find(key);
        if (it != glyphs.end()) return it->second;
        auto shaped = f.Shape(std::u16string_view(&c, 1));
        pdfcore::ShapedGlyph g = shaped.empty() ? pdfcore::ShapedGlyph{} : shaped.front();
        g.cluster = 0;
        return glyphs[key] = g;
    }

    std::string ImageName(const emf::Image& img) {
        pdfcore::EncodedImage e = EncodeImage(img);
        if (e.data.empty()) return {};
        return doc.AddImage(std::move(e));
    }
    void Alpha(std::uint8_t fill, std::uint8_t stroke) {
        if (fill != 255 || stroke != 255) cb.SetAlpha(fill / 255.0, stroke / 255.0);
    }
    // Hatch lines 8 units apart over the box, in the call's space (already clipped).
    void Hatch(const emf::Rect& box, emf::Hatch h, const emf::Color& c) {
        constexpr double step = 8;
        cb.SetStrokeColor(ToRgb(c));
        cb.SetLineWidth(1);
        cb.SetDash({}, 0);
        const double l = std::floor(box.left / step) * step, t = std::floor(box.top / step) * step;
        const double r = box.right, b = box.bottom, span = (r - l) + (b - t);
        if (span / step > 20000) return;  // absurd areas: leave the hatch out
        bool horiz = h == emf::Hatch::Horizontal || h == emf::Hatch::Cross;
        bool vert = h == emf::Hatch::Vertical || h == emf::Hatch::Cross;
        bool fdiag = h == emf::Hatch::FDiagonal || h == emf::Hatch::DiagCross;
        bool bdiag = h == emf::Hatch::BDiagonal || h == emf::Hatch::DiagCross;
        if (horiz)
            for (double y = t + 0.5; y <= b; y += step) cb.MoveTo(l, y), cb.LineTo(r, y);
        if (vert)
            for (double x = l + 0.5; x <= r; x += step) cb.MoveTo(x, t), cb.LineTo(x, b);
        // Forward diagonal: down to the right; backward: up to the right.
        if (fdiag)
            for (double k = -span; k <= span; k += step) cb.MoveTo(l + k, t), cb.LineTo(l + k + (b - t), b);
        if (bdiag)
            for (double k = -span; k <= span + span; k += step) cb.MoveTo(l + k, t), cb.LineTo(l + k - (b - t), b);
        cb.Stroke();
    }
};

PdfPainter::PdfPainter(pdfcore::Document& doc, pdfcore::ContentBuilder& content)
    : m_(std::make_unique<Members>(doc, content)) {}

PdfPainter::~PdfPainter() { Finish(); }

void PdfPainter::Finish() {
    while (m_->clipDepth > 0) PopClip();
}

void PdfPainter::FillPath(const emf::Path& path, emf::FillRule rule, const emf::Paint& paint, const emf::Matrix& ctm) {
    if (path.Empty() || !Invertible(ctm) || !FinitePath(path)) return;
    auto& cb = m_->cb;
    const auto pr = rule == emf::FillRule::EvenOdd ? pdfcore::FillRule::EvenOdd : pdfcore::FillRule::NonZero;
    // Resources first: nothing that can throw runs between q and Q.
    std::string patternName;
    if (paint.kind == emf::Paint::Kind::Pattern && paint.pattern) {
        auto it = m_->patternNames.find(paint.pattern);
        patternName = it != m_->patternNames.end() ? it->second
                                                   : (m_->patternNames[paint.pattern] = m_->ImageName(*paint.pattern));
    }
    cb.Save();
    cb.Concat(ToPdf(ctm));
    switch (paint.kind) {
    case emf::Paint::Kind::Solid:
        if (paint.color.a == 0) break;
        m_->Alpha(paint.color.a, 255);
        cb.SetFillColor(ToRgb(paint.color));
        EmitPath(cb, path);
        cb.Fill(pr);
        break;
    case emf::Paint::Kind::Hatched: {
        EmitPath(cb, path);
        cb.Clip(pr);
        emf::Rect box = BoundsOf(path);
        if (paint.opaqueBackground) {
            cb.SetFillColor(ToRgb(paint.background));
            cb.Rectangle(box.left, box.top, box.Width(), box.Height());
            cb.Fill(pdfcore::FillRule::NonZero);
        }
        m_->Hatch(box, paint.hatch, paint.color);
        break;
    }
    case emf::Paint::Kind::Pattern: {
        if (!paint.pattern || paint.pattern->width <= 0 || paint.pattern->height <= 0) break;
        const emf::Image& img = *paint.pattern;
        EmitPath(cb, path);
        cb.Clip(pr);
        emf::Rect box = BoundsOf(path);
        const double w = img.width, h = img.height;
        const double x0 = std::floor(box.left / w) * w, y0 = std::floor(box.top / h) * h;
        const double cols = std::ceil((box.right - x0) / w), rows = std::ceil((box.bottom - y0) / h);
        if (cols * rows > 4096) {
            // Too many tiles for a page: the pattern's mean colour instead.
            double s[3] = {0, 0, 0};
            std::size_t n = std::size_t(img.width) * img.height, C = std::size_t(img.components);
            for (std::size_t i = 0; i < n && img.pixels.size() >= n * C; ++i)
                for (int k = 0; k < 3; ++k) s[k] += img.pixels[i * C + std::size_t(std::min<std::size_t>(k, C - 1))];
            cb.SetFillColor({s[0] / n / 255, s[1] / n / 255, s[2] / n / 255});
            cb.Rectangle(box.left, box.top, box.Width(), box.Height());
            cb.Fill(pdfcore::FillRule::NonZero);
            break;
        }
        const std::string& name = patternName;
        if (name.empty()) break;
        for (double r = 0; r < rows; ++r)
            for (double c = 0; c < cols; ++c) {
                cb.Save();
                cb.Concat({w, 0, 0, -h, x0 + c * w, y0 + r * h + h});
                cb.DrawXObject(name);
                cb.Restore();
            }
        break;
    }
    }
    cb.Restore();
}

void PdfPainter::StrokePath(const emf::Path& path, const emf::StrokeStyle& s, const emf::Color& color,
                            const emf::Matrix& ctm) {
    if (path.Empty() || color.a == 0 || !Invertible(ctm) || !FinitePath(path)) return;
    auto& cb = m_->cb;
    cb.Save();
    cb.Concat(ToPdf(ctm));
    m_->Alpha(255, color.a);
    cb.SetLineWidth(std::isfinite(s.width) ? std::max(0.0, s.width) : 1);
    cb.SetLineCap(s.cap == emf::LineCap::Butt ? 0 : s.cap == emf::LineCap::Round ? 1 : 2);
    cb.SetLineJoin(s.join == emf::LineJoin::Miter ? 0 : s.join == emf::LineJoin::Round ? 1 : 2);
    if (s.join == emf::LineJoin::Miter) cb.SetMiterLimit(std::clamp(s.miterLimit, 1.0, 100.0));
    std::vector<double> dashes;
    for (double d : s.dashes) dashes.push_back(std::isfinite(d) ? std::max(0.0, d) : 0);
    bool allZero = std::all_of(dashes.begin(), dashes.end(), [](double d) { return d == 0; });
    if (!dashes.empty() && !allZero) cb.SetDash(dashes, s.dashPhase);
    cb.SetStrokeColor(ToRgb(color));
    EmitPath(cb, path);
    cb.Stroke();
    cb.Restore();
}

void PdfPainter::DrawText(const emf::TextRun& run, const emf::Matrix& ctm) {
    if (run.text.empty() || run.color.a == 0 || !Invertible(ctm) || !(run.emHeight > 0) || !std::isfinite(run.emHeight))
        return;
    auto& cb = m_->cb;
    auto& fonts = m_->doc.Fonts();
    const std::string face = run.face.empty() ? "sans-serif" : run.face;
    pdfcore::Font* primary = fonts.Resolve(face, run.weight, run.italic);
    const double em = run.emHeight;

    // Where each UTF-16 unit starts along the baseline, when the run says.
    std::vector<double> unitX;
    if (!run.advances.empty()) {
        unitX.resize(run.text.size() + 1);
        double x = 0;
        for (std::size_t i = 0; i < run.text.size(); ++i) {
            unitX[i] = x;
            x += i < run.advances.size() && std::isfinite(run.advances[i]) ? run.advances[i] : 0;
        }
        unitX[run.text.size()] = x;
    }
    // Split into runs of one font: characters the face lacks come from one that has them.
    std::vector<std::size_t> unitOf;
    std::u32string cps = Codepoints(run.text, unitOf);
    struct Segment {
        pdfcore::Font* font;
        std::size_t from, to;  // UTF-16 units
    };
    std::vector<Segment> segs;
    for (std::size_t k = 0; k < cps.size(); ++k) {
        pdfcore::Font* f = primary;
        if (cps[k] > 0x20 && !primary->HasChar(cps[k])) {
            pdfcore::Font* alt = fonts.ResolveFor(cps[k], run.weight, run.italic);
            if (alt) f = alt;
        }
        std::size_t from = unitOf[k], to = k + 1 < cps.size() ? unitOf[k + 1] : run.text.size();
        if (!segs.empty() && segs.back().font == f) segs.back().to = to;
        else segs.push_back({f, from, to});
    }

    cb.Save();
    cb.Concat(ToPdf(ctm));
    if (run.color.a != 255) m_->Alpha(run.color.a, run.color.a);
    const double a = run.angle * std::numbers::pi / 180, cs = std::cos(a), sn = std::sin(a);
    // Text space is y up; the run's space is y down.
    const pdfcore::Matrix tm{cs, -sn, -sn, -cs, run.origin.x, run.origin.y};
    double pen = 0;
    for (auto& sg : segs) {
        std::vector<pdfcore::PlacedGlyph> placed;
        std::size_t lastCluster = SIZE_MAX;
        double clusterPen = 0;
        auto place = [&](const pdfcore::ShapedGlyph& g, std::size_t unit) {
            double x;
            if (!unitX.empty()) {
                if (unit != lastCluster) clusterPen = 0, lastCluster = unit;
                x = unitX[unit] + clusterPen + g.xOffset * em;
                clusterPen += g.advance * em;
            } else {
                x = pen + g.xOffset * em;
                pen += g.advance * em;
            }
            placed.push_back({g.gid, x, g.yOffset * em});
        };
        std::size_t u = sg.from;
        while (u < sg.to) {
            // With explicit advances every character was placed on its own:
            // simple scripts are drawn character by character (no ligatures
            // across two placed characters); others are shaped as a whole.
            const char16_t c = run.text[u];
            const bool simple = c < 0x0590 && !(c >= 0xD800 && c < 0xE000) &&
                                !(u + 1 < sg.to && run.text[u + 1] >= 0x0300 && run.text[u + 1] < 0x0370);
            if (!unitX.empty() && simple) {
                place(m_->GlyphOf(*sg.font, c), u);
                ++u;
                continue;
            }
            std::size_t end = u + 1;
            while (end < sg.to && !(run.text[end] < 0x0300 && !unitX.empty())) ++end;
            if (unitX.empty()) end = sg.to;
            auto shaped = sg.font->Shape(std::u16string_view(run.text).substr(u, end - u));
            for (auto& g : shaped) place(g, u + std::min<std::size_t>(g.cluster, end - u - 1));
            u = end;
        }
        if (!placed.empty()) cb.ShowGlyphs(*sg.font, em, tm, placed, ToRgb(run.color));
    }
    if (run.underline || run.strikeout) {
        const double width = unitX.empty() ? pen : unitX.back();
        cb.Concat(tm);
        cb.SetFillColor(ToRgb(run.color));
        const double th = std::max(primary->UnderlineThickness(), 0.04) * em;
        if (run.underline) cb.Rectangle(0, primary->UnderlinePosition() * em - th / 2, width, th);
        if (run.strikeout) cb.Rectangle(0, primary->StrikeoutPosition() * em - th / 2, width, th);
        cb.Fill(pdfcore::FillRule::NonZero);
    }
    cb.Restore();
}

void PdfPainter::DrawImage(const emf::Image& img, const emf::Matrix& ctm) {
    if (img.width <= 0 || img.height <= 0 || !Invertible(ctm)) return;
    std::string name = m_->ImageName(img);
    if (name.empty()) return;
    auto& cb = m_->cb;
    cb.Save();
    // Image space has its first row at the top of the unit square (y = 1).
    cb.Concat(ToPdf(emf::Matrix{1, 0, 0, -1, 0, 1}.Then(ctm)));
    cb.DrawXObject(name);
    cb.Restore();
}

void PdfPainter::PushClip(const emf::Path& path, emf::FillRule rule, const emf::Matrix& ctm) {
    auto& cb = m_->cb;
    cb.Save();
    ++m_->clipDepth;
    if (!FinitePath(path)) return;
    // The clip is written in the page's space so that later calls keep their own ctm.
    EmitPath(cb, path, &ctm);
    if (path.Empty()) cb.Rectangle(0, 0, 0, 0);  // an empty clip hides everything
    cb.Clip(rule == emf::FillRule::EvenOdd ? pdfcore::FillRule::EvenOdd : pdfcore::FillRule::NonZero);
}

void PdfPainter::PopClip() {
    if (m_->clipDepth == 0) return;
    --m_->clipDepth;
    m_->cb.Restore();
}

}  // namespace pdfpaint
