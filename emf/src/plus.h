// Plays the extended (EMF+) records that GDI+ programs keep in comment
// records, before the plain records that draw the same for older readers
// ("dual" files) or alone. The metafile player hands it each EMF+ comment and
// learns whether the plain records that follow are still to be drawn: they
// are after a GetDC record (plain drawing in the middle of extended drawing)
// and after any record this player does not understand, so that nothing the
// file shows is lost.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emf/device.h"

namespace emf::detail {

class PlusPlayer {
public:
    // `device` is borrowed; `base` maps the reference device's pixels into the device's space.
    PlusPlayer(Device& device, const Matrix& base);
    ~PlusPlayer();

    // Plays the records of one comment (the data after its "EMF+" identifier).
    // True when the plain records up to the next comment are covered by what
    // was drawn here and are to be left out: the comment drew, understood
    // every record and asked for no plain drawing. Problems go to `warnings`.
    bool Comment(std::span<const std::uint8_t> records, std::vector<std::string>& warnings);

    // An EMF+ header was met (only then are the extended records played).
    bool Active() const;
    // Something was drawn.
    bool Drew() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace emf::detail
