// The layout process: results cross the pipe whole, and a layout that
// crashes, never ends or eats memory ends only its own render.
#include <gtest/gtest.h>
#include <algorithm>
#include <signal.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fonts.h"
#include "htmlengine/engine.h"

namespace htmlengine {
namespace {

class FakeEngine : public HtmlEngine {
public:
    // ByAddress: "crash", "hang" or "throw" in the address picks the fault.
    // Leak keeps 100 MB (never touched) from every render. Spill draws a
    // long drawing that goes to its spill file.
    enum class Mode { Answer, Crash, Hang, Hog, Throw, ByAddress, Leak, Spill };
    explicit FakeEngine(Mode m, std::string journal = {}) : mode_(m), journal_(std::move(journal)) {}
    RenderResult Render(const RenderRequest& req) override {
        if (!journal_.empty()) {  // one line per layout, written as it starts
            std::ofstream(journal_, std::ios::app) << req.address << ' ' << req.minimalWidth << '\n';
        }
        Mode mode = mode_;
        if (mode == Mode::ByAddress) {
            mode = req.address.find("crash") != std::string::npos   ? Mode::Crash
                   : req.address.find("hang") != std::string::npos  ? Mode::Hang
                   : req.address.find("throw") != std::string::npos ? Mode::Throw
                                                                    : Mode::Answer;
        }
        switch (mode) {
            case Mode::Crash: ::raise(SIGSEGV); break;
            case Mode::Hang: std::this_thread::sleep_for(std::chrono::seconds(60)); break;
            case Mode::Hog: {
                std::vector<std::vector<char>> blocks;
                for (;;) blocks.emplace_back(64u << 20, 'x');  // ends in bad_alloc at the data limit
            }
            case Mode::Throw: throw std::runtime_error("engine fault");
            case Mode::Leak: {
                static std::vector<std::unique_ptr<char[]>> kept;
                kept.emplace_back(new char[100u << 20]);
                break;
            }
            case Mode::Answer:
            case Mode::ByAddress:
            case Mode::Spill: break;
        }
        RenderResult r;
        if (mode == Mode::Spill) {
            r.drawing.SetSpillThreshold(100);
            emf::TextRun line;
            for (int i = 0; i < 1000; ++i) {
                line.text = u"line " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
                r.drawing.DrawText(line, {});
            }
        }
        r.documentAvailable = true;
        r.finalUrl = std::to_string(::getpid());  // which layout process answered
        r.layoutWidth = req.minimalWidth;
        r.events.push_back({false, true, req.address, 200});
        emf::TextRun t;
        t.text = u"from the child";
        r.drawing.DrawText(t, {});
        return r;
    }

private:
    Mode mode_;
    std::string journal_;
};

RenderResult RenderWith(FakeEngine::Mode m, int timeoutMs = 2000, int graceMs = 1000) {
    RenderRequest req;
    req.address = "file:///x.html";
    req.minimalWidth = 640;
    req.timeoutMs = timeoutMs;
    req.layoutGraceMs = graceMs;
    req.memoryLimitBytes = 256u << 20;
    return CreateIsolatedEngine(std::make_unique<FakeEngine>(m))->Render(req);
}

TEST(IsolatedEngine, ResultComesBackWhole) {
    auto r = RenderWith(FakeEngine::Mode::Answer);
    EXPECT_FALSE(r.crashed);
    EXPECT_TRUE(r.documentAvailable);
    EXPECT_EQ(r.layoutWidth, 640);
    ASSERT_EQ(r.drawing.TextRuns().size(), 1u);
    EXPECT_EQ(r.drawing.TextRuns()[0]->text, u"from the child");
}

// A drawing the layout process kept on disk comes over as its file, whole;
// the process ends after such a long document rather than wait with its heap.
TEST(IsolatedEngine, SpilledDrawingComesOverAsItsFile) {
    RenderRequest req;
    req.address = "file:///x.html";
    req.memoryLimitBytes = 256u << 20;
    auto engine = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::Spill));
    const RenderResult r = engine->Render(req);
    ASSERT_FALSE(r.crashed) << (r.warnings.empty() ? "" : r.warnings[0]);
    EXPECT_EQ(r.drawing.CallCount(), 1001u);
    EXPECT_EQ(r.drawing.TextRunCount(), 1001u);
    ASSERT_GE(r.drawing.SpillFd(), 0);
    struct Texts : emf::Device {
        std::vector<std::u16string> seen;
        void DrawText(const emf::TextRun& t, const emf::Matrix&) override { seen.push_back(t.text); }
    } texts;
    r.drawing.Replay(texts);
    ASSERT_EQ(texts.seen.size(), 1001u);
    EXPECT_EQ(texts.seen[27], u"line b");
    EXPECT_EQ(texts.seen.back(), u"from the child");
    const RenderResult again = engine->Render(req);
    ASSERT_FALSE(again.crashed);
    EXPECT_NE(again.finalUrl, r.finalUrl);
}

TEST(IsolatedEngine, FailuresOfTheLayoutEndOnlyItsRender) {
    for (auto m : {FakeEngine::Mode::Crash, FakeEngine::Mode::Throw}) {
        auto r = RenderWith(m);
        EXPECT_TRUE(r.crashed);
        EXPECT_FALSE(r.timedOut);
        EXPECT_FALSE(r.documentAvailable);
        EXPECT_FALSE(r.warnings.empty());
    }
}

TEST(IsolatedEngine, LayoutThatNeverEndsIsStoppedAtTheBound) {
    auto r = RenderWith(FakeEngine::Mode::Hang, 200, 300);
    EXPECT_TRUE(r.crashed);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.documentAvailable);
}

// The caller's hook runs while the layout is awaited; a false answer ends
// the layout process and fails the render at once, long before its bound.
TEST(IsolatedEngine, WaitHookIsCalledAndCanAbandonTheRender) {
    auto engine = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::Hang));
    RenderRequest req;
    req.address = "file:///x.html";
    req.timeoutMs = 60000;
    req.memoryLimitBytes = 256u << 20;
    int calls = 0;
    engine->SetWaitHook([&] { return ++calls < 5; });
    auto r = engine->Render(req);
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(r.crashed);
    EXPECT_FALSE(r.timedOut);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_EQ(r.warnings.back(), "layout abandoned by the caller");

    // With a hook that lets it go on, a render answers as without one.
    auto answering = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::Answer));
    calls = 0;
    answering->SetWaitHook([&] { return ++calls > 0; });
    auto ok = answering->Render(req);
    EXPECT_FALSE(ok.crashed);
    EXPECT_GE(calls, 1);
    ASSERT_EQ(ok.drawing.TextRuns().size(), 1u);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(IsolatedEngine, MemoryHogHitsTheDataLimit) {
    auto r = RenderWith(FakeEngine::Mode::Hog, 20000, 20000);
    EXPECT_TRUE(r.crashed);
    EXPECT_FALSE(r.timedOut);
}
#endif

std::vector<std::string> JournalLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(IsolatedEngine, AnnouncedLayoutsStartAtOnceAndAnswerTheirOwnRenderOnly) {
    char dir[] = "/tmp/vm_ahead_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string journal = std::string(dir) + "/journal";
    auto request = [](const char* address, int width) {
        RenderRequest req;
        req.address = address;
        req.minimalWidth = width;
        req.timeoutMs = 20000;
        req.memoryLimitBytes = 256u << 20;
        return req;
    };
    {
        auto engine = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::Answer, journal));
        const RenderRequest a = request("file:///a.html", 640), b = request("file:///b.html", 640);
        engine->Prefetch(a);
        engine->Prefetch(a);  // the same announcement twice lays out once
        // The layout starts without waiting for its Render.
        for (int i = 0; i < 500 && JournalLines(journal).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(JournalLines(journal), std::vector<std::string>{"file:///a.html 640"});

        // Another document, or the same one at another width, is laid out for
        // its own Render; the announced one still answers its own.
        engine->Prefetch(b);
        auto wider = engine->Render(request("file:///a.html", 900));
        EXPECT_EQ(wider.layoutWidth, 900);
        auto ra = engine->Render(a);
        auto rb = engine->Render(b);
        ASSERT_FALSE(ra.crashed);
        ASSERT_FALSE(rb.crashed);
        EXPECT_EQ(ra.events.at(0).url, "file:///a.html");
        EXPECT_EQ(rb.events.at(0).url, "file:///b.html");
        auto lines = JournalLines(journal);
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{"file:///a.html 640", "file:///a.html 900", "file:///b.html 640"}));

        // Announcements never asked for are abandoned with the engine.
        for (const char* address : {"file:///c.html", "file:///d.html", "file:///e.html"})
            engine->Prefetch(request(address, 640));
    }
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a layout process outlived its engine";
    EXPECT_EQ(errno, ECHILD);

    // A layout that crashes ends its render the same way, announced or not.
    auto crashing = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::Crash));
    const RenderRequest c = request("file:///c.html", 640);
    crashing->Prefetch(c);
    auto rc = crashing->Render(c);
    EXPECT_TRUE(rc.crashed);
    EXPECT_FALSE(rc.timedOut);
    EXPECT_FALSE(rc.warnings.empty());
    std::system((std::string("rm -rf ") + dir).c_str());
}

bool IsZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

TEST(IsolatedEngine, OneLayoutProcessServesDocumentsUntilOneFails) {
    {
        auto engine = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::ByAddress));
        auto render = [&](const char* address, int timeoutMs = 20000) {
            RenderRequest req;
            req.address = address;
            req.timeoutMs = timeoutMs;
            req.layoutGraceMs = 200;
            req.memoryLimitBytes = 256u << 20;
            return engine->Render(req);
        };
        auto a = render("file:///a.html"), b = render("file:///b.html");
        ASSERT_FALSE(a.crashed);
        ASSERT_FALSE(b.crashed);
        EXPECT_EQ(a.finalUrl, b.finalUrl) << "each document got a process of its own";

        // Each failure ends its own render and its process; the next document
        // gets a new process.
        auto crash = render("file:///crash.html");
        EXPECT_TRUE(crash.crashed);
        EXPECT_EQ(crash.warnings, std::vector<std::string>{"layout process ended by signal 11"});
        auto c = render("file:///c.html");
        ASSERT_FALSE(c.crashed);
        EXPECT_NE(c.finalUrl, a.finalUrl);
        auto thrown = render("file:///throw.html");
        EXPECT_EQ(thrown.warnings, std::vector<std::string>{"layout process failed (status 3)"});
        auto hang = render("file:///hang.html", 100);
        EXPECT_TRUE(hang.timedOut);
        EXPECT_EQ(hang.warnings, std::vector<std::string>{"layout process stopped at the time-out"});
        auto d = render("file:///d.html");
        ASSERT_FALSE(d.crashed);

        // A process killed from outside while it waits is replaced, and the
        // document sent next is not taken for a crash.
        const pid_t idle = std::stoi(d.finalUrl);
        ASSERT_EQ(::kill(idle, SIGKILL), 0);
        for (int i = 0; i < 500 && !IsZombie(idle); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        auto e = render("file:///e.html");
        ASSERT_FALSE(e.crashed) << (e.warnings.empty() ? "" : e.warnings[0]);
        EXPECT_NE(e.finalUrl, d.finalUrl);
    }
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a layout process outlived its engine";
    EXPECT_EQ(errno, ECHILD);
}

TEST(IsolatedEngine, LayoutProcessWhoseHeapKeepsGrowingIsRetired) {
    auto engine = CreateIsolatedEngine(std::make_unique<FakeEngine>(FakeEngine::Mode::Leak));
    std::vector<std::string> pids;
    for (int i = 0; i < 5; ++i) {
        RenderRequest req;
        req.address = "file:///" + std::to_string(i) + ".html";
        req.timeoutMs = 20000;
        req.memoryLimitBytes = std::size_t(4) << 30;
        auto r = engine->Render(req);
        ASSERT_FALSE(r.crashed) << i;
        pids.push_back(r.finalUrl);
    }
    // Grown by 300 MB after the third document, the process answers one more
    // and ends; the fifth document gets a new one.
    EXPECT_EQ(pids[0], pids[3]);
    EXPECT_NE(pids[3], pids[4]);
}

TEST(IsolatedEngine, FontsTheLayoutProcessSetUpAreReadyForTheNextOne) {
    auto engine = CreateDefaultEngine();  // warms this process's fonts up
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = "<p style='font-family:serif;font-size:37px;font-weight:bold'>made in the child</p>";
    req.timeoutMs = 20000;
    auto r = engine->Render(req);
    ASSERT_FALSE(r.crashed);
    // The next layout process (another memory limit needs one) starts with
    // them, set up before its fork.
    RenderRequest next;
    next.kind = RenderRequest::Kind::String;
    next.html = "<p>next</p>";
    next.timeoutMs = 20000;
    next.memoryLimitBytes = req.memoryLimitBytes / 2;
    ASSERT_FALSE(engine->Render(next).crashed);
    FontManager& fonts = SharedFonts();
    std::lock_guard<std::mutex> lock(SharedFontsLock());
    fonts.TakeNewRequests();
    Font* seen = fonts.Create("serif", 37, 700, false, 0);
    EXPECT_TRUE(fonts.TakeNewRequests().empty());  // the child's font is here already
    Font* unseen = fonts.Create("serif", 41, 700, false, 0);
    EXPECT_EQ(fonts.TakeNewRequests().size(), 1u);
    fonts.Release(seen);
    fonts.Release(unseen);
}

}  // namespace
}  // namespace htmlengine
