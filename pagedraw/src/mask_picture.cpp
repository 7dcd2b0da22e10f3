#include "mask_picture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace pagedraw {

namespace {

// Runs this close (in picture pixels) are one piece: a picture costs a
// record and a clip of its own.
constexpr int kGap = 8;
// More pieces than this (a mask of noise): one picture of them all.
constexpr std::size_t kMaxPieces = 64;

using Span = std::pair<double, double>;  // [x0, x1) along a line
using Cols = std::pair<int, int>;        // [c0, c1) of picture columns

void AddCubic(std::vector<emf::Point>& out, emf::Point p0, emf::Point p1, emf::Point p2, emf::Point p3) {
    // n chords stay within 3/4 of the control points' largest second
    // difference over n² of the curve.
    const double dd = std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                               std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
    const int n = std::isfinite(dd) ? std::clamp(int(std::ceil(std::sqrt(7.5 * dd))), 1, 256) : 1;
    for (int i = 1; i <= n; ++i) {
        const double t = double(i) / n, u = 1 - t;
        const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
        out.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
    }
}

// Where the line y crosses the inside of `o`.
void SpansAt(const Outline& o, double y, std::vector<Span>& out) {
    thread_local std::vector<std::pair<double, int>> xs;
    xs.clear();
    out.clear();
    for (const auto& f : o.figures)
        for (std::size_t i = 0, n = f.size(); i < n; ++i) {
            const emf::Point& p = f[i];
            const emf::Point& q = f[(i + 1) % n];
            if (!((p.y <= y && y < q.y) || (q.y <= y && y < p.y))) continue;
            xs.push_back({p.x + (y - p.y) * (q.x - p.x) / (q.y - p.y), q.y > p.y ? 1 : -1});
        }
    std::sort(xs.begin(), xs.end());
    int wind = 0, count = 0;
    double start = 0;
    for (const auto& [x, dir] : xs) {
        const bool before = o.evenOdd ? count % 2 != 0 : wind != 0;
        ++count, wind += dir;
        const bool after = o.evenOdd ? count % 2 != 0 : wind != 0;
        if (!before && after) start = x;
        else if (before && !after && x > start) out.push_back({start, x});
    }
}

void Intersect(const std::vector<Span>& a, const std::vector<Span>& b, std::vector<Span>& out) {
    out.clear();
    for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        const double lo = std::max(a[i].first, b[j].first), hi = std::min(a[i].second, b[j].second);
        if (hi > lo) out.push_back({lo, hi});
        if (a[i].second < b[j].second) ++i;
        else ++j;
    }
}

// Sorted and joined where they touch.
template <class T>
void Join(std::vector<std::pair<T, T>>& v) {
    std::sort(v.begin(), v.end());
    std::size_t n = 0;
    for (const auto& s : v) {
        if (n > 0 && s.first <= v[n - 1].second) v[n - 1].second = std::max(v[n - 1].second, s.second);
        else v[n++] = s;
    }
    v.resize(n);
}

emf::Rect BoxOf(const Outline& o) {
    emf::Rect r{1e300, 1e300, -1e300, -1e300};
    for (const auto& f : o.figures)
        for (const emf::Point& p : f)
            r.left = std::min(r.left, p.x), r.top = std::min(r.top, p.y), r.right = std::max(r.right, p.x),
            r.bottom = std::max(r.bottom, p.y);
    return r;
}

}  // namespace

Outline OutlineOf(const emf::Path& path, const emf::Matrix& ctm, bool evenOdd) {
    Outline o;
    o.evenOdd = evenOdd;
    std::vector<emf::Point> fig;
    auto end = [&] {
        if (fig.size() >= 3) o.figures.push_back(std::move(fig));
        fig.clear();
    };
    const std::vector<emf::Point>& pts = path.Points();
    std::size_t k = 0;
    for (emf::Path::Op op : path.Ops()) {
        switch (op) {
        case emf::Path::Op::Move:
            end();
            if (k < pts.size()) fig.push_back(ctm.Apply(pts[k++]));
            break;
        case emf::Path::Op::Line:
            if (k < pts.size()) fig.push_back(ctm.Apply(pts[k++]));
            break;
        case emf::Path::Op::Cubic:
            if (k + 3 > pts.size()) break;
            if (fig.empty()) fig.push_back(ctm.Apply(pts[k]));
            AddCubic(fig, fig.back(), ctm.Apply(pts[k]), ctm.Apply(pts[k + 1]), ctm.Apply(pts[k + 2]));
            k += 3;
            break;
        case emf::Path::Op::Close: end(); break;
        }
    }
    end();
    return o;
}

std::vector<PlacedPicture> PictureMaskedFill(const MaskedFill& f, const std::vector<Outline>& regions) {
    std::vector<PlacedPicture> out;
    const emf::Image* m = f.mask;
    if (!m || m->format != emf::Image::Format::Gray8 || m->width <= 0 || m->height <= 0 ||
        m->pixels.size() < std::size_t(m->width) * std::size_t(m->height))
        return out;
    const double opacity = std::clamp(f.opacity, 0.0, 1.0);
    const double pa = f.place.a, pd = f.place.d;
    if (!(opacity > 0) || !(std::fabs(pa) > 1e-9 && std::fabs(pd) > 1e-9) || f.place.b != 0 || f.place.c != 0)
        return out;
    // The mask's picture in device space, cut to what can show.
    const emf::Point a = f.place.Apply({0, 0}), b = f.place.Apply({1, 1});
    const double gx = std::min(a.x, b.x), gy = std::min(a.y, b.y);
    emf::Rect box{std::max(gx, f.bounds.left), std::max(gy, f.bounds.top), std::min(std::max(a.x, b.x), f.bounds.right),
                  std::min(std::max(a.y, b.y), f.bounds.bottom)};
    for (const Outline& o : regions) {
        const emf::Rect r = BoxOf(o);
        box = {std::max(box.left, r.left), std::max(box.top, r.top), std::min(box.right, r.right),
               std::min(box.bottom, r.bottom)};
    }
    if (!(box.right > box.left && box.bottom > box.top) || !std::isfinite(box.left + box.top + box.right + box.bottom))
        return out;

    // Picture pixels on the mask's own grid, or coarser; fewer when too many.
    const int mw = m->width, mh = m->height;
    double sx = std::max({std::fabs(pa) / mw, f.minStep, 1e-3}), sy = std::max({std::fabs(pd) / mh, f.minStep, 1e-3});
    const double maxPixels = double(std::max<std::size_t>(f.maxPixels, 1));
    double c0 = 0, r0 = 0, dw = 0, dh = 0;
    for (int i = 0; i < 16; ++i) {
        c0 = std::floor((box.left - gx) / sx), r0 = std::floor((box.top - gy) / sy);
        dw = std::ceil((box.right - gx) / sx) - c0, dh = std::ceil((box.bottom - gy) / sy) - r0;
        if (dw * dh <= maxPixels) break;
        const double k = std::max(1.01, std::sqrt(dw * dh / maxPixels));
        sx *= k, sy *= k;
    }
    if (!(dw >= 1 && dh >= 1 && dw * dh <= maxPixels)) return out;
    const int W = int(dw), H = int(dh);

    // The mask pixels under each picture column and row: one, or the box a
    // coarser picture pixel covers; none outside the mask.
    auto under = [](double from, double to, int n, std::vector<Cols>& range) {
        // `from`, `to`: the picture pixel's ends in mask pixels
        const double lo = std::min(from, to), hi = std::max(from, to);
        if (hi - lo < 1.5) {
            const double mid = std::floor((lo + hi) / 2);
            range.push_back(mid >= 0 && mid < n ? Cols{int(mid), int(mid) + 1} : Cols{0, 0});
            return;
        }
        const int l = int(std::clamp(std::floor(lo + 1e-9), 0.0, double(n)));
        const int h = int(std::clamp(std::ceil(hi - 1e-9), 0.0, double(n)));
        range.push_back({l, std::max(l, h)});
    };
    std::vector<Cols> colMask, rowMask;
    colMask.reserve(std::size_t(W)), rowMask.reserve(std::size_t(H));
    for (int c = 0; c < W; ++c) {
        const double x = gx + (c0 + c) * sx;
        under((x - f.place.e) / pa * mw, (x + sx - f.place.e) / pa * mw, mw, colMask);
    }
    for (int r = 0; r < H; ++r) {
        const double y = gy + (r0 + r) * sy;
        under((y - f.place.f) / pd * mh, (y + sy - f.place.f) / pd * mh, mh, rowMask);
    }

    // The columns of a row where the regions may show: crossed at its top,
    // middle and bottom, one column wider each side.
    std::vector<Span> cur, next, both, raw;
    auto visible = [&](int r, std::vector<Cols>& cols) {
        cols.clear();
        if (r < 0 || r >= H) return;
        raw.clear();
        for (double at : {0.02, 0.5, 0.98}) {
            const double y = gy + (r0 + r + at) * sy;
            if (regions.empty()) {
                cur = {{-1e300, 1e300}};
            } else {
                SpansAt(regions[0], y, cur);
                for (std::size_t i = 1; i < regions.size() && !cur.empty(); ++i) {
                    SpansAt(regions[i], y, next);
                    Intersect(cur, next, both);
                    cur.swap(both);
                }
            }
            raw.insert(raw.end(), cur.begin(), cur.end());
        }
        for (const Span& s : raw) {
            const double l = std::floor((s.first - gx) / sx) - c0 - 1, h = std::ceil((s.second - gx) / sx) - c0 + 1;
            const int cl = int(std::clamp(l, 0.0, double(W))), ch = int(std::clamp(h, 0.0, double(W)));
            if (ch > cl) cols.push_back({cl, ch});
        }
        Join(cols);
    };

    // Alpha where the fill may show: the mask (averaged over a coarser
    // pixel) times the opacity; the rows next to each row count too.
    std::vector<std::uint8_t> alpha(std::size_t(W) * std::size_t(H), 0);
    std::vector<Cols> above, here, below, rowCols;
    visible(0, here);
    visible(1, below);
    for (int r = 0; r < H; ++r) {
        rowCols.assign(above.begin(), above.end());
        rowCols.insert(rowCols.end(), here.begin(), here.end());
        rowCols.insert(rowCols.end(), below.begin(), below.end());
        Join(rowCols);
        const auto [my0, my1] = rowMask[std::size_t(r)];
        if (my1 > my0) {
            for (const auto& [ca, cb] : rowCols)
                for (int c = ca; c < cb; ++c) {
                    const auto [mx0, mx1] = colMask[std::size_t(c)];
                    if (mx1 <= mx0) continue;
                    std::uint64_t sum = 0;
                    for (int my = my0; my < my1; ++my) {
                        const std::uint8_t* row = &m->pixels[std::size_t(my) * std::size_t(mw)];
                        for (int mx = mx0; mx < mx1; ++mx) sum += row[mx];
                    }
                    const double mean = double(sum) / (double(my1 - my0) * double(mx1 - mx0));
                    alpha[std::size_t(r) * std::size_t(W) + std::size_t(c)] =
                        static_cast<std::uint8_t>(std::lround(mean * opacity));
                }
        }
        above.swap(here), here.swap(below);
        visible(r + 2, below);
    }

    // Rows of runs that line up with the rows before them are one band, as
    // long as the band's pictures stay mostly ink (an L-shaped region is two
    // bands); each run of a band becomes one picture.
    struct Band {
        int r0, r1;
        std::vector<Cols> cols;
        double inked = 0;  // pixels of the runs
    };
    std::vector<Band> bands;
    std::vector<Cols> runs;
    bool open = false;
    for (int r = 0; r < H; ++r) {
        runs.clear();
        const std::uint8_t* row = &alpha[std::size_t(r) * std::size_t(W)];
        for (int c = 0; c < W;) {
            if (!row[c]) {
                ++c;
                continue;
            }
            int e = c;
            while (e < W && row[e]) ++e;
            if (!runs.empty() && c - runs.back().second < kGap) runs.back().second = e;
            else runs.push_back({c, e});
            c = e;
        }
        if (runs.empty()) {
            open = false;
            continue;
        }
        double inked = 0;
        for (const Cols& c : runs) inked += c.second - c.first;
        bool joins = open && bands.back().cols.size() == runs.size();
        double area = 0;
        for (std::size_t i = 0; joins && i < runs.size(); ++i) {
            const Cols& o = bands.back().cols[i];
            joins = runs[i].first < o.second + kGap && runs[i].second + kGap > o.first;
            area += double(std::max(o.second, runs[i].second) - std::min(o.first, runs[i].first)) *
                    (r + 1 - bands.back().r0);
        }
        if (joins && area <= 1.5 * (bands.back().inked + inked) + 256) {
            Band& band = bands.back();
            for (std::size_t i = 0; i < runs.size(); ++i)
                band.cols[i] = {std::min(band.cols[i].first, runs[i].first), std::max(band.cols[i].second, runs[i].second)};
            band.r1 = r + 1;
            band.inked += inked;
        } else {
            bands.push_back({r, r + 1, runs, inked});
            open = true;
        }
    }
    std::size_t pieces = 0;
    for (const Band& band : bands) pieces += band.cols.size();
    if (pieces > kMaxPieces) {
        Band all{H, 0, {{W, 0}}};
        for (const Band& band : bands) {
            all.r0 = std::min(all.r0, band.r0), all.r1 = std::max(all.r1, band.r1);
            for (const Cols& c : band.cols)
                all.cols[0] = {std::min(all.cols[0].first, c.first), std::max(all.cols[0].second, c.second)};
        }
        bands = {all};
    }

    for (const Band& band : bands)
        for (const auto& [ca, cb] : band.cols) {
            PlacedPicture p;
            emf::Image& img = p.picture;
            img.format = emf::Image::Format::Rgba8, img.components = 4;
            img.width = cb - ca, img.height = band.r1 - band.r0;
            img.pixels.resize(std::size_t(img.width) * std::size_t(img.height) * 4);
            std::uint8_t* o = img.pixels.data();
            for (int r = band.r0; r < band.r1; ++r)
                for (int c = ca; c < cb; ++c, o += 4)
                    o[0] = f.color.r, o[1] = f.color.g, o[2] = f.color.b,
                    o[3] = alpha[std::size_t(r) * std::size_t(W) + std::size_t(c)];
            p.box = {gx + (c0 + ca) * sx, gy + (r0 + band.r0) * sy, gx + (c0 + cb) * sx, gy + (r0 + band.r1) * sy};
            out.push_back(std::move(p));
        }
    return out;
}

}  // namespace pagedraw
