// Child processes: the child shares our memory until it executes its program
// (clone with CLONE_VM | CLONE_VFORK on a stack of its own, as posix_spawn
// does), so that a large process starts a child without copying its page
// tables; the exec failure comes back through a close-on-exec pipe so that a
// program that cannot start is reported at once.
#include "platform/process.h"

#include "platform/cmdline.h"
#include "platform/windows.h"

#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <utility>

extern char** environ;

namespace platform {

namespace {

// What the child does before its program runs, all prepared by the parent:
// it shares the parent's memory and only makes system calls.
struct ChildSetup {
    const char* program;
    char** args;
    const char* paths[3];  // standard input, output and error, or null
    const char* cwd;
    bool ownGroup, endWithCaller;
    pid_t caller;
    int errorPipe;  // gets errno when the program cannot be started
};

int ChildMain(void* arg) {
    const ChildSetup& c = *static_cast<const ChildSetup*>(arg);
    // Every signal is blocked here (the parent blocked them for the start).
    // The handlers are the child's own copy (no CLONE_SIGHAND): a handler of
    // the caller's must not run on the borrowed memory, so all go back to
    // their defaults (as exec would do), except those the caller ignores. A
    // caller that ignores SIGPIPE (for its own pipes) does not pass that on.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && (sig == SIGPIPE || old.sa_handler != SIG_IGN))
            sigaction(sig, &dfl, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int e = 0;
    if (c.ownGroup && setpgid(0, 0) != 0) e = errno;
    if (!e && c.endWithCaller && prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) e = errno;
    // The parent may have gone between the start and prctl: then end at once.
    if (!e && c.endWithCaller && getppid() != c.caller) _exit(127);
    for (int fd = 0; fd < 3 && !e; ++fd) {
        if (!c.paths[fd]) continue;
        int f = open(c.paths[fd], fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (f < 0 || dup2(f, fd) < 0) e = errno;
        if (f > 2) close(f);
    }
    if (!e && c.cwd && chdir(c.cwd) != 0) e = errno;
    if (!e) {
        execve(c.program, c.args, environ);
        e = errno;
    }
    ssize_t ignored = write(c.errorPipe, &e, sizeof e);
    (void)ignored;
    _exit(127);
}

bool IsExecutableFile(const std::string& path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode) && access(path.c_str(), X_OK) == 0;
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

int StatusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

std::string FindProgram(std::string_view name) {
    if (name.empty()) return {};
    std::string n(name);
    if (n.find('/') != std::string::npos) return IsExecutableFile(n) ? n : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + n;
        if (IsExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

ChildProcess::ChildProcess(ChildProcess&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)), pidfd_(std::exchange(o.pidfd_, -1)), status_(o.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& o) noexcept {
    if (this != &o) {
        Detach();
        pid_ = std::exchange(o.pid_, -1);
        pidfd_ = std::exchange(o.pidfd_, -1);
        status_ = o.status_;
    }
    return *this;
}

ChildProcess::~ChildProcess() { Detach(); }

void ChildProcess::Detach() {
    if (pidfd_ >= 0) close(std::exchange(pidfd_, -1));
    if (pid_ > 0) {
        pid_t pid = std::exchange(pid_, -1);
        std::thread([pid] {
            int raw;
            while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
}

bool ChildProcess::Start(std::string_view commandLine, const StartOptions& options, std::string* error) {
    std::vector<std::string> argv = SplitCommandLine(commandLine);
    if (argv.empty()) {
        if (error) *error = "empty command line";
        return false;
    }
    return Start(argv, options, error);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const StartOptions& options, std::string* error) {
    Detach();
    status_ = -1;
    if (argv.empty() || argv[0].empty()) {
        if (error) *error = "no program named";
        return false;
    }
    // Everything the child needs is prepared here: it only makes system
    // calls (see ChildMain).
    std::string program = FindProgram(argv[0]);
    if (program.empty()) {
        if (error) *error = "program not found: " + argv[0];
        return false;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    auto pathOrNull = [](const std::string& p) { return p.empty() ? nullptr : p.c_str(); };
    ChildSetup setup{program.c_str(),
                     args.data(),
                     {pathOrNull(options.stdinPath), pathOrNull(options.stdoutPath), pathOrNull(options.stderrPath)},
                     options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(),
                     options.ownProcessGroup,
                     options.endWithCaller,
                     getpid(),
                     pipefd[1]};
    // This thread waits until the child has executed its program or failed.
    constexpr std::size_t kChildStack = 64 * 1024;
    std::unique_ptr<char[]> stack(new (std::nothrow) char[kChildStack]);
    sigset_t all, mask;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &mask);
    pid_t pid = stack ? clone(ChildMain, stack.get() + kChildStack, CLONE_VM | CLONE_VFORK | SIGCHLD, &setup) : -1;
    const int e = stack ? errno : ENOMEM;
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    if (pid < 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        if (error) *error = std::strerror(e);
        return false;
    }
    close(pipefd[1]);
    // Also from here, so that the group exists before anyone signals it.
    if (options.ownProcessGroup) setpgid(pid, pid);
    int childErr = 0;
    ssize_t n;
    while ((n = read(pipefd[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    close(pipefd[0]);
    if (n == sizeof childErr) {
        int raw;
        waitpid(pid, &raw, 0);
        if (error) *error = program + ": " + std::strerror(childErr);
        return false;
    }
    pid_ = pid;
    pidfd_ = OpenPidFd(pid);
    started_ = std::chrono::steady_clock::now();
    return true;
}

bool ChildProcess::Wait(int timeoutMs) {
    if (pid_ <= 0) return status_ >= 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int raw = 0;
        pid_t r = waitpid(pid_, &raw, timeoutMs < 0 ? 0 : WNOHANG);
        if (r == pid_) {
            status_ = StatusOf(raw);
            pid_ = -1;
            if (pidfd_ >= 0) close(std::exchange(pidfd_, -1));
            return true;
        }
        if (r < 0 && errno != EINTR) {
            pid_ = -1;  // not our child any more
            return false;
        }
        if (r < 0) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left.count()));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long>(10, left.count())));
        }
    }
}

bool ChildProcess::Running() { return pid_ > 0 && !Wait(0); }

std::uint32_t ChildProcess::WaitForInputIdle(std::uint32_t timeoutMs) {
    if (pid_ <= 0) return status_ >= 0 ? 0 : 0xFFFFFFFF;
    using namespace std::chrono;
    auto ran = duration_cast<milliseconds>(steady_clock::now() - started_).count();
    auto delayLeft = std::max<long long>(0, kIdleDelayMs - ran);
    bool timeoutFirst = timeoutMs != 0xFFFFFFFF && timeoutMs < delayLeft;
    std::uint32_t wait = static_cast<std::uint32_t>(timeoutFirst ? timeoutMs : delayLeft);
    if (WaitForProcessWindow(pid_, wait) || !Running()) return 0;
    return timeoutFirst ? 258 : 0;
}

void ChildProcess::Terminate(bool hard) {
    if (pid_ > 0) kill(pid_, hard ? SIGKILL : SIGTERM);
}

int RunProgram(std::string_view commandLine, bool wait, std::string* error) {
    ChildProcess child;
    if (!child.Start(commandLine, {}, error)) return -1;
    if (!wait) return 0;
    child.Wait();
    return child.ExitStatus();
}

}  // namespace platform
