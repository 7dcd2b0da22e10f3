// Fuzz target: reading and playing arbitrary bytes as a metafile.
#include <cstddef>
#include <cstdint>
#include <span>

#include "emf/player.h"

namespace {

// Touches everything the player hands out, so that bad data is read here.
class SinkDevice : public emf::Device {
public:
    double sum = 0;
    void FillPath(const emf::Path& p, emf::FillRule, const emf::Paint& paint, const emf::Matrix&) override {
        Walk(p);
        if (paint.pattern) Walk(*paint.pattern);
    }
    void StrokePath(const emf::Path& p, const emf::StrokeStyle& s, const emf::Color&, const emf::Matrix&) override {
        Walk(p);
        for (double d : s.dashes) sum += d;
    }
    void DrawText(const emf::TextRun& t, const emf::Matrix&) override {
        for (char16_t c : t.text) sum += c;
        for (double a : t.advances) sum += a;
        for (char c : t.face) sum += c;
    }
    void DrawImage(const emf::Image& img, const emf::Matrix&) override { Walk(img); }
    void PushClip(const emf::Path& p, emf::FillRule, const emf::Matrix&) override { Walk(p); }

private:
    void Walk(const emf::Path& p) {
        for (auto& q : p.Points()) sum += q.x + q.y;
    }
    void Walk(const emf::Image& img) {
        for (auto b : img.pixels) sum += b;
        for (auto b : img.encoded) sum += b;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    SinkDevice dev;
    emf::Play(bytes, dev);
    emf::Metafile mf = emf::Read(bytes);
    (void)emf::Dump(bytes, mf);
    return 0;
}
