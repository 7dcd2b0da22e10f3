// Starting other programs: the one process starter of the suite. A program
// is started from a command-line text (split by the Windows rules, see
// cmdline.h) or from ready arguments; its first argument names the program,
// as a path or a name looked up in PATH.
//
// A process's exit status is its result code modulo 256 (-1 reads back as
// 255). A process killed by a signal reads back as 128 + the signal number.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct StartOptions {
    std::string workingFolder;  // empty: the caller's
    // Files for the child's standard streams (empty: the caller's;
    // "/dev/null" to discard). Output files are created or truncated.
    std::string stdinPath, stdoutPath, stderrPath;
    // The child leads a process group of its own (what it starts in turn
    // stays in that group unless it moves), so the whole group can be ended.
    bool ownProcessGroup = false;
    // The child is killed (SIGKILL) when the thread that started it ends,
    // also when the caller is killed: start such a child from a thread that
    // lives as long as the child should. Only the child itself: a program
    // that starts others of its own must end them, or be started directly.
    bool endWithCaller = false;
};

// One started child. A child that is not waited for is reaped in the
// background when its holder goes away, so none is left as a zombie; it is
// never killed by that.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& o) noexcept;
    ChildProcess& operator=(ChildProcess&& o) noexcept;
    ~ChildProcess();

    // False (with a reason in *error) when the program cannot be started.
    bool Start(std::string_view commandLine, const StartOptions& options = {}, std::string* error = nullptr);
    bool Start(const std::vector<std::string>& argv, const StartOptions& options = {}, std::string* error = nullptr);

    pid_t Pid() const { return pid_; }
    bool Started() const { return pid_ > 0; }
    // Waits up to timeoutMs (negative: without limit); true once the child has ended.
    bool Wait(int timeoutMs = -1);
    bool Running();
    // The exit status after a successful Wait, -1 before.
    int ExitStatus() const { return status_; }
    // Sends SIGTERM (or SIGKILL with hard) to a running child.
    void Terminate(bool hard = false);
    // WaitForInputIdle: 0 once the child has listed a window (windows.h),
    // has run kIdleDelayMs without one, or has ended; 258 (WAIT_TIMEOUT)
    // when timeoutMs passes first; 0xFFFFFFFF when nothing was started.
    std::uint32_t WaitForInputIdle(std::uint32_t timeoutMs);
    static constexpr std::uint32_t kIdleDelayMs = 1000;

private:
    void Detach();
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int status_ = -1;
    std::chrono::steady_clock::time_point started_;
};

// Starts a program and, with wait, waits for its end. Answers its exit
// status when waited, 0 when only started, and -1 (with *error) when it could
// not be started.
int RunProgram(std::string_view commandLine, bool wait, std::string* error = nullptr);

// The exit status a program returns for a result code: the code modulo 256
// (-1 -> 255, -6 -> 250, -100 -> 156).
constexpr int ExitStatusOf(long result) { return static_cast<int>(static_cast<unsigned long>(result) & 0xFFu); }

// PATH lookup as the shell does it; names with a "/" are taken as they are.
// "" when nothing executable is found.
std::string FindProgram(std::string_view name);

}  // namespace platform
