// A recorded sequence of drawing calls. The layout process draws a document
// into a DisplayList, sends it to the loading process as bytes, and the loader
// replays it onto the page-image recorder (or onto a trace device in tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emf/device.h"

namespace htmlengine {

class DisplayList final : public emf::Device {
public:
    DisplayList();
    ~DisplayList() override;
    DisplayList(DisplayList&&) noexcept;
    DisplayList& operator=(DisplayList&&) noexcept;

    void FillPath(const emf::Path&, emf::FillRule, const emf::Paint&, const emf::Matrix&) override;
    void StrokePath(const emf::Path&, const emf::StrokeStyle&, const emf::Color&, const emf::Matrix&) override;
    void DrawText(const emf::TextRun&, const emf::Matrix&) override;
    void DrawImage(const emf::Image&, const emf::Matrix&) override;
    void PushClip(const emf::Path&, emf::FillRule, const emf::Matrix&) override;
    void PopClip() override;
    void DefineFont(const emf::FontProgram&) override;

    // Plays every call onto `target` in order; clips left open are closed.
    void Replay(emf::Device& target) const;
    // The same, with `between` called after every `every` calls (a long
    // document lets its client run meanwhile).
    void Replay(emf::Device& target, const std::function<void()>& between, std::size_t every) const;

    std::size_t CallCount() const;
    // Every text run, in drawing order (for tests and for text extraction).
    std::vector<const emf::TextRun*> TextRuns() const;

    void Serialize(std::string& out) const;
    // Reads what Serialize wrote; nullopt when the bytes are damaged.
    static std::optional<DisplayList> Deserialize(std::string_view bytes);

private:
    struct Call;
    std::vector<Call> calls_;
    int openClips_ = 0;
};

}  // namespace htmlengine
