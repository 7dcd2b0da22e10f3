// Pictures of a document's image objects as they were decoded for a page,
// by the object's number: a picture that several pages show (a background
// printed on every page) is decoded once. Bounded in bytes; when a new one
// does not fit, the oldest go first.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "emf/device.h"

namespace pagedraw {

class PictureCache {
public:
    explicit PictureCache(std::size_t maxBytes = std::size_t(192) << 20) : maxBytes_(maxBytes) {}

    // The picture kept for object `num` `gen` decoded as `variant` (what
    // else its decoding depended on), null when there is none.
    std::shared_ptr<const emf::Image> Find(int num, int gen, int variant);
    // Keeps `picture` for the object; one larger than the bound is not kept.
    void Keep(int num, int gen, int variant, std::shared_ptr<const emf::Image> picture);

    // Whether object `num` `gen` as `variant` was met before; it is met now.
    // (A picture that is shown once need not take room here.)
    bool MetBefore(int num, int gen, int variant) { return !met_.insert({num, gen, variant}).second; }

    // How often Find answered a picture.
    std::size_t Reused() const { return reused_; }

private:
    struct Entry {
        int num, gen, variant;
        std::shared_ptr<const emf::Image> picture;
        std::size_t bytes;
    };
    std::size_t maxBytes_, bytes_ = 0, reused_ = 0;
    std::list<Entry> entries_;  // the most recently used first
    std::set<std::tuple<int, int, int>> met_;
};

}  // namespace pagedraw
