#include "pdfpaint/painter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>
#include <stdexcept>

#include <fribidi.h>
#include <hb.h>

#include "pdfcore/pdf_writer.h"
#include "pdfcore/picture_encoding.h"
#include "pictures/picture.h"
#include "platform/text.h"

namespace pdfpaint {

namespace {

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

std::string Deflate(const std::vector<std::uint8_t>& data) {
    try {
        return pdfcore::Deflate(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    } catch (const std::runtime_error&) {
        return {};  // the picture is left out
    }
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
    if (img.format == emf::Image::Format::Png) {
        // A plain PNG's data goes into the stream as it is; the picture
        // loader decodes the rest (transparency, interlacing) and leaves out
        // a damaged file.
        std::vector<images::Picture> pics;
        const std::string_view file(reinterpret_cast<const char*>(img.encoded.data()), img.encoded.size());
        if (images::Sniff(file) != images::Format::Png || !images::LoadPicturesFromMemory(file, pics).ok ||
            pics.empty() || pics.front().vector || pics.front().image.width != img.width ||
            pics.front().image.height != img.height)
            return pdfcore::EncodedImage{};
        return images::ToEncodedImage(std::move(pics.front().image));
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
    e.data = Deflate(color);
    e.filter = "FlateDecode";
    if (!alpha.empty()) {
        auto m = std::make_shared<pdfcore::EncodedImage>();
        m->width = img.width, m->height = img.height, m->colorSpace = "/DeviceGray";
        m->data = Deflate(alpha);
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
    std::map<std::string, pdfcore::Font*, std::less<>> programs;  // face -> font of DefineFont
    Members(pdfcore::Document& d, pdfcore::ContentBuilder& c) : doc(d), cb(c) {}

    // Consecutive calls with one matrix share one q/cm ... Q group (a page
    // slice is drawn with one matrix throughout), and inside it colours,
    // alphas and line styles are written only when they change. Calls that
    // must change more (clips, hatches, patterns, some text) nest their own
    // q/Q inside the group or close it.
    struct Known {
        std::optional<pdfcore::Rgb> fill, stroke;
        std::uint8_t fillAlpha = 255, strokeAlpha = 255;
        std::optional<double> width, miter;
        std::optional<int> cap, join;
        std::optional<std::pair<std::vector<double>, double>> dash;
    };
    bool open = false;
    emf::Matrix groupCtm;
    Known known;
    // A path written but not yet painted, so that the next one with the same
    // paint can join it: fills whose boxes do not overlap, opaque strokes.
    enum class Pending { None, Fill, Stroke } pending = Pending::None;
    pdfcore::FillRule pendingRule = pdfcore::FillRule::NonZero;
    std::vector<emf::Rect> pendingBoxes;

    static bool Same(const emf::Matrix& a, const emf::Matrix& b) {
        return a.a == b.a && a.b == b.b && a.c == b.c && a.d == b.d && a.e == b.e && a.f == b.f;
    }
    static bool SameRgb(const std::optional<pdfcore::Rgb>& k, const pdfcore::Rgb& c) {
        return k && k->r == c.r && k->g == c.g && k->b == c.b;
    }
    void Flush() {
        if (pending == Pending::Fill) cb.Fill(pendingRule);
        if (pending == Pending::Stroke) cb.Stroke();
        pending = Pending::None;
        pendingBoxes.clear();
    }
    void Enter(const emf::Matrix& ctm) {
        Flush();
        if (open && Same(ctm, groupCtm)) return;
        Leave();
        cb.Save();
        // Six decimals: everything in the group is placed through this one
        // matrix, so a rounded scale would move things far from its origin.
        std::string cm;
        for (double v : {ctm.a, ctm.b, ctm.c, ctm.d, ctm.e, ctm.f}) {
            char buf[400];  // room for any finite double in fixed notation
            auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(v) < 5e-7 ? 0.0 : v, std::chars_format::fixed, 6);
            std::string n = ec == std::errc() ? std::string(buf, end) : "0";
            while (n.find('.') != std::string::npos && (n.back() == '0' || n.back() == '.')) n.pop_back();
            cm += n + ' ';
        }
        cb.Raw(cm + "cm\n");
        open = true, groupCtm = ctm, known = {};
    }
    // Like Enter, but a matrix that only moves the group's one is taken as
    // an offset of the call's space (text runs come placed by their matrix).
    emf::Point EnterMoved(const emf::Matrix& ctm) {
        const emf::Matrix& g = groupCtm;
        if (open && ctm.a == g.a && ctm.b == g.b && ctm.c == g.c && ctm.d == g.d) {
            const double det = g.a * g.d - g.b * g.c, ex = ctm.e - g.e, ey = ctm.f - g.f;
            const emf::Point t{(g.d * ex - g.c * ey) / det, (g.a * ey - g.b * ex) / det};
            if (std::isfinite(t.x) && std::isfinite(t.y) && std::fabs(t.x) < 1e7 && std::fabs(t.y) < 1e7) {
                Flush();
                return t;
            }
        }
        Enter(ctm);
        return {0, 0};
    }
    void Leave() {
        Flush();
        if (open) cb.Restore();
        open = false;
    }
    // Inside the group (not nested): alphas as asked.
    void GroupAlpha(std::uint8_t fill, std::uint8_t stroke) {
        if (fill == known.fillAlpha && stroke == known.strokeAlpha) return;
        cb.SetAlpha(fill / 255.0, stroke / 255.0);
        known.fillAlpha = fill, known.strokeAlpha = stroke;
    }
    // Inside a nested q: alphas as asked, the group's state left to its Q.
    void NestedAlpha(std::uint8_t fill, std::uint8_t stroke) {
        if (fill != known.fillAlpha || stroke != known.strokeAlpha) cb.SetAlpha(fill / 255.0, stroke / 255.0);
    }
    void FillColor(const pdfcore::Rgb& c) {
        if (!SameRgb(known.fill, c)) cb.SetFillColor(c), known.fill = c;
    }
    void StrokeColor(const pdfcore::Rgb& c) {
        if (!SameRgb(known.stroke, c)) cb.SetStrokeColor(c), known.stroke = c;
    }
    // A fill at `box` may join the pending one when nothing else changes and
    // it overlaps none of its figures (overlaps could cancel each other out).
    bool JoinsFill(const emf::Matrix& ctm, pdfcore::FillRule rule, const emf::Rect& box) const {
        if (!open || pending != Pending::Fill || pendingRule != rule || !Same(ctm, groupCtm) || pendingBoxes.size() >= 64)
            return false;
        for (auto& b : pendingBoxes)
            if (box.left < b.right && b.left < box.right && box.top < b.bottom && b.top < box.bottom) return false;
        return true;
    }

    // A picture is encoded and stored once however often it is drawn: printed
    // pages repeat their backgrounds and logos on every page.
    std::string ImageName(const emf::Image& img) {
        const std::string form = std::to_string(static_cast<int>(img.format)) + " " + std::to_string(img.width) + " " +
                                 std::to_string(img.height) + " " + std::to_string(img.components);
        auto bytes = [](const auto& v) {
            return std::string_view(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(v[0]));
        };
        const std::string digest = pdfcore::ImageDigest({form, bytes(img.pixels), bytes(img.encoded)});
        return doc.AddImage(digest, [&] { return EncodeImage(img); });
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
    m_->Leave();
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
    switch (paint.kind) {
    case emf::Paint::Kind::Solid: {
        if (paint.color.a == 0) break;
        const pdfcore::Rgb rgb = ToRgb(paint.color);
        if (m_->JoinsFill(ctm, pr, BoundsOf(path)) && paint.color.a == m_->known.fillAlpha && Members::SameRgb(m_->known.fill, rgb)) {
            EmitPath(cb, path);
            m_->pendingBoxes.push_back(BoundsOf(path));
            break;
        }
        m_->Enter(ctm);
        m_->GroupAlpha(paint.color.a, m_->known.strokeAlpha);
        m_->FillColor(rgb);
        EmitPath(cb, path);
        m_->pending = Members::Pending::Fill, m_->pendingRule = pr;
        m_->pendingBoxes.push_back(BoundsOf(path));
        break;
    }
    case emf::Paint::Kind::Hatched: {
        m_->Enter(ctm);
        cb.Save();
        EmitPath(cb, path);
        cb.Clip(pr);
        emf::Rect box = BoundsOf(path);
        m_->NestedAlpha(255, 255);
        if (paint.opaqueBackground) {
            cb.SetFillColor(ToRgb(paint.background));
            cb.Rectangle(box.left, box.top, box.Width(), box.Height());
            cb.Fill(pdfcore::FillRule::NonZero);
        }
        m_->Hatch(box, paint.hatch, paint.color);
        cb.Restore();
        break;
    }
    case emf::Paint::Kind::Pattern: {
        if (!paint.pattern || paint.pattern->width <= 0 || paint.pattern->height <= 0) break;
        const emf::Image& img = *paint.pattern;
        m_->Enter(ctm);
        cb.Save();
        m_->NestedAlpha(255, 255);
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
        } else if (!patternName.empty()) {
            for (double r = 0; r < rows; ++r)
                for (double c = 0; c < cols; ++c) {
                    cb.Save();
                    cb.Concat({w, 0, 0, -h, x0 + c * w, y0 + r * h + h});
                    cb.DrawXObject(patternName);
                    cb.Restore();
                }
        }
        cb.Restore();
        break;
    }
    }
}

void PdfPainter::StrokePath(const emf::Path& path, const emf::StrokeStyle& s, const emf::Color& color,
                            const emf::Matrix& ctm) {
    if (path.Empty() || color.a == 0 || !Invertible(ctm) || !FinitePath(path)) return;
    auto& cb = m_->cb;
    auto& k = m_->known;
    const double width = std::isfinite(s.width) ? std::max(0.0, s.width) : 1;
    const int cap = s.cap == emf::LineCap::Butt ? 0 : s.cap == emf::LineCap::Round ? 1 : 2;
    const int join = s.join == emf::LineJoin::Miter ? 0 : s.join == emf::LineJoin::Round ? 1 : 2;
    const std::optional<double> miter =
        s.join == emf::LineJoin::Miter ? std::optional<double>(std::clamp(s.miterLimit, 1.0, 100.0)) : std::nullopt;
    std::vector<double> dashes;
    for (double d : s.dashes) dashes.push_back(std::isfinite(d) ? std::max(0.0, d) : 0);
    if (std::all_of(dashes.begin(), dashes.end(), [](double d) { return d == 0; })) dashes.clear();
    const std::pair<std::vector<double>, double> dash{dashes, dashes.empty() ? 0.0 : s.dashPhase};
    const pdfcore::Rgb rgb = ToRgb(color);
    const bool sameStyle = k.width == width && k.cap == cap && k.join == join && (!miter || k.miter == miter) &&
                           (k.dash ? *k.dash == dash : dashes.empty()) && Members::SameRgb(k.stroke, rgb) &&
                           k.strokeAlpha == color.a;
    // Opaque strokes of one style paint the same as one stroke of all their figures.
    if (m_->open && m_->pending == Members::Pending::Stroke && Members::Same(ctm, m_->groupCtm) && sameStyle &&
        color.a == 255) {
        EmitPath(cb, path);
        return;
    }
    m_->Enter(ctm);
    m_->GroupAlpha(k.fillAlpha, color.a);
    if (k.width != width) cb.SetLineWidth(width), k.width = width;
    if (k.cap != cap) cb.SetLineCap(cap), k.cap = cap;
    if (k.join != join) cb.SetLineJoin(join), k.join = join;
    if (miter && k.miter != miter) cb.SetMiterLimit(*miter), k.miter = miter;
    if (k.dash ? *k.dash != dash : !dashes.empty()) cb.SetDash(dash.first, dash.second), k.dash = dash;
    m_->StrokeColor(rgb);
    EmitPath(cb, path);
    m_->pending = Members::Pending::Stroke;
}

namespace {

// A run laid out for display: stretches of one font, direction and script,
// in visual order (left to right), each with its glyphs in visual order.
struct LaidGlyph {
    std::uint32_t gid;
    std::size_t unit;  // first UTF-16 unit of the glyph's cluster
    double advance, xOffset, yOffset;  // ems
};
struct LaidItem {
    pdfcore::Font* font;
    std::size_t from, to;  // UTF-16 units
    std::vector<LaidGlyph> glyphs;
};

// Marks and format characters that no font has go with the character before
// them rather than becoming stand-ins of their own.
bool Clinging(char32_t c) {
    switch (hb_unicode_general_category(hb_unicode_funcs_get_default(), c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_FORMAT: return true;
    default: return false;
    }
}

std::vector<LaidItem> LayOut(pdfcore::FontCache& fonts, pdfcore::Font* primary, const emf::TextRun& run) {
    std::vector<LaidItem> items;
    const std::u16string& text = run.text;
    if (run.glyphIndices) {
        // Glyphs of the face in the order they are drawn, one per unit.
        LaidItem it{primary, 0, text.size(), {}};
        for (std::size_t u = 0; u < text.size(); ++u) {
            primary->TextFromCharMap(text[u]);
            it.glyphs.push_back({text[u], u, primary->GlyphAdvance(text[u]), 0, 0});
        }
        items.push_back(std::move(it));
        return items;
    }
    std::vector<std::size_t> unitOf;
    std::u32string cps = Codepoints(text, unitOf);
    const std::size_t n = cps.size();
    bool simple = !run.rtl;
    for (char32_t c : cps) simple = simple && c < 0x0590;

    // Font of each character: the run's face, one that has the character, or
    // none (a stand-in glyph keeps the character's text).
    std::vector<pdfcore::Font*> fontOf(n, primary);
    std::vector<bool> missing(n, false);
    for (std::size_t k = 0; k < n; ++k) {
        if (cps[k] <= 0x20 || primary->HasChar(cps[k])) continue;
        if (pdfcore::Font* alt = fonts.ResolveFor(cps[k], run.weight, run.italic)) fontOf[k] = alt;
        else if (k > 0 && Clinging(cps[k])) fontOf[k] = fontOf[k - 1], missing[k] = missing[k - 1];
        else missing[k] = true;
    }
    // Script of each character; common and inherited ones take their neighbours'.
    // Simple text needs neither scripts nor levels.
    std::vector<std::uint32_t> script(simple ? 0 : n, 0);
    std::vector<FriBidiLevel> level(simple ? 0 : n, 0);
    auto scriptAt = [&](std::size_t k) { return simple ? 0u : script[k]; };
    auto levelAt = [&](std::size_t k) { return simple ? FriBidiLevel(0) : level[k]; };
    if (!simple) {
        hb_unicode_funcs_t* uf = hb_unicode_funcs_get_default();
        std::uint32_t last = 0;
        for (std::size_t k = 0; k < n; ++k) {
            hb_script_t sc = hb_unicode_script(uf, cps[k]);
            if (sc != HB_SCRIPT_COMMON && sc != HB_SCRIPT_INHERITED && sc != HB_SCRIPT_UNKNOWN) last = sc;
            script[k] = last;
        }
        for (std::size_t k = n; k-- > 0;) {
            if (script[k] != 0) last = script[k];
            else script[k] = last;
        }
        std::vector<FriBidiCharType> types(n);
        std::vector<FriBidiBracketType> brackets(n);
        const std::vector<FriBidiChar> chars(cps.begin(), cps.end());
        fribidi_get_bidi_types(chars.data(), FriBidiStrIndex(n), types.data());
        fribidi_get_bracket_types(chars.data(), FriBidiStrIndex(n), types.data(), brackets.data());
        FriBidiParType dir = run.rtl ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
        if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), FriBidiStrIndex(n), &dir, level.data()))
            std::fill(level.begin(), level.end(), FriBidiLevel(run.rtl ? 1 : 0));
    }

    // Stretches in logical order.
    std::vector<FriBidiLevel> itemLevel;
    for (std::size_t k = 0; k < n;) {
        std::size_t e = k + 1;
        while (e < n && fontOf[e] == fontOf[k] && missing[e] == missing[k] && levelAt(e) == levelAt(k) &&
               scriptAt(e) == scriptAt(k))
            ++e;
        const std::size_t from = unitOf[k], to = e < n ? unitOf[e] : text.size();
        LaidItem it{fontOf[k], from, to, {}};
        it.glyphs.reserve(to - from);
        const bool rtl = levelAt(k) & 1;
        bool low = true;
        for (std::size_t j = k; j < e; ++j) low = low && cps[j] < 0x0590;
        if (missing[k]) {
            for (std::size_t j = k; j < e; ++j) {
                const std::uint32_t g = primary->PlaceholderGlyph(platform::Utf16FromUtf32(std::u32string_view(&cps[j], 1)));
                it.glyphs.push_back({g, unitOf[j], primary->GlyphAdvance(g), 0, 0});
            }
            if (rtl) std::reverse(it.glyphs.begin(), it.glyphs.end());
        } else if (!rtl && low) {
            // Characters of the simple scripts one by one (their glyphs are
            // kept in a table); a letter with combining marks is shaped whole.
            for (std::size_t u = from; u < to;) {
                std::size_t end = u + 1;
                while (end < to && text[end] >= 0x0300 && text[end] < 0x0370) ++end;
                const char16_t c = text[u];
                if (end == u + 1 && !(c >= 0xD800 && c < 0xE000)) {
                    pdfcore::ShapedGlyph g = it.font->GlyphOf(c);
                    it.glyphs.push_back({g.gid, u, g.advance, g.xOffset, g.yOffset});
                    ++u;
                    continue;
                }
                while (end < to && text[end] >= 0xDC00 && text[end] < 0xE000) ++end;  // a surrogate pair
                for (auto& g : it.font->Shape(std::u16string_view(text).substr(u, end - u), {false, true, 0}))
                    it.glyphs.push_back({g.gid, u + g.cluster, g.advance, g.xOffset, g.yOffset});
                u = end;
            }
        } else {
            for (auto& g : it.font->Shape(std::u16string_view(text).substr(from, to - from), {rtl, true, scriptAt(k)}))
                it.glyphs.push_back({g.gid, from + std::min<std::size_t>(g.cluster, to - from - 1), g.advance,
                                     g.xOffset, g.yOffset});
        }
        items.push_back(std::move(it));
        itemLevel.push_back(levelAt(k));
        k = e;
    }
    // Visual order: from the highest level down to the lowest odd one, every
    // stretch of items at that level or above turns round.
    if (!simple && !items.empty()) {
        const int top = *std::max_element(itemLevel.begin(), itemLevel.end());
        int lowOdd = top + 1;  // above every level while no odd one is found
        for (FriBidiLevel l : itemLevel)
            if (l & 1) lowOdd = std::min(lowOdd, static_cast<int>(l));
        for (int l = top; l >= lowOdd && l > 0; --l) {
            for (std::size_t i = 0; i < items.size();) {
                if (itemLevel[i] < l) {
                    ++i;
                    continue;
                }
                std::size_t j = i;
                while (j < items.size() && itemLevel[j] >= l) ++j;
                std::reverse(items.begin() + std::ptrdiff_t(i), items.begin() + std::ptrdiff_t(j));
                std::reverse(itemLevel.begin() + std::ptrdiff_t(i), itemLevel.begin() + std::ptrdiff_t(j));
                i = j;
            }
        }
    }
    return items;
}

}  // namespace

std::optional<double> PdfPainter::MeasureText(const emf::TextRun& run) {
    if (run.text.empty() || !(run.emHeight > 0) || !std::isfinite(run.emHeight)) return 0.0;
    if (!run.advances.empty()) {
        double w = 0;
        for (double a : run.advances) w += std::isfinite(a) ? a : 0;
        return w;
    }
    auto& fonts = m_->doc.Fonts();
    pdfcore::Font* primary = fonts.Resolve(run.face.empty() ? "sans-serif" : run.face, run.weight, run.italic);
    double w = 0;
    for (const LaidItem& it : LayOut(fonts, primary, run))
        for (const LaidGlyph& g : it.glyphs) w += g.advance;
    return w * run.emHeight;
}

void PdfPainter::DrawText(const emf::TextRun& run, const emf::Matrix& ctm) {
    if (run.text.empty() || run.color.a == 0 || !Invertible(ctm) || !(run.emHeight > 0) || !std::isfinite(run.emHeight))
        return;
    auto& cb = m_->cb;
    auto& fonts = m_->doc.Fonts();
    const std::string face = run.face.empty() ? "sans-serif" : run.face;
    auto program = m_->programs.find(face);
    pdfcore::Font* primary =
        program != m_->programs.end() ? program->second : fonts.Resolve(face, run.weight, run.italic);
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
    const std::vector<LaidItem> items = LayOut(fonts, primary, run);

    // Synthetic bold leaves a line width and a rendering mode behind, and
    // lines under or through the text change the matrix: those runs, and
    // translucent ones, keep their state to a q/Q of their own.
    bool nested = run.color.a != 255 || run.underline || run.strikeout || m_->known.fillAlpha != 255;
    for (auto& it : items) nested = nested || it.font->SyntheticBold();
    const emf::Point moved = m_->EnterMoved(ctm);
    const double ox = run.origin.x + moved.x, oy = run.origin.y + moved.y;
    if (nested) {
        cb.Save();
        m_->NestedAlpha(run.color.a, run.color.a);
    }
    bool shown = false;
    const double a = run.angle * std::numbers::pi / 180, cs = std::cos(a), sn = std::sin(a);
    // Text space is y up; the run's space is y down.
    const pdfcore::Matrix tm{cs, -sn, -sn, -cs, ox, oy};
    // Without advances glyphs follow one another; with them every cluster
    // takes the advances of its characters, in visual order.
    double pen = 0;
    std::vector<pdfcore::PlacedGlyph> placed;
    std::vector<std::size_t> starts;
    for (const LaidItem& it : items) {
        placed.clear();
        std::size_t cluster = SIZE_MAX;
        double clusterX = 0, inner = 0;
        if (!unitX.empty()) {
            // A cluster runs to the next cluster's start.
            starts.clear();
            for (const LaidGlyph& g : it.glyphs) starts.push_back(g.unit);
            if (!std::is_sorted(starts.begin(), starts.end())) std::sort(starts.begin(), starts.end());
        }
        for (const LaidGlyph& g : it.glyphs) {
            if (unitX.empty()) {
                placed.push_back({g.gid, pen + g.xOffset * em, g.yOffset * em});
                pen += g.advance * em;
                continue;
            }
            if (g.unit != cluster) {
                auto next = std::upper_bound(starts.begin(), starts.end(), g.unit);
                const std::size_t end = next != starts.end() ? std::min(*next, it.to) : it.to;
                cluster = g.unit, clusterX = pen, inner = 0;
                pen += unitX[std::min(end, run.text.size())] - unitX[std::min(g.unit, run.text.size())];
            }
            placed.push_back({g.gid, clusterX + inner + g.xOffset * em, g.yOffset * em});
            inner += g.advance * em;
        }
        // Explicit advances are whole logical units: half a unit either way is rounding.
        if (!placed.empty()) cb.ShowGlyphs(*it.font, em, tm, placed, ToRgb(run.color), unitX.empty() ? 0 : 0.5), shown = true;
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
    if (nested)
        cb.Restore();
    else if (shown)
        m_->known.fill = ToRgb(run.color);  // the text object set it
}

void PdfPainter::DefineFont(const emf::FontProgram& program) {
    const std::string face = platform::Utf8FromUtf16(program.face);
    if (pdfcore::Font* f = m_->doc.Fonts().LoadProgram(program.bytes))
        m_->programs[face] = f;
    else
        m_->programs.erase(face);
}

void PdfPainter::DrawImage(const emf::Image& img, const emf::Matrix& ctm) {
    if (img.width <= 0 || img.height <= 0 || !Invertible(ctm)) return;
    std::string name = m_->ImageName(img);
    if (name.empty()) return;
    auto& cb = m_->cb;
    m_->Enter(ctm);
    cb.Save();
    m_->NestedAlpha(255, 255);
    // Image space has its first row at the top of the unit square (y = 1).
    cb.Concat({1, 0, 0, -1, 0, 1});
    cb.DrawXObject(name);
    cb.Restore();
}

void PdfPainter::PushClip(const emf::Path& path, emf::FillRule rule, const emf::Matrix& ctm) {
    auto& cb = m_->cb;
    m_->Leave();
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
    m_->Leave();
    m_->cb.Restore();
}

}  // namespace pdfpaint
