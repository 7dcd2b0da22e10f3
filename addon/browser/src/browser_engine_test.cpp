#include "browser/browser_engine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "emf/device.h"
#include "platform/paths.h"

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
    EXPECT_EQ(PlanPrint(5000).scale, 0.5);
    EXPECT_EQ(PlanPrint(5000).pages, 1);
    EXPECT_EQ(PlanPrint(151680).scale, 0.5);
    auto mid = PlanPrint(303360);
    EXPECT_DOUBLE_EQ(mid.scale, 0.25);
    EXPECT_EQ(mid.pages, 1);
    EXPECT_EQ(mid.pageCss, 303360);
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

// The document's last line ends where the printed paper ends, rounded by
// the printer: it is drawn all the same, whatever the height.
TEST_F(BrowserEngineTest, LastLineIsDrawnAtAnyHeight) {
    auto engine = CreateBrowserEngine();
    for (auto [width, height] : {std::pair{700, 5000}, {800, 16300}, {800, 30000}}) {
        RenderRequest req;
        req.kind = RenderRequest::Kind::String;
        req.html = "<body style='margin:0'><h1>Top line</h1><div style='height:" + std::to_string(height) +
                   "px'></div><a href='#'>Last line</a></body>";
        req.minimalWidth = width;
        req.timeoutMs = 20000;
        RenderResult r = engine->Render(req);
        EXPECT_NE(AllText(r).find("Last line"), std::string::npos) << width << " x " << height << ": " << AllText(r);
    }
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


// ---- Documents announced ahead

// The layout a result describes, without the drawing's own records.
std::string Described(const RenderResult& r) {
    std::string s = AllText(r) + "|" + std::to_string(r.layoutWidth) + "x" + std::to_string(r.scrollHeight);
    auto rects = [&](const std::vector<htmlengine::IntRect>& v) {
        for (const auto& x : v)
            s += "[" + std::to_string(x.left) + "," + std::to_string(x.top) + "," + std::to_string(x.right) + "," +
                 std::to_string(x.bottom) + "]";
    };
    for (const auto& e : r.elements) {
        s += "|" + e.tag + (e.breakBefore ? "^" : "") + (e.breakAfter ? "v" : "");
        rects(e.rects);
    }
    for (const auto& a : r.anchors) {
        s += "|" + a.name + ">" + a.href;
        rects(a.rects);
    }
    return s;
}

// Our children: the browser once it runs the browser's program (not while
// it is still a copy of us), and whatever else we left running.
std::vector<pid_t> Children(bool browsersOnly) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    std::vector<pid_t> found;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(e.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        auto close = line.rfind(')');
        char state = 0;
        int ppid = 0;
        if (close == std::string::npos || std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) != 2 ||
            ppid != ::getpid())
            continue;
        std::error_code ec;
        auto exe = std::filesystem::read_symlink(e.path() / "exe", ec);
        if (!browsersOnly || (!ec && exe != self)) found.push_back(std::stoi(e.path().filename().string()));
    }
    return found;
}

// The browser the engine started, waited for as it starts; -1 when none came.
pid_t BrowserChild() {
    for (int tries = 0; tries < 3000; ++tries) {
        if (auto b = Children(true); !b.empty()) return b.front();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// Runs each test with a temporary folder of its own, where the browsers
// keep their profiles and the test its files.
class BrowserAheadTest : public BrowserEngineTest {
protected:
    void SetUp() override {
        BrowserEngineTest::SetUp();
        if (IsSkipped()) return;
        folder_ = platform::MakeTempFolder("", "browser-ahead-");
        ASSERT_FALSE(folder_.empty());
        if (const char* t = std::getenv("TMPDIR")) saved_ = t;
        ::setenv("TMPDIR", folder_.c_str(), 1);
    }
    void TearDown() override {
        if (folder_.empty()) return;
        if (saved_) ::setenv("TMPDIR", saved_->c_str(), 1);
        else ::unsetenv("TMPDIR");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    // What is left in the folder but the test's own files.
    std::vector<std::string> LeftBehind() const {
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(folder_))
            if (!e.path().filename().string().starts_with("doc")) left.push_back(e.path().filename().string());
        return left;
    }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }
    std::string folder_;
    std::optional<std::string> saved_;
};

// An announced document comes out as it does without the announcement,
// also when it is asked for before its work ahead is done; a document
// announced and then asked for with other settings, or changed on disk
// meanwhile, is loaded again as it is now.
TEST_F(BrowserAheadTest, AnnouncedDocumentsAreDrawnAsWithoutAnnouncement) {
    const std::string plainModern = Described(CreateBrowserEngine()->Render(FileRequest("modern.html")));
    RenderRequest narrow = FileRequest("classic.html");
    narrow.minimalWidth = 640;
    const std::string plainNarrow = Described(CreateBrowserEngine()->Render(narrow));
    ASSERT_NE(plainModern.find("Alpha"), std::string::npos) << plainModern;

    auto engine = CreateBrowserEngine();
    engine->Prefetch(FileRequest("modern.html"));
    engine->Prefetch(FileRequest("classic.html"));
    EXPECT_EQ(Described(engine->Render(FileRequest("modern.html"))), plainModern);
    RenderResult other = engine->Render(narrow);  // announced at 800 pixels
    EXPECT_EQ(other.layoutWidth, 640);
    EXPECT_EQ(Described(other), plainNarrow);
    // Announced twice, asked for once.
    engine->Prefetch(FileRequest("modern.html"));
    engine->Prefetch(FileRequest("modern.html"));
    EXPECT_EQ(Described(engine->Render(FileRequest("modern.html"))), plainModern);

    RenderRequest changing;
    changing.address = "file://" + Write("doc.html", "<p>First version.</p>");
    engine->Prefetch(changing);
    // Loaded ahead (as a rule) while this one is converted, then changed.
    EXPECT_TRUE(engine->Render(FileRequest("classic.html")).documentAvailable);
    Write("doc.html", "<p>Second, longer version.</p>");
    const std::string now = AllText(engine->Render(changing));
    EXPECT_NE(now.find("Second"), std::string::npos) << now;
}

// A document announced and never asked for costs its own work only: the
// engine's end takes its tab and print along, and the browser with its
// profile and processes.
TEST_F(BrowserAheadTest, AnnouncedAndNeverLoadedLeavesNothingBehind) {
    {
        auto engine = CreateBrowserEngine();
        engine->Prefetch(FileRequest("modern.html"));
        engine->Prefetch(FileRequest("classic.html"));
        engine->Prefetch(FileRequest("hostile.html"));  // past the two ahead: waits its turn
        RenderRequest str;
        str.kind = RenderRequest::Kind::String;
        str.html = "<p>A string.</p>";
        EXPECT_NE(AllText(engine->Render(str)).find("string"), std::string::npos);
    }
    EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
    // No process of ours is left either.
    EXPECT_EQ(Children(false).size(), 0u);
}

// A page announced ahead that never ends its script holds neither the
// document asked for nor the engine's end; asked for itself, it gets its
// own time-out.
TEST_F(BrowserAheadTest, HostileAnnouncedPageHoldsNoOtherDocument) {
    auto engine = CreateBrowserEngine();
    RenderRequest hostile = FileRequest("hostile.html");
    hostile.timeoutMs = 3600 * 1000;  // a document waiting on it would hold the test past its own time-out
    engine->Prefetch(hostile);
    RenderResult classic = engine->Render(FileRequest("classic.html"));
    EXPECT_TRUE(classic.documentAvailable);
    EXPECT_FALSE(classic.timedOut);
    EXPECT_NE(AllText(classic).find("Classic text."), std::string::npos);

    hostile.timeoutMs = 2000;
    RenderResult cut = engine->Render(hostile);
    EXPECT_TRUE(cut.timedOut);
    EXPECT_NE(AllText(cut).find("Before the loop."), std::string::npos);

    hostile.timeoutMs = 3600 * 1000;
    engine->Prefetch(hostile);
    engine.reset();  // stops it
    EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
}

// The browser dies while it works ahead: the document asked for is loaded
// in a new one.
TEST_F(BrowserAheadTest, BrowserDyingAheadIsStartedAgainForTheLoad) {
    auto engine = CreateBrowserEngine();
    engine->Prefetch(FileRequest("modern.html"));
    const pid_t browser = BrowserChild();
    ASSERT_GT(browser, 0) << "the browser was not started for the announcement";
    ::kill(-browser, SIGKILL);
    ::kill(browser, SIGKILL);
    RenderResult r = engine->Render(FileRequest("modern.html"));
    EXPECT_TRUE(r.documentAvailable) << (r.warnings.empty() ? "" : r.warnings.back());
    EXPECT_NE(AllText(r).find("Alpha"), std::string::npos);
    EXPECT_NE(AllText(engine->Render(FileRequest("classic.html"))).find("Classic text."), std::string::npos);
}

// ---- Several documents in the browser at once

// Two documents in their own tabs at once come out as one at a time does:
// the same text, sizes, boxes and links.
TEST_F(BrowserAheadTest, TwoTabsDrawAsOneAtATime) {
    RenderRequest tall;
    tall.address = "file://" + Write("doc-tall.html", "<body style='margin:0'><h1 id='top'>Tall one</h1>"
                                     "<div style='height:5000px'></div><a href='#top'>Back up</a></body>");
    tall.minimalWidth = 700;
    tall.timeoutMs = 20000;
    const RenderRequest docs[] = {FileRequest("modern.html"), tall, FileRequest("classic.html"),
                                  FileRequest("modern.html")};
    BrowserOptions one;
    one.tabs = 1;
    std::vector<std::string> alone;
    {
        auto engine = CreateBrowserEngine(one);
        for (const auto& d : docs) alone.push_back(Described(engine->Render(d)));
    }
    ASSERT_NE(alone[1].find("Back up"), std::string::npos) << alone[1];
    for (std::size_t tabs : {2, 3}) {
        BrowserOptions several;
        several.tabs = tabs;
        auto engine = CreateBrowserEngine(several);
        for (const auto& d : docs) engine->Prefetch(d);
        for (std::size_t i = 0; i < std::size(docs); ++i)
            EXPECT_EQ(Described(engine->Render(docs[i])), alone[i]) << tabs << " tabs, document " << i;
    }
}

// A page whose script never ends holds its own tab only: the document in
// the other tab is loaded, measured and printed meanwhile, within its own
// limit, and the hanging one still gets its time-out when it is asked for.
TEST_F(BrowserAheadTest, HangingTabHoldsNotTheOther) {
    BrowserOptions two;
    two.tabs = 2;
    auto engine = CreateBrowserEngine(two);
    RenderRequest hostile = FileRequest("hostile.html");
    hostile.timeoutMs = 2500;
    engine->Prefetch(hostile);
    RenderRequest classic = FileRequest("classic.html");
    for (int i = 0; i < 3; ++i) {
        // Its own file each time: each is a load of its own beside the hanging one.
        RenderRequest req;
        req.address = "file://" + Write("doc" + std::to_string(i) + ".html", "<p>Plain page " + std::to_string(i) + ".</p>");
        req.timeoutMs = 20000;
        RenderResult r = engine->Render(req);
        EXPECT_TRUE(r.documentAvailable);
        EXPECT_FALSE(r.timedOut);
        EXPECT_NE(AllText(r).find("Plain page " + std::to_string(i)), std::string::npos) << AllText(r);
    }
    RenderResult cut = engine->Render(hostile);
    EXPECT_TRUE(cut.timedOut);
    EXPECT_NE(AllText(cut).find("Before the loop."), std::string::npos);
    hostile.timeoutMs = 3600 * 1000;  // stopped with the engine, not waited for
    engine->Prefetch(hostile);
    engine->Prefetch(classic);
    engine.reset();
    EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
    EXPECT_EQ(Children(false).size(), 0u);
}

// The browser dies with two documents in its tabs: the one asked for fails
// (or, when it had not reached the browser yet, is drawn by the next), the
// announced one is loaded again when it is asked for, and the documents
// after are drawn by a new browser; nothing of the dead one is left.
TEST_F(BrowserAheadTest, BrowserDyingWithTwoTabsFailsOnlyThoseInFlight) {
    // Slow to load, so that both are in the browser when it dies.
    const std::string slow = "<script>const until = Date.now() + 1500; while (Date.now() < until) {}</script>";
    RenderRequest asked, announced;
    asked.address = "file://" + Write("doc-a.html", "<p>Asked page.</p>" + slow);
    announced.address = "file://" + Write("doc-b.html", "<p>Announced page.</p>" + slow);
    asked.timeoutMs = announced.timeoutMs = 20000;
    BrowserOptions two;
    two.tabs = 2;
    auto engine = CreateBrowserEngine(two);
    engine->Prefetch(announced);
    const pid_t first = BrowserChild();
    ASSERT_GT(first, 0) << "the browser was not started for the announcement";
    bool killed = false;
    engine->SetWaitHook([&] {
        if (!killed) {
            killed = true;
            ::kill(-first, SIGKILL);
            ::kill(first, SIGKILL);
        }
        return true;
    });
    RenderResult a = engine->Render(asked);
    ASSERT_TRUE(killed);
    if (a.documentAvailable) EXPECT_NE(AllText(a).find("Asked page."), std::string::npos);
    else EXPECT_TRUE(a.crashed);
    RenderResult b = engine->Render(announced);
    EXPECT_TRUE(b.documentAvailable) << (b.warnings.empty() ? "" : b.warnings.back());
    EXPECT_NE(AllText(b).find("Announced page."), std::string::npos);
    RenderResult c = engine->Render(FileRequest("classic.html"));
    EXPECT_NE(AllText(c).find("Classic text."), std::string::npos);
    const auto now = Children(true);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now.front(), first);
    engine.reset();
    EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
    EXPECT_EQ(Children(false).size(), 0u);
}

}  // namespace
}  // namespace browser
