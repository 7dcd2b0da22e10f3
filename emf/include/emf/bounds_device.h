// A device that draws nothing and keeps the bounding box, in its target
// space, of what is drawn onto it: paths (a stroke widened by half its pen),
// text runs (from the origin along the advances, an em high) and pictures.
// Clipping is not applied: the box says where the drawing lies, not what of
// it shows.
#pragma once

#include "emf/device.h"

namespace emf {

class BoundsDevice final : public Device {
public:
    void FillPath(const Path&, FillRule, const Paint&, const Matrix& ctm) override;
    void StrokePath(const Path&, const StrokeStyle&, const Color&, const Matrix& ctm) override;
    void DrawText(const TextRun&, const Matrix& ctm) override;
    void DrawImage(const Image&, const Matrix& ctm) override;

    // Empty (right <= left) when nothing was drawn.
    const Rect& Bounds() const { return box_; }

private:
    void Add(Point p);
    void AddPath(const Path& path, const Matrix& ctm, double grow);

    bool any_ = false;
    Rect box_{0, 0, -1, -1};
};

}  // namespace emf
