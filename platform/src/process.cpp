// Child processes with fork/exec; the exec failure comes back through a
// close-on-exec pipe so that a program that cannot start is reported at once.
#include "platform/process.h"

#include "platform/cmdline.h"
#include "platform/windows.h"

#include <fcntl.h>
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
#include <thread>
#include <utility>

extern char** environ;

namespace platform {

namespace {

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
    // Everything the child needs is prepared here: after fork it only calls
    // functions that are safe in a child of a threaded process.
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
    const char* cwd = options.workingFolder.empty() ? nullptr : options.workingFolder.c_str();
    auto pathOrNull = [](const std::string& p) { return p.empty() ? nullptr : p.c_str(); };
    const char* in = pathOrNull(options.stdinPath);
    const char* out = pathOrNull(options.stdoutPath);
    const char* err = pathOrNull(options.stderrPath);
    const bool ownGroup = options.ownProcessGroup, endWithCaller = options.endWithCaller;
    const pid_t caller = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        close(pipefd[0]);
        close(pipefd[1]);
        if (error) *error = std::strerror(e);
        return false;
    }
    if (pid == 0) {
        close(pipefd[0]);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // A caller that ignores SIGPIPE (for its own pipes) does not pass that on.
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &dfl, nullptr);
        int e = 0;
        if (ownGroup && setpgid(0, 0) != 0) e = errno;
        if (!e && endWithCaller && prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) e = errno;
        // The parent may have gone between fork and prctl: then end at once.
        if (!e && endWithCaller && getppid() != caller) _exit(127);
        const char* paths[3] = {in, out, err};
        for (int fd = 0; fd < 3 && !e; ++fd) {
            if (!paths[fd]) continue;
            int f = open(paths[fd], fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (f < 0 || dup2(f, fd) < 0) e = errno;
            if (f > 2) close(f);
        }
        if (!e && cwd && chdir(cwd) != 0) e = errno;
        if (!e) {
            execve(program.c_str(), args.data(), environ);
            e = errno;
        }
        ssize_t ignored = write(pipefd[1], &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    close(pipefd[1]);
    // Also from here, so that the group exists before anyone signals it.
    if (ownGroup) setpgid(pid, pid);
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
