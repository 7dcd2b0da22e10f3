#include "devtools_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"

namespace browser {
namespace {

// Longest message kept while it arrives: a printed document comes back as
// one base64 text, so this bounds the printed document too.
constexpr std::size_t kMaxMessage = std::size_t(1) << 30;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::unique_ptr<DevToolsPipe> DevToolsPipe::Launch(const std::string& program, std::vector<std::string> args,
                                                   std::string& error) {
    if (::access(program.c_str(), X_OK) != 0) {
        error = "no browser at " + program;
        return nullptr;
    }
    std::unique_ptr<DevToolsPipe> p(new DevToolsPipe());
    p->profile_ = platform::MakeTempFolder("", "browser-profile-");
    if (p->profile_.empty()) {
        error = "cannot make the browser's profile folder in " + platform::TempFolder();
        return nullptr;
    }
    args.push_back("--remote-debugging-pipe");
    args.push_back("--user-data-dir=" + p->profile_);

    int in[2], out[2];  // in: we write, the browser reads; out: the other way
    if (::pipe2(in, O_CLOEXEC) != 0) {
        error = "cannot make a pipe";
        return nullptr;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]);
        error = "cannot make a pipe";
        return nullptr;
    }
    std::vector<std::string> argv_s;
    argv_s.push_back(program);
    for (auto& a : args) argv_s.push_back(a);
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
        error = "cannot start the browser";
        return nullptr;
    }
    if (pid == 0) {
        // Its own process group, so that its helpers end with it.
        ::setpgid(0, 0);
        // Out of the way of 3 and 4 first, then onto them (dup2 clears CLOEXEC).
        int r = ::fcntl(in[0], F_DUPFD, 10), w = ::fcntl(out[1], F_DUPFD, 10);
        if (r < 0 || w < 0 || ::dup2(r, 3) < 0 || ::dup2(w, 4) < 0) ::_exit(127);
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) ::dup2(devnull, 0), ::dup2(devnull, 1), ::dup2(devnull, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(in[0]), ::close(out[1]);
    p->pid_ = pid;
    p->toBrowser_ = in[1];
    p->fromBrowser_ = out[0];
    p->alive_ = true;
    return p;
}

DevToolsPipe::~DevToolsPipe() { Stop(); }

void DevToolsPipe::Stop() {
    if (pid_ > 0) {
        // A polite close first: the browser ends when its command pipe does.
        CloseFd(toBrowser_);
        auto until = Clock::now() + std::chrono::seconds(2);
        int status = 0;
        bool gone = false;
        while (Clock::now() < until) {
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno == ECHILD)) {
                gone = true;
                break;
            }
            ::usleep(20000);
        }
        if (!gone) {
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        } else {
            ::kill(-pid_, SIGKILL);  // helpers left behind by the group, if any
        }
        pid_ = -1;
    }
    CloseFd(toBrowser_);
    CloseFd(fromBrowser_);
    alive_ = false;
    if (!profile_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(profile_, ec);
        profile_.clear();
    }
}

bool DevToolsPipe::Write(const std::string& message) {
    if (!alive_) return false;
    std::string data = message;
    data.push_back('\0');
    // Writing to a browser that has ended raises SIGPIPE, which would end
    // the whole program: the signal is held back on this thread while we
    // write, and one that our write raised is taken away again.
    sigset_t pipeSignal, before, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    std::size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = ::write(toBrowser_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0 && errno == EPIPE && !wasPending) {
                const timespec now{};
                while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
                }
            }
            alive_ = false;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return ok;
}

void DevToolsPipe::Post(const std::string& method, const Json& params, const std::string& session) {
    Json m = {{"id", nextId_++}, {"method", method}, {"params", params}};
    if (!session.empty()) m["sessionId"] = session;
    Write(m.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void DevToolsPipe::Dispatch(std::string_view text) {
    Json m = Json::parse(text, nullptr, false);
    if (m.is_discarded() || !m.is_object()) return;  // not ours to judge: skip it
    if (m.contains("id")) {
        if (!m["id"].is_number_integer()) return;
        const long id = m["id"].get<long>();
        if (id == awaited_) answer_ = std::move(m);
        else if (auto k = kept_.find(id); k != kept_.end()) k->second = std::move(m);
        return;
    }
    if (onEvent_) onEvent_(m);
}

void DevToolsPipe::ReadSome(int waitMs) {
    if (!alive_) return;
    pollfd pfd{fromBrowser_, POLLIN, 0};
    int r = ::poll(&pfd, 1, waitMs);
    if (r <= 0) return;
    char buf[1 << 18];
    ssize_t n = ::read(fromBrowser_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        alive_ = false;
        return;
    }
    // Only the new bytes are searched for the end of a message: a printed
    // document arrives as one message of many reads.
    std::size_t from = inbox_.size();
    inbox_.append(buf, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (;;) {
        auto nul = inbox_.find('\0', from);
        if (nul == std::string::npos) break;
        Dispatch(std::string_view(inbox_).substr(start, nul - start));
        start = from = nul + 1;
    }
    inbox_.erase(0, start);
    if (inbox_.size() > kMaxMessage) {
        // A browser that sends this much in one message is not one we can read.
        alive_ = false;
    }
}

bool DevToolsPipe::WaitFor(const std::function<bool()>& done, Clock::time_point deadline) {
    auto lastHook = Clock::now();
    while (!done()) {
        if (!alive_ || abandoned_) return false;
        auto now = Clock::now();
        if (now >= deadline) return false;
        if (hook_ && now - lastHook >= std::chrono::milliseconds(50)) {
            lastHook = now;
            if (!hook_()) {
                abandoned_ = true;
                return false;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        ReadSome(static_cast<int>(std::clamp<long long>(left, 1, 50)));
    }
    return true;
}

namespace {

// A command's result, or nullopt with the browser's error message.
std::optional<Json> ResultOf(Json a, std::string& error) {
    if (a.contains("error")) {
        const auto& e = a["error"];
        error = e.is_object() && e.contains("message") && e["message"].is_string() ? e["message"].get<std::string>()
                                                                                    : std::string("error");
        return std::nullopt;
    }
    if (!a.contains("result")) return Json::object();
    return std::move(a["result"]);
}

}  // namespace

std::optional<Json> DevToolsPipe::Call(const std::string& method, const Json& params, const std::string& session,
                                       Clock::time_point deadline, std::string& error) {
    awaited_ = nextId_;
    answer_.reset();
    Post(method, params, session);
    bool got = WaitFor([this] { return answer_.has_value(); }, deadline);
    awaited_ = 0;
    if (!got) {
        error = !alive_ ? "the browser has ended" : abandoned_ ? "abandoned" : "timed out";
        return std::nullopt;
    }
    Json a = std::move(*answer_);
    answer_.reset();
    return ResultOf(std::move(a), error);
}

long DevToolsPipe::Send(const std::string& method, const Json& params, const std::string& session) {
    const long id = nextId_;
    kept_[id];
    Post(method, params, session);
    return id;
}

std::optional<Json> DevToolsPipe::Await(long id, Clock::time_point deadline, std::string& error) {
    auto k = kept_.find(id);
    if (k == kept_.end()) {
        error = "no such command";
        return std::nullopt;
    }
    bool got = WaitFor([&] { return k->second.has_value(); }, deadline);
    Json a = got ? std::move(*k->second) : Json();
    kept_.erase(k);
    if (!got) {
        error = !alive_ ? "the browser has ended" : abandoned_ ? "abandoned" : "timed out";
        return std::nullopt;
    }
    return ResultOf(std::move(a), error);
}

}  // namespace browser
