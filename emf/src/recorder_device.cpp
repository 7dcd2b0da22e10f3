#include "emf/recorder_device.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "emf/dib.h"
#include "emf/font_comment.h"
#include "platform/text.h"

namespace emf {

namespace {

std::int32_t Round(double v) {
    if (!(v == v)) return 0;
    return std::int32_t(std::lround(std::clamp(v, -1e9, 1e9)));
}
PointL Dev(const Matrix& m, Point p) {
    Point q = m.Apply(p);
    return {Round(q.x), Round(q.y)};
}
std::uint32_t Ref(const Color& c) { return Rgb(c.r, c.g, c.b); }
// How much the matrix scales lengths (geometric mean of the axes).
double ScaleOf(const Matrix& m) { return std::sqrt(std::fabs(m.a * m.d - m.b * m.c)); }

struct PenKey {
    std::uint32_t style = 0, width = 0, color = 0;
    std::vector<std::uint32_t> dashes;
    auto operator<=>(const PenKey&) const = default;
};
struct BrushKey {
    std::uint32_t style = 0, color = 0, hatch = 0;
    std::shared_ptr<const Image> pattern;  // held, so that no other picture takes its address
    auto operator<=>(const BrushKey&) const = default;
};
struct FontKey {
    LogFont f;
    bool operator==(const FontKey& o) const {
        return f.height == o.f.height && f.width == o.f.width && f.escapement == o.f.escapement &&
               f.orientation == o.f.orientation && f.weight == o.f.weight && f.italic == o.f.italic &&
               f.underline == o.f.underline && f.strikeOut == o.f.strikeOut && f.charSet == o.f.charSet &&
               f.faceName == o.f.faceName;
    }
};

// What is selected into the recorder's DC; 0 means a stock object.
struct Selection {
    std::uint32_t pen = 0, brush = 0, font = 0;
    PenKey penKey;
    BrushKey brushKey;
    FontKey fontKey;
    bool nullPen = false, nullBrush = false;
    std::int64_t textColor = -1, bkColor = -1, fillMode = -1;
    float miter = -1;
};

// Objects the recorder has created, kept for reuse: a page draws with a few
// fonts, pens and brushes over and over, and every creation record is
// carried into each page slice that is cut from the picture. Least recently
// used entries go first once the cache is full.
template <class Key>
struct ObjectCache {
    struct Entry {
        Key key;
        std::uint32_t handle;
        std::uint64_t used;
    };
    std::vector<Entry> entries;
    std::size_t capacity;
    std::uint64_t clock = 0;

    explicit ObjectCache(std::size_t cap) : capacity(cap) {}
    std::uint32_t Find(const Key& k) {
        for (auto& e : entries)
            if (e.key == k) return e.used = ++clock, e.handle;
        return 0;
    }
    // Adds `h`; returns the handle that made room for it, or 0.
    std::uint32_t Add(const Key& k, std::uint32_t h) {
        std::uint32_t evicted = 0;
        if (entries.size() >= capacity && !entries.empty()) {
            auto old = std::min_element(entries.begin(), entries.end(),
                                        [](const Entry& a, const Entry& b) { return a.used < b.used; });
            evicted = old->handle;
            entries.erase(old);
        }
        entries.push_back({k, h, ++clock});
        return evicted;
    }
};

constexpr std::size_t kCachedFonts = 48, kCachedPens = 24, kCachedBrushes = 24;

}  // namespace

struct Figure {
    std::vector<PointL> pts;
    bool closed = false;
};

// The path as figures of whole device pixels, curves flattened.
std::vector<Figure> Flatten(const Path& p, const Matrix& m, double flatness) {
    std::vector<Figure> figs;
    Point cur{}, start{};
    auto add = [&](Point q) {
        if (figs.empty()) figs.push_back({});
        PointL d{Round(q.x), Round(q.y)};
        auto& pts = figs.back().pts;
        if (pts.empty() || !(pts.back() == d)) pts.push_back(d);
    };
    std::size_t i = 0;
    const auto& pts = p.Points();
    for (auto op : p.Ops()) {
        switch (op) {
        case Path::Op::Move:
            cur = start = m.Apply(pts[i++]);
            if (figs.empty() || !figs.back().pts.empty()) figs.push_back({});
            add(cur);
            break;
        case Path::Op::Line:
            cur = m.Apply(pts[i++]);
            add(cur);
            break;
        case Path::Op::Cubic: {
            Point a = cur, b = m.Apply(pts[i]), c = m.Apply(pts[i + 1]), d = m.Apply(pts[i + 2]);
            i += 3;
            double len = std::hypot(b.x - a.x, b.y - a.y) + std::hypot(c.x - b.x, c.y - b.y) + std::hypot(d.x - c.x, d.y - c.y);
            int n = std::clamp(int(std::ceil(std::sqrt(len / std::max(flatness, 0.01)))), 1, 100);
            for (int k = 1; k <= n; ++k) {
                double t = double(k) / n, u = 1 - t;
                add({u * u * u * a.x + 3 * u * u * t * b.x + 3 * u * t * t * c.x + t * t * t * d.x,
                     u * u * u * a.y + 3 * u * u * t * b.y + 3 * u * t * t * c.y + t * t * t * d.y});
            }
            cur = d;
            break;
        }
        case Path::Op::Close:
            if (!figs.empty()) figs.back().closed = true;
            figs.push_back({});
            cur = start;
            add(cur);  // a figure after a close starts where the closed one began
            break;
        }
    }
    std::vector<Figure> out;
    for (auto& f : figs)
        if (f.pts.size() >= 2 || (f.closed && !f.pts.empty())) out.push_back(std::move(f));
    return out;
}

struct RecorderDevice::Members {
    Recorder& rec;
    RecorderDeviceOptions opt;
    Selection cur;
    std::vector<Selection> saved;
    std::map<std::uint32_t, int> refs;  // created objects still selected somewhere or cached
    ObjectCache<FontKey> fonts{kCachedFonts};
    ObjectCache<PenKey> pens{kCachedPens};
    ObjectCache<BrushKey> brushes{kCachedBrushes};
    bool begun = false;

    Members(Recorder& r, const RecorderDeviceOptions& o) : rec(r), opt(o) {}

    // The cached handle for `k`, else a new one from `create`, cached.
    template <class Key, class Create>
    std::uint32_t Cached(ObjectCache<Key>& cache, const Key& k, Create create) {
        if (std::uint32_t h = cache.Find(k)) return h;
        std::uint32_t h = create();
        AddRef(h);
        Release(cache.Add(k, h));
        return h;
    }
    void ReleaseCached() {
        for (auto& e : fonts.entries) Release(e.handle);
        for (auto& e : pens.entries) Release(e.handle);
        for (auto& e : brushes.entries) Release(e.handle);
        fonts.entries.clear(), pens.entries.clear(), brushes.entries.clear();
    }

    void Lines(const Figure& f) {
        rec.MoveToEx(f.pts[0].x, f.pts[0].y);
        for (std::size_t k = 1; k < f.pts.size(); ++k) rec.LineTo(f.pts[k].x, f.pts[k].y);
        if (f.closed) rec.LineTo(f.pts[0].x, f.pts[0].y);
    }
    void FlatBracket(const std::vector<Figure>& figs) {
        rec.BeginPath();
        for (auto& f : figs) {
            rec.MoveToEx(f.pts[0].x, f.pts[0].y);
            for (std::size_t k = 1; k < f.pts.size(); ++k) rec.LineTo(f.pts[k].x, f.pts[k].y);
            if (f.closed) rec.CloseFigure();
        }
        rec.EndPath();
    }

    void Begin() {
        if (begun) return;
        begun = true;
        rec.SetBkMode(BKMODE_TRANSPARENT);
        rec.SetTextAlign(TA_BASELINE | TA_LEFT);
    }
    void AddRef(std::uint32_t h) {
        if (h) ++refs[h];
    }
    void Release(std::uint32_t h) {
        if (!h) return;
        if (--refs[h] == 0) refs.erase(h), rec.DeleteObject(h);
    }
    void SelectPen(const PenKey& k) {
        if (!cur.nullPen && cur.pen && cur.penKey == k) return;
        std::uint32_t h =
            Cached(pens, k, [&] { return rec.ExtCreatePen(k.style, k.width, BS_SOLID, k.color, 0, k.dashes); });
        rec.SelectObject(h);
        AddRef(h);
        std::uint32_t old = cur.pen;
        cur.pen = h, cur.penKey = k, cur.nullPen = false;
        Release(old);
    }
    void SelectNullPen() {
        if (cur.nullPen) return;
        rec.SelectObject(kStockObject | NULL_PEN);
        std::uint32_t old = cur.pen;
        cur.pen = 0, cur.nullPen = true;
        Release(old);
    }
    void SelectBrush(const BrushKey& k, const Paint& paint) {
        if (!cur.nullBrush && cur.brush && cur.brushKey == k) return;
        std::uint32_t h = Cached(brushes, k, [&] {
            if (k.style == BS_DIBPATTERNPT && paint.pattern) return rec.CreateDibPatternBrush(EncodeDib(*paint.pattern));
            return rec.CreateBrushIndirect(k.style, k.color, k.hatch);
        });
        rec.SelectObject(h);
        AddRef(h);
        std::uint32_t old = cur.brush;
        cur.brush = h, cur.brushKey = k, cur.nullBrush = false;
        Release(old);
    }
    void SelectNullBrush() {
        if (cur.nullBrush) return;
        rec.SelectObject(kStockObject | NULL_BRUSH);
        std::uint32_t old = cur.brush;
        cur.brush = 0, cur.nullBrush = true;
        Release(old);
    }
    void SelectFont(const LogFont& f) {
        FontKey k{f};
        if (cur.font && cur.fontKey == k) return;
        std::uint32_t h = Cached(fonts, k, [&] { return rec.ExtCreateFontIndirectW(f); });
        rec.SelectObject(h);
        AddRef(h);
        std::uint32_t old = cur.font;
        cur.font = h, cur.fontKey = k;
        Release(old);
    }
    void FillMode(FillRule r) {
        std::int64_t m = r == FillRule::EvenOdd ? ALTERNATE : WINDING;
        if (cur.fillMode != m) rec.SetPolyFillMode(std::uint32_t(m)), cur.fillMode = m;
    }
    void TextColor(const Color& c) {
        if (cur.textColor != Ref(c)) rec.SetTextColor(Ref(c)), cur.textColor = Ref(c);
    }
    void BkColor(const Color& c) {
        if (cur.bkColor != Ref(c)) rec.SetBkColor(Ref(c)), cur.bkColor = Ref(c);
    }

    // One figure of straight segments, or nothing when the path has curves or several figures.
    static bool SimpleFigure(const Path& p, const Matrix& m, std::vector<PointL>& pts, bool& closed) {
        closed = false;
        const auto& ops = p.Ops();
        if (ops.empty() || ops[0] != Path::Op::Move) return false;
        std::size_t i = 0;
        for (std::size_t k = 0; k < ops.size(); ++k) {
            if (ops[k] == Path::Op::Cubic || (k > 0 && ops[k] == Path::Op::Move)) return false;
            if (ops[k] == Path::Op::Close) {
                if (k + 1 != ops.size()) return false;
                closed = true;
                continue;
            }
            pts.push_back(Dev(m, p.Points()[i++]));
        }
        return pts.size() >= 2;
    }
    // The device box of a path that is one whole ellipse drawn as four
    // quarter curves (a rounded box with full radii, as round markers are),
    // with no rotation or skew; nothing otherwise.
    static bool WholeEllipse(const Path& p, const Matrix& m, RectL& box) {
        if (m.b != 0 || m.c != 0) return false;
        const auto& ops = p.Ops();
        if (ops.empty() || ops[0] != Path::Op::Move || ops.back() != Path::Op::Close) return false;
        std::vector<Point> on, ctrl;  // curve ends, control points
        std::size_t i = 0;
        Point cur{};
        for (std::size_t k = 0; k < ops.size(); ++k) {
            switch (ops[k]) {
            case Path::Op::Move:
                if (k != 0) return false;
                cur = m.Apply(p.Points()[i++]);
                break;
            case Path::Op::Line: {
                Point q = m.Apply(p.Points()[i++]);
                if (std::fabs(q.x - cur.x) > 1e-6 || std::fabs(q.y - cur.y) > 1e-6) return false;
                break;
            }
            case Path::Op::Cubic:
                ctrl.push_back(m.Apply(p.Points()[i])), ctrl.push_back(m.Apply(p.Points()[i + 1]));
                cur = m.Apply(p.Points()[i + 2]);
                on.push_back(cur);
                i += 3;
                break;
            case Path::Op::Close:
                if (k + 1 != ops.size()) return false;
                break;
            }
        }
        if (on.size() != 4) return false;
        double l = on[0].x, t = on[0].y, r = l, b = t;
        for (auto& q : on) l = std::min(l, q.x), t = std::min(t, q.y), r = std::max(r, q.x), b = std::max(b, q.y);
        const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
        if (!(rx > 0 && ry > 0 && rx < 1e8 && ry < 1e8)) return false;
        const double tol = std::max(0.02, 1e-3 * std::max(rx, ry));
        auto near = [&](Point q, double x, double y) { return std::fabs(q.x - x) <= tol && std::fabs(q.y - y) <= tol; };
        // Every curve runs from one axis end of the ellipse to the next, its
        // control points where a quarter circle puts them.
        constexpr double kappa = 0.5522847498;
        Point start = on[3];
        for (std::size_t c = 0; c < 4; ++c) {
            Point a = start, d = on[c];
            const bool aOnX = near(a, l, cy) || near(a, r, cy);
            const bool aOnY = near(a, cx, t) || near(a, cx, b);
            const bool dOnX = near(d, l, cy) || near(d, r, cy);
            const bool dOnY = near(d, cx, t) || near(d, cx, b);
            if (!((aOnX && dOnY) || (aOnY && dOnX))) return false;
            // From a horizontal-axis end the first control point leaves vertically.
            Point c1 = aOnX ? Point{a.x, a.y + (d.y - a.y) * kappa} : Point{a.x + (d.x - a.x) * kappa, a.y};
            Point c2 = aOnX ? Point{d.x + (a.x - d.x) * kappa, d.y} : Point{d.x, d.y + (a.y - d.y) * kappa};
            if (!near(ctrl[c * 2], c1.x, c1.y) || !near(ctrl[c * 2 + 1], c2.x, c2.y)) return false;
            start = d;
        }
        box = {Round(l), Round(t), Round(r), Round(b)};
        return box.right > box.left && box.bottom > box.top;
    }
    void PathBracket(const Path& p, const Matrix& m) {
        rec.BeginPath();
        std::vector<PointL> run;
        Path::Op runOp = Path::Op::Move;
        auto flush = [&] {
            if (run.empty()) return;
            if (runOp == Path::Op::Line) {
                if (run.size() == 1) rec.LineTo(run[0].x, run[0].y);
                else rec.PolylineTo(run);
            } else {
                rec.PolyBezierTo(run);
            }
            run.clear();
        };
        std::size_t i = 0;
        PointL at{}, start{};
        const auto& ops = p.Ops();
        for (std::size_t n = 0; n < ops.size(); ++n) {
            const Path::Op op = ops[n];
            // A line that goes nowhere before another segment (rounded boxes
            // have them between their corners) draws nothing.
            if (op == Path::Op::Line && n + 1 < ops.size() &&
                (ops[n + 1] == Path::Op::Line || ops[n + 1] == Path::Op::Cubic) && Dev(m, p.Points()[i]) == at) {
                ++i;
                continue;
            }
            if (op != runOp || op == Path::Op::Move || op == Path::Op::Close) flush();
            switch (op) {
            case Path::Op::Move: {
                start = at = Dev(m, p.Points()[i++]);
                rec.MoveToEx(at.x, at.y);
                break;
            }
            case Path::Op::Line: run.push_back(at = Dev(m, p.Points()[i++])); break;
            case Path::Op::Cubic:
                for (int k = 0; k < 3; ++k) run.push_back(at = Dev(m, p.Points()[i++]));
                break;
            case Path::Op::Close: rec.CloseFigure(), at = start; break;
            }
            runOp = op;
        }
        flush();
        rec.EndPath();
    }
};

RecorderDevice::RecorderDevice(Recorder& recorder, const RecorderDeviceOptions& options)
    : m_(std::make_unique<Members>(recorder, options)) {}

RecorderDevice::~RecorderDevice() {
    // Leave no created object behind: select stock objects and delete ours.
    try {
        while (!m_->saved.empty()) PopClip();
        if (m_->cur.pen) m_->rec.SelectObject(kStockObject | BLACK_PEN), m_->Release(m_->cur.pen);
        if (m_->cur.brush) m_->rec.SelectObject(kStockObject | WHITE_BRUSH), m_->Release(m_->cur.brush);
        if (m_->cur.font) m_->rec.SelectObject(kStockObject | DEVICE_DEFAULT_FONT), m_->Release(m_->cur.font);
        m_->ReleaseCached();
    } catch (...) {
        // The recorder was finished before this device: nothing more can be written.
    }
}

void RecorderDevice::BeginPage(const PageInfo&) { m_->Begin(); }
void RecorderDevice::EndPage() {}

void RecorderDevice::FillPath(const Path& path, FillRule rule, const Paint& paint, const Matrix& ctm) {
    if (path.Empty() || (paint.kind == Paint::Kind::Solid && paint.color.a == 0)) return;
    if (paint.kind == Paint::Kind::Pattern && !paint.pattern) return;
    m_->Begin();
    BrushKey k;
    switch (paint.kind) {
    case Paint::Kind::Solid: k.style = BS_SOLID, k.color = Ref(paint.color); break;
    case Paint::Kind::Hatched:
        k.style = BS_HATCHED, k.color = Ref(paint.color), k.hatch = std::uint32_t(paint.hatch);
        if (paint.opaqueBackground) {
            m_->BkColor(paint.background);
            m_->rec.SetBkMode(BKMODE_OPAQUE);
        }
        break;
    case Paint::Kind::Pattern: k.style = BS_DIBPATTERNPT, k.pattern = paint.pattern; break;
    }
    m_->SelectBrush(k, paint);
    m_->FillMode(rule);
    std::vector<PointL> pts;
    bool closed;
    RectL oval;
    if (!m_->opt.sliceSafe && Members::WholeEllipse(path, ctm, oval)) {
        m_->SelectNullPen();
        m_->rec.Ellipse(oval);
    } else if (m_->opt.sliceSafe) {
        auto figs = Flatten(path, ctm, m_->opt.flatness);
        if (figs.size() == 1 && figs[0].pts.size() >= 3) {
            m_->SelectNullPen();
            m_->rec.Polygon(figs[0].pts);
        } else if (!figs.empty()) {
            m_->FlatBracket(figs);
            m_->rec.FillPath();
        }
    } else if (Members::SimpleFigure(path, ctm, pts, closed) && pts.size() >= 3) {
        m_->SelectNullPen();
        m_->rec.Polygon(pts);
    } else {
        m_->PathBracket(path, ctm);
        m_->rec.FillPath();
    }
    if (paint.kind == Paint::Kind::Hatched && paint.opaqueBackground) m_->rec.SetBkMode(BKMODE_TRANSPARENT);
}

void RecorderDevice::StrokePath(const Path& path, const StrokeStyle& s, const Color& color, const Matrix& ctm) {
    if (path.Empty() || color.a == 0) return;
    m_->Begin();
    double scale = ScaleOf(ctm);
    PenKey k;
    k.color = Ref(color);
    if (s.width <= 0) {
        k.style = PS_COSMETIC | PS_SOLID, k.width = 1;
    } else {
        k.style = PS_GEOMETRIC;
        k.style |= s.cap == LineCap::Butt ? PS_ENDCAP_FLAT : s.cap == LineCap::Square ? PS_ENDCAP_SQUARE : PS_ENDCAP_ROUND;
        k.style |= s.join == LineJoin::Miter ? PS_JOIN_MITER : s.join == LineJoin::Bevel ? PS_JOIN_BEVEL : PS_JOIN_ROUND;
        k.width = std::uint32_t(std::max(1, Round(s.width * scale)));
    }
    if (!s.dashes.empty()) {
        k.style = (k.style & ~PS_STYLE_MASK) | PS_USERSTYLE;
        for (double d : s.dashes) k.dashes.push_back(std::uint32_t(std::max(1, Round(d * scale))));
        if (k.dashes.size() % 2) k.dashes.insert(k.dashes.end(), k.dashes.begin(), k.dashes.end());
    }
    m_->SelectPen(k);
    if (s.join == LineJoin::Miter && m_->cur.miter != float(s.miterLimit))
        m_->rec.SetMiterLimit(float(s.miterLimit)), m_->cur.miter = float(s.miterLimit);
    std::vector<PointL> pts;
    bool closed;
    RectL oval;
    if (!m_->opt.sliceSafe && Members::WholeEllipse(path, ctm, oval)) {
        m_->SelectNullBrush();
        m_->rec.Ellipse(oval);
    } else if (m_->opt.sliceSafe) {
        for (auto& f : Flatten(path, ctm, m_->opt.flatness)) {
            if (f.closed && f.pts.size() >= 3) {
                m_->SelectNullBrush();
                m_->rec.Polygon(f.pts);
            } else {
                m_->Lines(f);
            }
        }
    } else if (Members::SimpleFigure(path, ctm, pts, closed)) {
        if (closed && pts.size() >= 3) {
            m_->SelectNullBrush();
            m_->rec.Polygon(pts);
        } else {
            m_->rec.Polyline(pts);
        }
    } else {
        m_->PathBracket(path, ctm);
        m_->rec.StrokePath();
    }
}

void RecorderDevice::DrawText(const TextRun& t, const Matrix& ctm) {
    if (t.text.empty() || t.color.a == 0) return;
    m_->Begin();
    // Baseline direction and glyph scale in device space.
    const double ux = ctm.a, uy = ctm.b;
    const double xs = std::hypot(ux, uy), ys = std::hypot(ctm.c, ctm.d);
    if (xs == 0 || ys == 0) return;
    double angle = t.angle + std::atan2(-uy, ux) * 180 / std::numbers::pi;
    LogFont f;
    f.height = -std::max(1, Round(t.emHeight * ys));
    f.weight = t.weight;
    f.italic = t.italic, f.underline = t.underline, f.strikeOut = t.strikeout;
    f.charSet = std::uint8_t(std::clamp(t.charset, 0, 255));
    f.escapement = f.orientation = Round(angle * 10);
    f.quality = 5;  // cleartype-quality hint, as screen fonts are made
    f.faceName = platform::Utf16FromUtf8(t.face);
    m_->SelectFont(f);
    m_->TextColor(t.color);

    PointL o = Dev(ctm, t.origin);
    std::vector<std::int32_t> dx;
    double total = 0;
    if (!t.advances.empty()) {
        dx.reserve(t.text.size());
        // Rounded so that every glyph lands where the sum of the exact advances puts it.
        double pos = 0;
        std::int32_t placed = 0;
        for (std::size_t i = 0; i < t.text.size(); ++i) {
            pos += (i < t.advances.size() ? t.advances[i] : 0) * xs;
            std::int32_t next = Round(pos);
            dx.push_back(next - placed);
            placed = next;
        }
        total = pos;
    } else {
        total = t.text.size() * t.emHeight * 0.5 * xs;
    }
    // Ink box, rotated with the baseline: ascent above, descent below.
    const double em = t.emHeight * ys, cs = ux / xs, sn = uy / xs;
    double asc = em * 0.95, desc = em * 0.3;
    Point corners[4] = {{0, -asc}, {total, -asc}, {0, desc}, {total, desc}};
    RectL box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (auto c : corners) {
        double x = o.x + c.x * cs - c.y * sn, y = o.y + c.x * sn + c.y * cs;
        box.left = std::min(box.left, Round(std::floor(x))), box.top = std::min(box.top, Round(std::floor(y)));
        box.right = std::max(box.right, Round(std::ceil(x))), box.bottom = std::max(box.bottom, Round(std::ceil(y)));
    }
    // Reading order and glyph indices travel with the text.
    const std::uint32_t options =
        (t.glyphIndices ? std::uint32_t(ETO_GLYPH_INDEX) : 0u) | (t.rtl ? std::uint32_t(ETO_RTLREADING) : 0u);
    m_->rec.ExtTextOutW(o.x, o.y, options, nullptr, t.text, dx, &box);
}

void RecorderDevice::DrawImage(const Image& img, const Matrix& ctm) {
    if (img.width <= 0 || img.height <= 0) return;
    m_->Begin();
    Point p0 = ctm.Apply({0, 0}), p1 = ctm.Apply({1, 1});
    RectL dest{Round(p0.x), Round(p0.y), Round(p1.x), Round(p1.y)};
    if (ctm.b != 0 || ctm.c != 0) {  // rotated: the picture fills its bounding box
        Point q[4] = {p0, ctm.Apply({1, 0}), ctm.Apply({0, 1}), p1};
        double l = q[0].x, tp = q[0].y, r = q[0].x, b = q[0].y;
        for (auto& x : q) l = std::min(l, x.x), tp = std::min(tp, x.y), r = std::max(r, x.x), b = std::max(b, x.y);
        dest = {Round(l), Round(tp), Round(r), Round(b)};
    }
    if (dest.left == dest.right || dest.top == dest.bottom) return;
    RectL src{0, 0, img.width, img.height};
    DibData dib = EncodeDib(img);
    if (dib.info.empty()) return;
    if (img.format == Image::Format::Rgba8)
        m_->rec.AlphaBlend(dest, src, dib);
    else
        m_->rec.StretchDIBits(dest, src, dib);
}

void RecorderDevice::DefineFont(const FontProgram& program) {
    if (program.face.empty() || program.bytes.empty()) return;
    m_->rec.GdiComment(EncodeFontComment(program));
}

void RecorderDevice::PushClip(const Path& path, FillRule rule, const Matrix& ctm) {
    m_->Begin();
    m_->rec.SaveDC();
    Selection s = m_->cur;
    m_->AddRef(s.pen), m_->AddRef(s.brush), m_->AddRef(s.font);
    m_->saved.push_back(s);
    std::vector<PointL> pts;
    bool closed;
    if (Members::SimpleFigure(path, ctm, pts, closed) && pts.size() == 4 && closed &&
        ((pts[0].y == pts[1].y && pts[1].x == pts[2].x && pts[2].y == pts[3].y && pts[3].x == pts[0].x) ||
         (pts[0].x == pts[1].x && pts[1].y == pts[2].y && pts[2].x == pts[3].x && pts[3].y == pts[0].y))) {
        RectL r{std::min(pts[0].x, pts[2].x), std::min(pts[0].y, pts[2].y), std::max(pts[0].x, pts[2].x),
                std::max(pts[0].y, pts[2].y)};
        m_->rec.IntersectClipRect(r);
        return;
    }
    m_->FillMode(rule);
    if (m_->opt.sliceSafe) {
        auto figs = Flatten(path, ctm, m_->opt.flatness);
        if (figs.empty()) {
            m_->rec.IntersectClipRect({0, 0, 0, 0});  // nothing may show
            return;
        }
        m_->FlatBracket(figs);
    } else {
        m_->PathBracket(path, ctm);
    }
    m_->rec.SelectClipPath(RGN_AND);
}

void RecorderDevice::PopClip() {
    if (m_->saved.empty()) return;
    m_->rec.RestoreDC(-1);
    Selection old = m_->cur;
    m_->cur = m_->saved.back();
    m_->saved.pop_back();
    m_->Release(old.pen), m_->Release(old.brush), m_->Release(old.font);
}

}  // namespace emf
