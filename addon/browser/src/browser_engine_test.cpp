#include "browser/browser_engine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "emf/device.h"

namespace browser {
namespace {

using htmlengine::RenderRequest;
using htmlengine::RenderResult;

const std::string kFixtures = VM_BROWSER_FIXTURES;

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Text runs with their origins in document pixels.
class TextDevice final : public emf::Device {
public:
    struct Run {
        std::string text;
        emf::Point origin;
    };
    std::vector<Run> runs;
    void DrawText(const emf::TextRun& t, const emf::Matrix& ctm) override {
        runs.push_back({Utf8(t.text), ctm.Apply(t.origin)});
    }
};

std::vector<TextDevice::Run> Runs(const RenderResult& r) {
    TextDevice d;
    r.drawing.Replay(d);
    return d.runs;
}

// The text of the drawing in drawing order, and where a piece of text lies.
std::string AllText(const RenderResult& r) {
    std::string all;
    for (const auto& t : Runs(r)) all += t.text + " ";
    return all;
}
std::optional<emf::Point> TextAt(const RenderResult& r, const std::string& text) {
    for (const auto& t : Runs(r))
        if (t.text.find(text) != std::string::npos) return t.origin;
    return std::nullopt;
}

const htmlengine::AnchorFacts* Anchor(const RenderResult& r, const std::string& name) {
    for (const auto& a : r.anchors)
        if (a.name == name) return &a;
    return nullptr;
}

class BrowserEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindBrowser().empty()) GTEST_SKIP() << "no browser installed";
    }
    static RenderRequest FileRequest(const std::string& name) {
        RenderRequest r;
        r.address = "file://" + kFixtures + "/" + name;
        r.minimalWidth = 800;
        r.timeoutMs = 20000;
        return r;
    }
};

TEST(PrintPlan, TallDocumentsArePrintedSmallerThenStacked) {
    EXPECT_EQ(PlanPrint(5000).scale, 1);
    EXPECT_EQ(PlanPrint(5000).pages, 1);
    EXPECT_EQ(PlanPrint(75840).scale, 1);
    auto mid = PlanPrint(151680);
    EXPECT_DOUBLE_EQ(mid.scale, 0.5);
    EXPECT_EQ(mid.pages, 1);
    EXPECT_EQ(mid.pageCss, 151680);
    auto huge = PlanPrint(2000000);
    EXPECT_DOUBLE_EQ(huge.scale, 0.1);
    EXPECT_EQ(huge.pageCss, 758400);
    EXPECT_EQ(huge.pages, 3);
}

// Flex header, grid columns and custom properties come out as a browser
// lays them out, with the facts read from the same layout.
TEST_F(BrowserEngineTest, ModernPageIsDrawnWithItsFacts) {
    auto engine = CreateBrowserEngine();
    RenderResult r = engine->Render(FileRequest("modern.html"));
    ASSERT_TRUE(r.documentAvailable) << (r.warnings.empty() ? "" : r.warnings.front());
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.compatMode, "CSS1Compat");
    EXPECT_EQ(r.layoutWidth, 800);

    // The header's two ends on one line, at the page's two sides.
    auto title = TextAt(r, "Header title");
    auto right = TextAt(r, "Right side");
    ASSERT_TRUE(title && right) << AllText(r);
    EXPECT_NEAR(title->y, right->y, 1.0);
    EXPECT_GT(right->x, 600);
    // The grid puts the text column beside the navigation.
    auto alpha = TextAt(r, "Alpha");
    ASSERT_TRUE(alpha);
    EXPECT_GT(alpha->x, 200);
    // Text in reading order.
    std::string all = AllText(r);
    EXPECT_LT(all.find("Alpha"), all.find("Beta"));
    EXPECT_LT(all.find("Beta"), all.find("Gamma"));

    // The id target, the named anchor placed at what follows it, the link.
    const auto* second = Anchor(r, "second");
    const auto* tail = Anchor(r, "tail");
    ASSERT_TRUE(second && tail);
    ASSERT_FALSE(second->rects.empty());
    ASSERT_FALSE(tail->rects.empty());
    EXPECT_GT(tail->rects.front().top, second->rects.front().top);
    auto link = std::find_if(r.anchors.begin(), r.anchors.end(), [](const auto& a) { return a.hrefAttr == "#second"; });
    ASSERT_NE(link, r.anchors.end());
    EXPECT_EQ(link->href, "file://" + kFixtures + "/modern.html#second");
    EXPECT_EQ(link->protocol, "file:");
    // The heading's computed break, at the heading's top, where its text is.
    auto h2 = std::find_if(r.elements.begin(), r.elements.end(), [](const auto& e) { return e.breakBefore; });
    ASSERT_NE(h2, r.elements.end());
    EXPECT_EQ(h2->tag, "H2");
    EXPECT_EQ(h2->rects.front().top, second->rects.front().top);
    auto secondText = TextAt(r, "Second section");
    ASSERT_TRUE(secondText);
    EXPECT_GT(secondText->y, h2->rects.front().top);
    EXPECT_LT(secondText->y, h2->rects.front().bottom);
}

// A document taller than the printer's largest page is printed smaller and
// scaled back: what lies at its bottom is drawn where its facts say.
TEST_F(BrowserEngineTest, TallDocumentKeepsItsPositions) {
    auto engine = CreateBrowserEngine();
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = "<body style='margin:0'><div style='height:100000px'>Top line</div>"
               "<p id='end' style='margin:0;font:20px sans-serif'>Bottom line</p></body>";
    req.timeoutMs = 20000;
    RenderResult r = engine->Render(req);
    ASSERT_TRUE(r.documentAvailable);
    const auto* end = Anchor(r, "end");
    auto bottom = TextAt(r, "Bottom line");
    ASSERT_TRUE(end && bottom) << AllText(r) << (r.warnings.empty() ? "" : r.warnings.back());
    EXPECT_EQ(end->rects.front().top, 100000);
    EXPECT_NEAR(bottom->y, 100000 + 18, 6);
}

// A page that calls out, asks for a dialog and never ends its script: no
// request leaves the machine, the load is cut at its time-out and drawn as
// far as it came; the next document is drawn as usual.
TEST_F(BrowserEngineTest, HostilePageIsCutOffAndKeptOffTheNetwork) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string port = std::to_string(ntohs(addr.sin_port));

    auto engine = CreateBrowserEngine();
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = "<html><body><img src='http://127.0.0.1:" + port + "/a.png'>"
               "<iframe src='http://127.0.0.1:" + port + "/frame'></iframe><p>Before the loop.</p><script>"
               "fetch('http://127.0.0.1:" + port + "/b');alert('x');"
               "setTimeout(function(){for(;;){}}, 50);</script><img src='slow.png'></body></html>";
    req.timeoutMs = 3000;
    RenderResult r = engine->Render(req);
    EXPECT_TRUE(r.documentAvailable);
    EXPECT_NE(AllText(r).find("Before the loop."), std::string::npos);
    pollfd p{listener, POLLIN, 0};
    std::string got;
    if (::poll(&p, 1, 200) > 0) {
        got = "a connection";
        if (int c = ::accept(listener, nullptr, nullptr); c >= 0) ::close(c);
    }
    EXPECT_EQ(got, "") << "the page reached the network";
    ::close(listener);

    RenderResult next = engine->Render(FileRequest("classic.html"));
    EXPECT_TRUE(next.documentAvailable);
    EXPECT_NE(AllText(next).find("Classic text."), std::string::npos);
}

// A script that loops from the start holds the load until its time-out.
TEST_F(BrowserEngineTest, EndlessScriptEndsAtTheTimeOut) {
    auto engine = CreateBrowserEngine();
    RenderRequest req = FileRequest("hostile.html");
    req.timeoutMs = 2000;
    RenderResult r = engine->Render(req);
    EXPECT_TRUE(r.timedOut);
    EXPECT_TRUE(r.documentAvailable);
    EXPECT_NE(AllText(r).find("Before the loop."), std::string::npos);
}

// A tab that crashes fails its own load; a browser that cannot start fails
// every load with a clear line; a missing file is a failed top frame.
TEST_F(BrowserEngineTest, CrashesAndMissingFilesFailTheirLoadOnly) {
    auto engine = CreateBrowserEngine();
    RenderRequest crash;
    crash.address = "chrome://crash";
    crash.timeoutMs = 10000;
    RenderResult r = engine->Render(crash);
    EXPECT_FALSE(r.documentAvailable);

    RenderResult missing = engine->Render(FileRequest("no-such-file.html"));
    EXPECT_FALSE(missing.documentAvailable);
    ASSERT_FALSE(missing.events.empty());
    EXPECT_TRUE(missing.events.front().error);

    EXPECT_TRUE(engine->Render(FileRequest("classic.html")).documentAvailable);

    BrowserOptions broken;
    broken.program = "/bin/false";
    RenderResult none = CreateBrowserEngine(broken)->Render(FileRequest("classic.html"));
    EXPECT_TRUE(none.crashed);
    ASSERT_FALSE(none.warnings.empty());
    EXPECT_NE(none.warnings.front().find("the browser did not start"), std::string::npos);
}

}  // namespace
}  // namespace browser
