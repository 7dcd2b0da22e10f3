// What the driver asks of a progress display. The main dialog's window
// shows the texts of SetStatus and moves its bar; the terminal's line of a
// command-line run shows the counts.
#pragma once

#include <string>

namespace vellumate {

// What a count is of.
enum class Work { Topics, Pages };

class IProgress {
public:
    virtual ~IProgress() = default;
    // The user asked to stop; polled by the driver at its checks.
    virtual bool Cancelled() const = 0;
    // Moves the bar by `steps` and lets pending window messages run.
    virtual void Advance(int steps) = 0;
    virtual void SetStatus(const std::string& text) = 0;
    // File `index` (from 0) of `count` of a run starts; `source` is its path.
    virtual void FileStarted(int /*index*/, int /*count*/, const std::string& /*source*/) {}
    // `done` of `total` topics or pages of the current file are through.
    virtual void Counted(Work /*work*/, int /*done*/, int /*total*/) {}
    // Lets pending window messages run without moving the bar; called while
    // the add-on waits for a document.
    virtual void ProcessMessages() {}
};

}  // namespace vellumate
