// Runs an engine in layout processes. A layout process is forked from the
// caller and lays out one document after another, each bounded by its own
// deadline (the parent reads the answer until then and kills the process
// after it), with a data-size limit and a large stack. A document that never
// finishes laying out, or that would crash the layout, ends that process and
// its own load, nothing else; the next document gets a new process.
//
// Requests and answers cross a socket pair as frames:
//   request: u32 length | request fields
//   answer:  u64 length | result | trailer
// A process that fails a render (an exception, no memory) answers nothing
// and exits with status 3.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "fonts.h"
#include "htmlengine/engine.h"
#include "optional_modules.h"
#include "platform/sysinfo.h"
#include "wire.h"

#if defined(__SANITIZE_ADDRESS__)
#define VM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VM_ASAN 1
#endif
#endif

namespace htmlengine {
namespace {

constexpr std::size_t kChildStack = 512u << 20;
constexpr std::size_t kMaxResultBytes = 1u << 30;
constexpr std::size_t kMaxRequestBytes = 1u << 30;
// A layout process is retired after this many documents, or when its heap
// stays above kRetireHeapBytes after a document: long runs then never carry
// one process's fragmentation or leaks along.
constexpr unsigned kRetireAfterJobs = 1000;
constexpr std::size_t kRetireHeapBytes = 256u << 20;
constexpr std::size_t kEndAfterAnswerBytes = 32u << 20;

// After the result, the process names the fonts it had to set up and the
// modules it opened, so that the parent sets them up once for every later
// process, and whether it retires after this answer:
//   result | requests, u32 module mask, u32 flags | u32 length of the trailer | u32 kTrailerMagic
constexpr std::uint32_t kTrailerMagic = 0x564D4633;  // "VMF3"
constexpr std::uint32_t kRetiring = 1;

struct Trailer {
    std::vector<FontRequest> fonts;
    std::uint32_t modules = 0;
    std::uint32_t flags = 0;
};

void AppendTrailer(std::string& out, std::uint32_t flags) {
    FontManager* fonts = SharedFontsIfMade();
    const std::vector<FontRequest> requests = fonts ? fonts->TakeNewRequests() : std::vector<FontRequest>{};
    std::string trailer;
    wire::Writer w(trailer);
    w.U32(static_cast<std::uint32_t>(requests.size()));
    for (const FontRequest& r : requests) w.Str(r.familyList), w.I32(r.pixelSize), w.I32(r.weight), w.Bool(r.italic);
    w.U32(OpenedModules());
    w.U32(flags);
    out += trailer;
    wire::Writer tail(out);
    tail.U32(static_cast<std::uint32_t>(trailer.size()));
    tail.U32(kTrailerMagic);
}

// Splits an answer into the result and the trailer after it. An answer
// without the trailer is all result; a damaged trailer names nothing.
std::string_view SplitTrailer(std::string_view data, Trailer& trailer) {
    if (data.size() < 8) return data;
    wire::Reader tail(data.substr(data.size() - 8));
    const std::uint32_t length = tail.U32();
    if (tail.U32() != kTrailerMagic || length > data.size() - 8) return data;
    const std::string_view bytes = data.substr(data.size() - 8 - length, length);
    try {
        wire::Reader r(bytes);
        Trailer got;
        got.fonts.resize(r.Count(13));
        for (FontRequest& f : got.fonts) f.familyList = r.Str(), f.pixelSize = r.I32(), f.weight = r.I32(), f.italic = r.Bool();
        got.modules = r.U32();
        got.flags = r.U32();
        if (r.AtEnd()) trailer = std::move(got);
    } catch (const wire::Damaged&) {
    }
    return data.substr(0, data.size() - 8 - length);
}

void SerializeRequest(const RenderRequest& q, std::string& out) {
    wire::Writer w(out);
    w.U32(q.kind == RenderRequest::Kind::String ? 1 : 0);
    w.Str(q.address), w.Str(q.html), w.Str(q.baseUrl);
    w.I32(q.minimalWidth), w.I32(q.timeoutMs), w.I32(q.layoutGraceMs), w.I32(q.maxDepth), w.I32(q.maxTableDepth);
    w.Pod<std::uint64_t>(q.maxDocumentBytes), w.Pod<std::uint64_t>(q.memoryLimitBytes);
    w.Pod<std::uint64_t>(q.layoutPartBytes);
    w.Str(q.userAgent);
}

bool DeserializeRequest(std::string_view bytes, RenderRequest& q) {
    try {
        wire::Reader r(bytes);
        q.kind = r.U32() == 1 ? RenderRequest::Kind::String : RenderRequest::Kind::Address;
        q.address = r.Str(), q.html = r.Str(), q.baseUrl = r.Str();
        q.minimalWidth = r.I32(), q.timeoutMs = r.I32(), q.layoutGraceMs = r.I32(), q.maxDepth = r.I32(), q.maxTableDepth = r.I32();
        q.maxDocumentBytes = r.Pod<std::uint64_t>(), q.memoryLimitBytes = r.Pod<std::uint64_t>();
        q.layoutPartBytes = r.Pod<std::uint64_t>();
        q.userAgent = r.Str();
        return r.AtEnd();
    } catch (const wire::Damaged&) {
        return false;
    }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Sends `size` bytes with `passFd` (a descriptor the other end receives a
// copy of) attached to the first of them; -1: none.
bool WriteAllWithFd(int fd, const char* data, std::size_t size, int passFd) {
    if (passFd < 0 || size == 0) return WriteAll(fd, data, size);
    iovec iov{const_cast<char*>(data), 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov, msg.msg_iovlen = 1;
    msg.msg_control = control, msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET, c->cmsg_type = SCM_RIGHTS, c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    ssize_t n;
    do n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n != 1) return false;
    return WriteAll(fd, data + 1, size - 1);
}

// Reads exactly `size` bytes; false at the end of the stream or an error.
bool ReadAll(int fd, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// ---- the layout process

// A descriptor received from a layout process; closed unless released.
struct UniqueFd {
    int fd = -1;
    UniqueFd() = default;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd >= 0) ::close(fd);
    }
    int Release() { return std::exchange(fd, -1); }
};

struct WorkerLoop {
    int fd;
    HtmlEngine* engine;
    int exitCode = 0;
};

// The process's data size (heap and anonymous mappings, used or kept by the
// allocator), whichever allocator the program was linked with.
std::size_t HeapInUse() {
    unsigned long pages[7] = {};
    if (FILE* f = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(f, "%lu %lu %lu %lu %lu %lu", &pages[0], &pages[1], &pages[2], &pages[3], &pages[4],
                        &pages[5]) != 6)
            pages[5] = 0;
        std::fclose(f);
    }
    return pages[5] * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void* RunWorker(void* p) {
    auto* loop = static_cast<WorkerLoop*>(p);
    // What the process inherited from the caller does not count.
    const std::size_t inherited = HeapInUse();
    bool retiring = false;
    for (unsigned jobs = 1;; ++jobs) {
        std::uint32_t length = 0;
        std::string bytes;
        RenderRequest request;
        if (!ReadAll(loop->fd, reinterpret_cast<char*>(&length), sizeof length)) return nullptr;  // the engine is done
        try {
            bytes.resize(length);
        } catch (const std::bad_alloc&) {
            loop->exitCode = 3;
            return nullptr;
        }
        if (!ReadAll(loop->fd, bytes.data(), length) || !DeserializeRequest(bytes, request)) {
            loop->exitCode = 5;
            return nullptr;
        }
        request.deferTeardown = true;  // taken apart after the answer has gone out
        retiring = retiring || jobs >= kRetireAfterJobs;
        std::string out(sizeof(std::uint64_t), '\0');
        try {
            // The result too is taken apart only after the answer has gone out.
            RenderResult result = loop->engine->Render(request);
            SerializeResult(result, out);
            AppendTrailer(out, retiring ? kRetiring : 0);
            const std::uint64_t size = out.size() - sizeof(std::uint64_t);
            std::memcpy(out.data(), &size, sizeof size);
            // A drawing kept on disk goes to the caller as its file.
            const bool spilled = result.drawing.SpillFd() >= 0;
            const int passFd = spilled ? ::fcntl(result.drawing.SpillFd(), F_DUPFD_CLOEXEC, 0) : -1;
            if (spilled && passFd < 0) {
                loop->exitCode = 3;
                return nullptr;
            }
            const bool longDocument = spilled || out.size() > kEndAfterAnswerBytes;
            // A long document's result goes before its answer, which the
            // caller reads into memory of its own meanwhile.
            if (longDocument) {
                result = RenderResult{};
                platform::ReturnFreedMemory();
            }
            const bool sent = WriteAllWithFd(loop->fd, out.data(), out.size(), passFd);
            if (passFd >= 0) ::close(passFd);
            if (!sent) {
                loop->exitCode = 4;
                return nullptr;
            }
            // A process that answered a long document ends now rather than
            // hold what it grew to while it waits for the next one.
            if (retiring || longDocument) return nullptr;
            std::string().swap(out);
            result = RenderResult{};
            loop->engine->ReleaseDeferred();
            // A heap that stays large retires the process after the next document.
            retiring = HeapInUse() > inherited + kRetireHeapBytes;
        } catch (...) {
            loop->exitCode = 3;
            return nullptr;
        }
    }
}

[[noreturn]] void WorkerMain(int fd, HtmlEngine& engine, std::size_t memoryLimitBytes) {
    signal(SIGPIPE, SIG_IGN);
    struct rlimit core {0, 0};
    setrlimit(RLIMIT_CORE, &core);
#ifndef VM_ASAN
    if (memoryLimitBytes > 0) {
        struct rlimit data {memoryLimitBytes + kChildStack, memoryLimitBytes + kChildStack};
        setrlimit(RLIMIT_DATA, &data);
    }
#endif
    // With glibc's malloc (the programs link jemalloc, where these settings do
    // nothing), the layout thread allocates from the heap the process already
    // has, rather than from a fresh arena grown page by page with mprotect, in
    // large steps.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TOP_PAD, 8 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    WorkerLoop loop{fd, &engine};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kChildStack);
    pthread_t th;
    if (pthread_create(&th, &attr, RunWorker, &loop) == 0) pthread_join(th, nullptr);
    else RunWorker(&loop);
    _exit(loop.exitCode);
}

// ---- the caller's side

class IsolatedEngine final : public HtmlEngine {
public:
    explicit IsolatedEngine(std::unique_ptr<HtmlEngine> inner) : inner_(std::move(inner)) {}
    // Warming up here, in the caller's process, saves every layout process
    // from reading the font configuration again.
    void WarmUp() override { inner_->WarmUp(); }
    void SetWaitHook(std::function<bool()> hook) override { waitHook_ = std::move(hook); }

    ~IsolatedEngine() override {
        // All are told first, so that they end side by side.
        for (const Job& j : ahead_)
            if (j.worker.pid > 0) ::kill(j.worker.pid, SIGKILL);
        for (const Worker& w : idle_)
            if (w.pid > 0) ::kill(w.pid, SIGKILL);
        for (Job& j : ahead_) Stop(j.worker);
        for (Worker& w : idle_) Stop(w);
    }

    // Lays out the announced document in a process of its own right away;
    // the Render that asks for it reads that process's answer. Nine
    // documents are kept ahead (the one about to be asked for and the eight
    // after it): an older announcement still waiting is abandoned. Documents
    // differ greatly in size; with fewer ahead, processes that finished small
    // ones wait while the caller is busy with a large one.
    void Prefetch(const RenderRequest& req) override {
        for (const Job& j : ahead_)
            if (j.request == req) return;
        if (ahead_.size() >= kAhead) {
            Stop(ahead_.front().worker);
            ahead_.erase(ahead_.begin());
        }
        Job j;
        j.request = req;
        if (Dispatch(j).empty()) ahead_.push_back(std::move(j));
    }

    RenderResult Render(const RenderRequest& req) override {
        Job job;
        auto found = std::find_if(ahead_.begin(), ahead_.end(), [&](const Job& j) { return j.request == req; });
        if (found != ahead_.end()) {
            job = std::move(*found);
            ahead_.erase(found);
            // It may have waited on a full socket while the caller was busy:
            // its answer is read now, with the time it had left or a moment more.
            job.deadline = std::max(job.deadline, Clock::now() + std::chrono::milliseconds(1000));
        } else {
            job.request = req;
            if (std::string error = Dispatch(job); !error.empty()) return Failed(error);
        }
        return Collect(job);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kAhead = 9;
    static constexpr std::size_t kKeepIdle = kAhead;
    static constexpr long long kHookSliceMs = 20;

    struct Worker {
        pid_t pid = -1;
        int fd = -1;  // the socket to the process
        std::size_t memoryLimit = 0;
        unsigned jobs = 0;  // documents it was sent
    };

    struct Job {
        RenderRequest request;
        Worker worker;
        Clock::time_point deadline;
        bool retry = false;  // a second try in a new process
    };

    static RenderResult Failed(std::string warning) {
        RenderResult failed;
        failed.crashed = true;
        failed.warnings.push_back(std::move(warning));
        return failed;
    }

    // Forks a layout process; an error text when that fails.
    std::string Spawn(Worker& w, std::size_t memoryLimit) {
        // What earlier layout processes had to set up is set up here once, so
        // that this one and every later one inherit it. (Done before a fork
        // rather than after each render: a run of one document never pays.)
        if (!fontsForNext_.empty()) {
            if (FontManager* fonts = SharedFontsIfMade()) {
                std::lock_guard<std::mutex> lock(SharedFontsLock());
                fonts->Prepare(fontsForNext_);
            }
            fontsForNext_.clear();
        }
        if (const std::uint32_t missing = modulesForNext_ & ~OpenedModules()) OpenModules(missing);
        modulesForNext_ = 0;
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return std::string("no socket: ") + std::strerror(errno);
        pid_t pid = -1;
        {
            std::lock_guard<std::mutex> fonts(SharedFontsLock());
            std::lock_guard<std::mutex> modules(ModulesLock());
            pid = fork();
        }
        if (pid < 0) {
            ::close(fds[0]), ::close(fds[1]);
            return std::string("no layout process: ") + std::strerror(errno);
        }
        if (pid == 0) {
            ::close(fds[0]);
            // The other processes' sockets belong to the parent.
            for (const Job& j : ahead_) ::close(j.worker.fd);
            for (const Worker& idle : idle_) ::close(idle.fd);
            WorkerMain(fds[1], *inner_, memoryLimit);
        }
        ::close(fds[1]);
        w.pid = pid;
        w.fd = fds[0];
        w.memoryLimit = memoryLimit;
        w.jobs = 0;
        return {};
    }

    // Sends the job to an idle process with the same memory limit, or to a
    // new one (always with `fresh`); an error text when no process takes it.
    std::string Dispatch(Job& j, bool fresh = false) {
        std::string request(sizeof(std::uint32_t), '\0');
        SerializeRequest(j.request, request);
        if (request.size() - sizeof(std::uint32_t) > kMaxRequestBytes) return "layout request too large";
        const auto length = static_cast<std::uint32_t>(request.size() - sizeof(std::uint32_t));
        std::memcpy(request.data(), &length, sizeof length);
        const auto start = Clock::now();
        for (;;) {
            auto idle = fresh ? idle_.end() : std::find_if(idle_.begin(), idle_.end(), [&](const Worker& w) {
                return w.memoryLimit == j.request.memoryLimitBytes;
            });
            if (idle != idle_.end()) {
                j.worker = *idle;
                idle_.erase(idle);
                // One that ended while it waited (killed from outside) is
                // reaped and replaced.
                if (::waitpid(j.worker.pid, nullptr, WNOHANG) == j.worker.pid) {
                    ::close(j.worker.fd);
                    continue;
                }
            } else if (std::string error = Spawn(j.worker, j.request.memoryLimitBytes); !error.empty()) {
                return error;
            }
            ++j.worker.jobs;
            if (WriteAll(j.worker.fd, request.data(), request.size())) break;
            // Only a process that ended between documents refuses one.
            const bool firstJob = j.worker.jobs == 1;
            Stop(j.worker);
            if (firstJob) return std::string("layout process gone: ") + std::strerror(errno);
        }
        j.deadline = start + std::chrono::milliseconds(std::max(0, j.request.timeoutMs)) +
                     std::chrono::milliseconds(std::max(0, j.request.layoutGraceMs));
        return {};
    }

    // Ends the process (one that already ended keeps its exit status) and
    // reaps it; its status.
    static int Stop(Worker& w) {
        if (w.pid <= 0) return 0;
        ::close(w.fd);
        ::kill(w.pid, SIGKILL);
        int status = 0;
        while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
        w.pid = -1;
        return status;
    }

    // Reads `size` bytes of the answer until the job's deadline. 0: read;
    // 1: the deadline passed; 2: the stream ended or failed; 3: the wait
    // hook abandoned the wait. A descriptor that came with the bytes is put
    // into `passed` (when given; else closed).
    int ReadUntil(const Job& j, char* data, std::size_t size, UniqueFd* passed = nullptr) const {
        // With a hook the wait is cut into short slices, so that the caller's
        // thread gets to run its own work between them.
        const long long slice = waitHook_ ? kHookSliceMs : 1000;
        std::size_t done = 0;
        while (done < size) {
            if (waitHook_ && !waitHook_()) return 3;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(j.deadline - Clock::now()).count();
            if (left <= 0) return 1;
            pollfd p{j.worker.fd, POLLIN, 0};
            int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, slice)));
            if (rc < 0 && errno == EINTR) continue;
            if (rc < 0) return 2;
            if (rc == 0) continue;
            iovec iov{data + done, size - done};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr msg{};
            msg.msg_iov = &iov, msg.msg_iovlen = 1;
            msg.msg_control = control, msg.msg_controllen = sizeof control;
            ssize_t n = ::recvmsg(j.worker.fd, &msg, MSG_CMSG_CLOEXEC);
            if (n < 0 && errno == EINTR) continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
                int got = -1;
                std::memcpy(&got, CMSG_DATA(c), sizeof got);
                if (passed && passed->fd < 0) passed->fd = got;
                else ::close(got);
            }
            if (n <= 0) return 2;
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    // Reads the process's answer until the job's deadline.
    RenderResult Collect(Job& j) {
        std::uint64_t size = 0;
        std::string data;
        UniqueFd drawingFile;
        int got = ReadUntil(j, reinterpret_cast<char*>(&size), sizeof size, &drawingFile);
        const bool tooLarge = got == 0 && size > kMaxResultBytes;
        if (got == 0 && !tooLarge) {
            data.resize(size);
            got = ReadUntil(j, data.data(), data.size());
            // Taking a large answer apart is work of its own: the caller's turn first.
            if (got == 0 && waitHook_ && !waitHook_()) got = 3;
        }
        if (got == 0 && !tooLarge) {
            RenderResult result;
            Trailer trailer;
            if (DeserializeResult(SplitTrailer(data, trailer), result) &&
                (!result.drawing.AwaitsSpill() || result.drawing.AdoptSpill(drawingFile.Release()))) {
                // Set up before the next fork, a font or module costs the later layouts nothing.
                fontsForNext_.insert(fontsForNext_.end(), trailer.fonts.begin(), trailer.fonts.end());
                modulesForNext_ |= trailer.modules;
                if (trailer.flags & kRetiring) Stop(j.worker);
                else Keep(j.worker);
                return result;
            }
            Stop(j.worker);
            return Failed("layout process failed (damaged answer)");
        }
        if (got == 3) {
            Stop(j.worker);
            return Failed("layout abandoned by the caller");
        }
        if (got == 1 || tooLarge) {
            Stop(j.worker);
            if (tooLarge) return Failed("layout result too large");
            RenderResult failed = Failed("layout process stopped at the time-out");
            failed.timedOut = true;
            return failed;
        }
        const unsigned served = j.worker.jobs;
        const int status = Stop(j.worker);
        // A process that served earlier documents may have been killed from
        // outside while it waited: such a document is laid out once more by a
        // new process before that end counts as its failure.
        const bool killed = (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                            (WIFEXITED(status) && WEXITSTATUS(status) == 0);
        if (served > 1 && killed && !j.retry) {
            Job again;
            again.request = j.request;
            again.retry = true;
            std::string error = Dispatch(again, true);
            return error.empty() ? Collect(again) : Failed(error);
        }
        if (WIFSIGNALED(status)) return Failed("layout process ended by signal " + std::to_string(WTERMSIG(status)));
        return Failed("layout process failed (status " + std::to_string(WEXITSTATUS(status)) + ")");
    }

    void Keep(Worker& w) {
        if (idle_.size() >= kKeepIdle) {
            Stop(idle_.front());
            idle_.erase(idle_.begin());
        }
        idle_.push_back(w);
        w = Worker{};
    }

    std::vector<Job> ahead_;
    std::vector<Worker> idle_;
    std::vector<FontRequest> fontsForNext_;
    std::uint32_t modulesForNext_ = 0;
    std::unique_ptr<HtmlEngine> inner_;
    std::function<bool()> waitHook_;
};

}  // namespace

std::unique_ptr<HtmlEngine> CreateIsolatedEngine(std::unique_ptr<HtmlEngine> inner) {
    return std::make_unique<IsolatedEngine>(std::move(inner));
}

std::unique_ptr<HtmlEngine> CreateDefaultEngine() {
    auto engine = CreateIsolatedEngine(CreateLitehtmlEngine());
    engine->WarmUp();
    return engine;
}

// ---- the result on the wire

namespace {
constexpr std::uint32_t kMagic = 0x564D4C31;  // "VML1"

void PutRect(wire::Writer& w, const IntRect& r) { w.I32(r.left), w.I32(r.top), w.I32(r.right), w.I32(r.bottom); }
IntRect GetRect(wire::Reader& r) {
    IntRect x;
    x.left = r.I32(), x.top = r.I32(), x.right = r.I32(), x.bottom = r.I32();
    return x;
}
void PutRects(wire::Writer& w, const std::vector<IntRect>& v) {
    w.U32(static_cast<std::uint32_t>(v.size()));
    for (const auto& r : v) PutRect(w, r);
}
std::vector<IntRect> GetRects(wire::Reader& r) {
    std::vector<IntRect> v(r.Count(16));
    for (auto& x : v) x = GetRect(r);
    return v;
}
}  // namespace

void SerializeResult(const RenderResult& res, std::string& out) {
    wire::Writer w(out);
    w.U32(kMagic);
    w.Bool(res.documentAvailable), w.Bool(res.timedOut), w.Bool(res.crashed);
    w.U32(static_cast<std::uint32_t>(res.events.size()));
    for (const auto& e : res.events) w.Bool(e.error), w.Bool(e.topLevel), w.Str(e.url), w.I32(e.status);
    w.Str(res.finalUrl), w.Str(res.compatMode), w.Bool(res.frameset);
    w.I32(res.layoutWidth), w.I32(res.scrollWidth), w.I32(res.scrollHeight), w.I32(res.bodyScrollWidth);
    w.U32(static_cast<std::uint32_t>(res.elements.size()));
    for (const auto& e : res.elements) {
        w.Str(e.tag), w.Bool(e.breakBefore), w.Bool(e.breakAfter), w.Bool(e.containsTd);
        PutRects(w, e.rects);
    }
    w.U32(static_cast<std::uint32_t>(res.anchors.size()));
    for (const auto& a : res.anchors) {
        w.Str(a.href), w.Str(a.hrefAttr), w.Str(a.protocol), w.Str(a.name);
        PutRects(w, a.rects);
    }
    w.U32(static_cast<std::uint32_t>(res.warnings.size()));
    for (const auto& s : res.warnings) w.Str(s);
    // The drawing, the bulk of a long document's result, is written in place
    // (a length, then its bytes) rather than copied from a string of its own.
    const std::size_t at = out.size();
    w.U32(0);
    res.drawing.Serialize(out);
    const auto length = static_cast<std::uint32_t>(out.size() - at - sizeof(std::uint32_t));
    std::memcpy(out.data() + at, &length, sizeof length);
}

bool DeserializeResult(std::string_view bytes, RenderResult& res) {
    try {
        wire::Reader r(bytes);
        if (r.U32() != kMagic) return false;
        RenderResult x;
        x.documentAvailable = r.Bool(), x.timedOut = r.Bool(), x.crashed = r.Bool();
        x.events.resize(r.Count(10));
        for (auto& e : x.events) e.error = r.Bool(), e.topLevel = r.Bool(), e.url = r.Str(), e.status = r.I32();
        x.finalUrl = r.Str(), x.compatMode = r.Str(), x.frameset = r.Bool();
        x.layoutWidth = r.I32(), x.scrollWidth = r.I32(), x.scrollHeight = r.I32(), x.bodyScrollWidth = r.I32();
        x.elements.resize(r.Count(11));
        for (auto& e : x.elements) {
            e.tag = r.Str(), e.breakBefore = r.Bool(), e.breakAfter = r.Bool(), e.containsTd = r.Bool();
            e.rects = GetRects(r);
        }
        x.anchors.resize(r.Count(20));
        for (auto& a : x.anchors) {
            a.href = r.Str(), a.hrefAttr = r.Str(), a.protocol = r.Str(), a.name = r.Str();
            a.rects = GetRects(r);
        }
        x.warnings.resize(r.Count(4));
        for (auto& s : x.warnings) s = r.Str();
        auto drawing = DisplayList::Deserialize(r.View());
        if (!drawing || !r.AtEnd()) return false;
        x.drawing = std::move(*drawing);
        res = std::move(x);
        return true;
    } catch (const wire::Damaged&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace htmlengine
