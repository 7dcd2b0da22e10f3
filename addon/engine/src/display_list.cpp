#include "htmlengine/display_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <algorithm>
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
    if (f > static_cast<std::uint8_t>(emf::Image::Format::Png)) throw wire::Damaged("image format");
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
    if (!im->Encoded()) {
        std::size_t bpp = im->format == emf::Image::Format::Gray8 ? 1 : im->format == emf::Image::Format::Rgb8 ? 3 : 4;
        if (im->pixels.size() != static_cast<std::size_t>(im->width) * im->height * bpp) throw wire::Damaged("image pixels");
    }
    return im;
}
}  // namespace

struct DisplayList::Call {
    std::variant<FillCall, StrokeCall, TextCall, ImageCall, ClipCall, PopCall, FontCall> v;
};

// The spill file: segments of `u64 length | Serialize's bytes`, each with
// its clips balanced, written in drawing order.
struct DisplayList::Spill {
    int fd = -1;
    std::uint64_t size = 0;         // bytes written
    std::uint64_t calls = 0, texts = 0;  // what the segments hold
    ~Spill() {
        if (fd >= 0) ::close(fd);
    }
};

namespace {

void WriteFully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("drawing not written to disk: ") + std::strerror(errno));
        data += n, size -= static_cast<std::size_t>(n);
    }
}

bool ReadFully(int fd, std::uint64_t at, char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::pread(fd, data, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n, size -= static_cast<std::size_t>(n), at += static_cast<std::uint64_t>(n);
    }
    return true;
}

int MakeSpillFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/vmdrawXXXXXX";
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("no file for the drawing: " + std::string(std::strerror(errno)));
    ::unlink(name.c_str());  // gone with the last descriptor, whatever ends the process
    return fd;
}

}  // namespace

DisplayList::DisplayList() = default;
DisplayList::~DisplayList() = default;
DisplayList::DisplayList(DisplayList&&) noexcept = default;
DisplayList& DisplayList::operator=(DisplayList&&) noexcept = default;

void DisplayList::FillPath(const emf::Path& p, emf::FillRule r, const emf::Paint& paint, const emf::Matrix& m) {
    calls_.push_back({FillCall{p, r, paint, m}});
    AfterCall();
}
void DisplayList::StrokePath(const emf::Path& p, const emf::StrokeStyle& s, const emf::Color& c, const emf::Matrix& m) {
    calls_.push_back({StrokeCall{p, s, c, m}});
    AfterCall();
}
void DisplayList::DrawText(const emf::TextRun& run, const emf::Matrix& m) {
    calls_.push_back({TextCall{run, m}});
    AfterCall();
}
void DisplayList::DrawImage(const emf::Image& im, const emf::Matrix& m) {
    calls_.push_back({ImageCall{std::make_shared<emf::Image>(im), m}});
    AfterCall();
}
void DisplayList::PushClip(const emf::Path& p, emf::FillRule r, const emf::Matrix& m) {
    calls_.push_back({ClipCall{p, r, m}});
    ++openClips_;
}
void DisplayList::PopClip() {
    if (openClips_ == 0) return;  // an unbalanced pop would end a clip of the target's own
    calls_.push_back({PopCall{}});
    --openClips_;
    AfterCall();
}

void DisplayList::SetSpillThreshold(std::size_t calls) {
    spillThreshold_ = calls;
    AfterCall();
}

void DisplayList::AfterCall() {
    if (spillThreshold_ > 0 && openClips_ == 0 && calls_.size() >= spillThreshold_) SpillHeld();
}

void DisplayList::SpillHeld() {
    if (calls_.empty()) return;
    if (!spill_) spill_ = std::make_unique<Spill>();
    if (spill_->fd < 0) spill_->fd = MakeSpillFile();
    // A segment reads back as a list of its own, with nothing spilled.
    std::string bytes(3 * sizeof(std::uint64_t), '\0');
    SerializeHeld(bytes);
    const std::uint64_t length = bytes.size() - sizeof(std::uint64_t);
    std::memcpy(bytes.data(), &length, sizeof length);
    if (::lseek(spill_->fd, static_cast<off_t>(spill_->size), SEEK_SET) < 0)
        throw std::runtime_error(std::string("drawing not written to disk: ") + std::strerror(errno));
    WriteFully(spill_->fd, bytes.data(), bytes.size());
    spill_->size += bytes.size();
    spill_->calls += calls_.size();
    spill_->texts += static_cast<std::uint64_t>(std::count_if(calls_.begin(), calls_.end(), [](const Call& c) {
        return std::holds_alternative<TextCall>(c.v);
    }));
    std::vector<Call>().swap(calls_);
}

int DisplayList::SpillFd() const { return spill_ && spill_->fd >= 0 ? spill_->fd : -1; }

bool DisplayList::AwaitsSpill() const { return spill_ && spill_->calls > 0 && spill_->fd < 0; }

bool DisplayList::AdoptSpill(int fd) {
    if (!spill_ || spill_->fd >= 0 || fd < 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    spill_->fd = fd;
    // The segments must add up to the calls announced.
    std::uint64_t at = 0, calls = 0;
    for (;;) {
        std::uint64_t length = 0;
        if (!ReadFully(fd, at, reinterpret_cast<char*>(&length), sizeof length)) break;
        char head[8 + 2 * sizeof(std::uint64_t) + sizeof(std::uint32_t)];
        if (length < sizeof head - 8 || !ReadFully(fd, at + 8, head, sizeof head - 8)) return false;
        std::uint32_t n;
        std::memcpy(&n, head + 2 * sizeof(std::uint64_t), sizeof n);
        calls += n;
        at += 8 + length;
    }
    spill_->size = at;
    return calls == spill_->calls;
}

std::size_t DisplayList::CallCount() const { return calls_.size() + (spill_ ? spill_->calls : 0); }

std::size_t DisplayList::TextRunCount() const {
    const auto held = std::count_if(calls_.begin(), calls_.end(), [](const Call& c) {
        return std::holds_alternative<TextCall>(c.v);
    });
    return static_cast<std::size_t>(held) + (spill_ ? spill_->texts : 0);
}

void DisplayList::DefineFont(const emf::FontProgram& f) {
    calls_.push_back({FontCall{std::make_shared<emf::FontProgram>(f)}});
    AfterCall();
}

std::vector<const emf::TextRun*> DisplayList::TextRuns() const {
    std::vector<const emf::TextRun*> out;
    for (const auto& c : calls_)
        if (auto* t = std::get_if<TextCall>(&c.v)) out.push_back(&t->run);
    return out;
}

void DisplayList::Replay(emf::Device& d) const { Replay(d, {}, 0); }

void DisplayList::Replay(emf::Device& d, const std::function<void()>& between, std::size_t every) const {
    std::size_t done = 0;
    if (spill_ && spill_->calls > 0) {
        if (spill_->fd < 0) throw std::runtime_error("the drawing's file is missing");
        // One segment in memory at a time.
        std::string bytes;
        for (std::uint64_t at = 0; at < spill_->size;) {
            std::uint64_t length = 0;
            if (!ReadFully(spill_->fd, at, reinterpret_cast<char*>(&length), sizeof length) ||
                length > spill_->size - at - sizeof length)
                throw std::runtime_error("the drawing's file is damaged");
            bytes.resize(static_cast<std::size_t>(length));
            if (!ReadFully(spill_->fd, at + sizeof length, bytes.data(), bytes.size()))
                throw std::runtime_error("the drawing's file is damaged");
            at += sizeof length + length;
            std::optional<DisplayList> segment = Deserialize(bytes);
            if (!segment) throw std::runtime_error("the drawing's file is damaged");
            segment->ReplayHeld(d, between, every, done);
        }
    }
    ReplayHeld(d, between, every, done);
}

void DisplayList::ReplayHeld(emf::Device& d, const std::function<void()>& between, std::size_t every,
                             std::size_t& done) const {
    int open = 0;
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
    wire::Writer(out).Pod<std::uint64_t>(spill_ ? spill_->calls : 0);
    wire::Writer(out).Pod<std::uint64_t>(spill_ ? spill_->texts : 0);
    SerializeHeld(out);
}

void DisplayList::SerializeHeld(std::string& out) const {
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
        const auto spilledCalls = r.Pod<std::uint64_t>(), spilledTexts = r.Pod<std::uint64_t>();
        if (spilledTexts > spilledCalls) throw wire::Damaged("spilled counts");
        if (spilledCalls > 0) {
            dl.spill_ = std::make_unique<Spill>();
            dl.spill_->calls = spilledCalls, dl.spill_->texts = spilledTexts;
        }
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
