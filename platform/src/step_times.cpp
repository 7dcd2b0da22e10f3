#include "platform/step_times.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

bool StepTimesWanted() {
    static const bool wanted = std::getenv("VELLUMATE_STEP_TIMES") != nullptr;
    return wanted;
}

StepTimer::StepTimer() : start_(std::chrono::steady_clock::now()) {}

void StepTimer::Lap(std::string_view name) {
    const auto now = std::chrono::steady_clock::now();
    if (StepTimesWanted()) {
        const double ms = std::chrono::duration<double, std::milli>(now - start_).count();
        std::fprintf(stderr, "step %.*s: %.1f ms\n", static_cast<int>(name.size()), name.data(), ms);
    }
    start_ = now;
}

}  // namespace platform
