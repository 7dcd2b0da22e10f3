// The window directory: "<hwnd>.win" holds a window's process, class and
// title; "<hwnd>.sock" is where it listens. A message is one frame on a new
// connection; a sent message waits on the same connection for the answer.
#include "platform/windows.h"

#include "platform/runtime_folder.h"
#include "platform/text.h"

#include "inotify_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace platform {

namespace {

constexpr std::uint32_t kMagic = 0x31574D56;  // "VMW1"
constexpr std::uint32_t kWantAnswer = 1;
constexpr int kReadTimeoutMs = 5000;  // a sender that stalls mid-frame is dropped

struct Frame {
    std::uint32_t magic;
    std::uint32_t msg;
    std::uint64_t wParam;
    std::int64_t lParam;
    std::uint64_t copyDataId;
    std::uint32_t dataLen;
    std::uint32_t flags;
};

std::string Folder() { return RuntimeSubfolder("windows"); }

std::string HexOf(HWND h) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size());
    return true;
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

bool ReadAll(int fd, void* buf, std::size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const void* buf, std::size_t n) {
    const auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool ReadEntry(const std::string& folder, const std::string& hex, WindowEntry* e, std::uint64_t* created) {
    std::ifstream in(folder + "/" + hex + ".win");
    std::string pid, seq;
    if (!std::getline(in, pid) || !std::getline(in, seq) || !std::getline(in, e->cls) || !std::getline(in, e->title))
        return false;
    e->pid = static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
    e->hwnd = std::strtoull(hex.c_str(), nullptr, 16);
    *created = std::strtoull(seq.c_str(), nullptr, 10);
    return e->hwnd != 0;
}

void RemoveEntry(const std::string& folder, HWND h) {
    unlink((folder + "/" + HexOf(h) + ".win").c_str());
    unlink((folder + "/" + HexOf(h) + ".sock").c_str());
}

// Names and titles are one line each in the entry file.
std::string OneLine(std::string_view s) {
    std::string out(s);
    std::replace(out.begin(), out.end(), '\n', ' ');
    std::replace(out.begin(), out.end(), '\r', ' ');
    return out;
}

bool WriteEntry(const std::string& folder, HWND h, std::string_view cls, std::string_view title,
                std::uint64_t created) {
    std::string tmp = folder + "/." + HexOf(h) + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << getpid() << "\n" << created << "\n" << OneLine(cls) << "\n" << OneLine(title) << "\n";
        if (!out.flush()) return false;
    }
    return rename(tmp.c_str(), (folder + "/" + HexOf(h) + ".win").c_str()) == 0;
}

// Connects to a window; -1 (and the stale entry removed) when it is gone.
int Connect(HWND h) {
    std::string folder = Folder();
    if (folder.empty()) return -1;
    sockaddr_un addr;
    if (h == 0 || !FillAddress(folder + "/" + HexOf(h) + ".sock", &addr)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return -1;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        close(fd);
        if (e == ECONNREFUSED) RemoveEntry(folder, h);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return fd;
}

bool Deliver(HWND h, const WindowMessage& m, bool wantAnswer, LRESULT* result, DWORD timeoutMs) {
    if (m.copyData.size() > kMaxCopyData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    int fd = Connect(h);
    if (fd < 0) return false;
    Frame f{kMagic, m.msg, m.wParam, m.lParam, m.copyDataId, static_cast<std::uint32_t>(m.copyData.size()),
            wantAnswer ? kWantAnswer : 0};
    bool ok = WriteAll(fd, &f, sizeof f) && WriteAll(fd, m.copyData.data(), m.copyData.size());
    if (ok && wantAnswer) {
        pollfd p{fd, POLLIN, 0};
        int wait = timeoutMs == 0xFFFFFFFF ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, INT_MAX));
        int n;
        while ((n = poll(&p, 1, wait)) < 0 && errno == EINTR) {
        }
        LRESULT r = 0;
        if (n == 0) {
            SetLastError(ERROR_TIMEOUT);
            ok = false;
        } else if (!ReadAll(fd, &r, sizeof r)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);  // it went away while handling
            ok = false;
        } else if (result) {
            *result = r;
        }
    } else if (!ok) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    close(fd);
    return ok;
}

std::atomic<std::uint32_t> g_counter{0};

}  // namespace

struct Window::Members {
    std::string folder;
    HWND hwnd = 0;
    std::string cls;
    std::uint64_t created = 0;
    Handler handler;
    int listenFd = -1;
    int stopFd = -1;
    std::thread thread;

    void Serve() {
        for (;;) {
            pollfd p[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (poll(p, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[1].revents) return;
            int c = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            timeval tv{kReadTimeoutMs / 1000, 0};
            setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            Frame f;
            WindowMessage m;
            if (ReadAll(c, &f, sizeof f) && f.magic == kMagic && f.dataLen <= kMaxCopyData) {
                m.msg = f.msg;
                m.wParam = f.wParam;
                m.lParam = f.lParam;
                m.copyDataId = f.copyDataId;
                m.copyData.resize(f.dataLen);
                if (ReadAll(c, m.copyData.data(), f.dataLen)) {
                    LRESULT r = handler ? handler(m) : 0;
                    if (f.flags & kWantAnswer) WriteAll(c, &r, sizeof r);
                }
            }
            close(c);
        }
    }
};

Window::Window(std::unique_ptr<Members> m) : m_(std::move(m)) {}

std::unique_ptr<Window> Window::Create(std::string_view cls, std::string_view title, Handler handler) {
    auto m = std::make_unique<Members>();
    m->folder = Folder();
    if (m->folder.empty()) return nullptr;
    m->hwnd = (static_cast<HWND>(getpid()) << 24) | (++g_counter & 0xFFFFFF);
    m->cls = cls;
    m->handler = std::move(handler);
    m->created = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    std::string sock = m->folder + "/" + HexOf(m->hwnd) + ".sock";
    sockaddr_un addr;
    if (!FillAddress(sock, &addr)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    unlink(sock.c_str());
    m->listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m->stopFd = eventfd(0, EFD_CLOEXEC);
    if (m->listenFd < 0 || m->stopFd < 0 || bind(m->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m->listenFd, 64) != 0 || !WriteEntry(m->folder, m->hwnd, cls, title, m->created)) {
        SetLastErrorFromErrno(errno);
        if (m->listenFd >= 0) close(m->listenFd);
        if (m->stopFd >= 0) close(m->stopFd);
        unlink(sock.c_str());
        return nullptr;
    }
    Members* raw = m.get();
    m->thread = std::thread([raw] { raw->Serve(); });
    return std::make_unique<Window>(std::move(m));
}

Window::~Window() {
    RemoveEntry(m_->folder, m_->hwnd);
    std::uint64_t one = 1;
    ssize_t n = write(m_->stopFd, &one, sizeof one);
    (void)n;
    if (m_->thread.joinable()) m_->thread.join();
    close(m_->listenFd);
    close(m_->stopFd);
}

HWND Window::Handle() const { return m_->hwnd; }

bool Window::SetTitle(std::string_view title) { return WriteEntry(m_->folder, m_->hwnd, m_->cls, title, m_->created); }

std::vector<WindowEntry> EnumWindows() {
    std::vector<std::pair<std::uint64_t, WindowEntry>> found;
    std::string folder = Folder();
    if (folder.empty()) return {};
    DIR* d = opendir(folder.c_str());
    if (!d) return {};
    while (dirent* ent = readdir(d)) {
        std::string name = ent->d_name;
        if (name.size() != 20 || !name.ends_with(".win")) continue;
        std::string hex = name.substr(0, 16);
        WindowEntry e;
        std::uint64_t created = 0;
        if (!ReadEntry(folder, hex, &e, &created)) continue;
        if (!ProcessAlive(e.pid)) {
            RemoveEntry(folder, e.hwnd);
            continue;
        }
        found.emplace_back(created, std::move(e));
    }
    closedir(d);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.hwnd < b.second.hwnd;
    });
    std::vector<WindowEntry> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

HWND FindWindow(const char* cls, const char* title) {
    for (const auto& e : EnumWindows()) {
        if (cls && !EqualsNoCase(e.cls, cls)) continue;
        if (title && !EqualsNoCase(e.title, title)) continue;
        return e.hwnd;
    }
    SetLastError(ERROR_SUCCESS);
    return 0;
}

bool IsWindow(HWND hwnd) { return WindowProcessId(hwnd) != 0; }

pid_t WindowProcessId(HWND hwnd) {
    for (const auto& e : EnumWindows())
        if (e.hwnd == hwnd) return e.pid;
    return 0;
}

bool SendMessage(HWND hwnd, const WindowMessage& message, LRESULT* result, DWORD timeoutMs) {
    return Deliver(hwnd, message, true, result, timeoutMs);
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WindowMessage m;
    m.msg = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    return Deliver(hwnd, m, false, nullptr, 0);
}

int BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    int reached = 0;
    for (const auto& e : EnumWindows()) reached += PostMessage(e.hwnd, msg, wParam, lParam) ? 1 : 0;
    return reached;
}

bool SetForegroundWindow(HWND hwnd) { return PostMessage(hwnd, WM_ACTIVATE, 1, 0); }

UINT RegisterWindowMessage(std::string_view name) {
    if (name.empty() || name.find('\n') != std::string_view::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string base = RuntimeFolder();
    if (base.empty()) return 0;
    int fd = open((base + "/atoms").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return 0;
    }
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0) text.append(buf, static_cast<std::size_t>(n));
    std::string want = FoldCase(name);
    UINT index = 0, result = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (FoldCase(line) == want) {
            result = 0xC000 + index;
            break;
        }
        ++index;
    }
    if (!result && index < 0x4000) {
        std::string entry = std::string(name) + "\n";
        if (pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(text.size())) == static_cast<ssize_t>(entry.size()))
            result = 0xC000 + index;
    }
    close(fd);
    if (!result) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return result;
}

bool WaitForProcessWindow(pid_t pid, DWORD timeoutMs) {
    auto has = [pid] {
        for (const auto& e : EnumWindows())
            if (e.pid == pid) return true;
        return false;
    };
    std::string folder = Folder();
    if (folder.empty()) return false;
    auto& watcher = detail::InotifyWatcher::ForThread();
    int ino = watcher.Fd();
    if (ino < 0) return has();
    int wd = inotify_add_watch(ino, folder.c_str(), IN_MOVED_TO | IN_CREATE);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool found = false;
    for (;;) {
        if ((found = has())) break;
        int wait = -1;
        if (timeoutMs != 0xFFFFFFFF) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            wait = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        pollfd p{ino, POLLIN, 0};
        if (poll(&p, 1, wait) < 0 && errno != EINTR) break;
        watcher.Drain();
    }
    if (wd >= 0) inotify_rm_watch(ino, wd);
    watcher.Drain();
    return found;
}

}  // namespace platform
