#include "converter_run.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <optional>

namespace navlet {

namespace {

using Clock = std::chrono::steady_clock;

// How often the launcher looks at the process (the wait window's tick), and
// how often without a process descriptor to wait on.
constexpr auto kPollPeriod = std::chrono::milliseconds(500);
constexpr auto kShortPoll = std::chrono::milliseconds(50);
constexpr auto kTerminateGrace = std::chrono::seconds(2);

}  // namespace

ConverterRun::ConverterRun(std::string commandLine) : commandLine_(std::move(commandLine)) {}

ConverterRun::~ConverterRun() {
    if (launcher_.joinable()) launcher_.join();
}

void ConverterRun::Launch() { launcher_ = std::thread([this] { LauncherMain(); }); }

void ConverterRun::LauncherMain() {
    // The converter gets none of our standard input and output: a host that
    // talks to its browser over them must not have the converter write there.
    platform::StartOptions options;
    options.stdinPath = "/dev/null";
    options.stdoutPath = "/dev/null";
    std::unique_lock lock(mu_);
    std::string why;
    if (!child_.Start(commandLine_, options, &why)) {
        startError_ = why.empty() ? "The converter could not be started." : why;
        state_ = State::NotStarted;
        changed_.notify_all();
        return;
    }
    state_ = State::Running;
    changed_.notify_all();
    // Waits on the process's descriptor, so its end is seen at once; the
    // lock is free meanwhile for the window and for Abort.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child_.Pid(), 0));
    std::optional<Clock::time_point> killAt;
    for (;;) {
        if (child_.Wait(0)) break;
        if (abortRequested_ && !killAt) {
            child_.Terminate();
            killAt = Clock::now() + kTerminateGrace;
        } else if (killAt && Clock::now() >= *killAt) {
            child_.Terminate(true);
        }
        const auto period = killAt ? std::chrono::milliseconds(20) : pidfd >= 0 ? kPollPeriod : kShortPoll;
        lock.unlock();
        pollfd p{pidfd, POLLIN, 0};
        poll(&p, pidfd >= 0 ? 1 : 0, static_cast<int>(period.count()));
        lock.lock();
    }
    if (pidfd >= 0) close(pidfd);
    exitStatus_ = child_.ExitStatus();
    state_ = State::Ended;
    changed_.notify_all();
}

ConverterRun::State ConverterRun::Poll() {
    std::lock_guard lock(mu_);
    return state_;
}

ConverterRun::State ConverterRun::WaitSettled(int timeoutMs) {
    std::unique_lock lock(mu_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return state_ == State::Ended || state_ == State::NotStarted; });
    return state_;
}

void ConverterRun::Abort() {
    std::lock_guard lock(mu_);
    if (abortRequested_) return;
    abortRequested_ = true;
    if (state_ == State::Running) child_.Terminate();
    changed_.notify_all();
}

bool ConverterRun::Aborted() {
    std::lock_guard lock(mu_);
    return abortRequested_;
}

int ConverterRun::ExitStatus() {
    std::lock_guard lock(mu_);
    return exitStatus_;
}

std::string ConverterRun::StartError() {
    std::lock_guard lock(mu_);
    return startError_;
}

}  // namespace navlet
