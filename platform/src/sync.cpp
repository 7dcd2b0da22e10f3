// Named events and mutexes as files: a shared flock marks a live handle, a
// byte-range lock (open-file-description lock, independent of the flock)
// guards an event's state or marks a mutex's owner, inotify wakes waiters.
#include "platform/sync.h"

#include "platform/runtime_folder.h"

#include "inotify_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t kMaxName = 260;
constexpr char kSignalled = '1';
constexpr char kClear = '0';
constexpr char kManual = 'M';
constexpr char kAuto = 'A';

// Characters that cannot stand in a file name, and "%" itself, are written as %XX.
std::string EscapeName(std::string_view name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if (c == '/' || c == '%' || c == '\\' || c < 0x20 || c == 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

struct Place {
    std::string folder, file;
    bool global = false;
};

bool PlaceOf(std::string_view name, const char* suffix, Place* place) {
    if (name.empty() || name.size() > kMaxName) {
        SetLastError(name.empty() ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::string_view rest = name;
    if (rest.starts_with("Global\\")) {
        place->global = true;
        rest.remove_prefix(7);
    } else if (rest.starts_with("Local\\")) {
        rest.remove_prefix(6);
    }
    std::string file = EscapeName(rest) + suffix;
    if (rest.empty() || file.size() > NAME_MAX || file[0] == '.') {
        SetLastError(rest.empty() || file[0] == '.' ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    place->folder = place->global ? GlobalObjectFolder() : RuntimeSubfolder("objects");
    if (place->folder.empty()) return false;  // the last error is set
    place->file = place->folder + "/" + file;
    return true;
}

// The folder's lock, held while a handle is made or dropped, so that the
// test "does anyone hold this object" and what follows are one step.
class FolderGuard {
public:
    FolderGuard(const Place& place) {
        fd_ = open((place.folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, place.global ? 0666 : 0600);
        if (fd_ < 0) {
            SetLastErrorFromErrno(errno);
            return;
        }
        if (place.global) fchmod(fd_, 0666);  // best effort: another user's file cannot be changed
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                SetLastErrorFromErrno(errno);
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FolderGuard() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// One handle's hold on an object file.
struct Hold {
    Place place;
    int fd = -1;
};

// Takes a hold on the object's file. `fresh` tells whether nobody held it;
// `init` then sets up its contents (still under the guard).
bool Acquire(std::string_view name, const char* suffix, bool create, Hold* hold, bool* fresh,
             const std::function<bool(int)>& init) {
    if (!PlaceOf(name, suffix, &hold->place)) return false;
    FolderGuard guard(hold->place);
    if (!guard.Ok()) return false;
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    int fd = open(hold->place.file.c_str(), flags, hold->place.global ? 0666 : 0600);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    struct stat sb;
    if (fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        close(fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (hold->place.global && sb.st_uid == getuid()) fchmod(fd, 0666);
    *fresh = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (*fresh && !create) {
        // A file left by handles that are all gone: the object does not exist.
        unlink(hold->place.file.c_str());
        close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (*fresh && !init(fd)) {
        SetLastErrorFromErrno(errno);
        close(fd);
        return false;
    }
    if (flock(fd, LOCK_SH) != 0) {
        SetLastErrorFromErrno(errno);
        close(fd);
        return false;
    }
    hold->fd = fd;
    return true;
}

void Drop(Hold* hold) {
    if (hold->fd < 0) return;
    FolderGuard guard(hold->place);
    // The last handle removes the file; a failed attempt only ends our own hold.
    if (guard.Ok() && flock(hold->fd, LOCK_EX | LOCK_NB) == 0) unlink(hold->place.file.c_str());
    close(hold->fd);
    hold->fd = -1;
}

bool LockRange(int fd, short type, bool wait) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

char ReadByte(int fd, off_t at) {
    char c = 0;
    return pread(fd, &c, 1, at) == 1 ? c : 0;
}

bool WriteByte(int fd, off_t at, char c) { return pwrite(fd, &c, 1, at) == 1; }

// Calls `attempt` until it answers other than -1, sleeping between tries
// until one of the files changes. The watches are in place before each try,
// so a change between a try and the sleep is not missed.
DWORD WaitOnFiles(const std::vector<std::string>& paths, DWORD timeoutMs, const std::function<long()>& attempt) {
    long first = attempt();
    if (first != -1) return static_cast<DWORD>(first);
    if (timeoutMs == 0) return WAIT_TIMEOUT;
    auto& watcher = detail::InotifyWatcher::ForThread();
    int ino = watcher.Fd();
    if (ino < 0) {
        SetLastErrorFromErrno(errno);
        return WAIT_FAILED;
    }
    std::vector<int> watches;
    auto unwatch = [&] {
        for (int wd : watches) inotify_rm_watch(ino, wd);
        watcher.Drain();
    };
    for (const auto& p : paths) {
        int wd = inotify_add_watch(ino, p.c_str(), IN_MODIFY | IN_CLOSE_WRITE);
        if (wd < 0) {
            SetLastErrorFromErrno(errno);
            unwatch();
            return WAIT_FAILED;
        }
        watches.push_back(wd);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    DWORD result = WAIT_FAILED;
    for (;;) {
        long r = attempt();
        if (r != -1) {
            result = static_cast<DWORD>(r);
            break;
        }
        int wait = -1;
        if (timeoutMs != INFINITE) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result = WAIT_TIMEOUT;
                break;
            }
            wait = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        pollfd p{ino, POLLIN, 0};
        int n = poll(&p, 1, wait);
        if (n < 0 && errno != EINTR) {
            SetLastErrorFromErrno(errno);
            break;
        }
        watcher.Drain();
    }
    unwatch();
    return result;
}

}  // namespace

// ---- Events

struct NamedEvent::Members {
    Hold hold;
    bool manual = true;
};

NamedEvent::NamedEvent(std::unique_ptr<Members> m) : m_(std::move(m)) {}
NamedEvent::~NamedEvent() { Drop(&m_->hold); }

std::unique_ptr<NamedEvent> NamedEvent::Create(std::string_view name, bool manualReset, bool initialState,
                                               bool* alreadyExisted) {
    auto m = std::make_unique<Members>();
    bool fresh = false;
    bool ok = Acquire(name, ".event", true, &m->hold, &fresh, [&](int fd) {
        char bytes[2] = {initialState ? kSignalled : kClear, manualReset ? kManual : kAuto};
        return ftruncate(fd, 0) == 0 && pwrite(fd, bytes, 2, 0) == 2;
    });
    if (!ok) return nullptr;
    m->manual = ReadByte(m->hold.fd, 1) != kAuto;
    if (alreadyExisted) *alreadyExisted = !fresh;
    SetLastError(fresh ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return std::make_unique<NamedEvent>(std::move(m));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(std::string_view name) {
    auto m = std::make_unique<Members>();
    bool fresh = false;
    if (!Acquire(name, ".event", false, &m->hold, &fresh, [](int) { return true; })) return nullptr;
    m->manual = ReadByte(m->hold.fd, 1) != kAuto;
    return std::make_unique<NamedEvent>(std::move(m));
}

bool NamedEvent::IsManualReset() const { return m_->manual; }
const std::string& NamedEvent::Path() const { return m_->hold.place.file; }

namespace {

bool SetState(int fd, char state) {
    if (!LockRange(fd, F_WRLCK, true)) return false;
    bool ok = WriteByte(fd, 0, state);
    LockRange(fd, F_UNLCK, false);
    return ok;
}

}  // namespace

bool NamedEvent::Set() {
    if (SetState(m_->hold.fd, kSignalled)) return true;
    SetLastErrorFromErrno(errno);
    return false;
}

bool NamedEvent::Reset() {
    if (SetState(m_->hold.fd, kClear)) return true;
    SetLastErrorFromErrno(errno);
    return false;
}

DWORD NamedEvent::Wait(DWORD timeoutMs) {
    NamedEvent* self = this;
    return WaitForMultipleEvents(std::span<NamedEvent* const>(&self, 1), false, timeoutMs);
}

DWORD WaitForMultipleEvents(std::span<NamedEvent* const> events, bool waitAll, DWORD timeoutMs) {
    if (events.empty() || events.size() > 64) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::string> paths;
    for (NamedEvent* e : events) {
        if (!e) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        paths.push_back(e->m_->hold.place.file);
    }
    // One try: -1 when not yet.
    auto attempt = [&]() -> long {
        if (!waitAll) {
            for (std::size_t i = 0; i < events.size(); ++i) {
                int fd = events[i]->m_->hold.fd;
                if (events[i]->m_->manual) {
                    if (ReadByte(fd, 0) == kSignalled) return static_cast<long>(WAIT_OBJECT_0 + i);
                    continue;
                }
                if (!LockRange(fd, F_WRLCK, true)) return static_cast<long>(WAIT_FAILED);
                bool taken = ReadByte(fd, 0) == kSignalled && WriteByte(fd, 0, kClear);
                LockRange(fd, F_UNLCK, false);
                if (taken) return static_cast<long>(WAIT_OBJECT_0 + i);
            }
            return -1;
        }
        // All at once: every state is locked, in the order of the files'
        // paths (the same order in every process, so no two waiters
        // deadlock), then looked at, and the auto ones reset when all are set.
        std::vector<std::pair<std::string, int>> order;
        for (NamedEvent* e : events) order.emplace_back(e->m_->hold.place.file, e->m_->hold.fd);
        std::sort(order.begin(), order.end());
        order.erase(std::unique(order.begin(), order.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    order.end());
        std::size_t locked = 0;
        while (locked < order.size() && LockRange(order[locked].second, F_WRLCK, true)) ++locked;
        bool all = locked == order.size();
        for (std::size_t i = 0; all && i < order.size(); ++i) all = ReadByte(order[i].second, 0) == kSignalled;
        if (all)
            for (NamedEvent* e : events)
                if (!e->m_->manual) WriteByte(e->m_->hold.fd, 0, kClear);
        for (std::size_t i = 0; i < locked; ++i) LockRange(order[i].second, F_UNLCK, false);
        if (locked < order.size()) return static_cast<long>(WAIT_FAILED);
        return all ? static_cast<long>(WAIT_OBJECT_0) : -1;
    };
    return WaitOnFiles(paths, timeoutMs, attempt);
}

// ---- Mutexes

struct NamedMutex::Members {
    Hold hold;
    std::mutex mu;
    std::thread::id owner;
    int depth = 0;
};

NamedMutex::NamedMutex(std::unique_ptr<Members> m) : m_(std::move(m)) {}

NamedMutex::~NamedMutex() {
    if (m_->depth > 0) {
        LockRange(m_->hold.fd, F_UNLCK, false);
        WriteByte(m_->hold.fd, 0, 'r');
    }
    Drop(&m_->hold);
}

std::unique_ptr<NamedMutex> NamedMutex::Create(std::string_view name, bool initialOwner, bool* alreadyExisted) {
    auto m = std::make_unique<Members>();
    bool fresh = false;
    if (!Acquire(name, ".mutex", true, &m->hold, &fresh, [](int fd) { return ftruncate(fd, 0) == 0; })) return nullptr;
    auto mutex = std::make_unique<NamedMutex>(std::move(m));
    if (alreadyExisted) *alreadyExisted = !fresh;
    if (fresh && initialOwner) mutex->Wait(INFINITE);
    SetLastError(fresh ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return mutex;
}

std::unique_ptr<NamedMutex> NamedMutex::Open(std::string_view name) {
    auto m = std::make_unique<Members>();
    bool fresh = false;
    if (!Acquire(name, ".mutex", false, &m->hold, &fresh, [](int) { return true; })) return nullptr;
    return std::make_unique<NamedMutex>(std::move(m));
}

DWORD NamedMutex::Wait(DWORD timeoutMs) {
    Members& m = *m_;
    auto attempt = [&]() -> long {
        std::lock_guard lock(m.mu);
        if (m.depth > 0) {
            if (m.owner != std::this_thread::get_id()) return -1;
            ++m.depth;
            return static_cast<long>(WAIT_OBJECT_0);
        }
        if (!LockRange(m.hold.fd, F_WRLCK, false)) {
            if (errno == EAGAIN || errno == EACCES) return -1;
            SetLastErrorFromErrno(errno);
            return static_cast<long>(WAIT_FAILED);
        }
        m.owner = std::this_thread::get_id();
        m.depth = 1;
        return static_cast<long>(WAIT_OBJECT_0);
    };
    return WaitOnFiles({m.hold.place.file}, timeoutMs, attempt);
}

bool NamedMutex::Release() {
    std::lock_guard lock(m_->mu);
    if (m_->depth == 0 || m_->owner != std::this_thread::get_id()) {
        SetLastError(ERROR_NOT_OWNER);
        return false;
    }
    if (--m_->depth == 0) {
        m_->owner = {};
        LockRange(m_->hold.fd, F_UNLCK, false);
        WriteByte(m_->hold.fd, 0, 'r');  // wakes the waiters
    }
    return true;
}

}  // namespace platform
