// What the driver asks of a progress window. The dialogs implement it; a
// command-line run has none (the interactive flag is off then).
#pragma once

#include <string>

namespace vellumate {

class IProgress {
public:
    virtual ~IProgress() = default;
    // The user asked to stop; polled by the driver at its checks.
    virtual bool Cancelled() const = 0;
    // Moves the bar by `steps` and lets pending window messages run.
    virtual void Advance(int steps) = 0;
    virtual void SetStatus(const std::string& text) = 0;
    // Lets pending window messages run without moving the bar; called while
    // the add-on waits for a document.
    virtual void ProcessMessages() {}
};

}  // namespace vellumate
