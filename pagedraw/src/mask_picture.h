// Solid fills under a soft mask that is one grey picture (a blurred shadow
// as a browser prints it) said as pictures a metafile can carry: the fill's
// colour, with the mask's values times the fill's opacity as alpha, at the
// mask's own resolution or coarser, cut to the parts of the page where they
// can show. A shadow's box hides most of it: what remains is its ring.
#pragma once

#include <cstddef>
#include <vector>

#include "emf/device.h"

namespace pagedraw {

// The inside of closed polygons in device space, by a fill rule.
struct Outline {
    std::vector<std::vector<emf::Point>> figures;
    bool evenOdd = false;
};

// `path` mapped by `ctm`, its curves cut into lines within a tenth of a
// device pixel; every figure is taken as closed.
Outline OutlineOf(const emf::Path& path, const emf::Matrix& ctm, bool evenOdd);

struct MaskedFill {
    const emf::Image* mask = nullptr;  // Gray8: 0 hides, 255 shows; borrowed
    emf::Matrix place;                 // the mask's unit square (top row at y = 0) to device space, upright
    emf::Rect bounds;                  // device box outside which nothing shows
    emf::Color color;                  // of the fill (its alpha is ignored)
    double opacity = 1;                // of the fill
    double minStep = 1;                // device pixels a picture pixel spans, at least
    std::size_t maxPixels = std::size_t(1) << 22;  // of all the pictures together
};

struct PlacedPicture {
    emf::Image picture;  // Rgba8
    emf::Rect box;       // where it goes, in device space
};

// The pictures standing in for the fill: they cover whatever may show of
// it inside every one of `regions` (the filled path and the clips in
// force: whole device pixels, so the caller clips them to the exact
// shapes), and leave out where the mask is 0. None when nothing shows.
std::vector<PlacedPicture> PictureMaskedFill(const MaskedFill& fill, const std::vector<Outline>& regions);

}  // namespace pagedraw
