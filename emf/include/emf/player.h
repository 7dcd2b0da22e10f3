// Plays metafile records onto a drawing device with the device-context
// state model: a stack of saved states, an object table, mapping modes,
// window/viewport, world transform, current position, paths and clipping.
//
// Every record's fields are checked before use; a record that does not hold
// what its type needs is skipped with a warning that names its position, and
// playing goes on (strict mode stops instead). Records that cannot be shown
// on a vector device (flood fill, raster operations on the destination) are
// skipped with one warning per record type.
#pragma once

#include <span>
#include <vector>

#include "emf/device.h"
#include "emf/reader.h"

namespace emf {

struct PlayOptions {
    // Maps the metafile's device pixels to the target device's space.
    Matrix base;
    bool strict = false;           // stop at the first damaged record
    bool pageBrackets = false;     // call BeginPage/EndPage around the records
    std::size_t maxDiagnostics = 200;
};

struct PlayResult {
    bool ok = true;                 // false: not a metafile, or strict mode met damage
    std::size_t played = 0;         // records that reached the device or changed state
    std::vector<Diagnostic> diagnostics;
};

// Plays `mf`, read from `bytes` (which must stay the same buffer).
PlayResult Play(std::span<const std::uint8_t> bytes, const Metafile& mf, Device& device, const PlayOptions& = {});

// Reads and plays in one step; reader diagnostics come first.
PlayResult Play(std::span<const std::uint8_t> bytes, Device& device, const PlayOptions& = {});

// The header's frame in device pixels of the reference device (or at
// `logPixels` per inch when that is positive). A frame ten times the size of
// the drawn bounds (a known producer fault, often also misplaced) is replaced
// by the bounds, with a warning.
Rect FrameInPixels(const Header&, int logPixels = 0, std::vector<Diagnostic>* diagnostics = nullptr);

// Places the frame scaled by (sx, sy) with its top-left corner at (x, y):
// with scale 1 one metafile device pixel is one target unit.
Matrix FramePlacement(const Header&, double x, double y, double sx, double sy, int logPixels = 0,
                      std::vector<Diagnostic>* diagnostics = nullptr);

}  // namespace emf
