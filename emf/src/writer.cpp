#include "emf/writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "bytes.h"
#include "emf/layouts.h"
#include "emf/record_stream.h"
#include "mapping.h"

namespace emf {

using namespace detail;

namespace {

// One record under construction; the append point fills in its size.
struct Rec {
    std::vector<std::uint8_t> b;
    explicit Rec(std::uint32_t type) { PutU32(b, type), PutU32(b, 0); }
    Rec& U32(std::uint32_t v) { return PutU32(b, v), *this; }
    Rec& I32(std::int32_t v) { return PutI32(b, v), *this; }
    Rec& F32(float v) { return PutF32(b, v), *this; }
    Rec& Rect(const RectL& r) { return I32(r.left).I32(r.top).I32(r.right).I32(r.bottom); }
    Rec& Pt(PointL p) { return I32(p.x).I32(p.y); }
    Rec& Bytes(std::span<const std::uint8_t> d) { return b.insert(b.end(), d.begin(), d.end()), *this; }
    Rec& Pad() {
        while (b.size() % 4) b.push_back(0);
        return *this;
    }
    std::size_t Size() const { return b.size(); }
};

struct DcState {
    Mapping map;
};

RectL Normalized(RectL r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}

std::int32_t Clamp32(double v) {
    if (!(v == v)) return 0;
    return std::int32_t(std::clamp(v, -2147483648.0, 2147483647.0));
}

}  // namespace

struct Recorder::Members {
    RecorderSetup setup;
    RecordStream out;
    std::uint32_t finalRecords = 0;
    // With a stream file: the bytes and records already written there, and
    // the header record as it was made (completed by Finish in the file).
    std::size_t written = 0;
    std::uint32_t writtenRecords = 0;
    std::vector<std::uint8_t> header;
    bool haveBounds = false;
    RectL bounds{};
    std::vector<bool> slots{true};  // slot 0: the metafile itself
    DcState dc;
    std::vector<DcState> saved;
    bool inPath = false;
    RectL pathBounds{};
    bool havePathBounds = false;
    bool finished = false;

    // Every record goes through the stream's append point; the recorder adds
    // the bounds.
    void Append(std::span<const std::uint8_t> rec, const RectL* devBounds) {
        Append(std::initializer_list<std::span<const std::uint8_t>>{rec}, devBounds);
    }
    void Append(std::initializer_list<std::span<const std::uint8_t>> pieces, const RectL* devBounds) {
        if (finished) throw std::logic_error("metafile already finished");
        std::size_t size = 0;
        for (const auto& piece : pieces) size += piece.size();
        if (written + out.ByteCount() + size > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("metafile larger than 4 GB");
        out.Append(pieces);
        if (devBounds) Grow(*devBounds);
        if (setup.streamFd >= 0 && out.ByteCount() >= kStreamChunk) Flush();
    }
    static constexpr std::size_t kStreamChunk = 1u << 20;
    void WriteAt(const std::uint8_t* p, std::size_t n, std::size_t at) const {
        while (n > 0) {
            ssize_t k = ::pwrite(setup.streamFd, p, n, static_cast<off_t>(at));
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) throw std::runtime_error(std::string("metafile not written: ") + std::strerror(errno));
            p += k, n -= static_cast<std::size_t>(k), at += static_cast<std::size_t>(k);
        }
    }
    // The records so far go to the stream file and leave memory.
    void Flush() {
        std::span<const std::uint8_t> bytes = out.Bytes();
        WriteAt(bytes.data(), bytes.size(), written);
        written += bytes.size();
        writtenRecords += out.RecordCount();
        out.Take();
    }
    void Emit(Rec& r, const RectL* devBounds = nullptr) {
        PatchU32(r.b, 4, std::uint32_t(r.b.size()));
        Append(r.b, devBounds);
    }
    void Grow(const RectL& r) {
        if (inPath) {
            Unite(pathBounds, havePathBounds, r);
            return;
        }
        Unite(bounds, haveBounds, r);
    }
    static void Unite(RectL& into, bool& have, const RectL& r) {
        if (!have) {
            into = r, have = true;
            return;
        }
        into.left = std::min(into.left, r.left), into.top = std::min(into.top, r.top);
        into.right = std::max(into.right, r.right), into.bottom = std::max(into.bottom, r.bottom);
    }
    // Device box of logical points, inclusive.
    RectL DeviceBox(std::span<const PointL> pts) const {
        Matrix m = dc.map.LogicalToDevice();
        double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
        for (auto p : pts) {
            Point d = m.Apply({double(p.x), double(p.y)});
            l = std::min(l, d.x), t = std::min(t, d.y), r = std::max(r, d.x), b = std::max(b, d.y);
        }
        if (pts.empty()) return {0, 0, -1, -1};
        return {Clamp32(std::floor(l)), Clamp32(std::floor(t)), Clamp32(std::ceil(r)), Clamp32(std::ceil(b))};
    }
    RectL DeviceBox(const RectL& r) const {
        PointL c[4] = {{r.left, r.top}, {r.right, r.top}, {r.left, r.bottom}, {r.right, r.bottom}};
        return DeviceBox(c);
    }
    std::uint32_t NewSlot() {
        for (std::size_t i = 1; i < slots.size(); ++i)
            if (!slots[i]) return slots[i] = true, std::uint32_t(i);
        // The header counts handles in 16 bits.
        if (slots.size() >= 0xFFFF) throw std::length_error("more than 65534 objects alive in one metafile");
        slots.push_back(true);
        return std::uint32_t(slots.size() - 1);
    }
    void Poly(std::uint32_t type, std::span<const PointL> pts, bool draws = true) {
        RectL box = DeviceBox(pts);
        Rec r(type);
        r.Rect(box).U32(std::uint32_t(pts.size()));
        for (auto p : pts) r.Pt(p);
        Emit(r, draws ? &box : nullptr);
    }
    void Poly16(std::uint32_t type, std::span<const PointL> pts) {
        RectL box = DeviceBox(pts);
        Rec r(type);
        r.Rect(box).U32(std::uint32_t(pts.size()));
        for (auto p : pts) {
            if (p.x < INT16_MIN || p.x > INT16_MAX || p.y < INT16_MIN || p.y > INT16_MAX)
                throw std::out_of_range("point does not fit a 16-bit record");
            PutU16(r.b, std::uint16_t(std::int16_t(p.x))), PutU16(r.b, std::uint16_t(std::int16_t(p.y)));
        }
        r.Pad();
        Emit(r, &box);
    }
    void BoxRecord(std::uint32_t type, const RectL& box) {
        Rec r(type);
        r.Rect(box);
        RectL d = DeviceBox(Normalized(box));
        Emit(r, &d);
    }
    void ArcRecord(std::uint32_t type, const RectL& box, PointL s, PointL e) {
        Rec r(type);
        r.Rect(box).Pt(s).Pt(e);
        RectL d = DeviceBox(Normalized(box));
        Emit(r, &d);
    }
    void Simple(std::uint32_t type) {
        Rec r(type);
        Emit(r);
    }
    void Pair(std::uint32_t type, std::int32_t a, std::int32_t b) {
        Rec r(type);
        r.I32(a).I32(b);
        Emit(r);
    }
    void U32Record(std::uint32_t type, std::uint32_t v) {
        Rec r(type);
        r.U32(v);
        Emit(r);
    }
    void PathDraw(std::uint32_t type) {
        Rec r(type);
        RectL b = havePathBounds ? pathBounds : RectL{0, 0, -1, -1};
        r.Rect(b);
        Emit(r, havePathBounds ? &b : nullptr);
    }
    void Blt(std::uint32_t type, const RectL& dest, const RectL& src, const DibData& dib, std::uint32_t rop) {
        // STRETCHDIBITS: bounds, xDest, yDest, xSrc, ySrc, cxSrc, cySrc, offBmi, cbBmi, offBits,
        // cbBits, iUsage, dwRop, cxDest, cyDest. ALPHABLEND shares the STRETCHBLT layout.
        RectL devBox = DeviceBox(Normalized(dest));
        Rec r(type);
        r.Rect(devBox);
        std::uint32_t infoSize = std::uint32_t((dib.info.size() + 3) & ~std::size_t(3));
        if (type == EMR_STRETCHDIBITS) {
            std::uint32_t offBmi = kStretchDIBitsSize, offBits = offBmi + infoSize;
            r.I32(dest.left).I32(dest.top).I32(src.left).I32(src.top);
            r.I32(src.right - src.left).I32(src.bottom - src.top);
            r.U32(offBmi).U32(std::uint32_t(dib.info.size())).U32(offBits).U32(std::uint32_t(dib.bits.size()));
            r.U32(DIB_RGB_COLORS).U32(rop).I32(dest.right - dest.left).I32(dest.bottom - dest.top);
        } else {
            std::uint32_t offBmi = kStretchBltSize, offBits = offBmi + infoSize;
            r.I32(dest.left).I32(dest.top).I32(dest.right - dest.left).I32(dest.bottom - dest.top);
            r.U32(rop).I32(src.left).I32(src.top);
            r.F32(1).F32(0).F32(0).F32(1).F32(0).F32(0);  // source transform
            r.U32(0).U32(DIB_RGB_COLORS);
            r.U32(offBmi).U32(std::uint32_t(dib.info.size())).U32(offBits).U32(std::uint32_t(dib.bits.size()));
            r.I32(src.right - src.left).I32(src.bottom - src.top);
        }
        // The bits go into the metafile straight from the bitmap: pictures of
        // printed pages run to tens of megabytes.
        r.Bytes(dib.info).Pad();
        static constexpr std::uint8_t kZeros[3] = {};
        const std::size_t pad = (4 - dib.bits.size() % 4) % 4;
        const std::size_t size = r.b.size() + dib.bits.size() + pad;
        if (size > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("metafile larger than 4 GB");
        PatchU32(r.b, 4, std::uint32_t(size));
        Append({r.b, dib.bits, std::span<const std::uint8_t>(kZeros, pad)}, &devBox);
    }
};

Recorder::Recorder(const RecorderSetup& setup) : m_(std::make_unique<Members>()) {
    m_->setup = setup;
    if (setup.device.cx > 0 && setup.millimeters.cx > 0)
        m_->dc.map.pxPerMmX = double(setup.device.cx) / setup.millimeters.cx;
    if (setup.device.cy > 0 && setup.millimeters.cy > 0)
        m_->dc.map.pxPerMmY = double(setup.device.cy) / setup.millimeters.cy;
    // The header is written now and completed by Finish().
    Rec h(EMR_HEADER);
    h.Rect({}).Rect({}).U32(kSignature).U32(0x10000).U32(0).U32(0).U32(0);
    std::u16string desc = setup.description;
    if (!desc.empty()) desc.append(u"\0\0", 2);
    h.U32(std::uint32_t(desc.size())).U32(desc.empty() ? 0 : kHeaderExt2Size).U32(0);
    h.I32(setup.device.cx).I32(setup.device.cy).I32(setup.millimeters.cx).I32(setup.millimeters.cy);
    h.U32(0).U32(0).U32(0);  // no pixel format, no OpenGL
    h.I32(setup.millimeters.cx * 1000).I32(setup.millimeters.cy * 1000);
    for (char16_t c : desc) PutU16(h.b, std::uint16_t(c));
    h.Pad();
    m_->Emit(h);
    if (setup.streamFd >= 0) m_->header.assign(m_->out.Bytes().begin(), m_->out.Bytes().end());
}

Recorder::~Recorder() = default;

std::uint32_t Recorder::RecordCount() const {
    return m_->finished ? m_->finalRecords : m_->writtenRecords + m_->out.RecordCount();
}
std::size_t Recorder::ByteCount() const { return m_->written + m_->out.ByteCount(); }

void Recorder::SetMapMode(std::uint32_t mode) {
    m_->dc.map.mapMode = mode;
    m_->U32Record(EMR_SETMAPMODE, mode);
}
void Recorder::SetWindowExtEx(std::int32_t cx, std::int32_t cy) {
    m_->dc.map.windowExt = {double(cx), double(cy)};
    m_->Pair(EMR_SETWINDOWEXTEX, cx, cy);
}
void Recorder::SetWindowOrgEx(std::int32_t x, std::int32_t y) {
    m_->dc.map.windowOrg = {double(x), double(y)};
    m_->Pair(EMR_SETWINDOWORGEX, x, y);
}
void Recorder::SetViewportExtEx(std::int32_t cx, std::int32_t cy) {
    m_->dc.map.viewportExt = {double(cx), double(cy)};
    m_->Pair(EMR_SETVIEWPORTEXTEX, cx, cy);
}
void Recorder::SetViewportOrgEx(std::int32_t x, std::int32_t y) {
    m_->dc.map.viewportOrg = {double(x), double(y)};
    m_->Pair(EMR_SETVIEWPORTORGEX, x, y);
}
namespace {
Rec& XFormFields(Rec& r, const XForm& x) { return r.F32(x.m11).F32(x.m12).F32(x.m21).F32(x.m22).F32(x.dx).F32(x.dy); }
}  // namespace
void Recorder::SetWorldTransform(const XForm& x) {
    m_->dc.map.world = ToMatrix(x);
    Rec r(EMR_SETWORLDTRANSFORM);
    XFormFields(r, x);
    m_->Emit(r);
}
void Recorder::ModifyWorldTransform(const XForm& x, std::uint32_t mode) {
    Matrix& w = m_->dc.map.world;
    switch (mode) {
    case MWT_IDENTITY: w = {}; break;
    case MWT_LEFTMULTIPLY: w = ToMatrix(x).Then(w); break;
    case MWT_RIGHTMULTIPLY: w = w.Then(ToMatrix(x)); break;
    case MWT_SET: w = ToMatrix(x); break;
    default: throw std::invalid_argument("unknown world-transform mode");
    }
    Rec r(EMR_MODIFYWORLDTRANSFORM);
    XFormFields(r, x).U32(mode);
    m_->Emit(r);
}
void Recorder::SaveDC() {
    m_->saved.push_back(m_->dc);
    m_->Simple(EMR_SAVEDC);
}
void Recorder::RestoreDC(std::int32_t relative) {
    if (relative >= 0 || std::size_t(-std::int64_t(relative)) > m_->saved.size())
        throw std::invalid_argument("RestoreDC beyond the saved states");
    m_->dc = m_->saved[m_->saved.size() - std::size_t(-std::int64_t(relative))];
    m_->saved.resize(m_->saved.size() - std::size_t(-std::int64_t(relative)));
    Rec r(EMR_RESTOREDC);
    r.I32(relative);
    m_->Emit(r);
}
void Recorder::SetBkMode(std::uint32_t v) { m_->U32Record(EMR_SETBKMODE, v); }
void Recorder::SetBkColor(std::uint32_t v) { m_->U32Record(EMR_SETBKCOLOR, v); }
void Recorder::SetTextColor(std::uint32_t v) { m_->U32Record(EMR_SETTEXTCOLOR, v); }
void Recorder::SetTextAlign(std::uint32_t v) { m_->U32Record(EMR_SETTEXTALIGN, v); }
void Recorder::SetPolyFillMode(std::uint32_t v) { m_->U32Record(EMR_SETPOLYFILLMODE, v); }
void Recorder::SetStretchBltMode(std::uint32_t v) { m_->U32Record(EMR_SETSTRETCHBLTMODE, v); }
void Recorder::SetArcDirection(std::uint32_t v) { m_->U32Record(EMR_SETARCDIRECTION, v); }
void Recorder::SetMiterLimit(float v) {
    Rec r(EMR_SETMITERLIMIT);
    r.F32(v);
    m_->Emit(r);
}

std::uint32_t Recorder::CreatePen(std::uint32_t style, std::int32_t width, std::uint32_t color) {
    std::uint32_t h = m_->NewSlot();
    Rec r(EMR_CREATEPEN);
    r.U32(h).U32(style).I32(width).I32(0).U32(color);
    m_->Emit(r);
    return h;
}
std::uint32_t Recorder::ExtCreatePen(std::uint32_t style, std::uint32_t width, std::uint32_t brushStyle,
                                     std::uint32_t color, std::uint32_t hatch,
                                     std::span<const std::uint32_t> dashes) {
    std::uint32_t h = m_->NewSlot();
    Rec r(EMR_EXTCREATEPEN);
    r.U32(h).U32(0).U32(0).U32(0).U32(0);  // no brush bitmap
    r.U32(style).U32(width).U32(brushStyle).U32(color).U32(hatch).U32(std::uint32_t(dashes.size()));
    for (auto d : dashes) r.U32(d);
    m_->Emit(r);
    return h;
}
std::uint32_t Recorder::CreateBrushIndirect(std::uint32_t style, std::uint32_t color, std::uint32_t hatch) {
    std::uint32_t h = m_->NewSlot();
    Rec r(EMR_CREATEBRUSHINDIRECT);
    r.U32(h).U32(style).U32(color).U32(hatch);
    m_->Emit(r);
    return h;
}
std::uint32_t Recorder::CreateDibPatternBrush(const DibData& dib) {
    std::uint32_t h = m_->NewSlot();
    Rec r(EMR_CREATEDIBPATTERNBRUSHPT);
    std::uint32_t infoSize = std::uint32_t((dib.info.size() + 3) & ~std::size_t(3));
    r.U32(h).U32(DIB_RGB_COLORS).U32(32).U32(std::uint32_t(dib.info.size())).U32(32 + infoSize);
    r.U32(std::uint32_t(dib.bits.size()));
    r.Bytes(dib.info).Pad().Bytes(dib.bits).Pad();
    m_->Emit(r);
    return h;
}
std::uint32_t Recorder::ExtCreateFontIndirectW(const LogFont& f) {
    std::uint32_t h = m_->NewSlot();
    Rec r(EMR_EXTCREATEFONTINDIRECTW);
    r.U32(h).I32(f.height).I32(f.width).I32(f.escapement).I32(f.orientation).I32(f.weight);
    for (std::uint8_t v : {f.italic, f.underline, f.strikeOut, f.charSet, f.outPrecision, f.clipPrecision,
                           f.quality, f.pitchAndFamily})
        r.b.push_back(v);
    for (std::size_t i = 0; i < 32; ++i)
        PutU16(r.b, i < 31 && i < f.faceName.size() ? std::uint16_t(f.faceName[i]) : 0);
    m_->Emit(r);
    return h;
}
void Recorder::SelectObject(std::uint32_t handle) { m_->U32Record(EMR_SELECTOBJECT, handle); }
void Recorder::DeleteObject(std::uint32_t handle) {
    if (handle == 0 || handle >= m_->slots.size() || !m_->slots[handle])
        throw std::invalid_argument("DeleteObject of a handle that is not in use");
    m_->slots[handle] = false;
    m_->U32Record(EMR_DELETEOBJECT, handle);
}

void Recorder::MoveToEx(std::int32_t x, std::int32_t y) {
    Rec r(EMR_MOVETOEX);
    r.I32(x).I32(y);
    m_->Emit(r);
}
void Recorder::LineTo(std::int32_t x, std::int32_t y) {
    Rec r(EMR_LINETO);
    r.I32(x).I32(y);
    PointL p{x, y};
    RectL box = m_->DeviceBox({&p, 1});
    m_->Emit(r, &box);
}
void Recorder::PolylineTo(std::span<const PointL> p) { m_->Poly(EMR_POLYLINETO, p); }
void Recorder::PolyBezierTo(std::span<const PointL> p) { m_->Poly(EMR_POLYBEZIERTO, p); }
void Recorder::Polyline(std::span<const PointL> p) { m_->Poly(EMR_POLYLINE, p); }
void Recorder::PolyBezier(std::span<const PointL> p) { m_->Poly(EMR_POLYBEZIER, p); }
void Recorder::Polygon(std::span<const PointL> p) { m_->Poly(EMR_POLYGON, p); }
void Recorder::Polyline16(std::span<const PointL> p) { m_->Poly16(EMR_POLYLINE16, p); }
void Recorder::Polygon16(std::span<const PointL> p) { m_->Poly16(EMR_POLYGON16, p); }
void Recorder::PolyPolygon(std::span<const std::vector<PointL>> polys) {
    std::vector<PointL> all;
    for (auto& p : polys) all.insert(all.end(), p.begin(), p.end());
    RectL box = m_->DeviceBox(all);
    Rec r(EMR_POLYPOLYGON);
    r.Rect(box).U32(std::uint32_t(polys.size())).U32(std::uint32_t(all.size()));
    for (auto& p : polys) r.U32(std::uint32_t(p.size()));
    for (auto p : all) r.Pt(p);
    m_->Emit(r, &box);
}
void Recorder::Rectangle(const RectL& b) { m_->BoxRecord(EMR_RECTANGLE, b); }
void Recorder::Ellipse(const RectL& b) { m_->BoxRecord(EMR_ELLIPSE, b); }
void Recorder::RoundRect(const RectL& b, SizeL corner) {
    Rec r(EMR_ROUNDRECT);
    r.Rect(b).I32(corner.cx).I32(corner.cy);
    RectL d = m_->DeviceBox(Normalized(b));
    m_->Emit(r, &d);
}
void Recorder::Arc(const RectL& b, PointL s, PointL e) { m_->ArcRecord(EMR_ARC, b, s, e); }
void Recorder::Chord(const RectL& b, PointL s, PointL e) { m_->ArcRecord(EMR_CHORD, b, s, e); }
void Recorder::Pie(const RectL& b, PointL s, PointL e) { m_->ArcRecord(EMR_PIE, b, s, e); }

void Recorder::BeginPath() {
    m_->inPath = true, m_->havePathBounds = false;
    m_->Simple(EMR_BEGINPATH);
}
void Recorder::EndPath() {
    m_->inPath = false;
    m_->Simple(EMR_ENDPATH);
}
void Recorder::CloseFigure() { m_->Simple(EMR_CLOSEFIGURE); }
void Recorder::AbortPath() {
    m_->inPath = false, m_->havePathBounds = false;
    m_->Simple(EMR_ABORTPATH);
}
void Recorder::FillPath() { m_->PathDraw(EMR_FILLPATH); }
void Recorder::StrokePath() { m_->PathDraw(EMR_STROKEPATH); }
void Recorder::StrokeAndFillPath() { m_->PathDraw(EMR_STROKEANDFILLPATH); }
void Recorder::SelectClipPath(std::uint32_t mode) {
    m_->havePathBounds = false;
    m_->U32Record(EMR_SELECTCLIPPATH, mode);
}

void Recorder::IntersectClipRect(const RectL& c) {
    Rec r(EMR_INTERSECTCLIPRECT);
    r.Rect(c);
    m_->Emit(r);
}
void Recorder::ExcludeClipRect(const RectL& c) {
    Rec r(EMR_EXCLUDECLIPRECT);
    r.Rect(c);
    m_->Emit(r);
}
void Recorder::ExtSelectClipRgn(std::span<const RectL> rects, std::uint32_t mode) {
    Rec r(EMR_EXTSELECTCLIPRGN);
    if (rects.empty()) {
        r.U32(0).U32(mode);
        m_->Emit(r);
        return;
    }
    RectL box = rects[0];
    for (auto& x : rects) {
        box.left = std::min(box.left, x.left), box.top = std::min(box.top, x.top);
        box.right = std::max(box.right, x.right), box.bottom = std::max(box.bottom, x.bottom);
    }
    std::uint32_t cb = 32 + 16 * std::uint32_t(rects.size());
    r.U32(cb).U32(mode);
    r.U32(32).U32(1).U32(std::uint32_t(rects.size())).U32(16 * std::uint32_t(rects.size())).Rect(box);
    for (auto& x : rects) r.Rect(x);
    m_->Emit(r);
}

void Recorder::ExtTextOutW(std::int32_t x, std::int32_t y, std::uint32_t options, const RectL* clip,
                           std::u16string_view text, std::span<const std::int32_t> dx, const RectL* bounds) {
    std::size_t perChar = (options & ETO_PDY) ? 2 : 1;
    if (!dx.empty() && dx.size() != text.size() * perChar)
        throw std::invalid_argument("one advance per character expected");
    Rec r(EMR_EXTTEXTOUTW);
    RectL devBox = bounds ? m_->DeviceBox(Normalized(*bounds)) : RectL{0, 0, -1, -1};
    r.Rect(devBox).U32(2 /*advanced graphics mode*/).F32(0).F32(0);
    std::uint32_t offString = kExtTextOutHeaderSize;
    std::uint32_t strBytes = std::uint32_t((text.size() * 2 + 3) & ~std::size_t(3));
    std::uint32_t offDx = dx.empty() ? 0 : offString + strBytes;
    RectL rc = clip ? *clip : RectL{};
    r.I32(x).I32(y).U32(std::uint32_t(text.size())).U32(offString).U32(options).Rect(rc).U32(offDx);
    for (char16_t c : text) PutU16(r.b, std::uint16_t(c));
    r.Pad();
    for (auto d : dx) r.I32(d);
    m_->Emit(r, bounds ? &devBox : nullptr);
}

void Recorder::StretchDIBits(const RectL& dest, const RectL& src, const DibData& dib, std::uint32_t rop) {
    m_->Blt(EMR_STRETCHDIBITS, dest, src, dib, rop);
}
void Recorder::AlphaBlend(const RectL& dest, const RectL& src, const DibData& dib, std::uint8_t alpha) {
    // BLENDFUNCTION: op AC_SRC_OVER, flags 0, constant alpha, AC_SRC_ALPHA.
    std::uint32_t blend = std::uint32_t(alpha) << 16 | std::uint32_t(AC_SRC_ALPHA) << 24;
    m_->Blt(EMR_ALPHABLEND, dest, src, dib, blend);
}

void Recorder::GdiComment(std::span<const std::uint8_t> data) {
    Rec r(EMR_GDICOMMENT);
    r.U32(std::uint32_t(data.size())).Bytes(data).Pad();
    m_->Emit(r);
}

void Recorder::AppendRaw(std::span<const std::uint8_t> record, const RectL* deviceBounds) {
    m_->Append(record, deviceBounds);
}

std::vector<std::uint8_t> Recorder::Finish() {
    Rec eof(EMR_EOF);
    eof.U32(0).U32(16).U32(20);  // no palette; nSizeLast = record size
    m_->Emit(eof);
    RectL b = m_->haveBounds ? m_->bounds : RectL{0, 0, -1, -1};
    RectL f = m_->setup.frame;
    if (!m_->setup.hasFrame) {
        // The frame of the drawn area: device pixels to 0.01 mm.
        double mx = 100.0 / m_->dc.map.pxPerMmX, my = 100.0 / m_->dc.map.pxPerMmY;
        f = m_->haveBounds ? RectL{Clamp32(b.left * mx), Clamp32(b.top * my), Clamp32(b.right * mx),
                                   Clamp32(b.bottom * my)}
                           : RectL{0, 0, -1, -1};
    }
    const std::uint16_t handles = std::uint16_t(m_->slots.size());
    m_->finished = true;
    if (m_->setup.streamFd < 0) {
        m_->out.CompleteHeader(&b, &f);
        m_->out.First().SetU16(layout::Header::handles, handles);
        m_->finalRecords = m_->out.RecordCount();
        return m_->out.Take();
    }
    // Streamed: the header as made, completed here and written over its
    // first copy at the start of the file.
    m_->Flush();
    m_->finalRecords = m_->writtenRecords;
    RecordEdit h(m_->header.data(), static_cast<std::uint32_t>(m_->header.size()));
    h.SetRect(layout::Header::bounds, b);
    h.SetRect(layout::Header::frame, f);
    h.SetU32(layout::Header::bytes, static_cast<std::uint32_t>(m_->written));
    h.SetU32(layout::Header::records, m_->writtenRecords);
    h.SetU16(layout::Header::handles, handles);
    m_->WriteAt(m_->header.data(), m_->header.size(), 0);
    return {};
}

}  // namespace emf
