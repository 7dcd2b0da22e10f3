#include "plus.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <variant>

#include "bytes.h"
#include "emf/reader.h"
#include "platform/text.h"

namespace emf::detail {

namespace {

// Record types.
enum : std::uint16_t {
    kHeader = 0x4001, kEndOfFile = 0x4002, kComment = 0x4003, kGetDC = 0x4004, kObject = 0x4008, kClear = 0x4009,
    kFillRects = 0x400A, kDrawRects = 0x400B, kFillPolygon = 0x400C, kDrawLines = 0x400D, kFillEllipse = 0x400E,
    kDrawEllipse = 0x400F, kFillPath = 0x4014, kDrawPath = 0x4015, kDrawBeziers = 0x4019, kDrawImage = 0x401A,
    kDrawImagePoints = 0x401B, kDrawString = 0x401C, kSetRenderingOrigin = 0x401D, kSetCompositingQuality = 0x4024,
    kSave = 0x4025, kRestore = 0x4026, kBeginContainer = 0x4027, kBeginContainerNoParams = 0x4028,
    kEndContainer = 0x4029, kSetWorldTransform = 0x402A, kResetWorldTransform = 0x402B,
    kMultiplyWorldTransform = 0x402C, kTranslateWorldTransform = 0x402D, kScaleWorldTransform = 0x402E,
    kRotateWorldTransform = 0x402F, kSetPageTransform = 0x4030, kResetClip = 0x4031, kSetClipRect = 0x4032,
    kSetClipPath = 0x4033, kOffsetClip = 0x4035, kDrawDriverString = 0x4036, kSerializableObject = 0x4038,
    kSetTSGraphics = 0x4039, kSetTSClip = 0x403A,
};
// Object types (bits 8-14 of an object record's flags).
enum : std::uint16_t { kBrush = 1, kPen = 2, kPath = 3, kImage = 5, kFont = 6, kStringFormat = 7, kImageAttributes = 8 };
constexpr std::uint16_t kSolidColor = 0x8000, kCompressed = 0x4000, kRelative = 0x0800, kClosed = 0x2000,
                        kAppend = 0x2000, kContinued = 0x8000;

Color Argb(std::uint32_t v) { return {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v), std::uint8_t(v >> 24)}; }

struct Pen {
    StrokeStyle style;
    std::uint32_t unit = 0;
    Color color;
};
struct Font {
    double em = 16;
    std::uint32_t unit = 3;
    std::string face;
    int weight = 400;
    bool italic = false, underline = false, strikeout = false;
};
struct StringFormat {
    std::uint32_t align = 0, lineAlign = 0;  // 0 near, 1 centre, 2 far
};
using Object = std::variant<std::monostate, Paint, Pen, Path, Font, StringFormat, std::shared_ptr<const Image>>;

// `n` UTF-16 units stored little-endian.
std::string Utf8Of(std::span<const std::uint8_t> utf16, std::size_t n) {
    std::u16string units(n, u'\0');
    for (std::size_t i = 0; i < n; ++i) units[i] = static_cast<char16_t>(GetU16(utf16.data() + 2 * i));
    return platform::Utf8FromUtf16(units);
}

}  // namespace

struct PlusPlayer::State {
    Device& dev;
    Matrix base;
    bool active = false, drew = false;
    double dpi = 96;
    Matrix world;
    std::uint32_t pageUnit = 2;  // pixels
    double pageScale = 1;
    std::vector<Path> clips;  // device pixels
    struct Saved {
        Matrix world;
        std::uint32_t pageUnit;
        double pageScale;
        std::vector<Path> clips;
    };
    std::map<std::uint32_t, Saved> saved;
    std::array<Object, 64> objects;
    std::vector<std::uint8_t> pending;  // an object that comes in several records
    std::vector<std::string>* warnings = nullptr;
    bool understood = true;  // every record of the current comment
    bool drawing = false;    // the current comment holds drawing records

    State(Device& d, const Matrix& b) : dev(d), base(b) {}

    bool Fail(const std::string& why) {
        understood = false;
        if (warnings && warnings->size() < 50) warnings->push_back(why);
        return false;
    }
    // Reference-device pixels of one unit.
    double UnitPx(std::uint32_t unit) const {
        switch (unit) {
        case 1: return dpi / 96;
        case 3: return dpi / 72;
        case 4: return dpi;
        case 5: return dpi / 300;
        case 6: return dpi / 25.4;
        default: return 1;  // world, pixel
        }
    }
    Matrix Page() const { return Matrix::Scale(UnitPx(pageUnit) * pageScale, UnitPx(pageUnit) * pageScale); }
    Matrix Ctm() const { return world.Then(Page()).Then(base); }
    double Scale() const {
        Matrix m = world.Then(Page());
        return std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
    }

    // Drawing calls run inside the clip areas in force.
    template <typename F> void Draw(F&& f) {
        for (const Path& c : clips) dev.PushClip(c, FillRule::NonZero, base);
        f();
        for (std::size_t i = 0; i < clips.size(); ++i) dev.PopClip();
        drew = true;
    }

    // Points of a record, 16-bit or float, absolute only.
    bool Points(const RecordView& v, std::size_t at, std::uint32_t count, std::uint16_t flags, std::vector<Point>& out) {
        if (flags & kRelative) return Fail("relative points not shown");
        std::span<const std::uint8_t> a;
        const bool small = flags & kCompressed;
        if (!v.Array(at, count, small ? 4 : 8, a)) return Fail("point count exceeds the record");
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = a.data() + i * (small ? 4 : 8);
            out[i] = small ? Point{double(std::int16_t(GetU16(p))), double(std::int16_t(GetU16(p + 2)))}
                           : Point{GetF32(p), GetF32(p + 4)};
            if (!std::isfinite(out[i].x) || !std::isfinite(out[i].y)) return Fail("point that is not a number");
        }
        return true;
    }
    bool Rects(const RecordView& v, std::size_t at, std::uint32_t count, std::uint16_t flags, std::vector<Rect>& out) {
        std::vector<Point> pts;
        if (count > (1u << 28)) return Fail("rectangle count exceeds the record");
        if (!Points(v, at, count * 2, std::uint16_t(flags & ~kRelative), pts)) return false;
        for (std::size_t i = 0; i + 1 < pts.size(); i += 2)
            out.push_back({pts[i].x, pts[i].y, pts[i].x + pts[i + 1].x, pts[i].y + pts[i + 1].y});
        return true;
    }
    template <typename T> const T* Get(std::uint32_t id) {
        if (id >= objects.size()) return nullptr;
        return std::get_if<T>(&objects[id]);
    }
    std::optional<Paint> BrushOf(std::uint16_t flags, std::uint32_t id) {
        if (flags & kSolidColor) {
            Paint p;
            p.color = Argb(id);
            return p;
        }
        if (auto* b = Get<Paint>(id)) return *b;
        Fail("brush " + std::to_string(id) + " not defined");
        return std::nullopt;
    }
    void Fill(const Path& p, const Paint& paint, FillRule rule = FillRule::EvenOdd) {
        if (p.Empty() || paint.color.a == 0) return;
        Draw([&] { dev.FillPath(p, rule, paint, Ctm()); });
    }
    void Stroke(const Path& p, std::uint32_t penId) {
        const Pen* pen = Get<Pen>(penId);
        if (!pen) {
            Fail("pen " + std::to_string(penId) + " not defined");
            return;
        }
        if (p.Empty() || pen->color.a == 0) return;
        StrokeStyle s = pen->style;
        // Widths in units other than the world's are fixed on the page.
        if (pen->unit != 0 && s.width > 0) s.width = s.width * UnitPx(pen->unit) / std::max(Scale(), 1e-9);
        Draw([&] { dev.StrokePath(p, s, pen->color, Ctm()); });
    }

    bool ParseObject(std::uint16_t type, std::uint8_t id, const RecordView& v);
    bool ParsePath(const RecordView& v, std::size_t at, Path& out);
    bool ParseBrush(const RecordView& v, std::size_t at, Paint& out, std::size_t* used = nullptr);
    bool ParseImage(const RecordView& v, Object& out);
    void Text(std::string text, std::size_t units, const Font& font, const Paint& paint, Point at,
              std::vector<double> advances, bool glyphs, const Rect* layout, const StringFormat* format);
    void One(std::uint16_t type, std::uint16_t flags, const RecordView& v);
};

bool PlusPlayer::State::ParseBrush(const RecordView& v, std::size_t at, Paint& out, std::size_t* used) {
    std::uint32_t type = 0, a = 0, b = 0, c = 0;
    if (!v.U32(at + 4, type)) return Fail("brush too short");
    switch (type) {
    case 0:
        if (!v.U32(at + 8, a)) return Fail("brush too short");
        out.color = Argb(a);
        if (used) *used = 12;
        return true;
    case 1:
        if (!v.U32(at + 8, a) || !v.U32(at + 12, b) || !v.U32(at + 16, c)) return Fail("brush too short");
        out.kind = Paint::Kind::Hatched;
        out.hatch = Hatch(std::min<std::uint32_t>(a, 5));
        out.color = Argb(b), out.background = Argb(c), out.opaqueBackground = out.background.a != 0;
        if (used) *used = 20;
        return true;
    case 4: {
        // A linear gradient shown in the mean of its end colours.
        if (!v.U32(at + 32, a) || !v.U32(at + 36, b)) return Fail("brush too short");
        Color x = Argb(a), y = Argb(b);
        out.color = {std::uint8_t((x.r + y.r) / 2), std::uint8_t((x.g + y.g) / 2), std::uint8_t((x.b + y.b) / 2),
                     std::uint8_t((x.a + y.a) / 2)};
        if (used) *used = 0;  // unknown length: nothing may follow
        return true;
    }
    default: return Fail("brush type " + std::to_string(type) + " not shown");
    }
}

bool PlusPlayer::State::ParsePath(const RecordView& v, std::size_t at, Path& out) {
    std::uint32_t count = 0, flags = 0;
    if (!v.U32(at + 4, count) || !v.U32(at + 8, flags)) return Fail("path too short");
    std::vector<Point> pts;
    if (!Points(v, at + 12, count, std::uint16_t(flags), pts)) return false;
    std::span<const std::uint8_t> types;
    if (flags & 0x1000) return Fail("run-length path types not shown");
    if (!v.Array(at + 12 + std::size_t(count) * ((flags & kCompressed) ? 4 : 8), count, 1, types))
        return Fail("path types exceed the record");
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const std::uint8_t t = types[i];
        switch (t & 7) {
        case 0: out.MoveTo(pts[i]); break;
        case 1: out.Empty() ? out.MoveTo(pts[i]) : out.LineTo(pts[i]); break;
        case 3:
            if (i + 2 >= pts.size() || out.Empty()) return Fail("curve without its points");
            out.CubicTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
            break;
        default: return Fail("unknown path point type");
        }
        if (types[i] & 0x80) out.Close();
    }
    return true;
}

bool PlusPlayer::State::ParseImage(const RecordView& v, Object& out) {
    std::uint32_t type = 0, w = 0, h = 0, stride = 0, format = 0, kind = 0;
    if (!v.U32(16, type)) return Fail("picture too short");
    if (type != 1) return Fail("pictures other than bitmaps not shown");
    if (!v.U32(20, w) || !v.U32(24, h) || !v.U32(28, stride) || !v.U32(32, format) || !v.U32(36, kind))
        return Fail("picture too short");
    auto img = std::make_shared<Image>();
    std::span<const std::uint8_t> data;
    if (!v.Slice(40, v.Size() - 40, data)) return Fail("picture too short");
    if (kind == 1) {
        // A compressed picture: JPEG is kept as it is; others go the plain way.
        if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8) return Fail("compressed picture not shown");
        img->format = Image::Format::Jpeg, img->width = int(w), img->height = int(h), img->components = 3;
        img->encoded.assign(data.begin(), data.end());
        out = std::shared_ptr<const Image>(img);
        return true;
    }
    const int bytes = format == 0x0026200A || format == 0x00022009 || format == 0x000E200B ? 4 : format == 0x00021808 ? 3 : 0;
    if (!bytes) return Fail("picture pixel format not shown");
    if (w == 0 || h == 0 || w > 1u << 15 || h > 1u << 15 || stride < w * std::uint32_t(bytes) ||
        std::uint64_t(stride) * h > data.size())
        return Fail("picture size does not fit its data");
    const bool alpha = format == 0x0026200A || format == 0x000E200B;
    img->format = alpha ? Image::Format::Rgba8 : Image::Format::Rgb8;
    img->components = alpha ? 4 : 3, img->width = int(w), img->height = int(h);
    img->pixels.reserve(std::size_t(w) * h * std::size_t(img->components));
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint8_t* p = data.data() + std::size_t(y) * stride + std::size_t(x) * std::size_t(bytes);
            img->pixels.insert(img->pixels.end(), {p[2], p[1], p[0]});
            if (alpha) img->pixels.push_back(p[3]);
        }
    out = std::shared_ptr<const Image>(img);
    return true;
}

bool PlusPlayer::State::ParseObject(std::uint16_t type, std::uint8_t id, const RecordView& v) {
    Object o;
    switch (type) {
    case kBrush: {
        Paint p;
        if (!ParseBrush(v, 12, p)) return false;
        o = p;
        break;
    }
    case kPen: {
        std::uint32_t flags = 0, unit = 0;
        float width = 0;
        if (!v.U32(20, flags) || !v.U32(24, unit) || !v.F32(28, width)) return Fail("pen too short");
        Pen pen;
        pen.unit = unit;
        pen.style.width = std::isfinite(width) ? std::max(0.0f, width) : 1;
        pen.style.cap = LineCap::Butt, pen.style.join = LineJoin::Miter;
        std::size_t at = 32;
        std::int32_t i = 0;
        float f = 0;
        if (flags & 0x001) at += 24;  // its own transform: left out
        auto cap = [](std::int32_t c) { return c == 2 ? LineCap::Round : c == 1 ? LineCap::Square : LineCap::Butt; };
        if (flags & 0x002) v.I32(at, i), pen.style.cap = cap(i), at += 4;
        if (flags & 0x004) at += 4;
        if (flags & 0x008) v.I32(at, i), pen.style.join = i == 2 ? LineJoin::Round : i == 1 ? LineJoin::Bevel : LineJoin::Miter, at += 4;
        if (flags & 0x010) v.F32(at, f), pen.style.miterLimit = std::isfinite(f) ? std::clamp<double>(f, 1, 100) : 10, at += 4;
        std::int32_t dashStyle = 0;
        if (flags & 0x020) v.I32(at, dashStyle), at += 4;
        if (flags & 0x040) at += 4;
        if (flags & 0x080) at += 4;
        const double u = std::max<double>(pen.style.width, 1);
        switch (dashStyle) {
        case 1: pen.style.dashes = {3 * u, u}; break;
        case 2: pen.style.dashes = {u, u}; break;
        case 3: pen.style.dashes = {3 * u, u, u, u}; break;
        case 4: pen.style.dashes = {3 * u, u, u, u, u, u}; break;
        default: break;
        }
        if (flags & 0x100) {
            std::uint32_t n = 0;
            std::span<const std::uint8_t> d;
            if (!v.U32(at, n) || !v.Array(at + 4, n, 4, d)) return Fail("pen dashes exceed the record");
            pen.style.dashes.clear();
            for (std::uint32_t k = 0; k < n && k < 64; ++k) pen.style.dashes.push_back(GetF32(d.data() + 4 * k) * u);
            at += 4 + std::size_t(n) * 4;
        }
        if (flags & 0x200) at += 4;
        if (flags & 0x400) {
            std::uint32_t n = 0;
            if (!v.U32(at, n) || n > v.Size()) return Fail("pen too short");
            at += 4 + std::size_t(n) * 4;
        }
        if (flags & 0x1800) return Fail("pens with their own line ends not shown");
        Paint brush;
        if (!ParseBrush(v, at, brush)) return false;
        if (brush.kind != Paint::Kind::Solid) brush.kind = Paint::Kind::Solid;  // hatched pens drawn in their colour
        pen.color = brush.color;
        o = pen;
        break;
    }
    case kPath: {
        Path p;
        if (!ParsePath(v, 12, p)) return false;
        o = std::move(p);
        break;
    }
    case kFont: {
        float em = 0;
        std::uint32_t unit = 0, style = 0, n = 0;
        std::span<const std::uint8_t> name;
        if (!v.F32(16, em) || !v.U32(20, unit) || !v.U32(24, style) || !v.U32(32, n) || !v.Array(36, n, 2, name))
            return Fail("font too short");
        Font f;
        f.em = std::isfinite(em) && em > 0 ? em : 12;
        f.unit = unit, f.face = Utf8Of(name, n);
        f.weight = style & 1 ? 700 : 400, f.italic = style & 2, f.underline = style & 4, f.strikeout = style & 8;
        o = f;
        break;
    }
    case kStringFormat: {
        StringFormat sf;
        v.U32(24, sf.align), v.U32(28, sf.lineAlign);
        o = sf;
        break;
    }
    case kImage:
        if (!ParseImage(v, o)) return false;
        break;
    case kImageAttributes: return true;  // colour adjustments: the picture is shown as it is
    default: return Fail("object type " + std::to_string(type) + " not shown");
    }
    objects[id] = std::move(o);
    return true;
}

void PlusPlayer::State::Text(std::string text, std::size_t units, const Font& font, const Paint& paint, Point at,
                             std::vector<double> advances, bool glyphs, const Rect* layout, const StringFormat* format) {
    TextRun run;
    std::u16string t;
    // The UTF-8 made from the record goes back to UTF-16 for the run.
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = text[i];
        char32_t cp = c;
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
        if (n == 2 && i + 1 < text.size()) cp = (c & 0x1F) << 6 | (text[i + 1] & 0x3F);
        if (n == 3 && i + 2 < text.size()) cp = (c & 0x0F) << 12 | (text[i + 1] & 0x3F) << 6 | (text[i + 2] & 0x3F);
        t += char16_t(cp);
        i += std::size_t(n);
    }
    (void)units;
    run.text = std::move(t);
    run.glyphIndices = glyphs;
    run.advances = std::move(advances);
    run.face = font.face;
    run.emHeight = font.unit == 0 ? font.em : font.em * UnitPx(font.unit) / std::max(Scale(), 1e-9);
    run.weight = font.weight, run.italic = font.italic, run.underline = font.underline, run.strikeout = font.strikeout;
    run.color = paint.color;
    if (layout) {
        // Laid out in a box: aligned by the string format, the first line's
        // baseline an ascent below the top.
        double width = 0;
        if (auto w = dev.MeasureText(run)) width = *w;
        else width = run.emHeight * 0.5 * double(run.text.size());
        const std::uint32_t align = format ? format->align : 0, lineAlign = format ? format->lineAlign : 0;
        const double lineH = run.emHeight * 1.15;
        double x = layout->left, y = layout->top;
        if (layout->Width() > 0) x += align == 1 ? (layout->Width() - width) / 2 : align == 2 ? layout->Width() - width : 0;
        else x -= align == 1 ? width / 2 : align == 2 ? width : 0;
        if (layout->Height() > 0) y += lineAlign == 1 ? (layout->Height() - lineH) / 2 : lineAlign == 2 ? layout->Height() - lineH : 0;
        at = {x, y + run.emHeight * 0.9};
    }
    run.origin = at;
    Draw([&] { dev.DrawText(run, Ctm()); });
}

void PlusPlayer::State::One(std::uint16_t type, std::uint16_t flags, const RecordView& v) {
    const std::size_t d = 12;  // the data after type, flags, size and data size
    if ((type >= kFillRects && type <= kDrawString) || type == kDrawDriverString || type == 0x4037) drawing = true;
    std::uint32_t a = 0, n = 0;
    float f[6] = {};
    auto floats = [&](std::size_t at, int count) {
        for (int i = 0; i < count; ++i)
            if (!v.F32(at + 4 * std::size_t(i), f[i]) || !std::isfinite(f[i])) return false;
        return true;
    };
    switch (type) {
    case kHeader: {
        std::uint32_t dx = 0;
        if (v.U32(d + 8, dx) && dx >= 24 && dx <= 4800) dpi = dx;
        active = true;
        return;
    }
    case kEndOfFile: case kComment: case kSetRenderingOrigin: case kSerializableObject: case kSetTSGraphics:
    case kSetTSClip: case kClear:
        return;
    case kObject: {
        const std::uint16_t otype = (flags >> 8) & 0x7F;
        const std::uint8_t id = flags & 0x3F;
        if (flags & kContinued) {
            // The first four bytes of each part give the whole object's size.
            std::uint32_t total = 0;
            std::span<const std::uint8_t> part;
            if (!v.U32(d, total) || !v.Slice(d + 4, v.Size() - d - 4, part) || total > 64u << 20)
                return (void)Fail("object part damaged");
            pending.insert(pending.end(), part.begin(), part.end());
            if (pending.size() < total) return;
        }
        if (!pending.empty()) {
            std::vector<std::uint8_t> whole(12, 0);
            whole.insert(whole.end(), pending.begin(), pending.end());
            pending.clear();
            ParseObject(otype, id, RecordView(whole.data(), std::uint32_t(whole.size())));
            return;
        }
        ParseObject(otype, id, v);
        return;
    }
    case kFillRects: case kDrawRects: {
        std::vector<Rect> rs;
        const std::size_t at = type == kFillRects ? d + 8 : d + 4;
        if (!v.U32(at - 4, n) || !Rects(v, at, n, flags, rs)) return;
        Path p;
        for (auto& r : rs) p.AddRect(r);
        if (type == kDrawRects) return Stroke(p, flags & 0xFF);
        if (!v.U32(d, a)) return (void)Fail("record too short");
        if (auto paint = BrushOf(flags, a)) Fill(p, *paint, FillRule::NonZero);
        return;
    }
    case kFillPolygon: case kDrawLines: case kDrawBeziers: {
        std::vector<Point> pts;
        const std::size_t at = type == kFillPolygon ? d + 8 : d + 4;
        if (!v.U32(at - 4, n) || !Points(v, at, n, flags, pts) || pts.empty()) return;
        Path p;
        p.MoveTo(pts[0]);
        if (type == kDrawBeziers)
            for (std::size_t i = 1; i + 2 < pts.size(); i += 3) p.CubicTo(pts[i], pts[i + 1], pts[i + 2]);
        else
            for (std::size_t i = 1; i < pts.size(); ++i) p.LineTo(pts[i]);
        if (type == kFillPolygon || (type == kDrawLines && (flags & kClosed))) p.Close();
        if (type != kFillPolygon) return Stroke(p, flags & 0xFF);
        if (!v.U32(d, a)) return (void)Fail("record too short");
        if (auto paint = BrushOf(flags, a)) Fill(p, *paint);
        return;
    }
    case kFillEllipse: case kDrawEllipse: {
        std::vector<Rect> rs;
        if (!Rects(v, type == kFillEllipse ? d + 4 : d, 1, flags, rs) || rs.empty()) return;
        const Rect& r = rs[0];
        // Four quarter arcs.
        const double cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2, rx = r.Width() / 2, ry = r.Height() / 2;
        const double k = 0.5522847498;
        Path p;
        p.MoveTo({cx + rx, cy});
        p.CubicTo({cx + rx, cy + k * ry}, {cx + k * rx, cy + ry}, {cx, cy + ry});
        p.CubicTo({cx - k * rx, cy + ry}, {cx - rx, cy + k * ry}, {cx - rx, cy});
        p.CubicTo({cx - rx, cy - k * ry}, {cx - k * rx, cy - ry}, {cx, cy - ry});
        p.CubicTo({cx + k * rx, cy - ry}, {cx + rx, cy - k * ry}, {cx + rx, cy});
        p.Close();
        if (type == kDrawEllipse) return Stroke(p, flags & 0xFF);
        if (!v.U32(d, a)) return (void)Fail("record too short");
        if (auto paint = BrushOf(flags, a)) Fill(p, *paint);
        return;
    }
    case kFillPath: case kDrawPath: {
        const Path* p = Get<Path>(flags & 0xFF);
        if (!p) return (void)Fail("path " + std::to_string(flags & 0xFF) + " not defined");
        if (!v.U32(d, a)) return (void)Fail("record too short");
        if (type == kDrawPath) return Stroke(*p, a);
        if (auto paint = BrushOf(flags, a)) Fill(*p, *paint);
        return;
    }
    case kDrawImage: case kDrawImagePoints: {
        auto* img = Get<std::shared_ptr<const Image>>(flags & 0xFF);
        if (!img || !*img) return (void)Fail("picture " + std::to_string(flags & 0xFF) + " not defined");
        Matrix m;
        if (type == kDrawImage) {
            std::vector<Rect> rs;
            if (!Rects(v, d + 24, 1, flags, rs) || rs.empty()) return;
            m = Matrix::Scale(rs[0].Width(), rs[0].Height()).Then(Matrix::Translate(rs[0].left, rs[0].top));
        } else {
            std::vector<Point> p;
            if (!v.U32(d + 24, n) || n != 3 || !Points(v, d + 28, 3, flags, p)) return (void)Fail("picture corners damaged");
            m = {p[1].x - p[0].x, p[1].y - p[0].y, p[2].x - p[0].x, p[2].y - p[0].y, p[0].x, p[0].y};
        }
        Draw([&] { dev.DrawImage(**img, m.Then(Ctm())); });
        return;
    }
    case kDrawString: {
        const Font* font = Get<Font>(flags & 0xFF);
        std::uint32_t brush = 0, formatId = 0, len = 0;
        std::span<const std::uint8_t> s;
        if (!font) return (void)Fail("font " + std::to_string(flags & 0xFF) + " not defined");
        if (!v.U32(d, brush) || !v.U32(d + 4, formatId) || !v.U32(d + 8, len) || !floats(d + 12, 4) ||
            !v.Array(d + 28, len, 2, s))
            return (void)Fail("text record damaged");
        auto paint = BrushOf(flags, brush);
        if (!paint) return;
        const Rect box{f[0], f[1], f[0] + f[2], f[1] + f[3]};
        Text(Utf8Of(s, len), len, *font, *paint, {}, {}, false, &box, Get<StringFormat>(formatId));
        return;
    }
    case kDrawDriverString: {
        const Font* font = Get<Font>(flags & 0xFF);
        std::uint32_t brush = 0, options = 0, matrix = 0;
        std::span<const std::uint8_t> g, pos;
        if (!font) return (void)Fail("font " + std::to_string(flags & 0xFF) + " not defined");
        if (!v.U32(d, brush) || !v.U32(d + 4, options) || !v.U32(d + 8, matrix) || !v.U32(d + 12, n) ||
            !v.Array(d + 16, n, 2, g) || !v.Array(d + 16 + std::size_t(n) * 2, n, 8, pos) || n == 0)
            return (void)Fail("glyph record damaged");
        if (matrix) return (void)Fail("glyphs with their own transform not shown");
        if (options & 2) return (void)Fail("vertical glyphs not shown");
        auto paint = BrushOf(flags, brush);
        if (!paint) return;
        const Point first{GetF32(pos.data()), GetF32(pos.data() + 4)};
        std::vector<double> adv;
        if (!(options & 4)) {
            // Each glyph placed: its advance runs to the next one; the last
            // is measured by the font.
            for (std::uint32_t i = 0; i + 1 < n; ++i) adv.push_back(GetF32(pos.data() + 8 * (i + 1)) - GetF32(pos.data() + 8 * i));
        }
        std::u16string units;
        for (std::uint32_t i = 0; i < n; ++i) units += char16_t(GetU16(g.data() + 2 * i));
        std::string text;
        for (char16_t c : units) {
            if (c < 0x80) text += char(c);
            else if (c < 0x800) text += char(0xC0 | c >> 6), text += char(0x80 | (c & 0x3F));
            else text += char(0xE0 | c >> 12), text += char(0x80 | (c >> 6 & 0x3F)), text += char(0x80 | (c & 0x3F));
        }
        if (!adv.empty()) {
            TextRun last;
            last.text = units.substr(n - 1), last.face = font->face, last.glyphIndices = !(options & 1);
            last.emHeight = font->unit == 0 ? font->em : font->em * UnitPx(font->unit) / std::max(Scale(), 1e-9);
            auto w = dev.MeasureText(last);
            adv.push_back(w ? *w : last.emHeight * 0.5);
        }
        Text(text, n, *font, *paint, first, adv, !(options & 1), nullptr, nullptr);
        return;
    }
    case kSave: case kBeginContainerNoParams: case kBeginContainer: {
        std::size_t at = d;
        if (type == kBeginContainer) at = d + 32;
        if (!v.U32(at, a)) return (void)Fail("record too short");
        saved[a] = {world, pageUnit, pageScale, clips};
        if (type == kBeginContainer) {
            if (!floats(d, 6) || !v.F32(d + 24, f[4]) || !v.F32(d + 28, f[5])) return (void)Fail("container damaged");
            float r[8];
            for (int i = 0; i < 8; ++i) v.F32(d + 4 * std::size_t(i), r[i]);
            if (r[6] != 0 && r[7] != 0)
                world = Matrix::Translate(-r[4], -r[5])
                            .Then(Matrix::Scale(r[2] / r[6], r[3] / r[7]))
                            .Then(Matrix::Translate(r[0], r[1]))
                            .Then(world);
        }
        return;
    }
    case kRestore: case kEndContainer: {
        if (!v.U32(d, a)) return (void)Fail("record too short");
        auto it = saved.find(a);
        if (it == saved.end()) return;
        world = it->second.world, pageUnit = it->second.pageUnit, pageScale = it->second.pageScale;
        clips = it->second.clips;
        saved.erase(it, saved.end());
        return;
    }
    case kSetWorldTransform: case kMultiplyWorldTransform: {
        if (!floats(d, 6)) return (void)Fail("transform damaged");
        const Matrix m{f[0], f[1], f[2], f[3], f[4], f[5]};
        if (type == kSetWorldTransform) world = m;
        else world = (flags & kAppend) ? world.Then(m) : m.Then(world);
        return;
    }
    case kResetWorldTransform: world = {}; return;
    case kTranslateWorldTransform: case kScaleWorldTransform: case kRotateWorldTransform: {
        if (!floats(d, type == kRotateWorldTransform ? 1 : 2)) return (void)Fail("transform damaged");
        Matrix m = type == kTranslateWorldTransform ? Matrix::Translate(f[0], f[1])
                   : type == kScaleWorldTransform   ? Matrix::Scale(f[0], f[1])
                                                    : Matrix{std::cos(f[0] * std::numbers::pi / 180),
                                                             std::sin(f[0] * std::numbers::pi / 180),
                                                             -std::sin(f[0] * std::numbers::pi / 180),
                                                             std::cos(f[0] * std::numbers::pi / 180), 0, 0};
        world = (flags & kAppend) ? world.Then(m) : m.Then(world);
        return;
    }
    case kSetPageTransform:
        if (!floats(d, 1) || f[0] <= 0) return (void)Fail("page transform damaged");
        pageUnit = flags & 0xFF, pageScale = f[0];
        return;
    case kResetClip: clips.clear(); return;
    case kSetClipRect: case kSetClipPath: {
        const std::uint32_t mode = (flags >> 8) & 0xF;
        Path p;
        if (type == kSetClipRect) {
            if (!floats(d, 4)) return (void)Fail("clip damaged");
            p.AddRect({f[0], f[1], f[0] + f[2], f[1] + f[3]});
        } else if (const Path* q = Get<Path>(flags & 0xFF)) {
            p = *q;
        } else {
            return (void)Fail("clip path not defined");
        }
        // Kept in device pixels, so later transforms leave it where it is.
        Path dev;
        const Matrix m = world.Then(Page());
        std::size_t i = 0;
        const auto& pts = p.Points();
        for (auto op : p.Ops()) {
            if (op == Path::Op::Move) dev.MoveTo(m.Apply(pts[i++]));
            else if (op == Path::Op::Line) dev.LineTo(m.Apply(pts[i++]));
            else if (op == Path::Op::Cubic) dev.CubicTo(m.Apply(pts[i]), m.Apply(pts[i + 1]), m.Apply(pts[i + 2])), i += 3;
            else dev.Close();
        }
        if (mode == 0) clips = {dev};
        else if (mode == 1 && clips.size() < 64) clips.push_back(dev);
        else return (void)Fail("clip combination " + std::to_string(mode) + " not shown");
        return;
    }
    case kOffsetClip: return (void)Fail("moved clip not shown");
    default:
        if (type > kSetRenderingOrigin && type <= kSetCompositingQuality) return;  // rendering hints
        Fail("extended record " + std::to_string(type) + " not shown");
    }
}

PlusPlayer::PlusPlayer(Device& device, const Matrix& base) : s_(std::make_unique<State>(device, base)) {}
PlusPlayer::~PlusPlayer() = default;
bool PlusPlayer::Active() const { return s_->active; }
bool PlusPlayer::Drew() const { return s_->drew; }

bool PlusPlayer::Comment(std::span<const std::uint8_t> data, std::vector<std::string>& warnings) {
    State& s = *s_;
    s.warnings = &warnings;
    s.understood = true, s.drawing = false;
    bool getDC = false;
    std::size_t at = 0;
    while (at + 12 <= data.size()) {
        const std::uint16_t type = GetU16(&data[at]), flags = GetU16(&data[at + 2]);
        const std::uint32_t size = GetU32(&data[at + 4]), dataSize = GetU32(&data[at + 8]);
        if (size < 12 || size > data.size() - at || dataSize > size - 12) {
            s.Fail("extended record size does not fit");
            break;
        }
        if (type == kHeader) s.active = true;
        if (type == kGetDC) getDC = true;
        else if (s.active) s.One(type, flags, RecordView(&data[at], size));
        at += size;
    }
    s.warnings = nullptr;
    // Only drawing has plain records that repeat it: after a comment of
    // objects and settings alone, the plain records are drawing of their own.
    return s.active && s.understood && s.drawing && !getDC;
}

}  // namespace emf::detail
