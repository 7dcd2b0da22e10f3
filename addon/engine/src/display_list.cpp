#include "htmlengine/display_list.h"

#include <variant>

#include "wire.h"

namespace htmlengine {

namespace {
struct FillCall { emf::Path path; emf::FillRule rule; emf::Paint paint; emf::Matrix ctm; };
struct StrokeCall { emf::Path path; emf::StrokeStyle style; emf::Color color; emf::Matrix ctm; };
struct TextCall { emf::TextRun run; emf::Matrix ctm; };
struct ImageCall { std::shared_ptr<const emf::Image> image; emf::Matrix ctm; };
struct ClipCall { emf::Path path; emf::FillRule rule; emf::Matrix ctm; };
struct PopCall {};
struct FontCall { std::shared_ptr<const emf::FontProgram> font; };

enum Tag : std::uint8_t { kFill = 1, kStroke, kText, kImage, kClip, kPop, kFont };

void PutMatrix(wire::Writer& w, const emf::Matrix& m) {
    for (double v : {m.a, m.b, m.c, m.d, m.e, m.f}) w.F64(v);
}
emf::Matrix GetMatrix(wire::Reader& r) {
    emf::Matrix m;
    m.a = r.F64(), m.b = r.F64(), m.c = r.F64(), m.d = r.F64(), m.e = r.F64(), m.f = r.F64();
    return m;
}
void PutColor(wire::Writer& w, const emf::Color& c) { w.Pod(c); }
emf::Color GetColor(wire::Reader& r) { return r.Pod<emf::Color>(); }

void PutPath(wire::Writer& w, const emf::Path& p) {
    w.U32(static_cast<std::uint32_t>(p.Ops().size()));
    for (auto op : p.Ops()) w.Pod(static_cast<std::uint8_t>(op));
    w.U32(static_cast<std::uint32_t>(p.Points().size()));
    for (auto pt : p.Points()) w.F64(pt.x), w.F64(pt.y);
}
emf::Path GetPath(wire::Reader& r) {
    std::uint32_t nOps = r.Count(1);
    std::vector<emf::Path::Op> ops(nOps);
    for (auto& op : ops) {
        auto v = r.Pod<std::uint8_t>();
        if (v > static_cast<std::uint8_t>(emf::Path::Op::Close)) throw wire::Damaged("path op");
        op = static_cast<emf::Path::Op>(v);
    }
    std::uint32_t nPts = r.Count(16);
    std::vector<emf::Point> pts(nPts);
    for (auto& p : pts) p.x = r.F64(), p.y = r.F64();
    emf::Path path;
    std::size_t k = 0;
    auto take = [&]() {
        if (k >= pts.size()) throw wire::Damaged("path points");
        return pts[k++];
    };
    for (auto op : ops) {
        switch (op) {
            case emf::Path::Op::Move: path.MoveTo(take()); break;
            case emf::Path::Op::Line: path.LineTo(take()); break;
            case emf::Path::Op::Cubic: {
                auto a = take(), b = take(), c = take();
                path.CubicTo(a, b, c);
                break;
            }
            case emf::Path::Op::Close: path.Close(); break;
        }
    }
    return path;
}
void PutImage(wire::Writer& w, const emf::Image& im) {
    w.Pod(static_cast<std::uint8_t>(im.format));
    w.I32(im.width), w.I32(im.height), w.I32(im.components);
    w.Bytes(im.pixels.data(), im.pixels.size());
    w.Bytes(im.encoded.data(), im.encoded.size());
    w.Bytes(im.iccProfile.data(), im.iccProfile.size());
    w.F64(im.dpiX), w.F64(im.dpiY);
}
std::shared_ptr<emf::Image> GetImage(wire::Reader& r) {
    auto im = std::make_shared<emf::Image>();
    auto f = r.Pod<std::uint8_t>();
    if (f > static_cast<std::uint8_t>(emf::Image::Format::Jpeg)) throw wire::Damaged("image format");
    im->format = static_cast<emf::Image::Format>(f);
    im->width = r.I32(), im->height = r.I32(), im->components = r.I32();
    auto px = r.View();
    im->pixels.assign(px.begin(), px.end());
    auto enc = r.View();
    im->encoded.assign(enc.begin(), enc.end());
    auto icc = r.View();
    im->iccProfile.assign(icc.begin(), icc.end());
    im->dpiX = r.F64(), im->dpiY = r.F64();
    if (im->width < 0 || im->height < 0 || im->components < 0 || im->components > 4) throw wire::Damaged("image size");
    if (im->format != emf::Image::Format::Jpeg) {
        std::size_t bpp = im->format == emf::Image::Format::Gray8 ? 1 : im->format == emf::Image::Format::Rgb8 ? 3 : 4;
        if (im->pixels.size() != static_cast<std::size_t>(im->width) * im->height * bpp) throw wire::Damaged("image pixels");
    }
    return im;
}
}  // namespace

struct DisplayList::Call {
    std::variant<FillCall, StrokeCall, TextCall, ImageCall, ClipCall, PopCall, FontCall> v;
};

DisplayList::DisplayList() = default;
DisplayList::~DisplayList() = default;
DisplayList::DisplayList(DisplayList&&) noexcept = default;
DisplayList& DisplayList::operator=(DisplayList&&) noexcept = default;

void DisplayList::FillPath(const emf::Path& p, emf::FillRule r, const emf::Paint& paint, const emf::Matrix& m) {
    calls_.push_back({FillCall{p, r, paint, m}});
}
void DisplayList::StrokePath(const emf::Path& p, const emf::StrokeStyle& s, const emf::Color& c, const emf::Matrix& m) {
    calls_.push_back({StrokeCall{p, s, c, m}});
}
void DisplayList::DrawText(const emf::TextRun& run, const emf::Matrix& m) { calls_.push_back({TextCall{run, m}}); }
void DisplayList::DrawImage(const emf::Image& im, const emf::Matrix& m) {
    calls_.push_back({ImageCall{std::make_shared<emf::Image>(im), m}});
}
void DisplayList::PushClip(const emf::Path& p, emf::FillRule r, const emf::Matrix& m) {
    calls_.push_back({ClipCall{p, r, m}});
    ++openClips_;
}
void DisplayList::PopClip() {
    if (openClips_ == 0) return;  // an unbalanced pop would end a clip of the target's own
    calls_.push_back({PopCall{}});
    --openClips_;
}

void DisplayList::DefineFont(const emf::FontProgram& f) {
    calls_.push_back({FontCall{std::make_shared<emf::FontProgram>(f)}});
}

std::size_t DisplayList::CallCount() const { return calls_.size(); }

std::vector<const emf::TextRun*> DisplayList::TextRuns() const {
    std::vector<const emf::TextRun*> out;
    for (const auto& c : calls_)
        if (auto* t = std::get_if<TextCall>(&c.v)) out.push_back(&t->run);
    return out;
}

void DisplayList::Replay(emf::Device& d) const { Replay(d, {}, 0); }

void DisplayList::Replay(emf::Device& d, const std::function<void()>& between, std::size_t every) const {
    int open = 0;
    std::size_t done = 0;
    for (const auto& c : calls_) {
        if (between && every && ++done % every == 0) between();
        std::visit(
            [&](const auto& call) {
                using T = std::decay_t<decltype(call)>;
                if constexpr (std::is_same_v<T, FillCall>) d.FillPath(call.path, call.rule, call.paint, call.ctm);
                else if constexpr (std::is_same_v<T, StrokeCall>) d.StrokePath(call.path, call.style, call.color, call.ctm);
                else if constexpr (std::is_same_v<T, TextCall>) d.DrawText(call.run, call.ctm);
                else if constexpr (std::is_same_v<T, ImageCall>) d.DrawImage(*call.image, call.ctm);
                else if constexpr (std::is_same_v<T, ClipCall>) d.PushClip(call.path, call.rule, call.ctm), ++open;
                else if constexpr (std::is_same_v<T, FontCall>) d.DefineFont(*call.font);
                else if (open > 0) d.PopClip(), --open;
            },
            c.v);
    }
    while (open-- > 0) d.PopClip();
}

void DisplayList::Serialize(std::string& out) const {
    wire::Writer w(out);
    w.U32(static_cast<std::uint32_t>(calls_.size()));
    for (const auto& c : calls_) {
        std::visit(
            [&](const auto& call) {
                using T = std::decay_t<decltype(call)>;
                if constexpr (std::is_same_v<T, FillCall>) {
                    w.Pod(kFill), PutPath(w, call.path), w.Pod(static_cast<std::uint8_t>(call.rule));
                    w.Pod(static_cast<std::uint8_t>(call.paint.kind)), PutColor(w, call.paint.color);
                    w.Pod(static_cast<std::uint8_t>(call.paint.hatch)), w.Bool(call.paint.opaqueBackground);
                    PutColor(w, call.paint.background);
                    w.Bool(call.paint.pattern != nullptr);
                    if (call.paint.pattern) PutImage(w, *call.paint.pattern);
                    PutMatrix(w, call.ctm);
                } else if constexpr (std::is_same_v<T, StrokeCall>) {
                    w.Pod(kStroke), PutPath(w, call.path);
                    w.F64(call.style.width), w.Pod(static_cast<std::uint8_t>(call.style.cap));
                    w.Pod(static_cast<std::uint8_t>(call.style.join)), w.F64(call.style.miterLimit);
                    w.U32(static_cast<std::uint32_t>(call.style.dashes.size()));
                    for (double v : call.style.dashes) w.F64(v);
                    w.F64(call.style.dashPhase), PutColor(w, call.color), PutMatrix(w, call.ctm);
                } else if constexpr (std::is_same_v<T, TextCall>) {
                    const auto& t = call.run;
                    w.Pod(kText);
                    w.Bytes(t.text.data(), t.text.size() * sizeof(char16_t));
                    w.U32(static_cast<std::uint32_t>(t.advances.size()));
                    for (double v : t.advances) w.F64(v);
                    w.F64(t.origin.x), w.F64(t.origin.y), w.Str(t.face), w.F64(t.emHeight), w.I32(t.weight);
                    w.Bool(t.italic), w.Bool(t.underline), w.Bool(t.strikeout), w.I32(t.charset), w.F64(t.angle);
                    PutColor(w, t.color), PutMatrix(w, call.ctm);
                } else if constexpr (std::is_same_v<T, ImageCall>) {
                    w.Pod(kImage), PutImage(w, *call.image), PutMatrix(w, call.ctm);
                } else if constexpr (std::is_same_v<T, ClipCall>) {
                    w.Pod(kClip), PutPath(w, call.path), w.Pod(static_cast<std::uint8_t>(call.rule)), PutMatrix(w, call.ctm);
                } else if constexpr (std::is_same_v<T, FontCall>) {
                    w.Pod(kFont), w.Bytes(call.font->face.data(), call.font->face.size() * sizeof(char16_t));
                    w.U32(static_cast<std::uint32_t>(call.font->format));
                    w.Bytes(call.font->bytes.data(), call.font->bytes.size());
                } else {
                    w.Pod(kPop);
                }
            },
            c.v);
    }
}

std::optional<DisplayList> DisplayList::Deserialize(std::string_view bytes) {
    try {
        wire::Reader r(bytes);
        DisplayList dl;
        std::uint32_t n = r.Count(1);
        dl.calls_.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            auto tag = r.Pod<std::uint8_t>();
            switch (tag) {
                case kFill: {
                    FillCall f;
                    f.path = GetPath(r);
                    f.rule = r.Pod<std::uint8_t>() ? emf::FillRule::EvenOdd : emf::FillRule::NonZero;
                    auto kind = r.Pod<std::uint8_t>();
                    if (kind > 2) throw wire::Damaged("paint kind");
                    f.paint.kind = static_cast<emf::Paint::Kind>(kind);
                    f.paint.color = GetColor(r);
                    auto hatch = r.Pod<std::uint8_t>();
                    if (hatch > 5) throw wire::Damaged("hatch");
                    f.paint.hatch = static_cast<emf::Hatch>(hatch);
                    f.paint.opaqueBackground = r.Bool();
                    f.paint.background = GetColor(r);
                    if (r.Bool()) f.paint.pattern = GetImage(r);
                    f.ctm = GetMatrix(r);
                    dl.calls_.push_back({std::move(f)});
                    break;
                }
                case kStroke: {
                    StrokeCall s;
                    s.path = GetPath(r);
                    s.style.width = r.F64();
                    auto cap = r.Pod<std::uint8_t>(), join = r.Pod<std::uint8_t>();
                    if (cap > 2 || join > 2) throw wire::Damaged("stroke style");
                    s.style.cap = static_cast<emf::LineCap>(cap), s.style.join = static_cast<emf::LineJoin>(join);
                    s.style.miterLimit = r.F64();
                    std::uint32_t nd = r.Count(8);
                    for (std::uint32_t k = 0; k < nd; ++k) s.style.dashes.push_back(r.F64());
                    s.style.dashPhase = r.F64();
                    s.color = GetColor(r);
                    s.ctm = GetMatrix(r);
                    dl.calls_.push_back({std::move(s)});
                    break;
                }
                case kText: {
                    TextCall t;
                    auto txt = r.View();
                    if (txt.size() % 2) throw wire::Damaged("text");
                    t.run.text.resize(txt.size() / 2);
                    std::memcpy(t.run.text.data(), txt.data(), txt.size());
                    std::uint32_t na = r.Count(8);
                    t.run.advances.resize(na);
                    for (auto& a : t.run.advances) a = r.F64();
                    t.run.origin.x = r.F64(), t.run.origin.y = r.F64();
                    t.run.face = r.Str(), t.run.emHeight = r.F64(), t.run.weight = r.I32();
                    t.run.italic = r.Bool(), t.run.underline = r.Bool(), t.run.strikeout = r.Bool();
                    t.run.charset = r.I32(), t.run.angle = r.F64();
                    t.run.color = GetColor(r);
                    t.ctm = GetMatrix(r);
                    dl.calls_.push_back({std::move(t)});
                    break;
                }
                case kImage: {
                    ImageCall c;
                    c.image = GetImage(r);
                    c.ctm = GetMatrix(r);
                    dl.calls_.push_back({std::move(c)});
                    break;
                }
                case kClip: {
                    ClipCall c;
                    c.path = GetPath(r);
                    c.rule = r.Pod<std::uint8_t>() ? emf::FillRule::EvenOdd : emf::FillRule::NonZero;
                    c.ctm = GetMatrix(r);
                    dl.calls_.push_back({std::move(c)});
                    ++dl.openClips_;
                    break;
                }
                case kPop:
                    if (dl.openClips_ == 0) throw wire::Damaged("clip pop without push");
                    --dl.openClips_;
                    dl.calls_.push_back({PopCall{}});
                    break;
                case kFont: {
                    auto f = std::make_shared<emf::FontProgram>();
                    auto face = r.View();
                    if (face.size() % 2) throw wire::Damaged("font face");
                    f->face.resize(face.size() / 2);
                    std::memcpy(f->face.data(), face.data(), face.size());
                    if (r.U32() != static_cast<std::uint32_t>(emf::FontProgram::Format::Sfnt)) throw wire::Damaged("font format");
                    auto bytes = r.View();
                    f->bytes.assign(bytes.begin(), bytes.end());
                    dl.calls_.push_back({FontCall{std::move(f)}});
                    break;
                }
                default: throw wire::Damaged("call tag");
            }
        }
        if (!r.AtEnd()) throw wire::Damaged("trailing bytes");
        return dl;
    } catch (const wire::Damaged&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace htmlengine
