#include "picture_cache.h"

namespace pagedraw {

std::shared_ptr<const emf::Image> PictureCache::Find(int num, int gen, int variant) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->num != num || it->gen != gen || it->variant != variant) continue;
        entries_.splice(entries_.begin(), entries_, it);
        ++reused_;
        return entries_.front().picture;
    }
    return nullptr;
}

void PictureCache::Keep(int num, int gen, int variant, std::shared_ptr<const emf::Image> picture) {
    if (!picture) return;
    const std::size_t bytes = picture->pixels.size() + picture->encoded.size() + sizeof(emf::Image);
    if (bytes > maxBytes_) return;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->num != num || it->gen != gen || it->variant != variant) continue;
        bytes_ -= it->bytes;
        entries_.erase(it);
        break;
    }
    while (!entries_.empty() && bytes_ + bytes > maxBytes_) {
        bytes_ -= entries_.back().bytes;
        entries_.pop_back();
    }
    entries_.push_front({num, gen, variant, std::move(picture), bytes});
    bytes_ += bytes;
}

}  // namespace pagedraw
