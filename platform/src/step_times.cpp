#include "platform/step_times.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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

void MarkHop(std::string_view what) {
    static const char* const file = std::getenv("VELLUMATE_HOP_LOG");
    if (!file || !*file) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    char line[512];
    const int n = std::snprintf(line, sizeof line, "%lld.%06ld %s[%d] %.*s\n", static_cast<long long>(ts.tv_sec),
                                ts.tv_nsec / 1000, program_invocation_short_name, static_cast<int>(::getpid()),
                                static_cast<int>(std::min<std::size_t>(what.size(), 300)), what.data());
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    // One write of a whole line: lines of several processes do not mix.
    if (n > 0) (void)!::write(fd, line, static_cast<std::size_t>(std::min<int>(n, sizeof line - 1)));
    ::close(fd);
}

}  // namespace platform
