#include "converter_run.h"

#include <chrono>
#include <optional>

namespace navlet {

namespace {

using Clock = std::chrono::steady_clock;

// How often the launcher looks at the process (the wait window's tick).
constexpr auto kPollPeriod = std::chrono::milliseconds(500);
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
    std::optional<Clock::time_point> killAt;
    for (;;) {
        if (child_.Wait(0)) break;
        if (abortRequested_ && !killAt) {
            child_.Terminate();
            killAt = Clock::now() + kTerminateGrace;
        } else if (killAt && Clock::now() >= *killAt) {
            child_.Terminate(true);
        }
        // Woken early by Abort; the process's end is seen at the next tick.
        changed_.wait_for(lock, abortRequested_ ? std::chrono::milliseconds(20) : kPollPeriod);
    }
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
