// The layout process: results cross the pipe whole, and a layout that
// crashes, never ends or eats memory ends only its own render.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "fonts.h"
#include "htmlengine/engine.h"

namespace htmlengine {
namespace {

class FakeEngine : public HtmlEngine {
public:
    enum class Mode { Answer, Crash, Hang, Hog, Throw };
    explicit FakeEngine(Mode m) : mode_(m) {}
    RenderResult Render(const RenderRequest& req) override {
        switch (mode_) {
            case Mode::Crash: ::raise(SIGSEGV); break;
            case Mode::Hang: std::this_thread::sleep_for(std::chrono::seconds(60)); break;
            case Mode::Hog: {
                std::vector<std::vector<char>> blocks;
                for (;;) blocks.emplace_back(64u << 20, 'x');  // ends in bad_alloc at the data limit
            }
            case Mode::Throw: throw std::runtime_error("engine fault");
            case Mode::Answer: break;
        }
        RenderResult r;
        r.documentAvailable = true;
        r.layoutWidth = req.minimalWidth;
        r.events.push_back({false, true, req.address, 200});
        emf::TextRun t;
        t.text = u"from the child";
        r.drawing.DrawText(t, {});
        return r;
    }

private:
    Mode mode_;
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

#if !defined(__SANITIZE_ADDRESS__)
TEST(IsolatedEngine, MemoryHogHitsTheDataLimit) {
    auto r = RenderWith(FakeEngine::Mode::Hog, 20000, 20000);
    EXPECT_TRUE(r.crashed);
    EXPECT_FALSE(r.timedOut);
}
#endif

TEST(IsolatedEngine, FontsTheLayoutProcessSetUpAreReadyForTheNextOne) {
    auto engine = CreateDefaultEngine();  // warms this process's fonts up
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = "<p style='font-family:serif;font-size:37px;font-weight:bold'>made in the child</p>";
    req.timeoutMs = 20000;
    auto r = engine->Render(req);
    ASSERT_FALSE(r.crashed);
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
