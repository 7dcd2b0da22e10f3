#include "emf/player.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <set>
#include <variant>

#include "bytes.h"
#include "emf/dib.h"
#include "emf/font_comment.h"
#include "emf/layouts.h"
#include "mapping.h"
#include "plus.h"
#include "platform/text.h"

namespace emf {

using namespace detail;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFar = 1e7;  // "everywhere" for complements of clip areas

Color FromRef(std::uint32_t c) {
    if (c & 0x01000000) return {0, 0, 0, 255};  // palette index: no palette here
    return {std::uint8_t(c), std::uint8_t(c >> 8), std::uint8_t(c >> 16), 255};
}

bool Finite(double v) { return std::isfinite(v); }

struct PenObj {
    bool null = false;
    bool geometric = false;
    std::uint32_t style = PS_SOLID;
    double width = 0;  // logical units (geometric) or pixels (cosmetic)
    Color color{0, 0, 0, 255};
    std::vector<double> userDashes;
};
struct BrushObj {
    bool null = false;
    std::uint32_t style = BS_SOLID;
    Color color{255, 255, 255, 255};
    std::uint32_t hatch = 0;
    std::shared_ptr<const Image> pattern;
};
struct FontObj {
    LogFont lf;
};
struct OtherObj {};
using Object = std::variant<std::monostate, PenObj, BrushObj, FontObj, OtherObj>;

struct ClipElem {
    Path path;  // metafile device pixels
    FillRule rule = FillRule::NonZero;
};
using ClipList = std::vector<std::shared_ptr<const ClipElem>>;

struct Dc {
    Mapping map;
    Point cur;
    PenObj pen;
    BrushObj brush;
    FontObj font;
    Color textColor{0, 0, 0, 255}, bkColor{255, 255, 255, 255};
    std::uint32_t bkMode = BKMODE_OPAQUE, polyFill = ALTERNATE, textAlign = 0, arcDir = AD_COUNTERCLOCKWISE;
    double miterLimit = 10;
    ClipList clip;
};

PenObj StockPen(std::uint32_t n) {
    PenObj p;
    p.width = 1;  // the stock pens draw one pixel wide
    if (n == NULL_PEN) p.null = true;
    if (n == WHITE_PEN) p.color = {255, 255, 255, 255};
    return p;
}
BrushObj StockBrush(std::uint32_t n) {
    BrushObj b;
    static const std::uint8_t kGrey[] = {255, 192, 128, 64, 0};
    if (n == NULL_BRUSH) b.null = true;
    else if (n <= BLACK_BRUSH) b.color = {kGrey[n], kGrey[n], kGrey[n], 255};
    return b;  // DC_BRUSH: white
}
FontObj StockFont(std::uint32_t n) {
    FontObj f;
    bool fixed = n == OEM_FIXED_FONT || n == ANSI_FIXED_FONT || n == SYSTEM_FIXED_FONT;
    f.lf.height = (n == SYSTEM_FONT || n == DEVICE_DEFAULT_FONT || n == SYSTEM_FIXED_FONT) ? 16 : 13;
    f.lf.faceName = fixed ? u"monospace" : u"sans-serif";
    f.lf.weight = n == SYSTEM_FONT ? 700 : 400;
    return f;
}

// Windows-1252 for the bytes of single-byte text records.
char16_t FromCp1252(std::uint8_t b) {
    static const char16_t k80[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? k80[b - 0x80] : char16_t(b);
}

Path MapPath(const Path& p, const Matrix& m) {
    Path o;
    std::size_t i = 0;
    const auto& pts = p.Points();
    for (auto op : p.Ops()) {
        switch (op) {
        case Path::Op::Move: o.MoveTo(m.Apply(pts[i++])); break;
        case Path::Op::Line: o.LineTo(m.Apply(pts[i++])); break;
        case Path::Op::Cubic: {
            Point a = m.Apply(pts[i]), b = m.Apply(pts[i + 1]), c = m.Apply(pts[i + 2]);
            i += 3;
            o.CubicTo(a, b, c);
            break;
        }
        case Path::Op::Close: o.Close(); break;
        }
    }
    return o;
}

void AppendPath(Path& into, const Path& p) {
    std::size_t i = 0;
    const auto& pts = p.Points();
    for (auto op : p.Ops()) {
        switch (op) {
        case Path::Op::Move: into.MoveTo(pts[i++]); break;
        case Path::Op::Line: into.LineTo(pts[i++]); break;
        case Path::Op::Cubic: into.CubicTo(pts[i], pts[i + 1], pts[i + 2]), i += 3; break;
        case Path::Op::Close: into.Close(); break;
        }
    }
}

// Elliptic arc of the ellipse centred at c with radii r, from parameter t0
// over `sweep` radians; t grows counter-clockwise on a y-down page.
void AddArc(Path& p, Point c, Point r, double t0, double sweep, bool connect) {
    // Exact values at the quarter turns keep axis points on the axes.
    auto cs = [](double t) { double v = std::cos(t); return std::fabs(v) < 1e-12 ? 0.0 : v; };
    auto sn = [](double t) { double v = std::sin(t); return std::fabs(v) < 1e-12 ? 0.0 : v; };
    auto at = [&](double t) { return Point{c.x + r.x * cs(t), c.y - r.y * sn(t)}; };
    auto der = [&](double t) { return Point{-r.x * sn(t), -r.y * cs(t)}; };
    Point start = at(t0);
    if (connect && !p.Empty()) p.LineTo(start);
    else p.MoveTo(start);
    int n = std::max(1, int(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)));
    double d = sweep / n, k = 4.0 / 3.0 * std::tan(d / 4);
    for (int i = 0; i < n; ++i) {
        double a = t0 + d * i, b = a + d;
        Point p0 = at(a), p3 = at(b), d0 = der(a), d1 = der(b);
        p.CubicTo({p0.x + k * d0.x, p0.y + k * d0.y}, {p3.x - k * d1.x, p3.y - k * d1.y}, p3);
    }
}

double ParamOf(Point c, Point r, Point p) {
    double x = r.x != 0 ? (p.x - c.x) / r.x : 0, y = r.y != 0 ? -(p.y - c.y) / r.y : 0;
    return std::atan2(y, x);
}

Path ComplementOf(const Path& p) {
    Path o;
    o.AddRect({-kFar, -kFar, kFar, kFar});
    AppendPath(o, p);
    return o;
}

}  // namespace

// Passes calls on to the device; drawing is left out while muted (the plain
// records that repeat what extended records drew). Clips always pass, so
// that the player's record of them stays true.
class Gate : public Device {
public:
    explicit Gate(Device& d) : d_(d) {}
    bool muted = false;
    void BeginPage(const PageInfo& p) override { d_.BeginPage(p); }
    void EndPage() override { d_.EndPage(); }
    std::optional<double> MeasureText(const TextRun& t) override { return d_.MeasureText(t); }
    void FillPath(const Path& p, FillRule r, const Paint& paint, const Matrix& m) override {
        if (!muted) d_.FillPath(p, r, paint, m);
    }
    void StrokePath(const Path& p, const StrokeStyle& s, const Color& c, const Matrix& m) override {
        if (!muted) d_.StrokePath(p, s, c, m);
    }
    void DrawText(const TextRun& t, const Matrix& m) override {
        if (!muted) d_.DrawText(t, m);
    }
    void DrawImage(const Image& i, const Matrix& m) override {
        if (!muted) d_.DrawImage(i, m);
    }
    void PushClip(const Path& p, FillRule r, const Matrix& m) override { d_.PushClip(p, r, m); }
    void PopClip() override { d_.PopClip(); }
    // Font programs are no drawing: they pass even while the plain records are muted.
    void DefineFont(const FontProgram& f) override { d_.DefineFont(f); }

private:
    Device& d_;
};

class PlayerImpl {
public:
    PlayerImpl(std::span<const std::uint8_t> bytes, const Metafile& mf, Device& dev, const PlayOptions& opt,
               PlayResult& res)
        : bytes_(bytes), mf_(mf), gate_(dev), dev_(gate_), plus_(dev, opt.base), opt_(opt), res_(res) {
        const Header& h = mf.header;
        if (h.device.cx > 0 && h.millimeters.cx > 0) dc_.map.pxPerMmX = double(h.device.cx) / h.millimeters.cx;
        if (h.device.cy > 0 && h.millimeters.cy > 0) dc_.map.pxPerMmY = double(h.device.cy) / h.millimeters.cy;
        if (h.micrometers.cx > 0 && h.micrometers.cy > 0 && h.device.cx > 0 && h.device.cy > 0) {
            dc_.map.pxPerMmX = h.device.cx * 1000.0 / h.micrometers.cx;
            dc_.map.pxPerMmY = h.device.cy * 1000.0 / h.micrometers.cy;
        }
        dc_.pen = StockPen(BLACK_PEN), dc_.brush = StockBrush(WHITE_BRUSH), dc_.font = StockFont(SYSTEM_FONT);
        objects_.resize(std::max<std::size_t>(h.handles, 1));
    }

    void Run() {
        if (opt_.pageBrackets) {
            Rect f = FrameInPixels(mf_.header);
            dev_.BeginPage({f.Width(), f.Height(), dc_.map.pxPerMmX * 25.4});
        }
        for (std::size_t i = 1; i < mf_.records.size(); ++i) {
            if (skipNext_) {
                skipNext_ = false;
                ++res_.played;
                continue;
            }
            index_ = i;
            rec_ = mf_.records[i];
            v_ = rec_.View(bytes_);
            const std::size_t before = res_.diagnostics.size();
            if (rec_.type != EMR_LINETO && rec_.type != EMR_MOVETOEX) FlushLines();
            const bool done = One();
            if (!done || res_.diagnostics.size() != before) {
                if (opt_.strict) {
                    res_.ok = false;
                    break;
                }
            }
            if (done) ++res_.played;
            if (rec_.type == EMR_EOF) break;
        }
        FlushLines();
        if (sawPlus_ && !drew_ && !plus_.Drew()) {
            rec_ = mf_.records.back(), index_ = mf_.records.size() - 1;
            Warn("only extended (EMF+) drawing records, which are not shown");
        }
        while (!pushed_.empty()) dev_.PopClip(), pushed_.pop_back();
        if (opt_.pageBrackets) dev_.EndPage();
    }

private:
    std::span<const std::uint8_t> bytes_;
    const Metafile& mf_;
    Gate gate_;
    Device& dev_;
    detail::PlusPlayer plus_;
    const PlayOptions& opt_;
    PlayResult& res_;
    std::size_t index_ = 0;
    Record rec_;
    RecordView v_;
    Dc dc_;
    std::vector<Dc> saved_;
    std::vector<Object> objects_;
    ClipList pushed_;
    Path path_;
    bool inPath_ = false, pathWidened_ = false;
    bool sawPlus_ = false, drew_ = false;
    bool skipNext_ = false;  // the next record was played with this one
    std::set<std::uint32_t> warnedTypes_;
    // Consecutive LINETO records outside a path are stroked as one path, so
    // that dashes run on and corners join as one polyline would.
    Path lines_;
    Point linesEnd_;

    void FlushLines() {
        if (lines_.Empty()) return;
        Path p = std::move(lines_);
        lines_ = Path{};
        StrokeDev(p);
    }

    bool Warn(const std::string& msg) {
        if (res_.diagnostics.size() < opt_.maxDiagnostics)
            res_.diagnostics.push_back({opt_.strict ? Diagnostic::Severity::Error : Diagnostic::Severity::Warning,
                                        rec_.offset, index_, rec_.type, msg});
        return false;
    }
    bool Short() { return Warn("record too short for its fields"); }
    bool Unsupported(const char* what) {
        if (warnedTypes_.insert(rec_.type).second) Warn(std::string(what) + " not shown");
        return true;
    }

    Matrix L2D() const { return dc_.map.LogicalToDevice(); }
    Point Dev(Point p) const { return L2D().Apply(p); }

    // ---- clipping
    void SyncClip() {
        drew_ = true;  // every drawing call comes through here first
        std::size_t k = 0;
        while (k < pushed_.size() && k < dc_.clip.size() && pushed_[k] == dc_.clip[k]) ++k;
        while (pushed_.size() > k) dev_.PopClip(), pushed_.pop_back();
        for (std::size_t i = k; i < dc_.clip.size(); ++i) {
            dev_.PushClip(dc_.clip[i]->path, dc_.clip[i]->rule, opt_.base);
            pushed_.push_back(dc_.clip[i]);
        }
    }
    // More nested clip areas than any drawing needs is hostile input: each
    // saved state copies them and each drawing call compares them.
    static constexpr std::size_t kMaxClipDepth = 64;

    void CombineClip(Path p, FillRule rule, std::uint32_t mode) {
        if ((mode == RGN_AND || mode == RGN_DIFF) && dc_.clip.size() >= kMaxClipDepth) {
            Warn("too many nested clip areas; this one is ignored");
            return;
        }
        auto elem = [&](Path q, FillRule r) {
            auto e = std::make_shared<ClipElem>();
            e->path = std::move(q), e->rule = r;
            return std::shared_ptr<const ClipElem>(e);
        };
        switch (mode) {
        case RGN_COPY: dc_.clip = {elem(std::move(p), rule)}; break;
        case RGN_AND: dc_.clip.push_back(elem(std::move(p), rule)); break;
        case RGN_DIFF: dc_.clip.push_back(elem(ComplementOf(p), FillRule::EvenOdd)); break;
        case RGN_OR:
        case RGN_XOR:
            if (dc_.clip.empty()) {
                if (mode == RGN_XOR) dc_.clip.push_back(elem(ComplementOf(p), FillRule::EvenOdd));
            } else if (dc_.clip.size() == 1) {
                Path u = dc_.clip[0]->path;
                AppendPath(u, p);
                dc_.clip = {elem(std::move(u), mode == RGN_OR ? FillRule::NonZero : FillRule::EvenOdd)};
            } else {
                Warn("union of nested clip areas approximated by the last area");
                dc_.clip = {elem(std::move(p), rule)};
            }
            break;
        default: Warn("unknown region mode " + std::to_string(mode));
        }
    }

    // ---- painting
    FillRule Rule() const { return dc_.polyFill == WINDING ? FillRule::NonZero : FillRule::EvenOdd; }
    Paint BrushPaint(const BrushObj& b) const {
        Paint p;
        switch (b.style) {
        case BS_HATCHED:
            p.kind = Paint::Kind::Hatched, p.color = b.color, p.hatch = Hatch(std::min<std::uint32_t>(b.hatch, 5));
            p.opaqueBackground = dc_.bkMode == BKMODE_OPAQUE, p.background = dc_.bkColor;
            break;
        case BS_PATTERN:
        case BS_DIBPATTERN:
        case BS_DIBPATTERNPT:
            if (b.pattern) {
                p.kind = Paint::Kind::Pattern, p.pattern = b.pattern;
                break;
            }
            [[fallthrough]];
        default: p.color = b.color;
        }
        return p;
    }
    void FillDev(const Path& devPath) {
        if (dc_.brush.null || devPath.Empty()) return;
        SyncClip();
        dev_.FillPath(devPath, Rule(), BrushPaint(dc_.brush), opt_.base);
    }
    StrokeStyle PenStroke() const {
        const PenObj& p = dc_.pen;
        StrokeStyle s;
        Matrix m = L2D();
        double scale = std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
        // A pen of width 0 is a hairline: the thinnest line the output shows.
        const bool hairline = p.width == 0;
        double w = p.geometric ? p.width * scale : std::max(1.0, p.width);
        if (!p.geometric && p.width <= 1) w = 1;
        if (hairline) w = 0;
        s.width = w;
        std::uint32_t cap = p.style & PS_ENDCAP_MASK, join = p.style & PS_JOIN_MASK;
        s.cap = cap == PS_ENDCAP_FLAT ? LineCap::Butt : cap == PS_ENDCAP_SQUARE ? LineCap::Square : LineCap::Round;
        s.join = join == PS_JOIN_MITER ? LineJoin::Miter : join == PS_JOIN_BEVEL ? LineJoin::Bevel : LineJoin::Round;
        if (!p.geometric && w <= 1) s.cap = LineCap::Butt, s.join = LineJoin::Miter;
        s.miterLimit = dc_.miterLimit;
        double u = p.geometric && !hairline ? w : 1;  // dash unit
        switch (p.style & PS_STYLE_MASK) {
        case PS_DASH: s.dashes = p.geometric ? std::vector<double>{3 * u, u} : std::vector<double>{18, 6}; break;
        case PS_DOT: s.dashes = p.geometric ? std::vector<double>{u, u} : std::vector<double>{3, 3}; break;
        case PS_DASHDOT:
            s.dashes = p.geometric ? std::vector<double>{3 * u, u, u, u} : std::vector<double>{9, 6, 3, 6};
            break;
        case PS_DASHDOTDOT:
            s.dashes = p.geometric ? std::vector<double>{3 * u, u, u, u, u, u} : std::vector<double>{9, 3, 3, 3, 3, 3};
            break;
        case PS_ALTERNATE: s.dashes = {1, 1}; break;
        case PS_USERSTYLE:
            for (double d : p.userDashes) s.dashes.push_back(p.geometric ? d * scale : d);
            if (std::all_of(s.dashes.begin(), s.dashes.end(), [](double d) { return d <= 0; })) s.dashes.clear();
            break;
        }
        if (s.cap != LineCap::Butt && !s.dashes.empty() && (p.style & PS_STYLE_MASK) != PS_USERSTYLE)
            s.cap = LineCap::Butt;  // styled lines have flat dash ends
        return s;
    }
    void StrokeDev(const Path& devPath) {
        if (dc_.pen.null || devPath.Empty()) return;
        SyncClip();
        dev_.StrokePath(devPath, PenStroke(), dc_.pen.color, opt_.base);
    }
    // A shape given in logical units: added to the open path, or filled and stroked.
    void Shape(const Path& logical, bool fill, bool stroke) {
        Path d = MapPath(logical, L2D());
        if (inPath_) {
            AppendPath(path_, d);
            return;
        }
        if (fill) FillDev(d);
        if (stroke) StrokeDev(d);
    }
    // A segment sequence continuing from the current position.
    void ContinuePath(const Path& logicalTail) {
        Path d = MapPath(logicalTail, L2D());
        if (inPath_) {
            if (path_.Empty() || path_.Ops().back() == Path::Op::Close) path_.MoveTo(Dev(dc_.cur));
            AppendPath(path_, d);
            return;
        }
        Path s;
        s.MoveTo(Dev(dc_.cur));
        AppendPath(s, d);
        StrokeDev(s);
    }

    // ---- field helpers
    bool Pts(std::size_t off, std::uint64_t count, bool is16, std::vector<Point>& out) {
        std::span<const std::uint8_t> a;
        if (!v_.Array(off, count, is16 ? 4 : 8, a)) return Warn("point count " + std::to_string(count) + " exceeds the record");
        out.resize(std::size_t(count));
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (is16)
                out[i] = {double(std::int16_t(GetU16(a.data() + i * 4))), double(std::int16_t(GetU16(a.data() + i * 4 + 2)))};
            else
                out[i] = {double(GetI32(a.data() + i * 8)), double(GetI32(a.data() + i * 8 + 4))};
        }
        return true;
    }
    Object* Obj(std::uint32_t ih, bool create) {
        if (ih == 0 || ih >= 65536) {
            Warn("object index " + std::to_string(ih) + " out of range");
            return nullptr;
        }
        if (ih >= objects_.size()) {
            if (!create) {
                Warn("object index " + std::to_string(ih) + " beyond the handle table");
                return nullptr;
            }
            objects_.resize(ih + 1);
        }
        return &objects_[ih];
    }
    bool DibFrom(std::size_t offBmiAt, std::uint32_t usage, Image& img, const DibDecodeOptions& base = {}) {
        std::uint32_t offBmi, cbBmi, offBits, cbBits;
        if (!v_.U32(offBmiAt, offBmi) || !v_.U32(offBmiAt + 4, cbBmi) || !v_.U32(offBmiAt + 8, offBits) ||
            !v_.U32(offBmiAt + 12, cbBits))
            return Short();
        std::span<const std::uint8_t> info, bits;
        if (!v_.Slice(offBmi, cbBmi, info)) return Warn("bitmap header outside the record");
        if (!v_.Slice(offBits, cbBits, bits)) return Warn("bitmap bits outside the record");
        DibDecodeOptions o = base;
        o.usage = usage;
        std::string err;
        if (!DecodeDib(info, bits, img, err, o)) return Warn(err);
        return true;
    }
    // Taken by value: the whole picture, the common case, moves through without a copy.
    static Image Crop(Image img, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
        if (img.Encoded()) return img;
        x = std::clamp<std::int64_t>(x, 0, img.width), y = std::clamp<std::int64_t>(y, 0, img.height);
        w = std::clamp<std::int64_t>(w, 0, img.width - x), h = std::clamp<std::int64_t>(h, 0, img.height - y);
        if (x == 0 && y == 0 && w == img.width && h == img.height) return img;
        Image o = img;
        o.width = int(w), o.height = int(h);
        std::size_t C = std::size_t(img.components);
        o.pixels.resize(std::size_t(w * h) * C);
        for (std::int64_t r = 0; r < h; ++r)
            std::copy_n(&img.pixels[(std::size_t(y + r) * img.width + std::size_t(x)) * C], std::size_t(w) * C,
                        &o.pixels[std::size_t(r * w) * C]);
        return o;
    }
    void DrawImageAt(const Image& img, Point p, Point size) {
        if (img.width <= 0 || img.height <= 0 || size.x == 0 || size.y == 0) return;
        SyncClip();
        Matrix m = Matrix::Scale(size.x, size.y).Then(Matrix::Translate(p.x, p.y)).Then(L2D()).Then(opt_.base);
        dev_.DrawImage(img, m);
    }
    void FillRectLogical(double x, double y, double w, double h, const Color& c) {
        Path r;
        r.AddRect({x, y, x + w, y + h});
        Paint p;
        p.color = c;
        SyncClip();
        dev_.FillPath(MapPath(r, L2D()), FillRule::NonZero, p, opt_.base);
    }
    static Image WithAlphaWhere(const Image& src, auto transparent) {
        if (src.Encoded()) return src;
        Image o = src;
        const std::size_t n = std::size_t(src.width) * src.height, C = std::size_t(src.components);
        o.format = Image::Format::Rgba8, o.components = 4;
        o.pixels.resize(n * 4);
        for (std::size_t i = n; i-- > 0;) {
            const std::uint8_t* s = &src.pixels[i * C];
            std::uint8_t r = s[0], g = s[1], b = s[2], a = C == 4 ? s[3] : 255;
            if (transparent(i, r, g, b)) a = 0;
            std::uint8_t* d = &o.pixels[i * 4];
            d[0] = r, d[1] = g, d[2] = b, d[3] = a;
        }
        return o;
    }

    bool One();
    bool Text(bool wide);
    bool SmallText();
    bool PolyText(bool wide);
    bool ShowText(PointL ref, std::uint32_t options, const RectL* clipRect, std::u16string text,
                  std::vector<double> dx);
    struct BlitParts {
        std::uint32_t rop = SRCCOPY, rawRop = SRCCOPY;
        std::int32_t xd = 0, yd = 0, cxd = 0, cyd = 0;
        Image src;  // the source rectangle
    };
    int ReadBlit(BlitParts& out);
    std::optional<Image> PairedMask(const BlitParts& mask);
    bool Blit();
    bool Region();
    bool Gradient();
};

bool PlayerImpl::One() {
    const std::uint32_t t = rec_.type;
    std::uint32_t u = 0;
    std::int32_t a = 0, b = 0;
    switch (t) {
    case EMR_EOF: return true;
    case EMR_HEADER: return Warn("header record inside the records");
    case EMR_GDICOMMENT: {
        std::uint32_t cb, id;
        if (!v_.U32(8, cb)) return Short();
        std::span<const std::uint8_t> d;
        if (!v_.Slice(12, cb, d)) return Warn("comment data exceeds the record");
        if (cb >= 4 && v_.U32(12, id) && id == kEmfPlusComment) {
            sawPlus_ = true;
            FlushLines();
            std::vector<std::string> warnings;
            // Plain records that repeat what the extended ones drew are left out.
            gate_.muted = plus_.Comment(d.subspan(4), warnings);
            for (const std::string& w : warnings) Warn(w + "; the plain records are shown instead");
            return true;
        }
        if (auto font = DecodeFontComment(d)) dev_.DefineFont(*font);
        return true;
    }
    // ---- state
    case EMR_SETMAPMODE:
        if (!v_.U32(8, u)) return Short();
        if (u < MM_TEXT || u > MM_ANISOTROPIC) return Warn("unknown mapping mode " + std::to_string(u));
        dc_.map.mapMode = u;
        if (u != MM_ISOTROPIC && u != MM_ANISOTROPIC && u != MM_TEXT) {
            dc_.map.windowExt = {1, 1}, dc_.map.viewportExt = {1, 1};
        }
        return true;
    case EMR_SETWINDOWEXTEX:
    case EMR_SETVIEWPORTEXTEX:
        if (!v_.I32(8, a) || !v_.I32(12, b)) return Short();
        if (a == 0 || b == 0) return Warn("zero extent ignored");
        (t == EMR_SETWINDOWEXTEX ? dc_.map.windowExt : dc_.map.viewportExt) = {double(a), double(b)};
        return true;
    case EMR_SETWINDOWORGEX:
    case EMR_SETVIEWPORTORGEX:
        if (!v_.I32(8, a) || !v_.I32(12, b)) return Short();
        (t == EMR_SETWINDOWORGEX ? dc_.map.windowOrg : dc_.map.viewportOrg) = {double(a), double(b)};
        return true;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
        std::int32_t xn, xd, yn, yd;
        if (!v_.I32(8, xn) || !v_.I32(12, xd) || !v_.I32(16, yn) || !v_.I32(20, yd)) return Short();
        if (xd == 0 || yd == 0 || xn == 0 || yn == 0) return Warn("zero scale factor ignored");
        Point& e = t == EMR_SCALEVIEWPORTEXTEX ? dc_.map.viewportExt : dc_.map.windowExt;
        e = {e.x * xn / xd, e.y * yn / yd};
        return true;
    }
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: {
        float f[6];
        for (int i = 0; i < 6; ++i)
            if (!v_.F32(8 + 4 * std::size_t(i), f[i])) return Short();
        Matrix x{f[0], f[1], f[2], f[3], f[4], f[5]};
        std::uint32_t mode = MWT_SET;
        if (t == EMR_MODIFYWORLDTRANSFORM && !v_.U32(32, mode)) return Short();
        if (mode == MWT_IDENTITY) {
            dc_.map.world = {};
            return true;
        }
        for (double c : {x.a, x.b, x.c, x.d, x.e, x.f})
            if (!Finite(c) || std::fabs(c) > 1e12) return Warn("transform with invalid numbers ignored");
        if (x.a * x.d - x.b * x.c == 0) return Warn("singular transform ignored");
        if (mode == MWT_LEFTMULTIPLY) dc_.map.world = x.Then(dc_.map.world);
        else if (mode == MWT_RIGHTMULTIPLY) dc_.map.world = dc_.map.world.Then(x);
        else if (mode == MWT_SET) dc_.map.world = x;
        else return Warn("unknown transform mode " + std::to_string(mode));
        return true;
    }
    case EMR_SAVEDC:
        if (saved_.size() >= 10000) return Warn("too many saved states");
        saved_.push_back(dc_);
        return true;
    case EMR_RESTOREDC: {
        if (!v_.I32(8, a)) return Short();
        std::size_t keep;
        if (a < 0) {
            if (std::uint64_t(-std::int64_t(a)) > saved_.size()) return Warn("restore beyond the saved states");
            keep = saved_.size() - std::size_t(-std::int64_t(a));
        } else {
            if (a == 0 || std::size_t(a) > saved_.size()) return Warn("restore of a state that was not saved");
            keep = std::size_t(a) - 1;
        }
        dc_ = saved_[keep];
        saved_.resize(keep);
        return true;
    }
    case EMR_SETBKMODE:
        if (!v_.U32(8, u)) return Short();
        dc_.bkMode = u;
        return true;
    case EMR_SETPOLYFILLMODE:
        if (!v_.U32(8, u)) return Short();
        dc_.polyFill = u;
        return true;
    case EMR_SETTEXTALIGN:
        if (!v_.U32(8, u)) return Short();
        dc_.textAlign = u;
        return true;
    case EMR_SETARCDIRECTION:
        if (!v_.U32(8, u)) return Short();
        dc_.arcDir = u;
        return true;
    case EMR_SETTEXTCOLOR:
    case EMR_SETBKCOLOR:
        if (!v_.U32(8, u)) return Short();
        (t == EMR_SETTEXTCOLOR ? dc_.textColor : dc_.bkColor) = FromRef(u);
        return true;
    case EMR_SETMITERLIMIT: {
        float f;
        if (!v_.U32(8, u) || !v_.F32(8, f)) return Short();
        // Written as an integer by some producers and as a float by others.
        double m = u <= 1000 ? double(u) : double(f);
        if (Finite(m) && m >= 1 && m <= 1000) dc_.miterLimit = m;
        return true;
    }
    case EMR_MOVETOEX: {
        PointL p;
        if (!v_.Point(8, p)) return Short();
        dc_.cur = {double(p.x), double(p.y)};
        if (inPath_) path_.MoveTo(Dev(dc_.cur));
        return true;
    }
    case EMR_SETROP2:
    case EMR_SETSTRETCHBLTMODE:
    case EMR_SETMAPPERFLAGS:
    case EMR_SETICMMODE:
    case EMR_SETLAYOUT:
    case EMR_SETBRUSHORGEX:
    case EMR_SETMETARGN:
    case EMR_REALIZEPALETTE:
    case EMR_SELECTPALETTE:
    case EMR_SETPALETTEENTRIES:
    case EMR_RESIZEPALETTE:
    case EMR_SETCOLORADJUSTMENT:
    case EMR_SETCOLORSPACE:
    case EMR_DELETECOLORSPACE:
    case EMR_SETICMPROFILEA:
    case EMR_SETICMPROFILEW:
    case EMR_COLORCORRECTPALETTE:
    case EMR_FORCEUFIMAPPING:
    case EMR_SETLINKEDUFIS:
    case EMR_SETTEXTJUSTIFICATION:
    case EMR_COLORMATCHTOTARGETW:
    case EMR_PIXELFORMAT:
        return true;  // no effect on a vector page

    // ---- objects
    case EMR_CREATEPEN: {
        std::uint32_t ih, style, color;
        std::int32_t w;
        if (!v_.U32(8, ih) || !v_.U32(12, style) || !v_.I32(16, w) || !v_.U32(24, color)) return Short();
        Object* o = Obj(ih, true);
        if (!o) return false;
        PenObj p;
        p.style = style;
        p.null = (style & PS_STYLE_MASK) == PS_NULL;
        p.geometric = w > 1;  // a wide pen of this kind scales with the mapping
        p.width = std::fabs(double(w));
        p.color = FromRef(color);
        *o = p;
        return true;
    }
    case EMR_EXTCREATEPEN: {
        std::uint32_t ih, style, width, bstyle, color, n;
        using L = layout::ExtCreatePen;
        if (!v_.U32(L::handle, ih) || !v_.U32(L::style, style) || !v_.U32(L::width, width) ||
            !v_.U32(L::brushStyle, bstyle) || !v_.U32(L::color, color) || !v_.U32(L::dashCount, n))
            return Short();
        Object* o = Obj(ih, true);
        if (!o) return false;
        PenObj p;
        p.style = style;
        p.geometric = (style & PS_TYPE_MASK) == PS_GEOMETRIC;
        p.width = width;
        p.null = (style & PS_STYLE_MASK) == PS_NULL || bstyle == BS_NULL;
        p.color = FromRef(color);
        if ((style & PS_STYLE_MASK) == PS_USERSTYLE) {
            std::span<const std::uint8_t> e;
            if (!v_.Array(L::dashes, n, 4, e)) return Warn("dash count exceeds the record");
            for (std::size_t i = 0; i < n && i < 64; ++i) p.userDashes.push_back(GetU32(e.data() + i * 4));
        }
        *o = p;
        return true;
    }
    case EMR_CREATEBRUSHINDIRECT: {
        std::uint32_t ih, style, color, hatch;
        if (!v_.U32(8, ih) || !v_.U32(12, style) || !v_.U32(16, color) || !v_.U32(20, hatch)) return Short();
        Object* o = Obj(ih, true);
        if (!o) return false;
        BrushObj br;
        br.style = style == BS_HATCHED ? BS_HATCHED : BS_SOLID;
        br.null = style == BS_NULL;
        br.color = FromRef(color), br.hatch = hatch;
        *o = br;
        return true;
    }
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_CREATEMONOBRUSH: {
        std::uint32_t ih, usage;
        if (!v_.U32(8, ih) || !v_.U32(12, usage)) return Short();
        Object* o = Obj(ih, true);
        if (!o) return false;
        auto img = std::make_shared<Image>();
        BrushObj br;
        if (DibFrom(16, usage, *img)) {
            br.style = BS_DIBPATTERNPT, br.pattern = img;
        } else {
            br.color = {128, 128, 128, 255};  // unreadable pattern: a neutral fill keeps the shape visible
        }
        *o = br;
        return true;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
        std::uint32_t ih;
        if (!v_.U32(8, ih)) return Short();
        if (v_.Size() < 12 + 28) return Short();
        Object* o = Obj(ih, true);
        if (!o) return false;
        FontObj f;
        LogFont& lf = f.lf;
        v_.I32(12, lf.height), v_.I32(16, lf.width), v_.I32(20, lf.escapement), v_.I32(24, lf.orientation);
        v_.I32(28, lf.weight);
        const std::uint8_t* p = v_.Data() + 32;
        lf.italic = p[0], lf.underline = p[1], lf.strikeOut = p[2], lf.charSet = p[3];
        lf.outPrecision = p[4], lf.clipPrecision = p[5], lf.quality = p[6], lf.pitchAndFamily = p[7];
        for (std::size_t i = 0; i < 32; ++i) {
            std::uint16_t c;
            if (!v_.U16(40 + 2 * i, c) || c == 0) break;
            lf.faceName += char16_t(c);
        }
        *o = f;
        return true;
    }
    case EMR_CREATEPALETTE:
    case EMR_CREATECOLORSPACE:
    case EMR_CREATECOLORSPACEW: {
        std::uint32_t ih;
        if (!v_.U32(8, ih)) return Short();
        Object* o = Obj(ih, true);
        if (!o) return false;
        *o = OtherObj{};
        return true;
    }
    case EMR_SELECTOBJECT: {
        if (!v_.U32(8, u)) return Short();
        if (u & kStockObject) {
            std::uint32_t n = u & ~kStockObject;
            if (n <= NULL_BRUSH || n == DC_BRUSH) dc_.brush = StockBrush(n);
            else if (n <= NULL_PEN || n == DC_PEN) dc_.pen = StockPen(n == DC_PEN ? BLACK_PEN : n);
            else if (n >= OEM_FIXED_FONT && n <= DEFAULT_GUI_FONT && n != DEFAULT_PALETTE) dc_.font = StockFont(n);
            return true;
        }
        Object* o = Obj(u, false);
        if (!o) return false;
        if (auto* p = std::get_if<PenObj>(o)) dc_.pen = *p;
        else if (auto* br = std::get_if<BrushObj>(o)) dc_.brush = *br;
        else if (auto* f = std::get_if<FontObj>(o)) dc_.font = *f;
        else if (std::holds_alternative<std::monostate>(*o)) return Warn("selection of an empty object slot");
        return true;
    }
    case EMR_DELETEOBJECT: {
        if (!v_.U32(8, u)) return Short();
        if (u & kStockObject) return true;
        Object* o = Obj(u, false);
        if (!o) return false;
        *o = std::monostate{};
        return true;
    }

    // ---- lines and shapes
    case EMR_LINETO: {
        PointL p;
        if (!v_.Point(8, p)) return Short();
        if (!inPath_) {
            if (dc_.pen.null) {
                dc_.cur = {double(p.x), double(p.y)};
                return true;
            }
            Point from = Dev(dc_.cur), to = Dev({double(p.x), double(p.y)});
            if (lines_.Empty() || !(linesEnd_ == from)) lines_.MoveTo(from);
            lines_.LineTo(to);
            linesEnd_ = to;
            dc_.cur = {double(p.x), double(p.y)};
            return true;
        }
        Path tail;
        tail.LineTo({double(p.x), double(p.y)});
        ContinuePath(tail);
        dc_.cur = {double(p.x), double(p.y)};
        return true;
    }
    case EMR_POLYGON: case EMR_POLYGON16: case EMR_POLYLINE: case EMR_POLYLINE16:
    case EMR_POLYBEZIER: case EMR_POLYBEZIER16: case EMR_POLYLINETO: case EMR_POLYLINETO16:
    case EMR_POLYBEZIERTO: case EMR_POLYBEZIERTO16: {
        const bool is16 = t >= EMR_POLYBEZIER16;
        if (!v_.U32(24, u)) return Short();
        std::vector<Point> pts;
        if (!Pts(28, u, is16, pts)) return false;
        const bool bez = t == EMR_POLYBEZIER || t == EMR_POLYBEZIER16 || t == EMR_POLYBEZIERTO || t == EMR_POLYBEZIERTO16;
        const bool to = t == EMR_POLYLINETO || t == EMR_POLYLINETO16 || t == EMR_POLYBEZIERTO || t == EMR_POLYBEZIERTO16;
        const bool polygon = t == EMR_POLYGON || t == EMR_POLYGON16;
        if (pts.empty()) return true;
        Path p;
        std::size_t i = 0;
        if (!to) p.MoveTo(pts[i++]);
        if (bez) {
            if ((pts.size() - i) % 3) Warn("Bézier points not a multiple of three; the rest ignored");
            for (; i + 3 <= pts.size(); i += 3) p.CubicTo(pts[i], pts[i + 1], pts[i + 2]);
        } else {
            for (; i < pts.size(); ++i) p.LineTo(pts[i]);
        }
        if (to) {
            ContinuePath(p);
            dc_.cur = pts.back();
            return true;
        }
        if (polygon) p.Close();
        Shape(p, polygon, true);
        return true;
    }
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: {
        const bool is16 = t == EMR_POLYPOLYLINE16 || t == EMR_POLYPOLYGON16;
        const bool polygon = t == EMR_POLYPOLYGON || t == EMR_POLYPOLYGON16;
        std::uint32_t nPolys, total;
        if (!v_.U32(24, nPolys) || !v_.U32(28, total)) return Short();
        std::span<const std::uint8_t> counts;
        if (!v_.Array(32, nPolys, 4, counts)) return Warn("polygon count exceeds the record");
        std::vector<Point> pts;
        if (!Pts(32 + std::size_t(nPolys) * 4, total, is16, pts)) return false;
        Path p;
        std::size_t at = 0;
        for (std::size_t k = 0; k < nPolys; ++k) {
            std::uint32_t c = GetU32(counts.data() + k * 4);
            if (c > pts.size() - at) return Warn("polygon point counts exceed the points");
            for (std::uint32_t j = 0; j < c; ++j) (j ? p.LineTo(pts[at + j]) : p.MoveTo(pts[at + j]));
            if (polygon && c) p.Close();
            at += c;
        }
        Shape(p, polygon, true);
        return true;
    }
    case EMR_POLYDRAW:
    case EMR_POLYDRAW16: {
        const bool is16 = t == EMR_POLYDRAW16;
        if (!v_.U32(24, u)) return Short();
        std::vector<Point> pts;
        if (!Pts(28, u, is16, pts)) return false;
        std::span<const std::uint8_t> types;
        if (!v_.Array(28 + std::size_t(u) * (is16 ? 4 : 8), u, 1, types)) return Warn("point types exceed the record");
        Path p;
        Point cur = dc_.cur;
        bool started = false;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            std::uint8_t ty = types[i] & ~PT_CLOSEFIGURE;
            if (ty == PT_MOVETO) {
                p.MoveTo(pts[i]), started = true;
            } else if (ty == PT_LINETO) {
                if (!started) p.MoveTo(cur), started = true;
                p.LineTo(pts[i]);
            } else if (ty == PT_BEZIERTO && i + 2 < pts.size()) {
                if (!started) p.MoveTo(cur), started = true;
                p.CubicTo(pts[i], pts[i + 1], pts[i + 2]);
                i += 2;
            } else {
                return Warn("invalid point type");
            }
            cur = pts[i];
            if (types[i] & PT_CLOSEFIGURE) p.Close();
        }
        Shape(p, false, true);
        dc_.cur = cur;
        return true;
    }
    case EMR_RECTANGLE: case EMR_ELLIPSE: case EMR_ROUNDRECT: {
        RectL r;
        if (!v_.Rect(8, r)) return Short();
        double l = std::min(r.left, r.right), tp = std::min(r.top, r.bottom);
        double rt = std::max(r.left, r.right), bt = std::max(r.top, r.bottom);
        Path p;
        if (t == EMR_RECTANGLE) {
            p.AddRect({l, tp, rt, bt});
        } else if (t == EMR_ELLIPSE) {
            AddArc(p, {(l + rt) / 2, (tp + bt) / 2}, {(rt - l) / 2, (bt - tp) / 2}, 0, 2 * kPi, false);
            p.Close();
        } else {
            SizeL c;
            if (!v_.I32(24, c.cx) || !v_.I32(28, c.cy)) return Short();
            double rx = std::min(std::fabs(c.cx) / 2.0, (rt - l) / 2), ry = std::min(std::fabs(c.cy) / 2.0, (bt - tp) / 2);
            if (rx <= 0 || ry <= 0) {
                p.AddRect({l, tp, rt, bt});
            } else {
                AddArc(p, {rt - rx, tp + ry}, {rx, ry}, kPi / 2, -kPi / 2, false);
                AddArc(p, {rt - rx, bt - ry}, {rx, ry}, 0, -kPi / 2, true);
                AddArc(p, {l + rx, bt - ry}, {rx, ry}, -kPi / 2, -kPi / 2, true);
                AddArc(p, {l + rx, tp + ry}, {rx, ry}, kPi, -kPi / 2, true);
                p.Close();
            }
        }
        Shape(p, true, true);
        return true;
    }
    case EMR_ARC: case EMR_ARCTO: case EMR_CHORD: case EMR_PIE: {
        RectL r;
        PointL s, e;
        if (!v_.Rect(8, r) || !v_.Point(24, s) || !v_.Point(32, e)) return Short();
        Point c{(double(r.left) + r.right) / 2, (double(r.top) + r.bottom) / 2};
        Point rad{std::fabs(double(r.right) - r.left) / 2, std::fabs(double(r.bottom) - r.top) / 2};
        if (rad.x == 0 || rad.y == 0) return true;
        double t0 = ParamOf(c, rad, {double(s.x), double(s.y)}), t1 = ParamOf(c, rad, {double(e.x), double(e.y)});
        Matrix m = L2D();
        bool ccw = dc_.arcDir != AD_CLOCKWISE;
        if (m.a * m.d - m.b * m.c < 0) ccw = !ccw;  // keep the direction as seen on the page
        double sweep = t1 - t0;
        if (ccw) { while (sweep <= 1e-12) sweep += 2 * kPi; }
        else { while (sweep >= -1e-12) sweep -= 2 * kPi; }
        Path p;
        if (t == EMR_PIE) p.MoveTo(c);
        AddArc(p, c, rad, t0, sweep, t == EMR_PIE);
        Point end{c.x + rad.x * std::cos(t0 + sweep), c.y - rad.y * std::sin(t0 + sweep)};
        if (t == EMR_ARCTO) {
            Path tail;
            AddArc(tail, c, rad, t0, sweep, false);
            Path withLine;
            withLine.LineTo({c.x + rad.x * std::cos(t0), c.y - rad.y * std::sin(t0)});
            AppendPath(withLine, tail);
            // The arc's own MoveTo would break the figure; rebuild as one continuous tail.
            Path cont;
            std::size_t i = 0;
            const auto& pts = withLine.Points();
            for (auto op : withLine.Ops()) {
                if (op == Path::Op::Cubic) cont.CubicTo(pts[i], pts[i + 1], pts[i + 2]), i += 3;
                else cont.LineTo(pts[i++]);
            }
            ContinuePath(cont);
            dc_.cur = end;
            return true;
        }
        if (t != EMR_ARC) p.Close();
        Shape(p, t != EMR_ARC, true);
        return true;
    }
    case EMR_ANGLEARC: {
        PointL c;
        std::uint32_t radius;
        float start, sweep;
        if (!v_.Point(8, c) || !v_.U32(16, radius) || !v_.F32(20, start) || !v_.F32(24, sweep)) return Short();
        if (!Finite(start) || !Finite(sweep) || radius > 1u << 30) return Warn("invalid arc");
        double t0 = start * kPi / 180, sw = std::clamp(double(sweep), -3600.0, 3600.0) * kPi / 180;
        Point ctr{double(c.x), double(c.y)}, rad{double(radius), double(radius)};
        Path arc;
        if (sw != 0 && radius > 0) AddArc(arc, ctr, rad, t0, sw, false);
        Path cont;
        cont.LineTo({ctr.x + radius * std::cos(t0), ctr.y - radius * std::sin(t0)});
        std::size_t i = 0;
        const auto& pts = arc.Points();
        for (auto op : arc.Ops()) {
            if (op == Path::Op::Cubic) cont.CubicTo(pts[i], pts[i + 1], pts[i + 2]), i += 3;
            else ++i;  // the arc's own start point
        }
        ContinuePath(cont);
        dc_.cur = {ctr.x + radius * std::cos(t0 + sw), ctr.y - radius * std::sin(t0 + sw)};
        return true;
    }
    case EMR_SETPIXELV: {
        PointL p;
        if (!v_.Point(8, p) || !v_.U32(16, u)) return Short();
        FillRectLogical(p.x, p.y, 1, 1, FromRef(u));
        return true;
    }

    // ---- paths
    case EMR_BEGINPATH:
        path_ = Path{}, inPath_ = true, pathWidened_ = false;
        return true;
    case EMR_ENDPATH:
        inPath_ = false;
        return true;
    case EMR_ABORTPATH:
        path_ = Path{}, inPath_ = false;
        return true;
    case EMR_CLOSEFIGURE:
        if (!path_.Empty() && path_.Ops().back() != Path::Op::Close) path_.Close();
        return true;
    case EMR_FLATTENPATH:
        return true;  // curves drawn as curves look the same
    case EMR_WIDENPATH:
        pathWidened_ = true;
        return true;
    case EMR_FILLPATH: case EMR_STROKEPATH: case EMR_STROKEANDFILLPATH: {
        if (inPath_) inPath_ = false;  // a drawing call closes an unfinished bracket
        Path p = std::move(path_);
        path_ = Path{};
        if (pathWidened_ && t == EMR_FILLPATH) {
            // A widened path filled is the pen's outline painted with the brush.
            if (!dc_.brush.null && !p.Empty()) {
                SyncClip();
                dev_.StrokePath(p, PenStroke(), dc_.brush.color, opt_.base);
            }
            return true;
        }
        if (t != EMR_STROKEPATH) FillDev(p);
        if (t != EMR_FILLPATH) StrokeDev(p);
        return true;
    }
    case EMR_SELECTCLIPPATH: {
        if (!v_.U32(8, u)) return Short();
        inPath_ = false;
        Path p = std::move(path_);
        path_ = Path{};
        CombineClip(std::move(p), Rule(), u);
        return true;
    }

    // ---- clipping
    case EMR_INTERSECTCLIPRECT:
    case EMR_EXCLUDECLIPRECT: {
        RectL r;
        if (!v_.Rect(8, r)) return Short();
        Path p;
        p.AddRect({double(std::min(r.left, r.right)), double(std::min(r.top, r.bottom)),
                   double(std::max(r.left, r.right)), double(std::max(r.top, r.bottom))});
        CombineClip(MapPath(p, L2D()), FillRule::NonZero, t == EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        return true;
    }
    case EMR_OFFSETCLIPRGN: {
        PointL o;
        if (!v_.Point(8, o)) return Short();
        Matrix m = L2D();
        Matrix shift = Matrix::Translate(m.a * o.x + m.c * o.y, m.b * o.x + m.d * o.y);
        for (auto& e : dc_.clip) {
            auto moved = std::make_shared<ClipElem>(*e);
            moved->path = MapPath(e->path, shift);
            e = moved;
        }
        return true;
    }
    case EMR_EXTSELECTCLIPRGN:
    case EMR_FILLRGN: case EMR_FRAMERGN: case EMR_PAINTRGN: case EMR_INVERTRGN:
        return Region();

    // ---- text and pictures
    case EMR_EXTTEXTOUTW: return Text(true);
    case EMR_EXTTEXTOUTA: return Text(false);
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_MASKBLT: case EMR_PLGBLT: case EMR_SETDIBITSTODEVICE:
    case EMR_STRETCHDIBITS: case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT:
        return Blit();
    case EMR_GRADIENTFILL: return Gradient();

    case EMR_EXTFLOODFILL: return Unsupported("flood fill");
    case EMR_SMALLTEXTOUT: return SmallText();
    case EMR_POLYTEXTOUTA: return PolyText(false);
    case EMR_POLYTEXTOUTW: return PolyText(true);
    case EMR_GLSRECORD: case EMR_GLSBOUNDEDRECORD: case EMR_DRAWESCAPE: case EMR_EXTESCAPE: case EMR_NAMEDESCAPE:
        return Unsupported("device escape");
    default:
        if (warnedTypes_.insert(t).second) Warn("unknown record type " + std::to_string(t) + " skipped");
        return true;
    }
}

bool PlayerImpl::Region() {
    const std::uint32_t t = rec_.type;
    // EXTSELECTCLIPRGN: cbRgnData, iMode, data. FILLRGN: bounds, cbRgnData, ihBrush, data.
    // FRAMERGN: bounds, cbRgnData, ihBrush, width, height, data. PAINT/INVERTRGN: bounds, cbRgnData, data.
    using L = layout::Region;
    const std::size_t cbAt = t == EMR_EXTSELECTCLIPRGN ? L::clipSize : L::size;
    const std::size_t dataAt = t == EMR_EXTSELECTCLIPRGN ? L::clipData
                               : t == EMR_FILLRGN        ? L::fillData
                               : t == EMR_FRAMERGN       ? L::frameData
                                                         : L::paintData;
    std::uint32_t cb, mode = RGN_COPY;
    if (!v_.U32(cbAt, cb)) return Short();
    if (t == EMR_EXTSELECTCLIPRGN && !v_.U32(L::clipMode, mode)) return Short();
    std::span<const std::uint8_t> data;
    if (!v_.Slice(dataAt, cb, data)) return Warn("region data exceeds the record");
    if (cb == 0) {
        if (t == EMR_EXTSELECTCLIPRGN && mode == RGN_COPY) {
            dc_.clip.clear();  // back to the whole page
            return true;
        }
        return Warn("region without data");
    }
    if (cb < L::headerSize) return Warn("region header too short");
    std::uint32_t n = GetU32(data.data() + L::count);
    if (n > (cb - L::headerSize) / 16) return Warn("region rectangle count exceeds its data");
    Path p;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint8_t* r = data.data() + L::headerSize + std::size_t(i) * 16;
        double l = GetI32(r), tp = GetI32(r + 4), rt = GetI32(r + 8), bt = GetI32(r + 12);
        if (rt > l && bt > tp) p.AddRect({l, tp, rt, bt});
    }
    if (t == EMR_EXTSELECTCLIPRGN) {
        CombineClip(std::move(p), FillRule::NonZero, mode);  // device pixels already
        return true;
    }
    if (t == EMR_INVERTRGN) return Unsupported("region inversion");
    Path d = MapPath(p, L2D());
    if (d.Empty()) return true;
    BrushObj brush = dc_.brush;
    if (t != EMR_PAINTRGN) {
        std::uint32_t ih;
        if (!v_.U32(L::brush, ih)) return Short();
        if (ih & kStockObject) {
            brush = StockBrush(ih & ~kStockObject);
        } else {
            Object* o = Obj(ih, false);
            if (!o) return false;
            auto* b = std::get_if<BrushObj>(o);
            if (!b) return Warn("region brush is not a brush");
            brush = *b;
        }
    }
    if (brush.null) return true;
    SyncClip();
    if (t == EMR_FRAMERGN) {
        std::int32_t w = 1, h = 1;
        v_.I32(L::frameWidth, w), v_.I32(L::frameHeight, h);
        StrokeStyle s;
        Matrix m = L2D();
        s.width = std::max(1.0, std::fabs(w * m.a));
        s.join = LineJoin::Miter, s.cap = LineCap::Butt;
        dev_.StrokePath(d, s, brush.color, opt_.base);
        return true;
    }
    dev_.FillPath(d, FillRule::NonZero, BrushPaint(brush), opt_.base);
    return true;
}

bool PlayerImpl::Text(bool wide) {
    // bounds, iGraphicsMode, exScale, eyScale, then the text: reference, count,
    // offString, options, rectangle (absent with ETO_NO_RECT), offDx.
    using L = layout::ExtTextOut;
    PointL ref;
    std::uint32_t n, offString, options;
    if (!v_.Point(L::reference, ref) || !v_.U32(L::chars, n) || !v_.U32(L::offString, offString) ||
        !v_.U32(L::options, options))
        return Short();
    RectL rc{};
    std::uint32_t offDx = 0;
    const bool noRect = options & ETO_NO_RECT;
    if (!noRect && !v_.Rect(L::rect, rc)) return Short();
    if (!v_.U32(noRect ? L::offDxNoRect : L::offDx, offDx)) return Short();
    std::span<const std::uint8_t> s;
    if (!v_.Array(offString, n, wide ? 2 : 1, s) || (n && offString < L::rect)) return Warn("text exceeds the record");
    std::vector<double> dx;
    if (offDx != 0 && n) {
        const std::size_t per = (options & ETO_PDY) ? 2 : 1;
        std::span<const std::uint8_t> d;
        if (!v_.Array(offDx, std::uint64_t(n) * per, 4, d)) {
            Warn("advances exceed the record; text placed without them");
        } else {
            for (std::uint32_t i = 0; i < n; ++i) dx.push_back(GetI32(d.data() + i * per * 4));
        }
    }
    std::u16string text;
    text.reserve(n);
    const int charset = dc_.font.lf.charSet;
    if (wide) {
        for (std::uint32_t i = 0; i < n; ++i) text += char16_t(GetU16(s.data() + 2 * i));
    } else if (options & ETO_GLYPH_INDEX) {
        for (std::uint32_t i = 0; i < n; ++i) text += char16_t(s[i]);
    } else if (charset == 0 || charset == 1 || charset == 2 || charset == 255) {
        for (std::uint32_t i = 0; i < n; ++i) text += FromCp1252(s[i]);
    } else {
        // Bytes of the font's character set; a character of two bytes takes
        // the advances of both.
        const int cp = platform::CodePageFromCharset(charset);
        std::vector<double> merged;
        for (std::uint32_t i = 0; i < n;) {
            std::string_view one(reinterpret_cast<const char*>(s.data() + i), 1);
            std::u16string c = platform::Utf16FromUtf8(platform::Utf8FromCodePage(one, cp));
            std::uint32_t used = 1;
            if ((c.empty() || c == u"\uFFFD") && i + 1 < n) {
                std::string_view two(reinterpret_cast<const char*>(s.data() + i), 2);
                std::u16string c2 = platform::Utf16FromUtf8(platform::Utf8FromCodePage(two, cp));
                if (!c2.empty() && c2 != u"\uFFFD") c = c2, used = 2;
            }
            if (c.empty()) c = u"\uFFFD";
            double adv = 0;
            for (std::uint32_t k = 0; k < used && i + k < dx.size(); ++k) adv += dx[i + k];
            for (std::size_t k = 0; k < c.size(); ++k) merged.push_back(k == 0 ? adv : 0);
            text += c;
            i += used;
        }
        if (!dx.empty()) dx = std::move(merged);
    }
    return ShowText(ref, options, noRect ? nullptr : &rc, std::move(text), std::move(dx));
}

bool PlayerImpl::PolyText(bool wide) {
    // bounds, graphics mode, x/y scales, string count, then one text object
    // (reference, count, offString, options, rectangle, offDx) per string.
    std::uint32_t count;
    if (!v_.U32(36, count)) return Short();
    std::span<const std::uint8_t> objs;
    if (!v_.Array(40, count, 40, objs)) return Warn("string count exceeds the record");
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::size_t at = 40 + std::size_t(k) * 40;
        PointL ref;
        RectL rc;
        std::uint32_t n = 0, offString = 0, options = 0, offDx = 0;
        v_.Point(at, ref), v_.U32(at + 8, n), v_.U32(at + 12, offString), v_.U32(at + 16, options);
        v_.Rect(at + 20, rc), v_.U32(at + 36, offDx);
        std::span<const std::uint8_t> str, d;
        if (!v_.Array(offString, n, wide ? 2 : 1, str)) return Warn("text exceeds the record");
        std::u16string text;
        for (std::uint32_t i = 0; i < n; ++i) text += wide ? char16_t(GetU16(str.data() + 2 * i)) : FromCp1252(str[i]);
        std::vector<double> dx;
        if (offDx && v_.Array(offDx, n, 4, d))
            for (std::uint32_t i = 0; i < n; ++i) dx.push_back(GetI32(d.data() + 4 * i));
        ShowText(ref, options & ~ETO_NO_RECT, &rc, std::move(text), std::move(dx));
    }
    return true;
}

bool PlayerImpl::SmallText() {
    // x, y, count, options, graphics mode, x/y scales, clipping rectangle
    // (absent with ETO_NO_RECT), then 8-bit (ETO_SMALL_CHARS) or 16-bit text.
    constexpr std::uint32_t kSmallChars = 0x200;
    PointL ref;
    std::uint32_t n, options;
    if (!v_.Point(8, ref) || !v_.U32(16, n) || !v_.U32(20, options)) return Short();
    RectL rc{};
    const bool noRect = options & ETO_NO_RECT;
    if (!noRect && !v_.Rect(36, rc)) return Short();
    const bool small = options & kSmallChars;
    std::span<const std::uint8_t> s;
    if (!v_.Array(noRect ? 36 : 52, n, small ? 1 : 2, s)) return Warn("text exceeds the record");
    std::u16string text;
    for (std::uint32_t i = 0; i < n; ++i) text += small ? FromCp1252(s[i]) : char16_t(GetU16(s.data() + 2 * i));
    return ShowText(ref, options & ~kSmallChars, noRect ? nullptr : &rc, std::move(text), {});
}

bool PlayerImpl::ShowText(PointL ref, std::uint32_t options, const RectL* clipRect, std::u16string text,
                          std::vector<double> dx) {
    const bool noRect = clipRect == nullptr;
    const RectL rc = clipRect ? *clipRect : RectL{};
    Matrix m = L2D();
    const LogFont& lf = dc_.font.lf;
    // Opaque rectangle first.
    const Rect box{double(std::min(rc.left, rc.right)), double(std::min(rc.top, rc.bottom)),
                   double(std::max(rc.left, rc.right)), double(std::max(rc.top, rc.bottom))};
    if ((options & ETO_OPAQUE) && !noRect && !box.Empty()) FillRectLogical(box.left, box.top, box.Width(), box.Height(), dc_.bkColor);
    if (text.empty()) return true;

    Point origin{double(ref.x), double(ref.y)};
    if (dc_.textAlign & TA_UPDATECP) origin = dc_.cur;
    // Text space: x along the baseline, y down, in logical units; glyphs stay upright on the page.
    const double ex = std::hypot(m.a, m.b), ey = std::hypot(m.c, m.d);
    if (ex == 0 || ey == 0) return Warn("degenerate mapping");
    const double ux = m.a / ex, uy = m.b / ex;
    Point o = m.Apply(origin);
    Matrix textM{ux * ex, uy * ex, -uy * ey, ux * ey, o.x, o.y};
    if (lf.escapement != 0) {
        double a = lf.escapement / 10.0 * kPi / 180;
        Matrix rot{std::cos(a), -std::sin(a), std::sin(a), std::cos(a), 0, 0};
        textM = rot.Then(textM);
    }
    double em = lf.height < 0 ? -double(lf.height) : lf.height > 0 ? lf.height * 0.87 : 16 / ey;
    const double cell = lf.height > 0 ? lf.height : em * 1.15;
    const double ascent = cell * 0.8, descent = cell * 0.2;
    TextRun run;
    run.text = std::move(text);
    run.advances = std::move(dx);
    run.rtl = (options & ETO_RTLREADING) || (dc_.textAlign & TA_RTLREADING);
    run.glyphIndices = options & ETO_GLYPH_INDEX;
    run.face = platform::Utf8FromUtf16(lf.faceName);
    run.emHeight = em;
    run.weight = lf.weight == 0 ? 400 : std::clamp(lf.weight, 100, 900);
    run.italic = lf.italic, run.underline = lf.underline, run.strikeout = lf.strikeOut;
    run.charset = lf.charSet;
    run.color = dc_.textColor;
    // Without advances the text is as wide as its font makes it; a device
    // that cannot measure gets half an em a character.
    double width = 0;
    if (!run.advances.empty()) {
        for (double d : run.advances) width += d;
    } else if (auto w = dev_.MeasureText(run); w && std::isfinite(*w)) {
        width = *w;
    } else {
        width = em * 0.5 * double(run.text.size());
    }
    double x0 = 0, y0 = 0;
    switch (dc_.textAlign & TA_CENTER) {
    case TA_RIGHT: x0 = -width; break;
    case TA_CENTER: x0 = -width / 2; break;
    default: break;
    }
    switch (dc_.textAlign & TA_BASELINE) {
    case TA_BASELINE: break;
    case TA_BOTTOM: y0 = -descent; break;
    default: y0 = ascent; break;  // TA_TOP
    }
    const Matrix ctm = textM.Then(opt_.base);
    SyncClip();
    bool clipped = (options & ETO_CLIPPED) && !noRect && !box.Empty();
    if (clipped) {
        Path c;
        c.AddRect(box);
        dev_.PushClip(MapPath(c, m), FillRule::NonZero, opt_.base);
    }
    if (dc_.bkMode == BKMODE_OPAQUE) {
        Path bg;
        bg.AddRect({x0, y0 - ascent, x0 + width, y0 + descent});
        Paint p;
        p.color = dc_.bkColor;
        dev_.FillPath(bg, FillRule::NonZero, p, ctm);
    }
    run.origin = {x0, y0};
    dev_.DrawText(run, ctm);
    if (clipped) dev_.PopClip();
    if (dc_.textAlign & TA_UPDATECP) dc_.cur = {origin.x + width, origin.y};
    return true;
}

// The parts of a bitmap record: 1 when read, 0 when the record needs no
// more (a fill without a bitmap, an empty source), -1 when it is damaged.
int PlayerImpl::ReadBlit(BlitParts& out) {
    const std::uint32_t t = rec_.type;
    std::int32_t xd = 0, yd = 0, cxd = 0, cyd = 0, xs = 0, ys = 0, cxs = -1, cys = -1;
    std::uint32_t rop = SRCCOPY, usage = DIB_RGB_COLORS, bmiAt = 0, cbBmi = 0;
    DibDecodeOptions o;
    Image img;
    bool bottomUpOrigin = false;  // source y counted from the bottom of a bottom-up DIB
    switch (t) {
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_MASKBLT: case EMR_ALPHABLEND: case EMR_TRANSPARENTBLT: {
        using L = layout::Blt;
        if (!v_.I32(L::xDest, xd) || !v_.I32(L::yDest, yd) || !v_.I32(L::cxDest, cxd) || !v_.I32(L::cyDest, cyd) ||
            !v_.U32(L::rop, rop) || !v_.I32(L::xSrc, xs) || !v_.I32(L::ySrc, ys) || !v_.U32(L::usageSrc, usage) ||
            !v_.U32(L::cbBmiSrc, cbBmi))
            return Short(), -1;
        bmiAt = L::offBmiSrc;
        if (t != EMR_BITBLT && t != EMR_MASKBLT) {
            if (!v_.I32(L::cxSrc, cxs) || !v_.I32(L::cySrc, cys)) return Short(), -1;
        }
        break;
    }
    case EMR_PLGBLT: {
        using L = layout::PlgBlt;
        if (!v_.I32(L::xSrc, xs) || !v_.I32(L::ySrc, ys) || !v_.I32(L::cxSrc, cxs) || !v_.I32(L::cySrc, cys) ||
            !v_.U32(L::usageSrc, usage) || !v_.U32(L::cbBmiSrc, cbBmi))
            return Short(), -1;
        bmiAt = L::offBmiSrc;
        break;
    }
    case EMR_SETDIBITSTODEVICE: {
        using L = layout::SetDIBitsToDevice;
        std::uint32_t start, scans;
        if (!v_.I32(L::xDest, xd) || !v_.I32(L::yDest, yd) || !v_.I32(L::xSrc, xs) || !v_.I32(L::ySrc, ys) ||
            !v_.I32(L::cxSrc, cxs) || !v_.I32(L::cySrc, cys) || !v_.U32(L::cbBmiSrc, cbBmi) ||
            !v_.U32(L::usageSrc, usage) || !v_.U32(L::startScan, start) || !v_.U32(L::scans, scans))
            return Short(), -1;
        bmiAt = L::offBmiSrc, cxd = cxs, cyd = cys;
        o.startScan = start, o.scanCount = scans;
        bottomUpOrigin = true;
        break;
    }
    case EMR_STRETCHDIBITS: {
        using L = layout::StretchDIBits;
        if (!v_.I32(L::xDest, xd) || !v_.I32(L::yDest, yd) || !v_.I32(L::xSrc, xs) || !v_.I32(L::ySrc, ys) ||
            !v_.I32(L::cxSrc, cxs) || !v_.I32(L::cySrc, cys) || !v_.U32(L::cbBmiSrc, cbBmi) ||
            !v_.U32(L::usageSrc, usage) || !v_.U32(L::rop, rop) || !v_.I32(L::cxDest, cxd) || !v_.I32(L::cyDest, cyd))
            return Short(), -1;
        bmiAt = L::offBmiSrc;
        bottomUpOrigin = true;
        break;
    }
    }
    out.rawRop = rop;
    out.xd = xd, out.yd = yd, out.cxd = cxd, out.cyd = cyd;
    // ALPHABLEND keeps its blend function and TRANSPARENTBLT its key colour
    // where the others keep the raster operation.
    if (t == EMR_ALPHABLEND) o.premultipliedAlpha = (rop >> 24) & AC_SRC_ALPHA;
    const std::uint32_t ropCode = t == EMR_ALPHABLEND || t == EMR_TRANSPARENTBLT ? SRCCOPY : rop;
    out.rop = ropCode;
    if (cbBmi == 0) {
        // No source bitmap: a pattern or constant fill of the destination.
        if (t == EMR_BITBLT || t == EMR_STRETCHBLT) {
            if (ropCode == PATCOPY) {
                if (!dc_.brush.null) {
                    Path p;
                    p.AddRect({double(xd), double(yd), double(xd) + cxd, double(yd) + cyd});
                    FillDev(MapPath(p, L2D()));
                }
                return 0;
            }
            if (ropCode == BLACKNESS || ropCode == WHITENESS) {
                std::uint8_t c = ropCode == BLACKNESS ? 0 : 255;
                FillRectLogical(xd, yd, cxd, cyd, {c, c, c, 255});
                return 0;
            }
            if (ropCode == NOP_ROP) return 0;
            return Unsupported("raster operation on the destination") ? 0 : -1;
        }
        return Warn("bitmap record without a bitmap"), -1;
    }
    if (ropCode == NOP_ROP || ropCode == DSTINVERT) return Unsupported("raster operation on the destination") ? 0 : -1;
    if (!DibFrom(bmiAt, usage, img, o)) return -1;

    // Source rectangle (full picture when not given).
    if (cxs < 0 || cys < 0) cxs = img.width, cys = img.height;
    if (t == EMR_BITBLT || t == EMR_MASKBLT)
        cxs = std::int32_t(std::min<std::int64_t>(std::llabs(cxd), INT32_MAX)),
        cys = std::int32_t(std::min<std::int64_t>(std::llabs(cyd), INT32_MAX));
    std::int64_t top = ys;
    if (bottomUpOrigin && !img.Encoded()) {
        // A bottom-up DIB counts source rows from its bottom edge.
        std::span<const std::uint8_t> info;
        std::uint32_t offBmi;
        std::int32_t h = 1;
        if (v_.U32(bmiAt, offBmi) && v_.Slice(offBmi, 12, info) && GetU32(info.data()) >= kBitmapInfoHeaderSize &&
            v_.I32(offBmi + 8, h) && h > 0)
            top = std::int64_t(img.height) - ys - cys;
    }
    out.src = Crop(std::move(img), xs, top, cxs, cys);
    if (out.src.width <= 0 || out.src.height <= 0) return 0;
    return 1;
}

// A picture with transparency written as two blits on one rectangle: a mask
// and then the picture, OR-ed and AND-ed in either order. The first is the
// mask; with SRCPAINT first its white is where the picture shows, with
// SRCAND first its black is. Gives the picture with its alpha when the next
// record completes the pair.
std::optional<Image> PlayerImpl::PairedMask(const BlitParts& mask) {
    const std::uint32_t want = mask.rop == SRCPAINT ? SRCAND : SRCPAINT;
    if (index_ + 1 >= mf_.records.size() || mask.src.Encoded()) return std::nullopt;
    const Record next = mf_.records[index_ + 1];
    const RecordView nv = next.View(bytes_);
    std::uint32_t rop = 0;
    if (next.type == EMR_STRETCHDIBITS) nv.U32(layout::StretchDIBits::rop, rop);
    else if (next.type == EMR_BITBLT || next.type == EMR_STRETCHBLT) nv.U32(layout::Blt::rop, rop);
    if (rop != want) return std::nullopt;
    const Record here = rec_;
    const RecordView hereView = v_;
    const std::size_t hereIndex = index_;
    rec_ = next, v_ = nv, index_ = hereIndex + 1;
    BlitParts pic;
    const int got = ReadBlit(pic);
    rec_ = here, v_ = hereView, index_ = hereIndex;
    if (got != 1 || pic.xd != mask.xd || pic.yd != mask.yd || pic.cxd != mask.cxd || pic.cyd != mask.cyd ||
        pic.src.Encoded())
        return std::nullopt;
    const Image& m = mask.src;
    const std::size_t mc = std::size_t(m.components), pw = std::size_t(pic.src.width), ph = std::size_t(pic.src.height);
    const bool showWhere = mask.rop == SRCPAINT;  // white shows the picture
    skipNext_ = true;
    return WithAlphaWhere(pic.src, [&](std::size_t i, std::uint8_t, std::uint8_t, std::uint8_t) {
        const std::size_t x = i % pw * std::size_t(m.width) / pw, y = i / pw * std::size_t(m.height) / ph;
        const std::uint8_t* q = &m.pixels[(y * std::size_t(m.width) + x) * mc];
        const unsigned sum = mc >= 3 ? unsigned(q[0]) + q[1] + q[2] : unsigned(q[0]) * 3;
        return (sum >= 384) != showWhere;
    });
}

bool PlayerImpl::Blit() {
    const std::uint32_t t = rec_.type;
    BlitParts parts;
    const int got = ReadBlit(parts);
    if (got <= 0) return got == 0;
    const std::uint32_t ropCode = parts.rop, rop = parts.rawRop;
    const std::int32_t xd = parts.xd, yd = parts.yd, cxd = parts.cxd, cyd = parts.cyd;
    if ((ropCode == SRCPAINT || ropCode == SRCAND) &&
        (t == EMR_BITBLT || t == EMR_STRETCHBLT || t == EMR_STRETCHDIBITS)) {
        if (std::optional<Image> pic = PairedMask(parts)) {
            DrawImageAt(*pic, {double(xd), double(yd)}, {double(cxd), double(cyd)});
            return true;
        }
    }
    if (ropCode == SRCAND) return Unsupported("mask pass of a masked picture");
    Image& src = parts.src;

    if (t == EMR_MASKBLT) {
        std::uint32_t offMaskBmi = 0, cbMaskBmi = 0;
        std::int32_t xm = 0, ym = 0;
        std::uint32_t usageMask = 0;
        using L = layout::Blt;
        if (v_.U32(L::cbBmiMask, cbMaskBmi) && cbMaskBmi && v_.U32(L::offBmiMask, offMaskBmi) && v_.I32(L::xMask, xm) &&
            v_.I32(L::yMask, ym) && v_.U32(L::usageMask, usageMask)) {
            Image mask;
            // A mask must have pixels: one given as a JPEG or PNG file is left out.
            if (DibFrom(L::offBmiMask, usageMask, mask) && !mask.Encoded()) {
                Image mc = Crop(mask, xm, ym, src.width, src.height);
                src = WithAlphaWhere(src, [&](std::size_t i, std::uint8_t, std::uint8_t, std::uint8_t) {
                    std::size_t x = i % std::size_t(src.width), y = i / std::size_t(src.width);
                    if (x >= std::size_t(mc.width) || y >= std::size_t(mc.height)) return true;
                    return mc.pixels[(y * mc.width + x) * std::size_t(mc.components)] == 0;
                });
            }
        }
    } else if (t == EMR_TRANSPARENTBLT) {
        Color key = FromRef(rop);
        src = WithAlphaWhere(src, [&](std::size_t, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
            return r == key.r && g == key.g && b == key.b;
        });
    } else if (ropCode == SRCPAINT || ropCode == SRCINVERT) {
        // The paint pass of a masked picture: black is where the background shows.
        src = WithAlphaWhere(src, [](std::size_t, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
            return r == 0 && g == 0 && b == 0;
        });
    }
    if (t == EMR_ALPHABLEND) {
        const std::uint8_t constant = std::uint8_t(rop >> 16);
        if (constant != 255 && !src.Encoded()) {
            src = WithAlphaWhere(src, [](std::size_t, std::uint8_t, std::uint8_t, std::uint8_t) { return false; });
            for (std::size_t k = 3; k < src.pixels.size(); k += 4) src.pixels[k] = std::uint8_t(src.pixels[k] * constant / 255);
        }
    }
    if (t == EMR_PLGBLT) {
        PointL p[3];
        const std::size_t at = layout::PlgBlt::corners;
        if (!v_.Point(at, p[0]) || !v_.Point(at + 8, p[1]) || !v_.Point(at + 16, p[2])) return Short();
        // Unit square to the parallelogram upper-left, upper-right, lower-left.
        Matrix m{double(p[1].x - p[0].x), double(p[1].y - p[0].y), double(p[2].x - p[0].x),
                 double(p[2].y - p[0].y), double(p[0].x), double(p[0].y)};
        SyncClip();
        dev_.DrawImage(src, m.Then(L2D()).Then(opt_.base));
        return true;
    }
    DrawImageAt(src, {double(xd), double(yd)}, {double(cxd), double(cyd)});
    return true;
}

bool PlayerImpl::Gradient() {
    std::uint32_t nVer, nTri, mode;
    if (!v_.U32(24, nVer) || !v_.U32(28, nTri) || !v_.U32(32, mode)) return Short();
    std::span<const std::uint8_t> vs, gs;
    if (!v_.Array(36, nVer, 16, vs)) return Warn("gradient vertices exceed the record");
    const std::size_t gsize = mode == 2 ? 12 : 8;
    if (!v_.Array(36 + std::size_t(nVer) * 16, nTri, gsize, gs)) return Warn("gradient shapes exceed the record");
    auto vert = [&](std::uint32_t i, Point& p, Color& c) {
        if (i >= nVer) return false;
        const std::uint8_t* d = vs.data() + std::size_t(i) * 16;
        p = {double(GetI32(d)), double(GetI32(d + 4))};
        c = {std::uint8_t(GetU16(d + 8) >> 8), std::uint8_t(GetU16(d + 10) >> 8), std::uint8_t(GetU16(d + 12) >> 8), 255};
        return true;
    };
    for (std::uint32_t k = 0; k < nTri; ++k) {
        const std::uint8_t* g = gs.data() + std::size_t(k) * gsize;
        Point p0, p1, p2;
        Color c0, c1, c2;
        if (mode == 2) {
            if (!vert(GetU32(g), p0, c0) || !vert(GetU32(g + 4), p1, c1) || !vert(GetU32(g + 8), p2, c2))
                return Warn("gradient vertex index out of range");
            // Triangles are shown in their mean colour.
            Path p;
            p.MoveTo(p0), p.LineTo(p1), p.LineTo(p2), p.Close();
            Paint paint;
            paint.color = {std::uint8_t((c0.r + c1.r + c2.r) / 3), std::uint8_t((c0.g + c1.g + c2.g) / 3),
                           std::uint8_t((c0.b + c1.b + c2.b) / 3), 255};
            SyncClip();
            dev_.FillPath(MapPath(p, L2D()), FillRule::NonZero, paint, opt_.base);
            continue;
        }
        if (!vert(GetU32(g), p0, c0) || !vert(GetU32(g + 4), p1, c1)) return Warn("gradient vertex index out of range");
        // A rectangle gradient becomes a picture of 256 steps along its axis.
        const bool horizontal = mode == 0;
        Image img;
        img.format = Image::Format::Rgb8, img.components = 3;
        img.width = horizontal ? 256 : 1, img.height = horizontal ? 1 : 256;
        img.pixels.resize(256 * 3);
        for (int i = 0; i < 256; ++i) {
            img.pixels[std::size_t(i) * 3] = std::uint8_t(c0.r + (c1.r - c0.r) * i / 255);
            img.pixels[std::size_t(i) * 3 + 1] = std::uint8_t(c0.g + (c1.g - c0.g) * i / 255);
            img.pixels[std::size_t(i) * 3 + 2] = std::uint8_t(c0.b + (c1.b - c0.b) * i / 255);
        }
        DrawImageAt(img, p0, {p1.x - p0.x, p1.y - p0.y});
    }
    return true;
}

PlayResult Play(std::span<const std::uint8_t> bytes, const Metafile& mf, Device& device, const PlayOptions& opt) {
    PlayResult res;
    if (!mf.Usable() || mf.records.empty()) {
        res.ok = false;
        return res;
    }
    PlayerImpl(bytes, mf, device, opt, res).Run();
    return res;
}

PlayResult Play(std::span<const std::uint8_t> bytes, Device& device, const PlayOptions& opt) {
    ReadOptions ro;
    ro.strict = opt.strict;
    Metafile mf = Read(bytes, ro);
    PlayResult res = Play(bytes, mf, device, opt);
    res.diagnostics.insert(res.diagnostics.begin(), mf.diagnostics.begin(), mf.diagnostics.end());
    return res;
}

Rect FrameInPixels(const Header& h, int logPixels, std::vector<Diagnostic>* diags) {
    double px = 96 / 25.4, py = 96 / 25.4;
    if (logPixels > 0) {
        px = py = logPixels / 25.4;
    } else if (h.device.cx > 0 && h.device.cy > 0 && h.millimeters.cx > 0 && h.millimeters.cy > 0) {
        px = double(h.device.cx) / h.millimeters.cx, py = double(h.device.cy) / h.millimeters.cy;
        if (h.micrometers.cx > 0 && h.micrometers.cy > 0)
            px = h.device.cx * 1000.0 / h.micrometers.cx, py = h.device.cy * 1000.0 / h.micrometers.cy;
    }
    Rect f{h.frame.left * px / 100, h.frame.top * py / 100, h.frame.right * px / 100, h.frame.bottom * py / 100};
    const RectL& b = h.bounds;
    if (b.right > b.left && b.bottom > b.top) {
        // A frame ten times the size of the drawn bounds (and then placed
        // anywhere) is a known producer fault: the bounds stand in for it.
        auto near = [](double a, double c) { return std::fabs(a - c) <= 2 + 0.03 * c; };
        const double bw = b.right - b.left, bh = b.bottom - b.top;
        const bool sizeFits = near(f.Width(), bw) && near(f.Height(), bh);
        const bool tenfold = near(std::fabs(f.Width()) / 10, bw) && near(std::fabs(f.Height()) / 10, bh);
        if (!sizeFits && tenfold && bw > 4 && bh > 4) {
            f = {double(b.left), double(b.top), double(b.right), double(b.bottom)};
            if (diags)
                diags->push_back({Diagnostic::Severity::Warning, 0, 0, EMR_HEADER,
                                  "frame is ten times the drawn bounds; the bounds are used instead"});
        }
    }
    if (f.right < f.left) std::swap(f.left, f.right);
    if (f.bottom < f.top) std::swap(f.top, f.bottom);
    return f;
}

Matrix FramePlacement(const Header& h, double x, double y, double sx, double sy, int logPixels,
                      std::vector<Diagnostic>* diags) {
    Rect f = FrameInPixels(h, logPixels, diags);
    return Matrix::Translate(-f.left, -f.top).Then(Matrix::Scale(sx, sy)).Then(Matrix::Translate(x, y));
}

}  // namespace emf
