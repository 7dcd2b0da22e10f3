#include "emf/bounds_device.h"

#include <algorithm>
#include <cmath>

namespace emf {

void BoundsDevice::Add(Point p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    if (!any_) {
        box_ = {p.x, p.y, p.x, p.y};
        any_ = true;
        return;
    }
    box_.left = std::min(box_.left, p.x), box_.top = std::min(box_.top, p.y);
    box_.right = std::max(box_.right, p.x), box_.bottom = std::max(box_.bottom, p.y);
}

void BoundsDevice::AddPath(const Path& path, const Matrix& ctm, double grow) {
    for (const Point& p : path.Points()) {
        if (grow <= 0) {
            Add(ctm.Apply(p));
            continue;
        }
        for (Point d : {Point{-grow, -grow}, Point{grow, -grow}, Point{grow, grow}, Point{-grow, grow}})
            Add(ctm.Apply({p.x + d.x, p.y + d.y}));
    }
}

void BoundsDevice::FillPath(const Path& path, FillRule, const Paint&, const Matrix& ctm) { AddPath(path, ctm, 0); }

void BoundsDevice::StrokePath(const Path& path, const StrokeStyle& style, const Color&, const Matrix& ctm) {
    AddPath(path, ctm, style.width / 2);
}

void BoundsDevice::DrawText(const TextRun& run, const Matrix& ctm) {
    if (run.text.empty()) return;
    double width = 0;
    for (double a : run.advances) width += a;
    if (run.advances.empty()) width = run.emHeight * 0.5 * static_cast<double>(run.text.size());
    // Along the baseline (turned by the escapement, counter-clockwise on a
    // y-down page), from an em's ascent above it to a quarter em below.
    const double rad = run.angle * 3.14159265358979323846 / 180;
    const double ux = std::cos(rad), uy = -std::sin(rad);
    const double vx = -uy, vy = ux;  // "down", perpendicular to the baseline
    const double up = -run.emHeight, down = run.emHeight / 4;
    for (double along : {0.0, width})
        for (double across : {up, down})
            Add(ctm.Apply({run.origin.x + along * ux + across * vx, run.origin.y + along * uy + across * vy}));
}

void BoundsDevice::DrawImage(const Image&, const Matrix& ctm) {
    for (Point p : {Point{0, 0}, Point{1, 0}, Point{1, 1}, Point{0, 1}}) Add(ctm.Apply(p));
}

}  // namespace emf
