// One press of the button: the converter process, started by a launcher
// thread of its own and watched by the wait window on the caller's thread.
//
// The state is guarded by one lock, so the wait window never acts on a
// process the launcher has not stored yet, and an abort that comes before
// the process is there still ends it as soon as it has started.
#pragma once

#include "platform/process.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace navlet {

class ConverterRun {
public:
    enum class State {
        Starting,    // the launcher has not started the process yet
        Running,
        Ended,       // the process ended (by itself or aborted)
        NotStarted,  // the process could not be started (StartError says why)
    };

    explicit ConverterRun(std::string commandLine);
    ConverterRun(const ConverterRun&) = delete;
    ConverterRun& operator=(const ConverterRun&) = delete;
    // Waits for the launcher thread: it ends once the process has.
    ~ConverterRun();

    // Starts the launcher thread.
    void Launch();
    State Poll();
    // Waits up to timeoutMs for the state to leave Starting or Running.
    State WaitSettled(int timeoutMs);
    // Ends the converter: at once when it runs, as soon as it has started
    // when it is still starting. A converter that does not end on SIGTERM
    // within two seconds is killed.
    void Abort();

    bool Aborted();
    // After Ended: the exit status (0..255, 128 + signal for a killed one).
    int ExitStatus();
    // After NotStarted: the reason.
    std::string StartError();

private:
    void LauncherMain();

    const std::string commandLine_;
    std::mutex mu_;
    std::condition_variable changed_;
    State state_ = State::Starting;
    platform::ChildProcess child_;
    bool abortRequested_ = false;
    int exitStatus_ = -1;
    std::string startError_;
    std::thread launcher_;
};

}  // namespace navlet
