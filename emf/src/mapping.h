// Logical-to-device mapping of a device context: world transform, then the
// page transform given by the mapping mode, window and viewport.
#pragma once

#include <cmath>

#include "emf/device.h"
#include "emf/records.h"

namespace emf::detail {

inline Matrix ToMatrix(const XForm& x) { return {x.m11, x.m12, x.m21, x.m22, x.dx, x.dy}; }

struct Mapping {
    std::uint32_t mapMode = MM_TEXT;
    Point windowOrg, viewportOrg;
    Point windowExt{1, 1}, viewportExt{1, 1};
    Matrix world;
    double pxPerMmX = 96 / 25.4, pxPerMmY = 96 / 25.4;  // of the reference device

    // The window extent of the fixed mapping modes, in logical units per mm.
    static double UnitsPerMm(std::uint32_t mode) {
        switch (mode) {
        case MM_LOMETRIC: return 10;
        case MM_HIMETRIC: return 100;
        case MM_LOENGLISH: return 100 / 25.4;
        case MM_HIENGLISH: return 1000 / 25.4;
        case MM_TWIPS: return 1440 / 25.4;
        default: return 0;
        }
    }

    Matrix Page() const {
        double sx = 1, sy = 1;
        switch (mapMode) {
        case MM_ISOTROPIC:
        case MM_ANISOTROPIC:
            sx = windowExt.x != 0 ? viewportExt.x / windowExt.x : 1;
            sy = windowExt.y != 0 ? viewportExt.y / windowExt.y : 1;
            if (mapMode == MM_ISOTROPIC) {
                double m = std::min(std::fabs(sx), std::fabs(sy));
                sx = std::copysign(m, sx), sy = std::copysign(m, sy);
            }
            break;
        case MM_TEXT: break;
        default: {
            double u = UnitsPerMm(mapMode);
            if (u > 0) sx = pxPerMmX / u, sy = -pxPerMmY / u;
        }
        }
        return {sx, 0, 0, sy, viewportOrg.x - windowOrg.x * sx, viewportOrg.y - windowOrg.y * sy};
    }
    Matrix LogicalToDevice() const { return world.Then(Page()); }
};

}  // namespace emf::detail
