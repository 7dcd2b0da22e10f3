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
    // Throws std::runtime_error when calls written to the spill file cannot
    // be read back.
    void Replay(emf::Device& target) const;
    // The same, with `between` called after every `every` calls (a long
    // document lets its client run meanwhile).
    void Replay(emf::Device& target, const std::function<void()>& between, std::size_t every) const;

    // A long drawing is kept on disk rather than in memory: once `calls` or
    // more calls are held and no clip is open, the held calls are written
    // to the list's spill file (an unlinked temporary file) as one segment
    // and let go. 0 (the default): everything stays in memory. Throws
    // std::runtime_error when the file cannot be made or written.
    void SetSpillThreshold(std::size_t calls);
    // The spill file's descriptor (owned by the list), -1 when nothing was
    // spilled. A list read back from Serialize's bytes that had spilled
    // calls needs that file: AdoptSpill takes it over (the list closes it),
    // false when it does not hold what the bytes announced.
    int SpillFd() const;
    bool AdoptSpill(int fd);
    // Whether calls announced as spilled are still without their file.
    bool AwaitsSpill() const;

    // Calls and text runs drawn, the spilled ones included.
    std::size_t CallCount() const;
    std::size_t TextRunCount() const;
    // The text runs held in memory, in drawing order (for tests): those of a
    // list that spilled begin after its last segment.
    std::vector<const emf::TextRun*> TextRuns() const;

    // The calls held in memory, and how many calls and text runs the spill
    // file holds (not the file itself: see SpillFd).
    void Serialize(std::string& out) const;
    // Reads what Serialize wrote; nullopt when the bytes are damaged.
    static std::optional<DisplayList> Deserialize(std::string_view bytes);

private:
    struct Call;
    struct Spill;
    void SpillHeld();
    void SerializeHeld(std::string& out) const;
    void AfterCall();
    void ReplayHeld(emf::Device& target, const std::function<void()>& between, std::size_t every,
                    std::size_t& done) const;
    std::vector<Call> calls_;
    int openClips_ = 0;
    std::size_t spillThreshold_ = 0;
    std::unique_ptr<Spill> spill_;
};

}  // namespace htmlengine
