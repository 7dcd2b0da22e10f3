// Timing of the long steps of a conversion, for measuring where the time
// goes. With $VELLUMATE_STEP_TIMES set (to anything) every finished step
// writes one line to standard error: "step NAME: 12.3 ms". Otherwise a
// timer costs a clock read and writes nothing.
#pragma once

#include <chrono>
#include <string_view>

namespace platform {

class StepTimer {
public:
    StepTimer();
    // Ends the step begun at construction or at the last Lap: writes its
    // line and starts the next step.
    void Lap(std::string_view name);

private:
    std::chrono::steady_clock::time_point start_;
};

// Whether step times are written.
bool StepTimesWanted();

// A point on the way of a print job through several processes (the office,
// the backend, the dispatcher, the agent and its children, the converter).
// With $VELLUMATE_HOP_LOG naming a file, appends one line to it:
// "SECONDS.MICROSECONDS PROGRAM[PID] WHAT", the time since the epoch, so
// that the lines of all processes sort into one timeline. Otherwise nothing.
void MarkHop(std::string_view what);

}  // namespace platform
