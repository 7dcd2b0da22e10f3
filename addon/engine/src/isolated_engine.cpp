// Runs an engine in a child process. The child gets the load's deadline, a
// data-size limit and a large stack; it writes its result to a pipe and
// exits. The parent reads until the deadline plus the layout grace and then
// stops the child, so a document that never finishes laying out, or that
// would crash the layout, ends its own load and nothing else.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "fonts.h"
#include "htmlengine/engine.h"
#include "optional_modules.h"
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

struct ChildJob {
    HtmlEngine* engine;
    const RenderRequest* request;
    std::string out;
};

// After the result, the child names the fonts it had to set up and the
// modules it opened, so that the parent sets them up once for every later
// child:
//   result | requests, u32 module mask | u32 length of the trailer | u32 kFontsMagic
constexpr std::uint32_t kFontsMagic = 0x564D4632;  // "VMF2"

struct Inherited {
    std::vector<FontRequest> fonts;
    std::uint32_t modules = 0;
};

void AppendTrailer(std::string& out) {
    FontManager* fonts = SharedFontsIfMade();
    const std::vector<FontRequest> requests = fonts ? fonts->TakeNewRequests() : std::vector<FontRequest>{};
    std::string trailer;
    wire::Writer w(trailer);
    w.U32(static_cast<std::uint32_t>(requests.size()));
    for (const FontRequest& r : requests) w.Str(r.familyList), w.I32(r.pixelSize), w.I32(r.weight), w.Bool(r.italic);
    w.U32(OpenedModules());
    out += trailer;
    wire::Writer tail(out);
    tail.U32(static_cast<std::uint32_t>(trailer.size()));
    tail.U32(kFontsMagic);
}

// Splits the child's output into the result and the trailer after it. Output
// without the trailer is all result; a damaged trailer names nothing.
std::string_view SplitTrailer(std::string_view data, Inherited& inherited) {
    if (data.size() < 8) return data;
    wire::Reader tail(data.substr(data.size() - 8));
    const std::uint32_t length = tail.U32();
    if (tail.U32() != kFontsMagic || length > data.size() - 8) return data;
    const std::string_view trailer = data.substr(data.size() - 8 - length, length);
    try {
        wire::Reader r(trailer);
        std::vector<FontRequest> got(r.Count(13));
        for (FontRequest& f : got) f.familyList = r.Str(), f.pixelSize = r.I32(), f.weight = r.I32(), f.italic = r.Bool();
        const std::uint32_t modules = r.U32();
        if (r.AtEnd()) inherited.fonts = std::move(got), inherited.modules = modules;
    } catch (const wire::Damaged&) {
    }
    return data.substr(0, data.size() - 8 - length);
}

void* RunChild(void* p) {
    auto* job = static_cast<ChildJob*>(p);
    try {
        // The process ends after this: what the render made is left to its end.
        RenderRequest request = *job->request;
        request.processEndsAfterRender = true;
        static RenderResult* result = nullptr;  // reachable, for leak checkers
        result = new RenderResult(job->engine->Render(request));
        SerializeResult(*result, job->out);
        AppendTrailer(job->out);
    } catch (...) {
        job->out.clear();
    }
    return nullptr;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

[[noreturn]] void ChildMain(int fd, HtmlEngine& engine, const RenderRequest& req) {
    signal(SIGPIPE, SIG_IGN);
    struct rlimit core {0, 0};
    setrlimit(RLIMIT_CORE, &core);
#ifndef VM_ASAN
    if (req.memoryLimitBytes > 0) {
        struct rlimit data {req.memoryLimitBytes + kChildStack, req.memoryLimitBytes + kChildStack};
        setrlimit(RLIMIT_DATA, &data);
    }
#endif
    // The layout thread allocates from the heap the process already has
    // (rather than from a fresh arena grown page by page with mprotect), in
    // large steps: the process ends after one layout, nothing is given back.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TOP_PAD, 8 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    ChildJob job{&engine, &req, {}};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kChildStack);
    pthread_t th;
    if (pthread_create(&th, &attr, RunChild, &job) == 0) pthread_join(th, nullptr);
    else RunChild(&job);
    int code = job.out.empty() ? 3 : (WriteAll(fd, job.out) ? 0 : 4);
    ::close(fd);
    _exit(code);
}

class IsolatedEngine final : public HtmlEngine {
public:
    explicit IsolatedEngine(std::unique_ptr<HtmlEngine> inner) : inner_(std::move(inner)) {}
    // Warming up here, in the caller's process, saves every layout process
    // from reading the font configuration again.
    void WarmUp() override { inner_->WarmUp(); }

    ~IsolatedEngine() override {
        for (Child& c : ahead_) Abandon(c);
    }

    // Lays out the announced document in a process of its own right away;
    // the Render that asks for it reads that process's answer. Two documents
    // are kept ahead (the one about to be asked for and the next): an older
    // announcement still waiting is abandoned.
    void Prefetch(const RenderRequest& req) override {
        for (const Child& c : ahead_)
            if (c.request == req) return;
        if (ahead_.size() >= kAhead) {
            Abandon(ahead_.front());
            ahead_.erase(ahead_.begin());
        }
        Child c;
        c.request = req;
        if (Start(c).empty()) ahead_.push_back(std::move(c));
    }

    RenderResult Render(const RenderRequest& req) override {
        Child child;
        auto found = std::find_if(ahead_.begin(), ahead_.end(), [&](const Child& c) { return c.request == req; });
        if (found != ahead_.end()) {
            child = std::move(*found);
            ahead_.erase(found);
            // It may have waited on a full pipe while the caller was busy: its
            // answer is read now, with the time it had left or a moment more.
            child.deadline = std::max(child.deadline, Clock::now() + std::chrono::milliseconds(1000));
        } else {
            child.request = req;
            if (std::string error = Start(child); !error.empty()) {
                RenderResult failed;
                failed.crashed = true;
                failed.warnings.push_back(error);
                return failed;
            }
        }
        return Collect(child);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kAhead = 2;

    struct Child {
        RenderRequest request;
        pid_t pid = -1;
        int fd = -1;  // read end of the result pipe
        Clock::time_point deadline;
    };

    // Forks the layout process; an error text when that fails.
    std::string Start(Child& c) {
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
        if (pipe2(fds, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
        auto start = Clock::now();
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
            ChildMain(fds[1], *inner_, c.request);
        }
        ::close(fds[1]);
        c.pid = pid;
        c.fd = fds[0];
        c.deadline = start + std::chrono::milliseconds(std::max(0, c.request.timeoutMs)) +
                     std::chrono::milliseconds(std::max(0, c.request.layoutGraceMs));
        return {};
    }

    static void Abandon(Child& c) {
        if (c.pid <= 0) return;
        ::close(c.fd);
        ::kill(c.pid, SIGKILL);
        while (::waitpid(c.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        c.pid = -1;
    }

    // Reads the process's answer until its deadline, then reaps it.
    RenderResult Collect(Child& c) {
        RenderResult failed;
        failed.crashed = true;
        std::string data;
        bool stopped = false, tooLarge = false;
        char buf[65536];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - Clock::now()).count();
            if (left <= 0) {
                stopped = true;
                break;
            }
            pollfd p{c.fd, POLLIN, 0};
            int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
            if (rc < 0 && errno == EINTR) continue;
            if (rc < 0) break;
            if (rc == 0) continue;
            ssize_t n = ::read(c.fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (data.size() + static_cast<std::size_t>(n) > kMaxResultBytes) {
                tooLarge = true;
                break;
            }
            data.append(buf, static_cast<std::size_t>(n));
        }
        ::close(c.fd);
        if (stopped || tooLarge) ::kill(c.pid, SIGKILL);
        int status = 0;
        while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
        }
        c.pid = -1;
        bool clean = !stopped && !tooLarge && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        RenderResult result;
        Inherited inherited;
        if (clean && DeserializeResult(SplitTrailer(data, inherited), result)) {
            // Set up before the next fork, a font or module costs the later layouts nothing.
            fontsForNext_.insert(fontsForNext_.end(), inherited.fonts.begin(), inherited.fonts.end());
            modulesForNext_ |= inherited.modules;
            return result;
        }
        failed.timedOut = stopped;
        if (stopped) failed.warnings.push_back("layout process stopped at the time-out");
        else if (tooLarge) failed.warnings.push_back("layout result too large");
        else if (WIFSIGNALED(status))
            failed.warnings.push_back("layout process ended by signal " + std::to_string(WTERMSIG(status)));
        else failed.warnings.push_back("layout process failed (status " + std::to_string(WEXITSTATUS(status)) + ")");
        return failed;
    }

    std::vector<Child> ahead_;
    std::vector<FontRequest> fontsForNext_;
    std::uint32_t modulesForNext_ = 0;
    std::unique_ptr<HtmlEngine> inner_;
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
    std::string drawing;
    res.drawing.Serialize(drawing);
    w.Str(drawing);
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
