#include "output_dev.h"

#include "mask_picture.h"
#include "packed_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <functional>
#include <set>
#include <vector>

#include <libdeflate.h>

#include <poppler/GfxFont.h>
#include <poppler/GfxState.h>
#include <poppler/Stream.h>

namespace pagedraw {

namespace {

emf::Matrix Ctm(const GfxState* state) {
    const double* c = state->getCTM();
    return {c[0], c[1], c[2], c[3], c[4], c[5]};
}

emf::Color ToColor(const GfxRGB& rgb) {
    return {colToByte(rgb.r), colToByte(rgb.g), colToByte(rgb.b), 255};
}

// A translucent colour as it shows on the paper: a metafile's colours are
// opaque, and drawn at full strength a light tint (a box's 10 % grey) would
// come out as a dark block that hides its text.
emf::Color OnPaper(const GfxRGB& rgb, double opacity) {
    emf::Color c = ToColor(rgb);
    if (!(opacity < 1)) return c;
    opacity = std::clamp(opacity, 0.0, 1.0);
    auto mix = [&](std::uint8_t v) { return static_cast<std::uint8_t>(std::lround(v * opacity + 255 * (1 - opacity))); };
    return {mix(c.r), mix(c.g), mix(c.b), 255};
}

// The state's path in user space (the call's ctm places it).
emf::Path ToPath(const GfxPath* path) {
    emf::Path out;
    if (!path) return out;
    for (int i = 0; i < path->getNumSubpaths(); ++i) {
        const GfxSubpath* sp = path->getSubpath(i);
        const int n = sp->getNumPoints();
        if (n < 2) continue;
        out.MoveTo({sp->getX(0), sp->getY(0)});
        for (int j = 1; j < n;) {
            if (sp->getCurve(j) && j + 2 < n) {
                out.CubicTo({sp->getX(j), sp->getY(j)}, {sp->getX(j + 1), sp->getY(j + 1)},
                            {sp->getX(j + 2), sp->getY(j + 2)});
                j += 3;
            } else {
                out.LineTo({sp->getX(j), sp->getY(j)});
                ++j;
            }
        }
        if (sp->isClosed()) out.Close();
    }
    return out;
}

using Box = std::array<double, 4>;  // x0, y0, x1, y1 in device space

// The region a clip path of a few upright rectangles lets through, as boxes
// (for the even-odd or the nonzero rule); nothing when the path is anything
// else. A box-shadow is clipped this way, to the ring around its box.
std::vector<Box> RectangleRegion(const GfxPath* path, const double* ctm, bool evenOdd) {
    struct Rect {
        Box b;
        int turn;  // +1 or -1: the way round it goes
    };
    std::vector<Rect> rects;
    if (!path || path->getNumSubpaths() > 4) return {};
    for (int i = 0; i < path->getNumSubpaths(); ++i) {
        const GfxSubpath* sp = path->getSubpath(i);
        int n = sp->getNumPoints();
        std::vector<std::array<double, 2>> pts;
        for (int j = 0; j < n; ++j) {
            if (sp->getCurve(j)) return {};
            const double x = sp->getX(j), y = sp->getY(j);
            pts.push_back({ctm[0] * x + ctm[2] * y + ctm[4], ctm[1] * x + ctm[3] * y + ctm[5]});
        }
        if (pts.size() == 5 && std::fabs(pts[4][0] - pts[0][0]) < 1e-6 && std::fabs(pts[4][1] - pts[0][1]) < 1e-6)
            pts.pop_back();
        if (pts.size() != 4) return {};
        double area2 = 0;
        for (int k = 0; k < 4; ++k) {
            const auto& a = pts[k];
            const auto& b = pts[(k + 1) % 4];
            // Every side upright or level.
            if (std::fabs(a[0] - b[0]) > 1e-6 && std::fabs(a[1] - b[1]) > 1e-6) return {};
            area2 += a[0] * b[1] - b[0] * a[1];
        }
        if (std::fabs(area2) < 1e-9) continue;
        Box b{std::min({pts[0][0], pts[1][0], pts[2][0]}), std::min({pts[0][1], pts[1][1], pts[2][1]}),
              std::max({pts[0][0], pts[1][0], pts[2][0]}), std::max({pts[0][1], pts[1][1], pts[2][1]})};
        rects.push_back({b, area2 > 0 ? 1 : -1});
    }
    if (rects.empty()) return {};
    // The cells between every edge, each in or out by the rule; the cells
    // in of a row are joined into boxes.
    std::vector<double> xs, ys;
    for (const Rect& r : rects) xs.insert(xs.end(), {r.b[0], r.b[2]}), ys.insert(ys.end(), {r.b[1], r.b[3]});
    std::sort(xs.begin(), xs.end()), xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    std::sort(ys.begin(), ys.end()), ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    std::vector<Box> out;
    for (std::size_t j = 0; j + 1 < ys.size(); ++j) {
        const double cy = (ys[j] + ys[j + 1]) / 2;
        bool inRun = false;
        double runStart = 0;
        for (std::size_t i = 0; i + 1 <= xs.size(); ++i) {
            bool in = false;
            if (i + 1 < xs.size()) {
                const double cx = (xs[i] + xs[i + 1]) / 2;
                int count = 0, winding = 0;
                for (const Rect& r : rects)
                    if (cx > r.b[0] && cx < r.b[2] && cy > r.b[1] && cy < r.b[3]) ++count, winding += r.turn;
                in = evenOdd ? count % 2 == 1 : winding != 0;
            }
            if (in && !inRun) runStart = xs[i], inRun = true;
            if (!in && inRun) out.push_back({runStart, ys[j], xs[i], ys[j + 1]}), inRun = false;
        }
    }
    // Rows of the same runs are one box.
    std::vector<Box> joined;
    for (const Box& b : out) {
        auto same = std::find_if(joined.begin(), joined.end(), [&](const Box& o) {
            return o[0] == b[0] && o[2] == b[2] && o[3] == b[1];
        });
        if (same != joined.end()) (*same)[3] = b[3];
        else joined.push_back(b);
    }
    return joined;
}

void AppendChar(std::u16string& s, char32_t c) {
    if (c >= 0x10000 && c <= 0x10FFFF) {
        c -= 0x10000;
        s += char16_t(0xD800 + (c >> 10)), s += char16_t(0xDC00 + (c & 0x3FF));
    } else if (c < 0x10000 && !(c >= 0xD800 && c < 0xE000)) {
        s += char16_t(c);
    } else {
        s += u'\uFFFD';
    }
}

std::string Utf8(const std::u16string& s) {
    std::string o;
    for (char16_t c : s) {  // faces are ASCII with "_" for anything else
        o += c < 0x80 ? char(c) : '_';
    }
    return o;
}

// Rows of a picture, thinned out to `step` in both directions.
struct Thinned {
    int width, height, step;
};
Thinned Thin(int w, int h, std::size_t maxPixels) {
    int step = 1;
    while (std::size_t((w + step - 1) / step) * std::size_t((h + step - 1) / step) > maxPixels) ++step;
    return {(w + step - 1) / step, (h + step - 1) / step, step};
}

// A blank this wide between two glyphs (in ems) separates words (as text
// extraction tools commonly take it).
constexpr double kWordGap = 0.1;

struct PlainMask {
    std::shared_ptr<const emf::Image> gray;  // Gray8
    emf::Matrix place;                       // its unit square to device space, upright
    emf::Rect bounds;                        // the group's box within the clip
};
struct MaskGroup {
    std::size_t depth = 0;  // of the open groups, inside it
    bool drawing = true;    // false: ended, waiting for setSoftMask
    bool plain = true;
    std::unique_ptr<GfxColorSpace> space;  // the group's blending space
    std::shared_ptr<const emf::Image> gray;
    emf::Matrix place;
};

}  // namespace

struct EmfOutputDev::Members {
    emf::Device& dev;
    PageFonts& fonts;
    DrawLimits limits;
    double pageW = 0, pageH = 0;
    // Clips pushed in the current graphics state, and in the saved ones.
    int clips = 0;
    std::vector<int> savedClips;
    std::set<const PageFont*> defined;  // font programs this page has carried

    // What the metafile cannot say: drawn later as a picture of its area.
    AreaPainter painter;
    std::vector<bool> groups;  // open transparency groups: whether each is pictured
    int picturedGroups = 0;
    bool masked = false, blending = false;
    std::vector<bool> savedMasked;
    double ax0 = 0, ay0 = 0, ax1 = 0, ay1 = 0;
    bool area = false;
    // The last clip of the state as boxes, when it is a few rectangles, and
    // those of the saved states; the area gathered is pictured in the boxes
    // of the clip it was gathered under only (a box-shadow's ring, not the
    // whole box inside it), while every part of it was gathered under that
    // one clip.
    std::vector<Box> clipBoxes;
    std::vector<std::vector<Box>> savedClipBoxes;
    std::vector<Box> areaBoxes;
    // Every clip in force, in the order pushed (cut to outlines only when
    // a masked fill needs them).
    struct ClipShape {
        emf::Path path;
        emf::Matrix ctm;
        bool evenOdd;
    };
    std::vector<ClipShape> clipShapes;

    // A soft mask that is one grey picture, over solid fills: each fill is
    // drawn as a picture of its colour with the mask as alpha (PlainMask).
    // While a soft mask's group is drawn, MaskGroup tells whether it is such
    // a mask: its one drawing is a picture, in the plain way.
    std::optional<MaskGroup> maskGroup;
    std::shared_ptr<const PlainMask> plainMask;
    std::vector<std::shared_ptr<const PlainMask>> savedPlainMasks;
    // A mask just cleared: the transparency group poppler begins next (it
    // clears the mask first) is drawn under it. A plain one pictures the
    // group's area; the area of another was pictured as it was cleared, the
    // group in it.
    std::shared_ptr<const PlainMask> clearedPlain;
    bool clearedArea = false;
    void ForgetCleared() { clearedPlain.reset(), clearedArea = false; }
    std::size_t maskedPixels = 0;  // of the page's masked fills so far

    bool Hidden() const { return painter && (picturedGroups > 0 || masked || blending); }
    void Grow(double x0, double y0, double x1, double y1) {
        if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return;
        if (!area) ax0 = x0, ay0 = y0, ax1 = x1, ay1 = y1, area = true, areaBoxes = clipBoxes;
        else if (areaBoxes != clipBoxes) areaBoxes.clear();
        ax0 = std::min(ax0, x0), ay0 = std::min(ay0, y0), ax1 = std::max(ax1, x1), ay1 = std::max(ay1, y1);
    }
    // A box in user space, as the device sees it, within the clip.
    static std::array<double, 4> DeviceBox(GfxState* state, const double* b) {
        double cx0, cy0, cx1, cy1;
        state->getClipBBox(&cx0, &cy0, &cx1, &cy1);
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (int i = 0; i < 4; ++i) {
            double x, y;
            state->transform(b[i % 2 ? 2 : 0], b[i < 2 ? 1 : 3], &x, &y);
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
        return {std::max(x0, cx0), std::max(y0, cy0), std::min(x1, cx1), std::min(y1, cy1)};
    }
    void GrowUser(GfxState* state, const double* b) {
        auto d = DeviceBox(state, b);
        Grow(d[0], d[1], d[2], d[3]);
    }
    std::optional<std::array<double, 4>> maskBox;  // of the mask being drawn, in device space
    // Anything but one plain picture in a soft mask's group makes the mask
    // one for the area painter.
    void Spoil() {
        if (maskGroup && maskGroup->drawing) maskGroup->plain = false;
    }
    // The plain mask in force masks something else than a solid fill: the
    // painter pictures the mask's area from here on.
    void Demote() {
        ForgetCleared();
        if (!plainMask) return;
        const emf::Rect b = plainMask->bounds;
        plainMask.reset();
        if (!painter) return;
        masked = true;
        Grow(b.left, b.top, b.right, b.bottom);
    }
    // Whether a drawing call goes into the picture instead of the metafile.
    bool Skip(GfxState* state) {
        Spoil();
        Demote();
        if (!Hidden()) return false;
        Flush();
        if (blending) {
            double x0, y0, x1, y1;
            state->getClipBBox(&x0, &y0, &x1, &y1);
            Grow(x0, y0, x1, y1);
        }
        return true;
    }
    // Draws the gathered area once nothing hides drawing any more.
    void Release() {
        if (Hidden() || !area) return;
        area = false;
        Flush();
        const double x0 = std::clamp(std::floor(ax0), 0.0, pageW), y0 = std::clamp(std::floor(ay0), 0.0, pageH);
        const double x1 = std::clamp(std::ceil(ax1), 0.0, pageW), y1 = std::clamp(std::ceil(ay1), 0.0, pageH);
        if (!(x1 > x0 && y1 > y0)) return;
        std::vector<Box> parts;
        if (!areaBoxes.empty() && areaBoxes.size() <= 4) {
            for (const Box& b : areaBoxes) {
                const double px0 = std::max(x0, std::floor(b[0])), py0 = std::max(y0, std::floor(b[1]));
                const double px1 = std::min(x1, std::ceil(b[2])), py1 = std::min(y1, std::ceil(b[3]));
                if (px1 > px0 && py1 > py0) parts.push_back({px0, py0, px1, py1});
            }
        } else {
            parts.push_back({x0, y0, x1, y1});
        }
        areaBoxes.clear();
        // The parts take the whole area's resolution: together no more pixels.
        const double pixels = (x1 - x0) * (y1 - y0);
        const double scale = std::min(1.0, std::sqrt(double(limits.maxShadingPixels) / pixels));
        for (const Box& p : parts) {
            std::optional<emf::Image> img =
                painter(int(p[0]), int(p[1]), int(p[2] - p[0]), int(p[3] - p[1]), scale);
            if (img && img->width > 0 && img->height > 0)
                dev.DrawImage(*img, {p[2] - p[0], 0, 0, p[3] - p[1], p[0], p[1]});
        }
    }

    struct Run {
        const PageFont* font = nullptr;
        double em = 0, angle = 0;
        emf::Color color;
        bool invisible = false;
        emf::Point origin, dir{1, 0};
        std::u16string text;
        std::vector<double> advances;
        double lastPos = 0;        // along the baseline, of the last glyph's origin
        std::size_t lastUnit = 0;  // first unit of the last glyph
        double lastOwn = 0;        // the last glyph's own advance
    } run;

    PictureCache* pictures = nullptr;

    Members(emf::Device& d, PageFonts& f, const DrawLimits& l, PictureCache* p)
        : dev(d), fonts(f), limits(l), pictures(p) {}

    void Flush() {
        if (run.text.empty()) return;
        const PageFont& pf = *run.font;
        if (!pf.program.empty() && defined.insert(&pf).second)
            dev.DefineFont({pf.face, emf::FontProgram::Format::Sfnt, pf.program});
        emf::TextRun t;
        t.text = std::move(run.text);
        t.advances = std::move(run.advances);
        t.origin = run.origin;
        t.face = Utf8(pf.face);
        t.emHeight = run.em;
        t.weight = pf.weight;
        t.italic = pf.italic;
        t.angle = run.angle;
        t.color = run.color;
        if (run.invisible) {
            // Text that is there to be found (a scan's words): kept, but shown nowhere.
            emf::Path none;
            none.AddRect({0, 0, 0, 0});
            dev.PushClip(none, emf::FillRule::NonZero, {});
            dev.DrawText(t, {});
            dev.PopClip();
        } else {
            dev.DrawText(t, {});
        }
        run.text.clear(), run.advances.clear();
    }

    // Adds one glyph's text at device point `o` with its own advance `adv`.
    void AddGlyph(const PageFont& pf, double em, double angle, emf::Point dir, const emf::Color& color, bool invisible,
                  emf::Point o, double adv, const std::u16string& units) {
        if (units.empty()) return;
        const bool same = !run.text.empty() && run.font == &pf && std::fabs(run.em - em) < 0.01 &&
                          std::fabs(run.angle - angle) < 0.01 && run.color == color && run.invisible == invisible;
        if (same) {
            const double vx = o.x - run.origin.x, vy = o.y - run.origin.y;
            const double along = vx * run.dir.x + vy * run.dir.y, across = vx * run.dir.y - vy * run.dir.x;
            const double gap = along - run.lastPos;
            if (std::fabs(across) <= std::max(0.5, em * 0.02) && gap >= -0.01 * em && gap < 30 * em) {
                // A word gap without a space character (most typesetters leave
                // it out) gets one, so that a reader whose glyphs are wider or
                // narrower than the PDF's still finds the words.
                const double blank = gap - run.lastOwn;
                if (blank > kWordGap * em && run.text.back() != u' ' && units[0] != u' ') {
                    SetLastAdvance(run.lastOwn);
                    run.text += u' ';
                    run.advances.push_back(blank);
                } else {
                    SetLastAdvance(gap);
                }
                run.lastPos = along;
                run.lastOwn = adv;
                run.lastUnit = run.text.size();
                Append(units, adv);
                return;
            }
        }
        Flush();
        run.font = &pf, run.em = em, run.angle = angle, run.color = color, run.invisible = invisible;
        run.origin = o, run.dir = dir, run.lastPos = 0, run.lastUnit = 0, run.lastOwn = adv;
        run.text.clear(), run.advances.clear();
        Append(units, adv);
    }

    // The last glyph's characters take `total` together (its last one the rest).
    void SetLastAdvance(double total) {
        double others = 0;
        for (std::size_t i = run.lastUnit; i + 1 < run.advances.size(); ++i) others += run.advances[i];
        run.advances.back() = total - others;
    }

    // A glyph of several characters (a ligature) shares its advance among them,
    // so that they keep their order for readers that place each on its own.
    void Append(const std::u16string& units, double adv) {
        std::size_t chars = 0;
        for (char16_t c : units) chars += !(c >= 0xDC00 && c < 0xE000);
        for (char16_t c : units) {
            run.text += c;
            run.advances.push_back(c >= 0xDC00 && c < 0xE000 ? 0 : adv / double(std::max<std::size_t>(chars, 1)));
        }
    }

    void Glyph(GfxState* state, double x, double y, double dx, double dy, CharCode code, const Unicode* u, int uLen,
               bool forceInvisible) {
        GfxFont* font = state->getFont().get();
        if (!font) return;
        const PageFont& pf = fonts.Of(*font);
        const int render = state->getRender();
        const bool invisible = forceInvisible || render % 4 == 3;
        GfxRGB rgb;
        if (render % 4 == 1) state->getStrokeRGB(&rgb);
        else state->getFillRGB(&rgb);
        if (!invisible && (render % 4 == 1 ? state->getStrokeOpacity() : state->getFillOpacity()) <= 0) return;

        // One em of text space along the baseline and upwards, in device pixels.
        const double* tm = state->getTextMat();
        const double* c = state->getCTM();
        const double fs = state->getFontSize(), hs = state->getHorizScaling();
        const double ux = fs * hs * tm[0], uy = fs * hs * tm[1], vx = fs * tm[2], vy = fs * tm[3];
        const double bx = ux * c[0] + uy * c[2], by = ux * c[1] + uy * c[3];
        const double wx = vx * c[0] + vy * c[2], wy = vx * c[1] + vy * c[3];
        const double em = std::hypot(wx, wy), base = std::hypot(bx, by);
        if (!(em > 1e-3) || !(base > 1e-6) || !std::isfinite(em) || !std::isfinite(base) || em > 1e6) return;
        const emf::Point dir{bx / base, by / base};
        const double angle = std::atan2(-dir.y, dir.x) * 180 / std::numbers::pi;
        double ox, oy, ax, ay;
        state->transform(x, y, &ox, &oy);
        state->transformDelta(dx, dy, &ax, &ay);
        if (!std::isfinite(ox) || !std::isfinite(oy)) return;
        const double adv = ax * dir.x + ay * dir.y;

        std::u16string units;
        const bool known = uLen > 0 && u[0] != 0;
        auto carried = pf.codeChar.find(code);
        if (carried != pf.codeChar.end() && !(known && !(uLen == 1 && char32_t(u[0]) == carried->second))) {
            // The carried program maps this character to the code's glyph
            // (the glyph's own text, or a private-use character for a glyph
            // whose text is unknown).
            AppendChar(units, carried->second);
        } else if (known) {
            // Known text wins over the exact glyph: the words stay.
            for (int i = 0; i < uLen; ++i) AppendChar(units, u[i] < 0x20 ? 0x20 : u[i]);
        } else {
            // No text and no glyph program: something visible in its place.
            AppendChar(units, code > 0x20 && code < 0x7F ? char32_t(code) : 0xFFFD);
        }
        AddGlyph(pf, em, angle, dir,
                 OnPaper(rgb, render % 4 == 1 ? state->getStrokeOpacity() : state->getFillOpacity()), invisible,
                 {ox, oy}, adv, units);
    }

    void FillPath(GfxState* state, emf::FillRule rule) {
        if (plainMask && !Hidden()) {
            ForgetCleared();
            FillUnderMask(state, rule);
            return;
        }
        if (Skip(state)) return;
        Flush();
        if (state->getFillOpacity() <= 0) return;
        GfxRGB rgb;
        state->getFillRGB(&rgb);
        emf::Paint p;
        p.color = OnPaper(rgb, state->getFillOpacity());
        dev.FillPath(ToPath(state->getPath()), rule, p, Ctm(state));
    }

    void PushClip(GfxState* state, emf::FillRule rule) {
        Flush();
        Spoil();
        ForgetCleared();
        emf::Path path = ToPath(state->getPath());
        dev.PushClip(path, rule, Ctm(state));
        clipShapes.push_back({std::move(path), Ctm(state), rule == emf::FillRule::EvenOdd});
        ++clips;
        // A clip of another shape leaves the boxes as they are: what shows
        // still lies inside them.
        std::vector<Box> boxes = RectangleRegion(state->getPath(), state->getCTM(), rule == emf::FillRule::EvenOdd);
        if (boxes.empty() || clipBoxes.empty()) {
            if (!boxes.empty()) clipBoxes = std::move(boxes);
            return;
        }
        std::vector<Box> both;
        for (const Box& a : clipBoxes)
            for (const Box& b : boxes) {
                const Box c{std::max(a[0], b[0]), std::max(a[1], b[1]), std::min(a[2], b[2]), std::min(a[3], b[3])};
                if (c[2] > c[0] && c[3] > c[1]) both.push_back(c);
            }
        clipBoxes = std::move(both);
    }
    void PopClips(int n) {
        Flush();
        for (; n > 0; --n) {
            dev.PopClip();
            if (!clipShapes.empty()) clipShapes.pop_back();
        }
    }

    // A solid fill under the plain mask: pictures of its colour, the mask
    // their alpha, clipped to the path.
    void FillUnderMask(GfxState* state, emf::FillRule rule) {
        Flush();
        const double opacity = state->getFillOpacity();
        if (!(opacity > 0)) return;
        const PlainMask& pm = *plainMask;
        GfxRGB rgb;
        state->getFillRGB(&rgb);
        const emf::Path path = ToPath(state->getPath());
        const emf::Matrix ctm = Ctm(state);
        std::vector<Outline> regions;
        regions.reserve(clipShapes.size() + 1);
        regions.push_back(OutlineOf(path, ctm, rule == emf::FillRule::EvenOdd));
        for (const ClipShape& c : clipShapes) regions.push_back(OutlineOf(c.path, c.ctm, c.evenOdd));
        double cx0, cy0, cx1, cy1;
        state->getClipBBox(&cx0, &cy0, &cx1, &cy1);
        pagedraw::MaskedFill fill;
        fill.mask = pm.gray.get();
        fill.place = pm.place;
        fill.bounds = {std::max({pm.bounds.left, cx0, 0.0}), std::max({pm.bounds.top, cy0, 0.0}),
                       std::min({pm.bounds.right, cx1, pageW}), std::min({pm.bounds.bottom, cy1, pageH})};
        fill.color = ToColor(rgb);
        fill.opacity = opacity;
        fill.minStep = 1 / std::clamp(limits.pictureScale, 1.0 / 64, 1.0);
        // Past the page's share, a picture of a few pixels (as large as a
        // path's record) still shows where the fill is.
        const std::size_t left = limits.maxMaskedPixels > maskedPixels ? limits.maxMaskedPixels - maskedPixels : 0;
        fill.maxPixels = std::max<std::size_t>(std::min(limits.maxShadingPixels, left), 64);
        std::vector<PlacedPicture> pictures = PictureMaskedFill(fill, regions);
        if (pictures.empty()) return;
        // A rectangle around all the pictures clips nothing of them.
        bool clip = true;
        const std::vector<Box> rect = RectangleRegion(state->getPath(), state->getCTM(), false);
        if (rect.size() == 1 && state->getPath()->getNumSubpaths() == 1) {
            clip = !std::all_of(pictures.begin(), pictures.end(), [&](const PlacedPicture& p) {
                return p.box.left >= rect[0][0] && p.box.top >= rect[0][1] && p.box.right <= rect[0][2] &&
                       p.box.bottom <= rect[0][3];
            });
        }
        if (clip) dev.PushClip(path, rule, ctm);
        for (const PlacedPicture& p : pictures) {
            maskedPixels += std::size_t(p.picture.width) * std::size_t(p.picture.height);
            dev.DrawImage(p.picture, {p.box.right - p.box.left, 0, 0, p.box.bottom - p.box.top, p.box.left, p.box.top});
        }
        if (clip) dev.PopClip();
    }

    // The one picture of a soft mask's group, kept as the mask's grey values
    // when it is drawn the plain way; false when it is no such picture.
    bool TakeMaskPicture(GfxState* state, Object* ref, Stream* str, int width, int height,
                         GfxImageColorMap* colorMap, const int* maskColors, bool inlineImg) {
        if (!maskGroup || !maskGroup->drawing) return false;
        MaskGroup& g = *maskGroup;
        const emf::Matrix place = emf::Matrix{1, 0, 0, -1, 0, 1}.Then(Ctm(state));
        const double size = std::fabs(place.a) + std::fabs(place.d);
        if (!g.plain || g.gray || groups.size() != g.depth || maskColors || width <= 0 || height <= 0 ||
            state->getFillOpacity() != 1 || state->getBlendMode() != gfxBlendNormal ||
            !(std::fabs(place.b) <= 1e-6 * size && std::fabs(place.c) <= 1e-6 * size) ||
            !(std::fabs(place.a) > 1e-6 && std::fabs(place.d) > 1e-6) ||
            !std::isfinite(place.a + place.d + place.e + place.f)) {
            g.plain = false;
            return false;
        }
        g.place = place, g.place.b = 0, g.place.c = 0;
        const GfxColorSpaceMode mode = colorMap->getColorSpace()->getMode();
        const bool keep = pictures && !inlineImg && ref && ref->isRef();
        if (keep) g.gray = pictures->Find(ref->getRef().num, ref->getRef().gen, kMaskVariant + int(mode));
        if (g.gray) return true;
        const Thinned t = Thin(width, height, limits.maxImagePixels);
        auto img = std::make_shared<emf::Image>();
        img->format = emf::Image::Format::Gray8, img->components = 1, img->width = t.width, img->height = t.height;
        img->pixels.assign(std::size_t(t.width) * t.height, 0);
        const int comps = colorMap->getNumPixelComps(), bits = colorMap->getBits();
        if (comps <= 0 || bits <= 0) {
            g.plain = false;
            return false;
        }
        // One component: its grey for every sample value, once.
        std::vector<std::uint8_t> table;
        if (comps == 1 && bits > 0 && bits <= 8) {
            table.resize(std::size_t(1) << bits);
            for (std::size_t v = 0; v < table.size(); ++v) {
                unsigned char sample = static_cast<unsigned char>(v);
                GfxGray gray;
                colorMap->getGray(&sample, &gray);
                table[v] = colToByte(gray);
            }
        }
        // Row by row: a browser's masks are as large as their boxes. Rows
        // past the end of the data stay 0 (a huge picture of a few bytes
        // costs no time).
        ImageStream is(str, width, comps, bits);
        is.reset();
        GfxGray gray;
        for (int y = 0; y < height; ++y) {
            unsigned char* line = is.getLine();
            if (!line) break;
            if (y % t.step == 0) {
                std::uint8_t* out = &img->pixels[std::size_t(y / t.step) * std::size_t(t.width)];
                if (!table.empty()) {
                    const std::size_t top = table.size() - 1;
                    for (int x = 0; x < width; x += t.step) *out++ = table[line[x] & top];
                } else {
                    for (int x = 0; x < width; x += t.step) {
                        colorMap->getGray(line + std::size_t(x) * comps, &gray);
                        *out++ = colToByte(gray);
                    }
                }
            }
            // (A stream looked at before its first read may not know yet.)
            if (str->lookChar() == EOF) break;
        }
        is.close();
        g.gray = img;
        // A browser gives each box a mask of its own: a large one is kept
        // once it is met again.
        if (keep && (pictures->MetBefore(ref->getRef().num, ref->getRef().gen, kMaskVariant + int(mode)) ||
                     img->pixels.size() <= kKeepMaskBelow))
            pictures->Keep(ref->getRef().num, ref->getRef().gen, kMaskVariant + int(mode), img);
        return true;
    }
    // Mask pictures are kept apart from the same object's colour picture.
    static constexpr int kMaskVariant = 1 << 16;
    static constexpr std::size_t kKeepMaskBelow = std::size_t(64) << 10;

    // A picture of the clip's area, each pixel coloured by `colorAt` at its
    // centre in user space (false: not painted there).
    template <class ColorAt>
    void Raster(GfxState* state, ColorAt colorAt) {
        Flush();
        double x0, y0, x1, y1;
        state->getClipBBox(&x0, &y0, &x1, &y1);
        x0 = std::max(0.0, std::floor(x0)), y0 = std::max(0.0, std::floor(y0));
        x1 = std::min(pageW, std::ceil(x1)), y1 = std::min(pageH, std::ceil(y1));
        if (!(x1 > x0 && y1 > y0)) return;
        const double* c = state->getCTM();
        const double det = c[0] * c[3] - c[1] * c[2];
        if (!(std::fabs(det) > 1e-12)) return;
        const Thinned t = Thin(int(x1 - x0), int(y1 - y0), limits.maxShadingPixels);
        emf::Image img;
        img.format = emf::Image::Format::Rgba8, img.components = 4;
        img.width = t.width, img.height = t.height;
        img.pixels.assign(std::size_t(t.width) * t.height * 4, 0);
        bool opaque = true;
        GfxRGB rgb;
        for (int y = 0; y < t.height; ++y)
            for (int x = 0; x < t.width; ++x) {
                const double px = x0 + (x + 0.5) * t.step - c[4], py = y0 + (y + 0.5) * t.step - c[5];
                const double ux = (c[3] * px - c[2] * py) / det, uy = (-c[1] * px + c[0] * py) / det;
                std::uint8_t* o = &img.pixels[(std::size_t(y) * t.width + x) * 4];
                if (colorAt(ux, uy, rgb)) {
                    o[0] = colToByte(rgb.r), o[1] = colToByte(rgb.g), o[2] = colToByte(rgb.b), o[3] = 255;
                } else {
                    opaque = false;
                }
            }
        if (opaque) {
            std::vector<std::uint8_t> rgbOnly(std::size_t(t.width) * t.height * 3);
            for (std::size_t i = 0, n = std::size_t(t.width) * t.height; i < n; ++i)
                std::copy_n(&img.pixels[i * 4], 3, &rgbOnly[i * 3]);
            img.pixels = std::move(rgbOnly);
            img.format = emf::Image::Format::Rgb8, img.components = 3;
        }
        dev.DrawImage(img, {double(t.width) * t.step, 0, 0, double(t.height) * t.step, x0, y0});
    }

    void Picture(GfxState* state, const emf::Image& img) {
        Flush();
        // The picture's first row is at the top of its unit square (y = 1).
        dev.DrawImage(img, emf::Matrix{1, 0, 0, -1, 0, 1}.Then(Ctm(state)));
    }

    // The picture of an image object that an earlier page decoded, drawn
    // again; false when there is none. What an image object shows depends on
    // the object (its samples, colour space, decode ranges and masks), and on
    // the page only where the page's default colour spaces stand in for the
    // device ones: the colour space's kind goes with the object's number.
    // Stencil masks, painted in the current colour, are not kept.
    bool DrawKept(GfxState* state, Object* ref, bool inlineImg, GfxImageColorMap* colorMap) {
        if (!pictures || inlineImg || !ref || !ref->isRef()) return false;
        const Ref r = ref->getRef();
        std::shared_ptr<const emf::Image> kept = pictures->Find(r.num, r.gen, colorMap->getColorSpace()->getMode());
        if (!kept) return false;
        Picture(state, *kept);
        return true;
    }

    // Draws a decoded picture and keeps it for the next page that shows the
    // object. A large one is packed as PNG first, once for the document.
    void DrawAndKeep(GfxState* state, Object* ref, bool inlineImg, GfxImageColorMap* colorMap, emf::Image&& img) {
        if (img.pixels.size() > kPackAbove)
            if (std::optional<emf::Image> packed = PackPng(img)) img = std::move(*packed);
        if (!pictures || inlineImg || !ref || !ref->isRef()) {
            Picture(state, img);
            return;
        }
        auto kept = std::make_shared<const emf::Image>(std::move(img));
        Picture(state, *kept);
        const Ref r = ref->getRef();
        pictures->Keep(r.num, r.gen, colorMap->getColorSpace()->getMode(), std::move(kept));
    }

    // Samples of a stream, one byte per component, thinned to fit.
    static bool ReadSamples(Stream* str, int w, int h, int comps, int bits, const Thinned& t,
                            const std::function<void(int x, int y, unsigned char* pix)>& take) {
        if (w <= 0 || h <= 0 || comps <= 0 || bits <= 0) return false;
        ImageStream is(str, w, comps, bits);
        is.reset();
        for (int y = 0; y < h; ++y) {
            unsigned char* line = is.getLine();
            if (!line) break;
            if (y % t.step) continue;
            for (int x = 0; x < w; x += t.step) take(x / t.step, y / t.step, line + std::size_t(x) * comps);
        }
        is.close();
        return true;
    }
};

EmfOutputDev::EmfOutputDev(emf::Device& device, PageFonts& fonts, const DrawLimits& limits, PictureCache* pictures)
    : m_(std::make_unique<Members>(device, fonts, limits, pictures)) {}
EmfOutputDev::~EmfOutputDev() = default;

void EmfOutputDev::startPage(int, GfxState* state, XRef*) {
    m_->pageW = state ? state->getPageWidth() : 0;
    m_->pageH = state ? state->getPageHeight() : 0;
    m_->clips = 0, m_->savedClips.clear(), m_->defined.clear();
    m_->clipBoxes.clear(), m_->savedClipBoxes.clear(), m_->areaBoxes.clear(), m_->clipShapes.clear();
    m_->maskGroup.reset(), m_->plainMask.reset(), m_->savedPlainMasks.clear(), m_->ForgetCleared();
    m_->maskedPixels = 0;
    m_->dev.BeginPage({m_->pageW, m_->pageH, 72});
}

void EmfOutputDev::endPage() {
    m_->PopClips(m_->clips);
    for (int n : m_->savedClips) m_->PopClips(n);
    m_->clips = 0, m_->savedClips.clear();
    m_->dev.EndPage();
}

void EmfOutputDev::SetAreaPainter(AreaPainter painter) { m_->painter = std::move(painter); }

void EmfOutputDev::saveState(GfxState*) {
    m_->ForgetCleared();
    m_->savedMasked.push_back(m_->masked);
    m_->savedPlainMasks.push_back(m_->plainMask);
    m_->savedClipBoxes.push_back(m_->clipBoxes);
    m_->savedClips.push_back(m_->clips);
    m_->clips = 0;
}

void EmfOutputDev::restoreState(GfxState* state) {
    m_->Flush();
    m_->ForgetCleared();
    if (!m_->savedMasked.empty()) m_->masked = m_->savedMasked.back(), m_->savedMasked.pop_back();
    if (!m_->savedPlainMasks.empty())
        m_->plainMask = std::move(m_->savedPlainMasks.back()), m_->savedPlainMasks.pop_back();
    m_->blending = state && state->getBlendMode() != gfxBlendNormal;
    m_->Release();
    m_->PopClips(m_->clips);
    m_->clips = 0;
    if (!m_->savedClips.empty()) m_->clips = m_->savedClips.back(), m_->savedClips.pop_back();
    if (!m_->savedClipBoxes.empty()) m_->clipBoxes = std::move(m_->savedClipBoxes.back()), m_->savedClipBoxes.pop_back();
}

void EmfOutputDev::updateBlendMode(GfxState* state) {
    m_->Flush();
    m_->blending = state->getBlendMode() != gfxBlendNormal;
    m_->Release();
}

void EmfOutputDev::beginTransparencyGroup(GfxState* state, const double* bbox, GfxColorSpace* blendingColorSpace,
                                          bool, bool knockout, bool forSoftMask) {
    m_->Flush();
    m_->Spoil();
    // poppler clears the soft mask before a group it draws under one.
    if (!forSoftMask && m_->clearedPlain && m_->painter) {
        const emf::Rect b = m_->clearedPlain->bounds;
        m_->masked = true;
        m_->Grow(b.left, b.top, b.right, b.bottom);
    }
    const bool inPicture = !forSoftMask && m_->clearedArea;
    m_->ForgetCleared();
    // A group drawn as it is needs nothing: its content is drawn in place.
    const bool pictured = m_->painter && (forSoftMask || knockout || m_->Hidden() || inPicture ||
                                          state->getBlendMode() != gfxBlendNormal);
    m_->groups.push_back(pictured);
    if (!pictured) return;
    // The content of a mask is no drawing; the area it masks counts when the mask is set.
    if (forSoftMask) {
        m_->maskBox = Members::DeviceBox(state, bbox);
        m_->maskGroup.emplace();
        m_->maskGroup->depth = m_->groups.size();
        if (blendingColorSpace) m_->maskGroup->space.reset(blendingColorSpace->copy());
    } else if (!inPicture) {
        m_->GrowUser(state, bbox);
    }
    ++m_->picturedGroups;
}

void EmfOutputDev::endTransparencyGroup(GfxState*) {
    if (m_->groups.empty()) return;
    if (m_->maskGroup && m_->maskGroup->drawing && m_->groups.size() == m_->maskGroup->depth)
        m_->maskGroup->drawing = false;
    if (m_->groups.back()) --m_->picturedGroups;
    m_->groups.pop_back();
}

void EmfOutputDev::paintTransparencyGroup(GfxState*, const double*) { m_->Release(); }

void EmfOutputDev::setSoftMask(GfxState* state, const double* bbox, bool alpha, Function* transferFunc,
                               GfxColor* backdropColor) {
    if (!m_->painter) return;
    m_->Flush();
    m_->ForgetCleared();
    std::optional<MaskGroup> group = std::move(m_->maskGroup);
    m_->maskGroup.reset();
    // Luminosity outside the picture is the backdrop's: black, or the mask
    // is more than the picture.
    bool blackBackdrop = backdropColor != nullptr;
    if (blackBackdrop && group && group->space) {
        GfxGray g;
        group->space->getGray(backdropColor, &g);
        blackBackdrop = g == 0;
    } else if (blackBackdrop) {
        blackBackdrop = std::all_of(std::begin(backdropColor->c), std::end(backdropColor->c), [](GfxColorComp c) { return c == 0; });
    }
    if (group && !group->drawing && group->plain && group->gray && !alpha && !transferFunc && blackBackdrop &&
        m_->maskBox) {
        const auto& d = *m_->maskBox;
        m_->plainMask = std::make_shared<const PlainMask>(PlainMask{group->gray, group->place, {d[0], d[1], d[2], d[3]}});
        m_->maskBox.reset();
        // It takes the place of a mask in force.
        if (m_->masked) {
            m_->masked = false;
            m_->Release();
        }
        return;
    }
    m_->plainMask.reset();
    m_->masked = true;
    if (m_->maskBox) {
        auto& d = *m_->maskBox;
        m_->Grow(d[0], d[1], d[2], d[3]);
        m_->maskBox.reset();
    } else {
        m_->GrowUser(state, bbox);
    }
}

void EmfOutputDev::clearSoftMask(GfxState*) {
    if (m_->plainMask) m_->clearedPlain = std::move(m_->plainMask);
    m_->plainMask.reset();
    // The mask's area is pictured now, as the page looks there.
    const bool pictured = m_->masked && m_->area && m_->painter && m_->picturedGroups == 0 && !m_->blending;
    m_->masked = false;
    m_->Release();
    if (pictured) m_->clearedArea = true;
}

void EmfOutputDev::stroke(GfxState* state) {
    if (m_->Skip(state)) return;
    m_->Flush();
    if (state->getStrokeOpacity() <= 0) return;
    emf::StrokeStyle s;
    s.width = state->getLineWidth();
    // PDF numbers: caps 0 butt, 1 round, 2 square; joins 0 miter, 1 round, 2 bevel.
    s.cap = state->getLineCap() == 0 ? emf::LineCap::Butt
            : state->getLineCap() == 1 ? emf::LineCap::Round : emf::LineCap::Square;
    s.join = state->getLineJoin() == 0 ? emf::LineJoin::Miter
             : state->getLineJoin() == 1 ? emf::LineJoin::Round : emf::LineJoin::Bevel;
    s.miterLimit = state->getMiterLimit();
    double phase = 0;
    const std::vector<double>& dash = state->getLineDash(&phase);
    if (dash.size() <= 64) s.dashes = dash, s.dashPhase = phase;
    GfxRGB rgb;
    state->getStrokeRGB(&rgb);
    m_->dev.StrokePath(ToPath(state->getPath()), s, OnPaper(rgb, state->getStrokeOpacity()), Ctm(state));
}

void EmfOutputDev::fill(GfxState* state) { m_->FillPath(state, emf::FillRule::NonZero); }

void EmfOutputDev::eoFill(GfxState* state) { m_->FillPath(state, emf::FillRule::EvenOdd); }

void EmfOutputDev::clip(GfxState* state) { m_->PushClip(state, emf::FillRule::NonZero); }
void EmfOutputDev::eoClip(GfxState* state) { m_->PushClip(state, emf::FillRule::EvenOdd); }
// A clip to the outline of a stroke has no metafile form: the area stays unclipped.
void EmfOutputDev::clipToStrokePath(GfxState*) {}

namespace {

// The colour at `s` along a shading (0 at its start, 1 at its end); false
// beyond an end it does not extend past.
bool ColorAlong(GfxUnivariateShading* sh, double s, GfxRGB& rgb) {
    if (s < 0) {
        if (!sh->getExtend0()) return false;
        s = 0;
    } else if (s > 1) {
        if (!sh->getExtend1()) return false;
        s = 1;
    }
    const double t0 = sh->getDomain0(), t1 = sh->getDomain1();
    GfxColor c;
    sh->getColor(t0 + s * (t1 - t0), &c);
    sh->getColorSpace()->getRGB(&c, &rgb);
    return true;
}

}  // namespace

bool EmfOutputDev::axialShadedFill(GfxState* state, GfxAxialShading* sh, double, double) {
    if (m_->Skip(state)) return true;
    double x0, y0, x1, y1;
    sh->getCoords(&x0, &y0, &x1, &y1);
    const double dx = x1 - x0, dy = y1 - y0, den = dx * dx + dy * dy;
    m_->Raster(state, [&](double ux, double uy, GfxRGB& rgb) {
        return ColorAlong(sh, den > 0 ? ((ux - x0) * dx + (uy - y0) * dy) / den : 0, rgb);
    });
    return true;
}

bool EmfOutputDev::radialShadedFill(GfxState* state, GfxRadialShading* sh, double, double) {
    if (m_->Skip(state)) return true;
    double x0, y0, r0, x1, y1, r1;
    sh->getCoords(&x0, &y0, &r0, &x1, &y1, &r1);
    const double cdx = x1 - x0, cdy = y1 - y0, dr = r1 - r0;
    const double a = cdx * cdx + cdy * cdy - dr * dr;
    m_->Raster(state, [&](double ux, double uy, GfxRGB& rgb) {
        // The largest s whose circle passes through the point.
        const double pdx = ux - x0, pdy = uy - y0;
        const double b = pdx * cdx + pdy * cdy + r0 * dr, c = pdx * pdx + pdy * pdy - r0 * r0;
        double cand[2];
        int n = 0;
        if (std::fabs(a) < 1e-9) {
            if (b == 0) return false;
            cand[n++] = c / (2 * b);
        } else {
            const double disc = b * b - a * c;
            if (disc < 0) return false;
            const double sq = std::sqrt(disc);
            cand[0] = (b + sq) / a, cand[1] = (b - sq) / a;
            if (cand[1] > cand[0]) std::swap(cand[0], cand[1]);
            n = 2;
        }
        for (int i = 0; i < n; ++i)
            if (r0 + cand[i] * dr >= 0 && ColorAlong(sh, cand[i], rgb)) return true;
        return false;
    });
    return true;
}

bool EmfOutputDev::functionShadedFill(GfxState* state, GfxFunctionShading* sh) {
    if (m_->Skip(state)) return true;
    double dx0, dy0, dx1, dy1;
    sh->getDomain(&dx0, &dy0, &dx1, &dy1);
    const double* m = sh->getMatrix();
    const double det = m[0] * m[3] - m[1] * m[2];
    if (!(std::fabs(det) > 1e-12)) return true;
    GfxColorSpace* cs = sh->getColorSpace();
    m_->Raster(state, [&](double ux, double uy, GfxRGB& rgb) {
        const double px = ux - m[4], py = uy - m[5];
        const double sx = (m[3] * px - m[2] * py) / det, sy = (-m[1] * px + m[0] * py) / det;
        if (sx < dx0 || sx > dx1 || sy < dy0 || sy > dy1) return false;
        GfxColor c;
        sh->getColor(sx, sy, &c);
        cs->getRGB(&c, &rgb);
        return true;
    });
    return true;
}

void EmfOutputDev::drawChar(GfxState* state, double x, double y, double dx, double dy, double originX,
                            double originY, CharCode code, int, const Unicode* u, int uLen) {
    // Text in a pictured area stays as invisible text, so that its words are kept.
    m_->Spoil();
    m_->ForgetCleared();
    if (state->getRender() % 4 != 3) m_->Demote();
    const bool hidden = m_->Hidden();
    if (hidden && m_->blending) m_->Skip(state);
    m_->Glyph(state, x - originX, y - originY, dx, dy, code, u, uLen, hidden);
}

bool EmfOutputDev::beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode code,
                                  const Unicode* u, int uLen) {
    // The glyph is drawn as the graphics of its procedure; its text is kept
    // beside it, invisible, so that the words can still be found.
    m_->Spoil();
    m_->Demote();
    if (uLen > 0) m_->Glyph(state, x, y, dx, dy, code, u, uLen, true);
    m_->Flush();
    return false;
}

void EmfOutputDev::endTextObject(GfxState*) {}

namespace {

// An 8-bit RGB picture that is only deflated (how an office's print hands
// over photos and page backgrounds): its samples are the picture's pixels,
// inflated in one go. Empty for anything else, and for data that does not
// inflate to exactly the picture's size (the row-by-row way then copes with
// it as with any damage).
std::optional<emf::Image> InflatedRgb(Stream* str, int width, int height, GfxImageColorMap* colorMap) {
    if (str->getKind() != strFlate || colorMap->getBits() != 8 || colorMap->getNumPixelComps() != 3 ||
        colorMap->getColorSpace()->getMode() != csDeviceRGB || width <= 0 || height <= 0)
        return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if (colorMap->getDecodeLow(i) != 0 || colorMap->getDecodeHigh(i) != 1) return std::nullopt;
    // One filter straight on the file's bytes (no decryption, no second filter), without a predictor.
    Stream* raw = str->getNextStream();
    if (!raw || raw->getNextStream()) return std::nullopt;
    if (Dict* dict = str->getDict()) {
        Object parms = dict->lookup("DecodeParms");
        if (parms.isNull()) parms = dict->lookup("DP");
        if (parms.isArray() && parms.arrayGetLength() == 1) parms = parms.arrayGet(0);
        if (parms.isDict()) {
            Object predictor = parms.dictLookup("Predictor");
            if (!predictor.isNull() && !(predictor.isInt() && predictor.getInt() == 1)) return std::nullopt;
        } else if (!parms.isNull()) {
            return std::nullopt;
        }
    }
    const std::size_t size = std::size_t(width) * std::size_t(height) * 3;
    std::vector<unsigned char> packed = raw->toUnsignedChars(1 << 16, 1 << 20);
    raw->close();
    struct FreeDecompressor {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> inflater(libdeflate_alloc_decompressor());
    if (!inflater || packed.empty()) return std::nullopt;
    emf::Image img;
    img.format = emf::Image::Format::Rgb8, img.components = 3, img.width = width, img.height = height;
    img.pixels.resize(size);
    std::size_t got = 0;
    if (libdeflate_zlib_decompress(inflater.get(), packed.data(), packed.size(), img.pixels.data(), size, &got) !=
            LIBDEFLATE_SUCCESS ||
        got != size)
        return std::nullopt;
    return img;
}

}  // namespace

void EmfOutputDev::drawImageMask(GfxState* state, Object*, Stream* str, int width, int height, bool invert, bool,
                                 bool) {
    if (m_->Skip(state)) return;
    const Thinned t = Thin(width, height, m_->limits.maxImagePixels);
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    const emf::Color c = ToColor(rgb);
    emf::Image img;
    img.format = emf::Image::Format::Rgba8, img.components = 4, img.width = t.width, img.height = t.height;
    img.pixels.assign(std::size_t(t.width) * t.height * 4, 0);
    if (!Members::ReadSamples(str, width, height, 1, 1, t, [&](int x, int y, unsigned char* pix) {
            if ((pix[0] != 0) != invert) return;  // 0 paints, unless inverted
            std::uint8_t* o = &img.pixels[(std::size_t(y) * t.width + x) * 4];
            o[0] = c.r, o[1] = c.g, o[2] = c.b, o[3] = 255;
        }))
        return;
    m_->Picture(state, img);
}

void EmfOutputDev::drawImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool, const int* maskColors, bool inlineImg) {
    if (m_->TakeMaskPicture(state, ref, str, width, height, colorMap, maskColors, inlineImg)) return;
    if (m_->Skip(state) || m_->DrawKept(state, ref, inlineImg, colorMap)) return;
    const int comps = colorMap->getNumPixelComps();
    // A JPEG in grey or RGB, as decoded by default, goes into the metafile as it is.
    const GfxColorSpaceMode mode = colorMap->getColorSpace()->getMode();
    bool plain = str->getKind() == strDCT && !maskColors && !inlineImg && colorMap->getBits() == 8 &&
                 (mode == csDeviceGray || mode == csDeviceRGB ||
                  (mode == csICCBased && (comps == 1 || comps == 3)));
    for (int i = 0; plain && i < comps; ++i)
        plain = colorMap->getDecodeLow(i) == 0 && colorMap->getDecodeHigh(i) == 1;
    if (plain && str->getNextStream()) {
        Stream* raw = str->getNextStream();
        emf::Image img;
        img.format = emf::Image::Format::Jpeg, img.components = comps, img.width = width, img.height = height;
        raw->reset();
        constexpr std::size_t kMax = std::size_t(256) << 20;
        int ch;
        while ((ch = raw->getChar()) != EOF && img.encoded.size() < kMax) img.encoded.push_back(std::uint8_t(ch));
        raw->close();
        if (img.encoded.size() > 4 && img.encoded[0] == 0xFF && img.encoded[1] == 0xD8) {
            m_->DrawAndKeep(state, ref, inlineImg, colorMap, std::move(img));
            return;
        }
    }
    const Thinned t = Thin(width, height, m_->limits.maxImagePixels);
    if (!maskColors && !inlineImg && t.step == 1) {
        if (std::optional<emf::Image> img = InflatedRgb(str, width, height, colorMap)) {
            m_->DrawAndKeep(state, ref, inlineImg, colorMap, std::move(*img));
            return;
        }
    }
    const int bits = colorMap->getBits();
    if (!maskColors && t.step == 1 && bits > 0 && bits <= 8 && comps > 0 && colorMap->useRGBLine()) {
        // Whole rows through the colour map's tables: printed pages carry
        // large pictures (a page background), and a call per pixel costs
        // more than the rest of the page.
        emf::Image img;
        img.format = emf::Image::Format::Rgb8, img.components = 3, img.width = width, img.height = height;
        img.pixels.resize(std::size_t(width) * height * 3);
        ImageStream is(str, width, comps, bits);
        is.reset();
        int y = 0;
        for (; y < height; ++y) {
            unsigned char* line = is.getLine();
            if (!line) break;
            colorMap->getRGBLine(line, &img.pixels[std::size_t(y) * width * 3], width);
        }
        is.close();
        std::fill(img.pixels.begin() + std::ptrdiff_t(std::size_t(y) * width * 3), img.pixels.end(), 0);
        m_->DrawAndKeep(state, ref, inlineImg, colorMap, std::move(img));
        return;
    }
    emf::Image img;
    img.format = maskColors ? emf::Image::Format::Rgba8 : emf::Image::Format::Rgb8;
    img.components = maskColors ? 4 : 3;
    img.width = t.width, img.height = t.height;
    img.pixels.assign(std::size_t(t.width) * t.height * img.components, 0);
    GfxRGB rgb;
    if (!Members::ReadSamples(str, width, height, comps, colorMap->getBits(), t, [&](int x, int y, unsigned char* pix) {
            colorMap->getRGB(pix, &rgb);
            std::uint8_t* o = &img.pixels[(std::size_t(y) * t.width + x) * img.components];
            o[0] = colToByte(rgb.r), o[1] = colToByte(rgb.g), o[2] = colToByte(rgb.b);
            if (maskColors) {
                bool masked = true;
                for (int i = 0; i < comps && masked; ++i)
                    masked = pix[i] >= maskColors[2 * i] && pix[i] <= maskColors[2 * i + 1];
                o[3] = masked ? 0 : 255;
            }
        }))
        return;
    m_->DrawAndKeep(state, ref, inlineImg, colorMap, std::move(img));
}

namespace {

// Alpha of a mask sampled at the picture's pixels (the mask may have a size of its own).
template <class Sample>
void ApplyMask(emf::Image& img, int maskW, int maskH, const std::vector<std::uint8_t>& mask, Sample) {
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const int mx = std::min(maskW - 1, int(std::int64_t(x) * maskW / img.width));
            const int my = std::min(maskH - 1, int(std::int64_t(y) * maskH / img.height));
            img.pixels[(std::size_t(y) * img.width + x) * 4 + 3] = mask[std::size_t(my) * maskW + mx];
        }
}

emf::Image ColorPicture(Stream* str, int width, int height, GfxImageColorMap* colorMap, const Thinned& t, bool& ok,
                        const std::function<bool(Stream*, int, int, int, int, const Thinned&,
                                                 const std::function<void(int, int, unsigned char*)>&)>& read) {
    emf::Image img;
    img.format = emf::Image::Format::Rgba8, img.components = 4, img.width = t.width, img.height = t.height;
    if (t.step == 1) {
        if (std::optional<emf::Image> rgb = InflatedRgb(str, width, height, colorMap)) {
            img.pixels.resize(std::size_t(width) * height * 4);
            for (std::size_t i = 0, n = std::size_t(width) * height; i < n; ++i) {
                std::copy_n(&rgb->pixels[i * 3], 3, &img.pixels[i * 4]);
                img.pixels[i * 4 + 3] = 255;
            }
            ok = true;
            return img;
        }
    }
    img.pixels.assign(std::size_t(t.width) * t.height * 4, 255);
    GfxRGB rgb;
    ok = read(str, width, height, colorMap->getNumPixelComps(), colorMap->getBits(), t,
              [&](int x, int y, unsigned char* pix) {
                  colorMap->getRGB(pix, &rgb);
                  std::uint8_t* o = &img.pixels[(std::size_t(y) * t.width + x) * 4];
                  o[0] = colToByte(rgb.r), o[1] = colToByte(rgb.g), o[2] = colToByte(rgb.b);
              });
    return img;
}

}  // namespace

void EmfOutputDev::drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                                   GfxImageColorMap* colorMap, bool, Stream* maskStr, int maskWidth, int maskHeight,
                                   bool maskInvert, bool) {
    if (m_->Skip(state) || m_->DrawKept(state, ref, false, colorMap)) return;
    const Thinned t = Thin(width, height, m_->limits.maxImagePixels);
    bool ok = false;
    emf::Image img = ColorPicture(str, width, height, colorMap, t, ok, Members::ReadSamples);
    if (!ok) return;
    const Thinned mt = Thin(maskWidth, maskHeight, m_->limits.maxImagePixels);
    std::vector<std::uint8_t> mask(std::size_t(mt.width) * mt.height, 255);
    Members::ReadSamples(maskStr, maskWidth, maskHeight, 1, 1, mt, [&](int x, int y, unsigned char* pix) {
        // As a stencil: 0 shows the picture, 1 hides it (reversed when inverted).
        mask[std::size_t(y) * mt.width + x] = (pix[0] != 0) != maskInvert ? 0 : 255;
    });
    ApplyMask(img, mt.width, mt.height, mask, 0);
    m_->DrawAndKeep(state, ref, false, colorMap, std::move(img));
}

void EmfOutputDev::drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                                       GfxImageColorMap* colorMap, bool, Stream* maskStr, int maskWidth,
                                       int maskHeight, GfxImageColorMap* maskColorMap, bool) {
    if (m_->Skip(state) || m_->DrawKept(state, ref, false, colorMap)) return;
    const Thinned t = Thin(width, height, m_->limits.maxImagePixels);
    bool ok = false;
    emf::Image img = ColorPicture(str, width, height, colorMap, t, ok, Members::ReadSamples);
    if (!ok) return;
    const Thinned mt = Thin(maskWidth, maskHeight, m_->limits.maxImagePixels);
    std::vector<std::uint8_t> mask(std::size_t(mt.width) * mt.height, 255);
    GfxGray g;
    Members::ReadSamples(maskStr, maskWidth, maskHeight, maskColorMap->getNumPixelComps(), maskColorMap->getBits(), mt,
                         [&](int x, int y, unsigned char* pix) {
                             maskColorMap->getGray(pix, &g);
                             mask[std::size_t(y) * mt.width + x] = colToByte(g);
                         });
    ApplyMask(img, mt.width, mt.height, mask, 0);
    m_->DrawAndKeep(state, ref, false, colorMap, std::move(img));
}

}  // namespace pagedraw
