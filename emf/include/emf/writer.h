// A recording device context: GDI-shaped calls that append metafile records.
//
// Every record passes through one append point, which checks the 4-byte
// alignment, counts the record and its bytes and grows the header's bounds.
// Object handles are slots of a table: slot 0 is reserved for the metafile
// itself, a deleted object's slot is reused by the next object created.
// Coordinates are logical units; the recorder follows the mapping mode, the
// window/viewport and the world transform so that bounds are device pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emf/records.h"

namespace emf {

struct RecorderSetup {
    // Reference device: the virtual screen, 96 pixels per inch.
    SizeL device{1920, 1080};
    SizeL millimeters{508, 286};
    // Frame in 0.01 mm; when absent it is computed from the bounds at Finish().
    bool hasFrame = false;
    RectL frame;
    std::u16string description;  // written with one terminating NUL and a second at the end
    // A file (its descriptor, borrowed, at offset 0 and empty) that receives
    // the records as they are made, so that a long metafile is not held in
    // memory; Finish() completes its header there. -1: kept in memory.
    int streamFd = -1;
};

// A DIB as the records carry it: the info header (with colour table) and the bits.
struct DibData {
    std::vector<std::uint8_t> info;
    std::vector<std::uint8_t> bits;
};

class Recorder {
public:
    explicit Recorder(const RecorderSetup& setup = {});
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // ---- state
    void SetMapMode(std::uint32_t mode);
    void SetWindowExtEx(std::int32_t cx, std::int32_t cy);
    void SetWindowOrgEx(std::int32_t x, std::int32_t y);
    void SetViewportExtEx(std::int32_t cx, std::int32_t cy);
    void SetViewportOrgEx(std::int32_t x, std::int32_t y);
    void SetWorldTransform(const XForm&);
    void ModifyWorldTransform(const XForm&, std::uint32_t mode);
    void SaveDC();
    void RestoreDC(std::int32_t relative);
    void SetBkMode(std::uint32_t);
    void SetBkColor(std::uint32_t colorref);
    void SetTextColor(std::uint32_t colorref);
    void SetTextAlign(std::uint32_t);
    void SetPolyFillMode(std::uint32_t);
    void SetMiterLimit(float);
    void SetStretchBltMode(std::uint32_t);
    void SetArcDirection(std::uint32_t);

    // ---- objects; each returns the object's handle slot
    std::uint32_t CreatePen(std::uint32_t style, std::int32_t width, std::uint32_t colorref);
    std::uint32_t ExtCreatePen(std::uint32_t style, std::uint32_t width, std::uint32_t brushStyle,
                               std::uint32_t colorref, std::uint32_t hatch,
                               std::span<const std::uint32_t> dashes = {});
    std::uint32_t CreateBrushIndirect(std::uint32_t style, std::uint32_t colorref, std::uint32_t hatch = 0);
    std::uint32_t CreateDibPatternBrush(const DibData&);
    std::uint32_t ExtCreateFontIndirectW(const LogFont&);
    void SelectObject(std::uint32_t handle);  // a slot, or kStockObject | stock number
    void DeleteObject(std::uint32_t handle);

    // ---- drawing
    void MoveToEx(std::int32_t x, std::int32_t y);
    void LineTo(std::int32_t x, std::int32_t y);
    void PolylineTo(std::span<const PointL>);
    void PolyBezierTo(std::span<const PointL>);
    void Polyline(std::span<const PointL>);
    void PolyBezier(std::span<const PointL>);
    void Polygon(std::span<const PointL>);
    void PolyPolygon(std::span<const std::vector<PointL>> polygons);
    // 16-bit forms; points must fit in 16 bits.
    void Polyline16(std::span<const PointL>);
    void Polygon16(std::span<const PointL>);
    void Rectangle(const RectL&);
    void RoundRect(const RectL&, SizeL corner);
    void Ellipse(const RectL&);
    void Arc(const RectL&, PointL start, PointL end);
    void Chord(const RectL&, PointL start, PointL end);
    void Pie(const RectL&, PointL start, PointL end);

    void BeginPath();
    void EndPath();
    void CloseFigure();
    void AbortPath();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(std::uint32_t mode);

    void IntersectClipRect(const RectL&);
    void ExcludeClipRect(const RectL&);
    // Rectangles in device pixels; an empty list with RGN_COPY restores the default clip.
    void ExtSelectClipRgn(std::span<const RectL> rects, std::uint32_t mode);

    // dx: one advance per code unit (or two per unit with ETO_PDY); `bounds`
    // is the ink box in logical units when the caller knows it.
    void ExtTextOutW(std::int32_t x, std::int32_t y, std::uint32_t options, const RectL* clip,
                     std::u16string_view text, std::span<const std::int32_t> dx, const RectL* bounds = nullptr);

    void StretchDIBits(const RectL& dest, const RectL& src, const DibData&, std::uint32_t rop = SRCCOPY);
    // Per-pixel alpha, premultiplied, 32 bits per pixel.
    void AlphaBlend(const RectL& dest, const RectL& src, const DibData&, std::uint8_t constantAlpha = 255);

    void GdiComment(std::span<const std::uint8_t> data);

    // A record made elsewhere (type and size included); it goes through the
    // same append point. `deviceBounds` grows the header's bounds.
    void AppendRaw(std::span<const std::uint8_t> record, const RectL* deviceBounds = nullptr);

    // Appends the end-of-file record, completes the header and returns the
    // metafile (nothing when it went to the stream file). Further calls throw
    // std::logic_error; std::runtime_error when the stream file cannot be
    // written.
    std::vector<std::uint8_t> Finish();

    std::uint32_t RecordCount() const;
    std::size_t ByteCount() const;

private:
    struct Members;
    std::unique_ptr<Members> m_;
};

// Colour helpers: COLORREF is 0x00BBGGRR.
constexpr std::uint32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return std::uint32_t(r) | std::uint32_t(g) << 8 | std::uint32_t(b) << 16;
}

}  // namespace emf
