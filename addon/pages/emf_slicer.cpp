#include "addon/pages/emf_slicer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <unordered_map>

#include <zlib.h>

#include "emf/layouts.h"
#include "emf/reader.h"
#include "emf/record_stream.h"
#include "emf/records.h"
#include "platform/sysinfo.h"

namespace tessaline {
namespace {

constexpr std::int64_t kMaxSlices = 10000;

// The record being rewritten, in the slice's stream: its accessors never
// step outside it and its writes saturate.
using Rec = emf::RecordEdit;
namespace L = emf::layout;

struct Box {
    std::int64_t left, top, right, bottom;
};

std::int32_t Saturated(std::int64_t v) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Records the rewriting leaves out of a slice whenever their bounds lie
// wholly outside it, whatever came before them.
bool LeftOutWhenOutside(std::uint32_t type) {
    switch (type) {
        case emf::EMR_EXTTEXTOUTA: case emf::EMR_EXTTEXTOUTW: case emf::EMR_POLYGON: case emf::EMR_POLYGON16:
        case emf::EMR_RECTANGLE: case emf::EMR_ROUNDRECT: case emf::EMR_BITBLT: case emf::EMR_STRETCHBLT:
        case emf::EMR_MASKBLT: case emf::EMR_TRANSPARENTBLT: case emf::EMR_PLGBLT: case emf::EMR_SETDIBITSTODEVICE:
        case emf::EMR_STRETCHDIBITS: case emf::EMR_ALPHABLEND:
            return true;
        default:
            return false;
    }
}

}  // namespace

// Rewrites one record for the slice (0, 0, w, h) after moving it by dy.
class CEmfSlicer::RecordParser {
public:
    // Text beginning at or below `pushFrom` (slice pixels) belongs to the
    // next slice: it is blanked here. Text beginning above the slice belongs
    // to the slice before it, if there is one (`first` says there is none).
    RecordParser(int w, int h, int dy, std::int64_t pushFrom, bool first, const LogSource& log)
        : w_(w), h_(h), dy_(dy), pushFrom_(pushFrom), first_(first), log_(log) {}

    // Appends the rewritten record(s) to the slice; false when nothing is kept.
    //
    // A selection of a pen, brush or font is held back until something is
    // drawn after it, and a later selection of the same kind replaces it: a
    // page of a long document then carries the few selections its own
    // drawing needs, not one for every shape drawn above and below it.
    bool Process(const std::uint8_t* data, std::uint32_t size, std::size_t offset) {
        if (size < 8) return false;
        const emf::RecordView view(data, size);
        const std::uint32_t type = view.Type();
        NoteObject(view);
        std::uint32_t handle = 0;
        if (type == emf::EMR_SELECTOBJECT && view.U32(8, handle)) {
            if (const int kind = KindOf(handle); kind >= 0) {
                held_[static_cast<std::size_t>(kind)].assign(data, data + size);
                return true;
            }
        }
        if (type == emf::EMR_EOF) {
            for (auto& h : held_) h.clear();
            return Rewrite(data, size, offset);
        }
        // Inside a path bracket (which may be taken out again as a whole)
        // the held selections go first; elsewhere only before a record that
        // is kept.
        if (inPath_ || path_.held || type == emf::EMR_BEGINPATH) {
            FlushHeld();
            return Rewrite(data, size, offset);
        }
        const emf::RecordStream::Mark at = out_.Here();
        const bool kept = Rewrite(data, size, offset);
        if (out_.Here().bytes > at.bytes) PutHeldAt(at);
        return kept;
    }

private:
    enum Kind { kPen, kBrush, kFont, kKinds };
    // The kind of object a handle names (stock objects by number, the
    // others by the record that made them); -1 when not known.
    int KindOf(std::uint32_t handle) const {
        if (handle & 0x80000000u) {
            const std::uint32_t stock = handle & 0x7FFFFFFFu;
            if (stock <= 5) return kBrush;
            if (stock <= 8) return kPen;
            if (stock >= 10 && stock <= 17 && stock != 15) return kFont;
            return -1;
        }
        const auto it = kinds_.find(handle);
        return it == kinds_.end() ? -1 : it->second;
    }
    void NoteObject(const emf::RecordView& view) {
        std::uint32_t handle = 0;
        if (!view.U32(8, handle)) return;
        switch (view.Type()) {
            case emf::EMR_CREATEPEN: case emf::EMR_EXTCREATEPEN: kinds_[handle] = kPen; break;
            case emf::EMR_CREATEBRUSHINDIRECT: case emf::EMR_CREATEDIBPATTERNBRUSHPT: case emf::EMR_CREATEMONOBRUSH:
                kinds_[handle] = kBrush;
                break;
            case emf::EMR_EXTCREATEFONTINDIRECTW: kinds_[handle] = kFont; break;
            case emf::EMR_CREATEPALETTE: case emf::EMR_CREATECOLORSPACE: case emf::EMR_CREATECOLORSPACEW:
                kinds_.erase(handle);
                break;
            default: break;
        }
    }
    // Appends the held selections in the order pen, brush, font.
    void FlushHeld() {
        for (auto& h : held_) {
            if (h.empty()) continue;
            out_.Append(h);
            h.clear();
        }
    }
    // Puts the held selections before the records appended since `at`.
    void PutHeldAt(emf::RecordStream::Mark at) {
        if (std::all_of(held_.begin(), held_.end(), [](const auto& h) { return h.empty(); })) return;
        const std::span<const std::uint8_t> all = out_.Bytes();
        const std::vector<std::uint8_t> tail(all.begin() + static_cast<std::ptrdiff_t>(at.bytes), all.end());
        out_.Rewind(at);
        FlushHeld();
        for (std::size_t i = 0; i + 8 <= tail.size();) {
            std::uint32_t n = 0;
            emf::RecordView(tail.data() + i, static_cast<std::uint32_t>(tail.size() - i)).U32(4, n);
            if (n < 8 || n > tail.size() - i) break;
            out_.Append({tail.data() + i, n});
            i += n;
        }
    }

    bool Rewrite(const std::uint8_t* data, std::uint32_t size, std::size_t offset) {
        offset_ = offset;
        const emf::RecordView view(data, size);
        const std::uint32_t type = view.Type();
        std::uint32_t declared = 0;
        if (!view.U32(4, declared) || declared != size || size % 4 != 0) return Drop(type, offset);
        if (type == emf::EMR_BEGINPATH) inPath_ = true;
        if (type == emf::EMR_ENDPATH || type == emf::EMR_ABORTPATH) inPath_ = false;
        // A path bracket is held until the record after it: filled or
        // stroked wholly outside the slice, it is taken out again with its
        // paint record. A clip path stays wherever it is.
        const bool paintsPath = type == emf::EMR_FILLPATH || type == emf::EMR_STROKEPATH ||
                                type == emf::EMR_STROKEANDFILLPATH;
        if (type == emf::EMR_BEGINPATH) {
            path_ = {true, false, out_.Here()};
        } else if (type == emf::EMR_ENDPATH && path_.held) {
            path_.ended = true;
        } else if (path_.held && (type == emf::EMR_ABORTPATH || (path_.ended && !paintsPath))) {
            path_.held = false;
        }
        if (!Rewritten(type)) {
            out_.Append({data, size});
            return true;
        }
        // Inside a path a line is one edge of a figure: clipping it would
        // split the figure into loose segments that no longer fill. The
        // path's fill or stroke is cut at the slice's frame instead.
        if (type == emf::EMR_LINETO && !inPath_) {
            if (size < 16) return Drop(type, offset);
            return LineTo(view);
        }
        const emf::RecordStream::Mark at = out_.Here();
        Rec r = out_.Append({data, size});
        bool keep = true;
        switch (type) {
            case emf::EMR_EXTTEXTOUTA:
            case emf::EMR_EXTTEXTOUTW:
                keep = Text(r, type == emf::EMR_EXTTEXTOUTW);
                break;
            case emf::EMR_POLYGON:
                keep = Polygon(r, false);
                break;
            case emf::EMR_POLYGON16:
                keep = Polygon(r, true);
                break;
            case emf::EMR_LINETO:  // inside a path
            case emf::EMR_MOVETOEX:
                if (!Need(r, 16)) { keep = Drop(type, offset); break; }
                MovePoint(r, 8);
                penX_ = r.I32(8), penY_ = r.I32(12);
                break;
            // Shapes and figures the table above does not name still sit at
            // document positions: they move with the slice like the rest.
            case emf::EMR_POLYBEZIER: case emf::EMR_POLYLINE: case emf::EMR_POLYBEZIERTO:
            case emf::EMR_POLYLINETO:
                keep = Points(r, 24, false);
                break;
            case emf::EMR_POLYBEZIER16: case emf::EMR_POLYLINE16: case emf::EMR_POLYBEZIERTO16:
            case emf::EMR_POLYLINETO16:
                keep = Points(r, 24, true);
                break;
            case emf::EMR_POLYPOLYLINE: case emf::EMR_POLYPOLYGON:
                keep = PolyPoints(r, false);
                break;
            case emf::EMR_POLYPOLYLINE16: case emf::EMR_POLYPOLYGON16:
                keep = PolyPoints(r, true);
                break;
            case emf::EMR_ELLIPSE:
                if (!Need(r, 24)) { keep = Drop(type, offset); break; }
                keep = Visible(MoveRect(r, 8)) || inPath_;
                break;
            case emf::EMR_ARC: case emf::EMR_ARCTO: case emf::EMR_CHORD: case emf::EMR_PIE:
                if (!Need(r, 40)) { keep = Drop(type, offset); break; }
                keep = Visible(MoveRect(r, 8)) || inPath_ || type == emf::EMR_ARCTO;
                MovePoint(r, 24);
                MovePoint(r, 32);
                break;
            case emf::EMR_SETPIXELV:
                if (!Need(r, 16)) { keep = Drop(type, offset); break; }
                MovePoint(r, 8);
                break;
            case emf::EMR_RECTANGLE: {
                if (!Need(r, 24)) { keep = Drop(type, offset); break; }
                Box box = MoveRect(r, 8);
                if (!Visible(box)) { keep = false; break; }
                r.Set32(12, std::max<std::int64_t>(box.top, 0));
                r.Set32(20, std::min<std::int64_t>(box.bottom, h_));
                break;
            }
            case emf::EMR_ROUNDRECT:
                if (!Need(r, 32)) { keep = Drop(type, offset); break; }
                if (!Visible(MoveRect(r, 8))) { keep = false; break; }
                break;
            case emf::EMR_EXTFLOODFILL:
                if (!Need(r, 16)) { keep = Drop(type, offset); break; }
                MovePoint(r, 8);
                break;
            case emf::EMR_EXCLUDECLIPRECT:
            case emf::EMR_INTERSECTCLIPRECT:
                if (!Need(r, 24)) { keep = Drop(type, offset); break; }
                MoveRect(r, 8);
                break;
            case emf::EMR_EXTSELECTCLIPRGN: {
                if (!Need(r, 16)) { keep = Drop(type, offset); break; }
                if (r.U32(8) == 0) { keep = false; break; }  // the default clipping region
                if (!MoveRegion(r, 16, r.U32(8))) { keep = Drop(type, offset); break; }
                break;
            }
            case emf::EMR_FILLRGN:
            case emf::EMR_FRAMERGN:
            case emf::EMR_INVERTRGN:
            case emf::EMR_PAINTRGN: {
                std::size_t at = type == emf::EMR_FILLRGN ? 32 : type == emf::EMR_FRAMERGN ? 40 : 28;
                if (!Need(r, at)) { keep = Drop(type, offset); break; }
                MoveRect(r, 8);
                if (!MoveRegion(r, at, r.U32(24))) { keep = Drop(type, offset); break; }
                break;
            }
            case emf::EMR_FILLPATH:
            case emf::EMR_STROKEANDFILLPATH:
            case emf::EMR_STROKEPATH: {
                if (!Need(r, 24)) { keep = Drop(type, offset); break; }
                const Box box = MoveRect(r, 8);
                // The bounds leave out the pen: a margin stands for its width.
                constexpr std::int64_t kPenMargin = 128;
                if (path_.held && path_.ended && box.right >= box.left &&
                    (box.top - kPenMargin > h_ || box.bottom + kPenMargin < 0)) {
                    out_.Rewind(path_.at);
                    path_.held = false;
                    // The pen stays where the figures left it, for lines that
                    // follow; one move stands for a run of left-out paths.
                    if (path_.at.bytes == movedTo_ && path_.at.bytes >= kMoveToSize && path_.at.records > 0)
                        out_.Rewind({path_.at.bytes - kMoveToSize, path_.at.records - 1});
                    AppendMoveTo(penX_, penY_);
                    movedTo_ = out_.ByteCount();
                    return false;
                }
                path_.held = false;
                break;
            }
            case emf::EMR_BITBLT:
                keep = BitBlt(r, type, offset);
                break;
            case emf::EMR_STRETCHBLT:
            case emf::EMR_TRANSPARENTBLT:
                keep = CroppedBlt(r, L::kStretchBltFields, type, offset);
                break;
            case emf::EMR_MASKBLT:
                keep = CroppedBlt(r, L::kMaskBltFields, type, offset);
                break;
            case emf::EMR_PLGBLT:
                keep = PlgBlt(r, offset);
                break;
            case emf::EMR_SETDIBITSTODEVICE:
                keep = SetDIBits(r, offset);
                break;
            case emf::EMR_STRETCHDIBITS:
                keep = ScaledBlt(r, L::kStretchDIBitsFields, type, offset);
                break;
            case emf::EMR_ALPHABLEND:
                keep = ScaledBlt(r, L::kStretchBltFields, type, offset);
                break;
            default:
                break;
        }
        if (!keep) out_.Rewind(at);
        if (keep && ShowsContent(type) && r.Size() >= 24 && !(IsText(type) && lastTextBlank_)) {
            const std::int64_t top = std::min(r.I32(12), r.I32(20)), bottom = std::max(r.I32(12), r.I32(20));
            if (bottom >= 0 && top <= h_ && r.I32(16) != -1) contentBottom_ = std::max(contentBottom_, std::min(bottom, h_));
        }
        return keep;
    }

public:
    // The bottom of the lowest text or picture this slice shows (slice
    // pixels), -1 when it shows none.
    std::int64_t ContentBottom() const { return contentBottom_; }
    // The records of the slice so far.
    emf::RecordStream& Slice() { return out_; }

private:
    static bool IsText(std::uint32_t type) { return type == emf::EMR_EXTTEXTOUTA || type == emf::EMR_EXTTEXTOUTW; }
    static bool ShowsContent(std::uint32_t type) {
        switch (type) {
            case emf::EMR_EXTTEXTOUTA: case emf::EMR_EXTTEXTOUTW: case emf::EMR_BITBLT: case emf::EMR_STRETCHBLT:
            case emf::EMR_MASKBLT: case emf::EMR_TRANSPARENTBLT: case emf::EMR_PLGBLT: case emf::EMR_SETDIBITSTODEVICE:
            case emf::EMR_STRETCHDIBITS: case emf::EMR_ALPHABLEND:
                return true;
            default:
                return false;
        }
    }
    static bool Rewritten(std::uint32_t type) {
        switch (type) {
            case emf::EMR_EXTTEXTOUTA: case emf::EMR_EXTTEXTOUTW: case emf::EMR_POLYGON: case emf::EMR_POLYGON16:
            case emf::EMR_MOVETOEX: case emf::EMR_LINETO: case emf::EMR_RECTANGLE: case emf::EMR_ROUNDRECT:
            case emf::EMR_EXTFLOODFILL: case emf::EMR_EXCLUDECLIPRECT: case emf::EMR_INTERSECTCLIPRECT:
            case emf::EMR_EXTSELECTCLIPRGN: case emf::EMR_FILLRGN: case emf::EMR_FRAMERGN: case emf::EMR_INVERTRGN:
            case emf::EMR_PAINTRGN: case emf::EMR_FILLPATH: case emf::EMR_STROKEANDFILLPATH: case emf::EMR_STROKEPATH:
            case emf::EMR_BITBLT: case emf::EMR_STRETCHBLT: case emf::EMR_MASKBLT: case emf::EMR_TRANSPARENTBLT:
            case emf::EMR_PLGBLT: case emf::EMR_SETDIBITSTODEVICE: case emf::EMR_STRETCHDIBITS: case emf::EMR_ALPHABLEND:
            case emf::EMR_POLYBEZIER: case emf::EMR_POLYLINE: case emf::EMR_POLYBEZIERTO: case emf::EMR_POLYLINETO:
            case emf::EMR_POLYBEZIER16: case emf::EMR_POLYLINE16: case emf::EMR_POLYBEZIERTO16:
            case emf::EMR_POLYLINETO16: case emf::EMR_POLYPOLYLINE: case emf::EMR_POLYPOLYGON:
            case emf::EMR_POLYPOLYLINE16: case emf::EMR_POLYPOLYGON16: case emf::EMR_ELLIPSE: case emf::EMR_ARC:
            case emf::EMR_ARCTO: case emf::EMR_CHORD: case emf::EMR_PIE: case emf::EMR_SETPIXELV:
                return true;
            default:
                return false;
        }
    }
    static bool Need(const Rec& r, std::size_t size) { return r.Size() >= size; }
    bool Drop(std::uint32_t type, std::size_t offset) {
        log_.Error(StrFormat("Malformed record %s at offset %zu dropped", emf::RecordName(type).c_str(), offset));
        return false;
    }

    void MovePoint(Rec& r, std::size_t off) { r.Set32(off + 4, static_cast<std::int64_t>(r.I32(off + 4)) + dy_); }
    Box MoveRect(Rec& r, std::size_t off) {
        std::int64_t l = r.I32(off), t = r.I32(off + 4), rt = r.I32(off + 8), b = r.I32(off + 12);
        Box box{std::min(l, rt), std::min(t, b) + dy_, std::max(l, rt), std::max(t, b) + dy_};
        r.Set32(off, box.left), r.Set32(off + 4, box.top), r.Set32(off + 8, box.right), r.Set32(off + 12, box.bottom);
        return box;
    }
    bool Visible(const Box& box) const { return !(box.top > h_ || box.bottom < 0); }

    bool Text(Rec& r, bool wide) {
        if (!Need(r, emf::kExtTextOutHeaderSize)) return Drop(r.U32(0), offset_);
        const bool validBounds = r.I32(16) != -1 && r.I32(20) != -1;
        bool blank = false;
        if (validBounds) {
            Box box = MoveRect(r, 8);
            // A line wholly outside the slice draws nothing here; leaving it
            // out keeps every slice the size of its own page.
            if (box.bottom < 0 || box.top > h_) return false;
            // Every line is drawn in exactly one slice, the one its top falls
            // in: one begun in an earlier slice, or pushed on to the next
            // (the slice's cut-back), is blanked here.
            blank = (box.top < 0 && !first_) || box.top >= pushFrom_;
        }
        lastTextBlank_ = blank;
        MovePoint(r, 36);
        MoveRect(r, 56);
        if (blank) {
            std::uint32_t n = r.U32(44), off = r.U32(48);
            std::size_t unit = wide ? 2 : 1;
            if (n > 0 && r.Has(off, static_cast<std::size_t>(n) * unit)) {
                for (std::uint32_t i = 0; i < n; ++i) {
                    if (wide)
                        r.Set16(off + 2 * i, 32);
                    else
                        r.Set8(off + i, 32);
                }
            }
        }
        return true;
    }

    // Bounds, a count at `at` and the points after it. Outside a path a
    // figure wholly outside the slice is left out; pen-moving figures stay
    // (the pen must end where the figure did).
    bool Points(Rec& r, std::size_t at, bool small) {
        const std::uint32_t type = r.U32(0);
        if (!Need(r, at + 4)) return Drop(type, offset_);
        const std::uint32_t n = r.U32(at);
        const std::size_t unit = small ? 4 : 8;
        if (!r.Has(at + 4, static_cast<std::size_t>(n) * unit)) return Drop(type, offset_);
        const Box box = MoveRect(r, 8);
        MovePointList(r, at + 4, n, small);
        const bool movesPen = type == emf::EMR_POLYBEZIERTO || type == emf::EMR_POLYLINETO ||
                              type == emf::EMR_POLYBEZIERTO16 || type == emf::EMR_POLYLINETO16;
        if (movesPen && n > 0) {
            const std::size_t last = at + 4 + (n - 1) * unit;
            penX_ = small ? r.I16(last) : r.I32(last);
            penY_ = small ? r.I16(last + 2) : r.I32(last + 4);
        }
        return inPath_ || movesPen || box.right < box.left || Visible(box);
    }
    // POLYPOLYLINE and POLYPOLYGON: bounds, figure count, point count, the
    // figures' point counts, then the points.
    bool PolyPoints(Rec& r, bool small) {
        const std::uint32_t type = r.U32(0);
        if (!Need(r, 32)) return Drop(type, offset_);
        const std::uint64_t figures = r.U32(24), points = r.U32(28);
        const std::size_t unit = small ? 4 : 8;
        if (figures * 4 > r.Size() || !r.Has(32 + figures * 4, points * unit)) return Drop(type, offset_);
        const Box box = MoveRect(r, 8);
        MovePointList(r, 32 + static_cast<std::size_t>(figures) * 4, static_cast<std::uint32_t>(points), small);
        return inPath_ || box.right < box.left || Visible(box);
    }
    void MovePointList(Rec& r, std::size_t at, std::uint32_t n, bool small) {
        for (std::uint32_t i = 0; i < n; ++i) {
            if (small) {
                const std::size_t y = at + i * 4 + 2;
                r.Set16(y, static_cast<std::int64_t>(r.I16(y)) + dy_);
            } else {
                MovePoint(r, at + i * 8);
            }
        }
    }

    bool Polygon(Rec& r, bool small) {
        if (!Need(r, 28)) return Drop(r.U32(0), offset_);
        std::uint32_t n = r.U32(24);
        std::size_t unit = small ? 4 : 8;
        if (!r.Has(28, static_cast<std::size_t>(n) * unit)) return Drop(r.U32(0), offset_);
        if (!Visible(MoveRect(r, 8))) return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::size_t at = 28 + i * unit;
            if (small) {
                std::int64_t y = std::min<std::int64_t>(static_cast<std::int64_t>(r.I16(at + 2)) + dy_, h_);
                r.Set16(at + 2, y);
            } else {
                std::int64_t y = std::min<std::int64_t>(static_cast<std::int64_t>(r.I32(at + 4)) + dy_, h_);
                r.Set32(at + 4, y);
            }
        }
        return true;
    }

    static constexpr std::size_t kMoveToSize = 16;
    void AppendMoveTo(std::int64_t x, std::int64_t y) { out_.Append(emf::EMR_MOVETOEX, {x, y}); }

    int Outcode(std::int64_t x, std::int64_t y) const {
        int c = 0;
        if (x < 0) c |= 1;
        if (x > w_) c |= 2;
        if (y > h_) c |= 4;
        if (y < 0) c |= 8;
        return c;
    }

    // Cohen–Sutherland clipping of the pen's segment to the slice.
    // The segment is written as a LINETO of its own size, whatever the
    // source record carried after its point.
    bool LineTo(const emf::RecordView& view) {
        emf::PointL end;
        view.Point(8, end);
        const std::int64_t ex = end.x, ey = Saturated(static_cast<std::int64_t>(end.y) + dy_);
        double x0 = static_cast<double>(penX_), y0 = static_cast<double>(penY_);
        double x1 = static_cast<double>(ex), y1 = static_cast<double>(ey);
        int c0 = Outcode(penX_, penY_), c1 = Outcode(ex, ey);
        bool visible = false;
        for (int guard = 0; guard < 8; ++guard) {
            if (!(c0 | c1)) {
                visible = true;
                break;
            }
            if (c0 & c1) break;
            int c = c0 ? c0 : c1;
            double x = 0, y = 0;
            if (c & 8) {
                x = x0 + (x1 - x0) * (0 - y0) / (y1 - y0), y = 0;
            } else if (c & 4) {
                x = x0 + (x1 - x0) * (h_ - y0) / (y1 - y0), y = h_;
            } else if (c & 2) {
                y = y0 + (y1 - y0) * (w_ - x0) / (x1 - x0), x = w_;
            } else {
                y = y0 + (y1 - y0) * (0 - x0) / (x1 - x0), x = 0;
            }
            auto rx = static_cast<std::int64_t>(std::llround(x)), ry = static_cast<std::int64_t>(std::llround(y));
            if (c == c0) {
                x0 = x, y0 = y, c0 = Outcode(rx, ry);
            } else {
                x1 = x, y1 = y, c1 = Outcode(rx, ry);
            }
        }
        if (visible) {
            auto sx = std::llround(x0), sy = std::llround(y0), cx = std::llround(x1), cy = std::llround(y1);
            if (sx != penX_ || sy != penY_) AppendMoveTo(sx, sy);
            out_.Append(emf::EMR_LINETO, {cx, cy});
        }
        AppendMoveTo(ex, ey);
        penX_ = ex, penY_ = ey;
        return true;
    }

    bool MoveRegion(Rec& r, std::size_t at, std::uint32_t cbData) {
        // RGNDATAHEADER: dwSize, iType, nCount, nRgnSize, rcBound; then nCount rectangles.
        if (!r.Has(at, 32) || cbData < 32 || !r.Has(at, cbData)) return false;
        std::uint32_t n = r.U32(at + 8);
        if (static_cast<std::uint64_t>(n) * 16 > cbData - 32) return false;
        MoveRect(r, at + 16);
        for (std::uint32_t i = 0; i < n; ++i) MoveRect(r, at + 32 + i * 16);
        return true;
    }

    // The bitmap of a record: header and bits inside the record.
    struct Dib {
        std::size_t header = 0, bits = 0, bitsSize = 0;
        std::int32_t width = 0, height = 0;  // height < 0: top-down
        std::uint16_t bpp = 0;
        std::uint32_t compression = 0;
        std::size_t stride = 0;
    };
    bool FindDib(const Rec& r, const L::BitmapFields& l, Dib* d) const {
        using H = L::BitmapInfoHeader;
        std::uint32_t offBmi = r.U32(l.offBmi), cbBmi = r.U32(l.cbBmi);
        std::uint32_t offBits = r.U32(l.offBits), cbBits = r.U32(l.cbBits);
        if (cbBmi < emf::kBitmapInfoHeaderSize || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return false;
        d->header = offBmi;
        d->bits = offBits;
        d->bitsSize = cbBits;
        d->width = r.I32(offBmi + H::width);
        d->height = r.I32(offBmi + H::height);
        d->bpp = r.U16(offBmi + H::bitCount);
        d->compression = r.U32(offBmi + H::compression);
        if (d->width <= 0 || d->height == 0 || d->height == std::numeric_limits<std::int32_t>::min()) return false;
        if (d->bpp == 0 || d->bpp > 32) return false;
        d->stride = ((static_cast<std::size_t>(d->width) * d->bpp + 31) / 32) * 4;
        return true;
    }

    // Keeps the picture rows [fromTop, rows - fromBottom) of the bitmap, moved
    // to the start of the bits; false (record unchanged) when that is not
    // possible: compressed bits, too few rows or bits shorter than declared.
    bool RemoveRows(Rec& r, const L::BitmapFields& l, std::int64_t fromBottom, std::int64_t fromTop) {
        Dib d;
        if (!FindDib(r, l, &d)) return false;
        if (d.compression != emf::BI_RGB && d.compression != emf::BI_BITFIELDS) return false;
        std::int64_t rows = std::abs(static_cast<std::int64_t>(d.height));
        std::int64_t keep = rows - fromBottom - fromTop;
        if (keep < 1 || fromBottom < 0 || fromTop < 0) return false;
        if (d.stride * static_cast<std::size_t>(rows) > d.bitsSize) return false;
        // Stored order: bottom-up bitmaps store the picture's bottom row first.
        std::int64_t firstStored = d.height > 0 ? fromBottom : fromTop;
        r.MoveBytes(d.bits, d.bits + static_cast<std::size_t>(firstStored) * d.stride,
                    static_cast<std::size_t>(keep) * d.stride);
        r.Set32(d.header + L::BitmapInfoHeader::height, d.height > 0 ? keep : -keep);
        r.Set32(d.header + L::BitmapInfoHeader::sizeImage,
                static_cast<std::int64_t>(keep) * static_cast<std::int64_t>(d.stride));
        return true;
    }

    bool BitBlt(Rec& r, std::uint32_t type, std::size_t offset) {
        const L::BitmapFields& l = L::kBitBltFields;
        if (!Need(r, l.minSize)) return Drop(type, offset);
        Box box = MoveRect(r, 8);
        MovePoint(r, l.xDest);
        if (!Visible(box)) return false;
        r.Set32(20, std::min<std::int64_t>(box.bottom, h_));
        std::int64_t y = r.I32(l.yDest), cy = r.I32(static_cast<std::size_t>(l.cyDest));
        if (y + cy > h_) r.Set32(static_cast<std::size_t>(l.cyDest), h_ - y);
        return true;
    }

    // STRETCHBLT, MASKBLT, TRANSPARENTBLT: one source row per destination row
    // is assumed by the row removal, as the format's producers write them.
    bool CroppedBlt(Rec& r, const L::BitmapFields& l, std::uint32_t type, std::size_t offset) {
        if (!Need(r, l.minSize)) return Drop(type, offset);
        Box box = MoveRect(r, 8);
        MovePoint(r, l.xDest);
        if (!Visible(box)) return false;
        std::int64_t a = 0;
        if (box.bottom > h_) {
            a = box.bottom - h_ + 1;
            RemoveRows(r, l, a, 0);
            r.Set32(20, h_);
        } else if (box.top < 0) {
            a = 1 - box.top;
            const bool removed = RemoveRows(r, l, 0, a);
            r.Set32(12, 0);
            r.Set32(l.yDest, 0);
            if (!removed)  // compressed bits: the source window moves down instead
                r.Set32(static_cast<std::size_t>(l.ySrc), static_cast<std::int64_t>(r.I32(static_cast<std::size_t>(l.ySrc))) + a);
            else if (type != emf::EMR_STRETCHBLT)
                r.Set32(static_cast<std::size_t>(l.ySrc), 0);
        }
        if (a > 0) {
            if (!Shrink(r, l.cyDest, a)) return false;
            if (l.cySrc >= 0 && type != emf::EMR_MASKBLT && !Shrink(r, l.cySrc, a)) return false;
        }
        return true;
    }

    // Lowers the height field at `off` by the rows removed; false when no row is left.
    static bool Shrink(Rec& r, std::ptrdiff_t off, std::int64_t rows) {
        const std::int64_t left = r.I32(static_cast<std::size_t>(off)) - rows;
        r.Set32(static_cast<std::size_t>(off), left);
        return left > 0;
    }

    bool PlgBlt(Rec& r, std::size_t offset) {
        const L::BitmapFields& l = L::kPlgBltFields;
        if (!Need(r, l.minSize)) return Drop(emf::EMR_PLGBLT, offset);
        Box box = MoveRect(r, 8);
        for (int i = 0; i < 3; ++i) MovePoint(r, L::PlgBlt::corners + 8 * i);
        if (!Visible(box)) return false;
        std::int64_t a = 0;
        if (box.bottom > h_) {
            a = box.bottom - h_ + 1;
            RemoveRows(r, l, a, 0);
            r.Set32(20, h_);
            for (int i = 0; i < 3; ++i) r.Set32(28 + 8 * i, std::min<std::int64_t>(r.I32(28 + 8 * i), h_));
        } else if (box.top < 0) {
            a = 1 - box.top;
            RemoveRows(r, l, 0, a);
            r.Set32(12, 0);
            for (int i = 0; i < 3; ++i) r.Set32(28 + 8 * i, std::max<std::int64_t>(r.I32(28 + 8 * i), 0));
            r.Set32(static_cast<std::size_t>(l.ySrc), 0);
        }
        return a <= 0 || Shrink(r, l.cySrc, a);
    }

    bool SetDIBits(Rec& r, std::size_t offset) {
        const L::BitmapFields& l = L::kSetDIBitsToDeviceFields;
        if (!Need(r, l.minSize)) return Drop(emf::EMR_SETDIBITSTODEVICE, offset);
        Box box = MoveRect(r, 8);
        MovePoint(r, l.xDest);
        if (!Visible(box)) return false;
        std::int64_t a = 0;
        if (box.bottom > h_) {
            a = box.bottom - h_ + 1;
            RemoveRows(r, l, a, 0);
            r.Set32(20, h_);
            r.Set32(L::SetDIBitsToDevice::scans, static_cast<std::int64_t>(r.I32(L::SetDIBitsToDevice::scans)) - a);
        } else if (box.top < 0) {
            a = 1 - box.top;
            RemoveRows(r, l, 0, a);
            r.Set32(12, 0);
            r.Set32(l.yDest, 0);
            r.Set32(static_cast<std::size_t>(l.ySrc), 0);
            r.Set32(L::SetDIBitsToDevice::startScan,
                    static_cast<std::int64_t>(r.I32(L::SetDIBitsToDevice::startScan)) + a);
        }
        return a <= 0 || Shrink(r, l.cySrc, a);
    }

    // STRETCHDIBITS and ALPHABLEND scale the source: rows are removed in
    // source units (ratio r) and the destination shrinks by what lies
    // outside the slice, so both rectangles keep describing the same picture.
    bool ScaledBlt(Rec& r, const L::BitmapFields& l, std::uint32_t type, std::size_t offset) {
        if (!Need(r, l.minSize)) return Drop(type, offset);
        Box box = MoveRect(r, 8);
        MovePoint(r, l.xDest);
        std::int64_t cyDest = r.I32(static_cast<std::size_t>(l.cyDest));
        if (!Visible(box) || cyDest <= 0) return false;
        std::int64_t cySrc = r.I32(static_cast<std::size_t>(l.cySrc));
        double ratio = static_cast<double>(cySrc) / static_cast<double>(cyDest);
        std::int64_t destCut = 0, srcCut = 0;
        if (box.bottom > h_) {
            destCut = box.bottom - h_;
            srcCut = static_cast<std::int64_t>(ratio * static_cast<double>(destCut));
            if (srcCut > 0 && !RemoveRows(r, l, srcCut, 0)) srcCut = 0;
            r.Set32(20, h_);
        } else if (box.top < 0) {
            destCut = -box.top;
            srcCut = static_cast<std::int64_t>(ratio * static_cast<double>(destCut));
            if (srcCut > 0 && !RemoveRows(r, l, 0, srcCut)) srcCut = 0;
            r.Set32(12, 0);
            r.Set32(l.yDest, 0);
            r.Set32(static_cast<std::size_t>(l.ySrc), 0);
        }
        if (destCut > 0) {
            if (srcCut == 0 && ratio * static_cast<double>(destCut) >= 1) {
                // The bits could not be cut (compressed): keep the whole picture.
                return true;
            }
            cyDest -= destCut;
            cySrc -= srcCut;
            r.Set32(static_cast<std::size_t>(l.cyDest), cyDest);
            r.Set32(static_cast<std::size_t>(l.cySrc), cySrc);
            if (cyDest < 1 || cySrc < 1) return false;
        }
        return true;
    }

    std::array<std::vector<std::uint8_t>, kKinds> held_;
    std::unordered_map<std::uint32_t, int> kinds_;
    std::int64_t w_, h_, dy_;
    std::int64_t pushFrom_;
    bool first_;
    const LogSource& log_;
    std::int64_t penX_ = 0, penY_ = 0;
    bool inPath_ = false;
    struct HeldPath {
        bool held = false, ended = false;
        emf::RecordStream::Mark at;  // where its BEGINPATH starts in the slice
    } path_;
    std::size_t movedTo_ = 0;  // the end of the pen move that stands for left-out paths
    std::size_t offset_ = 0;
    bool lastTextBlank_ = false;
    std::int64_t contentBottom_ = -1;
    emf::RecordStream out_;
};

CEmfSlicer::CEmfSlicer(EventLog& log) : log_(log, "CEmfSlicer") {}

CEmfSlicer::~CEmfSlicer() { log_.Info("Destroyed"); }

void CEmfSlicer::SetPageBreaks(const std::vector<std::int32_t>* breaks) { breaks_ = breaks; }

void CEmfSlicer::SetSliceHeight(int height) {
    if (height <= 0) return;
    sliceHeight_ = height;
    if (haveSource_) ProduceSlices();
}

void CEmfSlicer::SetSliceWidth(int width) {
    if (width <= 0) return;
    sliceWidth_ = width;
    if (haveSource_) ProduceSlices();
}

void CEmfSlicer::SetSourceImage(std::span<const std::uint8_t> emf) {
    slices_.clear();
    ranges_.clear();
    contentBottoms_.clear();
    source_ = emf;
    haveSource_ = true;
    ProduceSlices();
}

void CEmfSlicer::ReleaseSource() {
    source_ = {};
    haveSource_ = false;
}

const std::vector<std::uint8_t>* CEmfSlicer::GetSlice(int index, const std::string& debugFile) const {
    if (index < 0 || index >= SliceCount()) return nullptr;
    if (packed_ && unpackedIndex_ != index) {
        const auto& packed = slices_[static_cast<std::size_t>(index)];
        // The unpacked size leads the compressed bytes.
        std::uint32_t size = 0;
        if (packed.size() >= 4) std::memcpy(&size, packed.data(), 4);
        unpacked_.resize(size);
        uLongf got = size;
        if (packed.size() < 4 ||
            uncompress(unpacked_.data(), &got, packed.data() + 4, static_cast<uLong>(packed.size() - 4)) != Z_OK ||
            got != size) {
            unpackedIndex_ = -1;
            return nullptr;
        }
        unpackedIndex_ = index;
    }
    const auto& slice = packed_ ? unpacked_ : slices_[static_cast<std::size_t>(index)];
    if (!debugFile.empty()) {
        std::ofstream f(debugFile, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(slice.data()), static_cast<std::streamsize>(slice.size()));
    }
    return &slice;
}

int CEmfSlicer::ContentBottom(int index) const {
    if (index < 0 || index >= static_cast<int>(contentBottoms_.size())) return -1;
    return contentBottoms_[static_cast<std::size_t>(index)];
}

bool CEmfSlicer::SliceRange(int index, int* top, int* end) const {
    if (index < 0 || index >= static_cast<int>(ranges_.size())) return false;
    *top = ranges_[static_cast<std::size_t>(index)].first;
    *end = ranges_[static_cast<std::size_t>(index)].second;
    return true;
}

bool CEmfSlicer::HandleRecord(const std::uint8_t* record, std::uint32_t size) {
    if (!parser_) return false;
    return parser_->Process(record, size, recordOffset_);
}

namespace {

// A metafile's size in pixels on one axis, from its header: the frame (0.01 mm)
// through the reference device's pixels per millimetre; 0 when unknown.
std::int64_t PixelSize(std::int32_t from, std::int32_t to, std::int32_t devicePx, std::int32_t deviceMm) {
    if (devicePx <= 0 || deviceMm <= 0) return 0;
    std::int64_t span = std::llabs(static_cast<std::int64_t>(to) - from);
    return span * devicePx / (static_cast<std::int64_t>(deviceMm) * 100);
}

}  // namespace

// How far the next slice must start above this one's bottom so that every
// text line crossing the bottom begins inside it. Lines taller than the slice
// can never fit and are left where they begin.
int CEmfSlicer::CutBack(int top, int h) const {
    std::int64_t cutBack = 0;
    const auto from = std::lower_bound(textLines_.begin(), textLines_.end(),
                                       std::make_pair(static_cast<std::int64_t>(top), std::numeric_limits<std::int64_t>::min()));
    for (auto it = from; it != textLines_.end() && it->first - top <= h; ++it) {
        const std::int64_t lineTop = it->first - static_cast<std::int64_t>(top);
        const std::int64_t lineBottom = it->second - static_cast<std::int64_t>(top);
        if (lineBottom <= h || lineBottom - lineTop >= h) continue;
        cutBack = std::max<std::int64_t>(cutBack, h - lineTop + 1);
    }
    return cutBack >= h ? 0 : static_cast<int>(cutBack);
}

// The text lines CutBack looks at, in the records up to the first that ends
// the drawing.
void CEmfSlicer::IndexTextLines() {
    textLines_.clear();
    for (const emf::Record& rec : records_) {
        if (rec.type == 0 || rec.type > emf::kMaxRecordType || rec.type == emf::EMR_EOF) break;
        if (rec.type != emf::EMR_EXTTEXTOUTW && rec.type != emf::EMR_EXTTEXTOUTA) continue;
        emf::RectL b;
        if (!rec.View(source_).Rect(emf::layout::kBounds, b)) continue;
        if (b.bottom == -1 || b.right == -1) continue;  // no bounds
        textLines_.emplace_back(std::min(b.top, b.bottom), std::max(b.top, b.bottom));
    }
    std::sort(textLines_.begin(), textLines_.end());
}

bool CEmfSlicer::BuildSlice(int top, int h, int sourceW, int cutBack, std::vector<std::uint8_t>* out) {
    const int parserW = static_cast<int>(sliceWidth_ / scale_);
    const std::int64_t pushFrom = cutBack > 0 ? h - cutBack : std::numeric_limits<std::int64_t>::max();
    parser_ = std::make_unique<RecordParser>(parserW, h, -top, pushFrom, top == 0, log_);

    for (std::size_t i = 0; i < records_.size(); ++i) {
        const emf::Record& rec = records_[i];
        if (rec.type == 0 || rec.type > emf::kMaxRecordType) break;
        // Drawing wholly above or below the slice is left out unread; the
        // rewriting would drop it too, after copying it.
        const Extent& e = extents_[i];
        if (e.known && (e.bottom < top || e.top > static_cast<std::int64_t>(top) + h)) continue;
        recordOffset_ = rec.offset;
        HandleRecord(source_.data() + rec.offset, rec.size);
        if (rec.type == emf::EMR_EOF) break;
    }
    const std::int64_t content = parser_->ContentBottom();
    emf::RecordStream& slice = parser_->Slice();
    // The slice begins with the source's header: sizes, bounds and the frame
    // become those of a W x h picture on the screen.
    std::optional<emf::Header> header = emf::ReadHeader(slice.Bytes());
    if (!header) {
        parser_.reset();
        return false;
    }
    contentBottoms_.push_back(content < 0 ? -1 : static_cast<int>(content + top));
    namespace screen = platform::screen;
    emf::RectL bounds = header->bounds, frame = header->frame;
    bounds.right = sourceW;
    bounds.bottom = h;
    frame.right = Saturated(static_cast<std::int64_t>(sourceW) * screen::kWidthMm * 100 / screen::kWidth + 1);
    frame.bottom = Saturated(static_cast<std::int64_t>(h) * screen::kHeightMm * 100 / screen::kHeight + 1);
    slice.CompleteHeader(&bounds, &frame);
    *out = slice.Take();
    parser_.reset();
    return true;
}

namespace {

// The slices of a long image are held compressed (a tenth of their size or
// less for text): they would add up to a second copy of the image.
constexpr std::size_t kPackSlicesAbove = 8u << 20;

// u32 unpacked size | zlib bytes.
std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& slice) {
    uLongf size = compressBound(static_cast<uLong>(slice.size()));
    std::vector<std::uint8_t> packed(4 + size);
    const auto n = static_cast<std::uint32_t>(slice.size());
    std::memcpy(packed.data(), &n, 4);
    if (compress2(packed.data() + 4, &size, slice.data(), static_cast<uLong>(slice.size()), 1) != Z_OK)
        throw std::bad_alloc();
    packed.resize(4 + size);
    packed.shrink_to_fit();
    return packed;
}

}  // namespace

void CEmfSlicer::ProduceSlices() {
    slices_.clear();
    ranges_.clear();
    contentBottoms_.clear();
    unpackedIndex_ = -1;
    packed_ = source_.size() > kPackSlicesAbove;
    log_.Info("ProduceSlices called");
    emf::Metafile mf = emf::Read(source_);
    if (!mf.Usable() || source_.empty()) {
        log_.Error("Invalid images passed to ProduceSlices");
        return;
    }
    for (const emf::Diagnostic& d : mf.diagnostics) log_.Error(d.Text());
    records_ = std::move(mf.records);
    IndexTextLines();
    extents_.assign(records_.size(), Extent{});
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const emf::Record& rec = records_[i];
        emf::RectL b;
        if (!LeftOutWhenOutside(rec.type) || !rec.View(source_).Rect(emf::layout::kBounds, b)) continue;
        const bool text = rec.type == emf::EMR_EXTTEXTOUTW || rec.type == emf::EMR_EXTTEXTOUTA;
        if (text && (b.right == -1 || b.bottom == -1)) continue;  // no bounds: always drawn
        extents_[i] = {true, std::min(b.top, b.bottom), std::max(b.top, b.bottom)};
    }
    const emf::Header* header = &mf.header;
    const std::int64_t W =
        PixelSize(header->frame.left, header->frame.right, header->device.cx, header->millimeters.cx) + 1;
    const std::int64_t H =
        PixelSize(header->frame.top, header->frame.bottom, header->device.cy, header->millimeters.cy) + 1;
    if (W < 1 || H < 1 || W > std::numeric_limits<std::int32_t>::max() ||
        H > std::numeric_limits<std::int32_t>::max())
        return;
    scale_ = W > 1 ? std::min(1.0, static_cast<double>(sliceWidth_) / static_cast<double>(W - 1)) : 1.0;
    log_.Info("Allocated buffer for metafile");
    log_.Info(StrFormat("Slicing image %d x %d", static_cast<int>(W), static_cast<int>(H)));

    std::vector<std::int32_t> breaks;
    if (breaks_) breaks = *breaks_;
    // A slice of a scaled image covers more of it: saturated, not wrapped,
    // when that exceeds an int.
    const int page = static_cast<int>(std::clamp(sliceHeight_ / scale_, 1.0, double(std::numeric_limits<int>::max())));
    if (H / page > kMaxSlices) {
        // A header claiming a document thousands of pages tall is damage.
        log_.Error("Invalid images passed to ProduceSlices");
        records_.clear();
        return;
    }
    std::int64_t top = 0;
    while (top < H) {
        if (betweenSlices_) betweenSlices_();
        int h = static_cast<int>(std::min<std::int64_t>(H - top, page));
        // The nearest forced break inside the slice ends it; the list need
        // not be sorted.
        for (auto it = breaks.begin(); it != breaks.end();) {
            if (top < *it && *it < top + h) {
                h = static_cast<int>(*it - top);
                it = breaks.erase(it);
            } else {
                ++it;
            }
        }
        std::vector<std::uint8_t> slice;
        // The last slice has no next one to push a text line to.
        const bool last = top + h >= H;
        const int cutBack = last ? 0 : CutBack(static_cast<int>(top), h);
        if (!BuildSlice(static_cast<int>(top), h, static_cast<int>(W), cutBack, &slice)) break;
        if (packed_) slice = Pack(slice);
        slices_.push_back(std::move(slice));
        std::int64_t next = top + h - cutBack;
        ranges_.emplace_back(static_cast<int>(top), static_cast<int>(next));
        top = next;
    }
    records_.clear();
    extents_.clear();
    textLines_.clear();
    log_.Info(StrFormat("Produced %d slices", SliceCount()));
}

}  // namespace tessaline
