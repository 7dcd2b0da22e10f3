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
    // The browser's own temporary files go into the profile folder: one
    // that is killed cannot take them away, the folder's removal does.
    const std::string tmp = p->profile_ + "/tmp";
    std::error_code ec;
    std::filesystem::create_directory(tmp, ec);
    std::vector<std::string> env_s;
    for (char** e = environ; e && *e; ++e)
        if (!std::string_view(*e).starts_with("TMPDIR=")) env_s.emplace_back(*e);
    env_s.push_back("TMPDIR=" + tmp);
    std::vector<char*> envp;
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);

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
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(in[0]), ::close(out[1]);
    p->pid_ = pid;
    p->toBrowser_ = in[1];
    p->fromBrowser_ = out[0];
    p->alive_ = true;
    if (::pipe2(p->wake_, O_CLOEXEC) != 0) {
        error = "cannot make a pipe";
        return nullptr;  // the browser is ended with the object
    }
    p->reader_ = std::thread([q = p.get()] { q->Read(); });
    return p;
}

DevToolsPipe::~DevToolsPipe() { Stop(); }

void DevToolsPipe::Stop() {
    if (pid_ > 0) {
        // A polite close first: the browser ends when its command pipe does.
        {
            std::lock_guard lock(writing_);
            CloseFd(toBrowser_);
        }
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
    if (reader_.joinable()) {
        const char end = 0;
        while (::write(wake_[1], &end, 1) < 0 && errno == EINTR) {
        }
        reader_.join();
    }
    CloseFd(toBrowser_);
    CloseFd(fromBrowser_);
    CloseFd(wake_[0]);
    CloseFd(wake_[1]);
    alive_ = false;
    if (!profile_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(profile_, ec);
        profile_.clear();
    }
}

void DevToolsPipe::SetEventHandler(std::function<void(const Json&)> handler) {
    auto h = std::make_shared<const std::function<void(const Json&)>>(std::move(handler));
    std::lock_guard lock(mutex_);
    onEvent_ = std::move(h);
}

bool DevToolsPipe::Write(const std::string& message) {
    std::lock_guard lock(writing_);
    if (!alive_ || toBrowser_ < 0) return false;
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
    while (done < message.size()) {
        ssize_t n = ::write(toBrowser_, message.data() + done, message.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0 && errno == EPIPE && !wasPending) {
                const timespec now{};
                while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
                }
            }
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!ok) {
        {
            std::lock_guard state(mutex_);
            alive_ = false;
        }
        changed_.notify_all();
    }
    return ok;
}

void DevToolsPipe::Post(const std::string& method, const Json& params, const std::string& session) {
    Json m = {{"id", nextId_++}, {"method", method}, {"params", params}};
    if (!session.empty()) m["sessionId"] = session;
    std::string text = m.dump(-1, ' ', false, Json::error_handler_t::replace);
    text.push_back('\0');
    Write(text);
}

void DevToolsPipe::Dispatch(std::string_view text) {
    Json m = Json::parse(text, nullptr, false);
    if (m.is_discarded() || !m.is_object()) return;  // not ours to judge: skip it
    if (m.contains("id")) {
        if (!m["id"].is_number_integer()) return;
        const long id = m["id"].get<long>();
        {
            std::lock_guard lock(mutex_);
            auto k = kept_.find(id);
            if (k == kept_.end()) return;  // posted: nobody waits for it
            k->second = std::move(m);
        }
        changed_.notify_all();
        return;
    }
    std::shared_ptr<const std::function<void(const Json&)>> handler;
    {
        std::lock_guard lock(mutex_);
        handler = onEvent_;
    }
    if (handler && *handler) (*handler)(m);
    // What the handler changed is looked at by the waits: the lock orders
    // their look after the change.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

void DevToolsPipe::Read() {
    std::string inbox;
    std::vector<char> buf(std::size_t(1) << 18);
    for (;;) {
        pollfd pfd[2] = {{fromBrowser_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int r = ::poll(pfd, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (pfd[1].revents & POLLIN)) break;
        ssize_t n = ::read(fromBrowser_, buf.data(), buf.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        // Only the new bytes are searched for the end of a message: a printed
        // document arrives as one message of many reads.
        std::size_t from = inbox.size();
        inbox.append(buf.data(), static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (;;) {
            auto nul = inbox.find('\0', from);
            if (nul == std::string::npos) break;
            Dispatch(std::string_view(inbox).substr(start, nul - start));
            start = from = nul + 1;
        }
        inbox.erase(0, start);
        // A browser that sends this much in one message is not one we can read.
        if (inbox.size() > kMaxMessage) break;
    }
    {
        std::lock_guard lock(mutex_);
        alive_ = false;
    }
    changed_.notify_all();
}

bool DevToolsPipe::WaitFor(const std::function<bool()>& done, Clock::time_point deadline, Waiter* waiter) {
    std::unique_lock lock(mutex_);
    while (!done()) {
        if (!alive_ || (waiter && waiter->abandoned)) return false;
        auto now = Clock::now();
        if (now >= deadline) return false;
        if (waiter && waiter->keepGoing && now - waiter->lastAsked >= std::chrono::milliseconds(50)) {
            waiter->lastAsked = now;
            lock.unlock();
            const bool going = waiter->keepGoing();
            lock.lock();
            if (!going) {
                waiter->abandoned = true;
                return false;
            }
            continue;
        }
        changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
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
                                       Clock::time_point deadline, std::string& error, Waiter* waiter) {
    return Await(Send(method, params, session), deadline, error, waiter);
}

long DevToolsPipe::Send(const std::string& method, const Json& params, const std::string& session) {
    const long id = nextId_++;
    {
        std::lock_guard lock(mutex_);
        kept_[id];
    }
    Json m = {{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty()) m["sessionId"] = session;
    std::string text = m.dump(-1, ' ', false, Json::error_handler_t::replace);
    text.push_back('\0');
    Write(text);
    return id;
}

std::optional<Json> DevToolsPipe::Await(long id, Clock::time_point deadline, std::string& error, Waiter* waiter) {
    std::map<long, std::optional<Json>>::iterator k;
    {
        std::lock_guard lock(mutex_);
        k = kept_.find(id);
        if (k == kept_.end()) {
            error = "no such command";
            return std::nullopt;
        }
    }
    // The entry stays where it is until erased here: other threads' entries
    // come and go beside it.
    bool got = WaitFor([&] { return k->second.has_value(); }, deadline, waiter);
    Json a;
    {
        std::lock_guard lock(mutex_);
        if (got) a = std::move(*k->second);
        kept_.erase(k);
    }
    if (!got) {
        error = !alive_ ? "the browser has ended" : waiter && waiter->abandoned ? "abandoned" : "timed out";
        return std::nullopt;
    }
    return ResultOf(std::move(a), error);
}

}  // namespace browser
