#include "browser/engine_choice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "browser/browser_engine.h"
#include "platform/paths.h"

namespace browser {
namespace {

using htmlengine::HtmlEngine;
using htmlengine::RenderRequest;
using htmlengine::RenderResult;

const std::string kFixtures = VM_BROWSER_FIXTURES;

TEST(StyleScan, CountsFlexGridAndCustomProperties) {
    auto s = ScanStyle(".a{display:flex} .b { display : inline-grid } .c{DISPLAY: Inline-Flex}"
                       ".d{display:block} .e{color:var(--x);margin:var( --y)} .f{width:novar(--z)}");
    EXPECT_EQ(s.flexGrid, 3);
    EXPECT_EQ(s.customProperties, 2);
    EXPECT_EQ(ScanStyle("").flexGrid, 0);
    EXPECT_EQ(ScanStyle("display").flexGrid, 0);  // cut short
    EXPECT_EQ(ScanStyle("display:").flexGrid, 0);
}

// A classic theme's flex sidebar and grid field list stay with the light
// engine; a theme built on custom properties or on flex and grid does not.
TEST(StyleScan, ClassicThemesStayLightModernOnesGoToTheBrowser) {
    EXPECT_EQ(BrowserReason({3, 0}), "");
    EXPECT_EQ(BrowserReason({0, 2}), "");
    EXPECT_EQ(BrowserReason({0, 3}), "custom properties in the style sheets");
    EXPECT_EQ(BrowserReason({6, 0}), "flex or grid layout in the style sheets");
}

TEST(StyleScan, DocumentStyleFollowsLinkedSheetsAndImports) {
    RenderRequest r;
    r.address = "file://" + kFixtures + "/modern.html";
    std::string text = DocumentStyleText(r);
    EXPECT_NE(text.find("--accent"), std::string::npos);       // the linked sheet
    EXPECT_NE(text.find("inline-flex"), std::string::npos);    // its import
    EXPECT_EQ(BrowserReason(ScanStyle(text)), "custom properties in the style sheets");

    r.address = "file://" + kFixtures + "/classic.html";
    EXPECT_EQ(BrowserReason(ScanStyle(DocumentStyleText(r))), "");

    r.address = "file://" + kFixtures + "/missing.html";
    EXPECT_EQ(DocumentStyleText(r), "");
    r.address = "http://example.org/";
    EXPECT_EQ(DocumentStyleText(r), "");

    // A string's linked sheets are found from its base address.
    r.kind = RenderRequest::Kind::String;
    r.html = "<link rel=stylesheet href='modern.css'><p>x</p>";
    r.baseUrl = "file://" + kFixtures + "/";
    EXPECT_NE(DocumentStyleText(r).find("--accent"), std::string::npos);
    // ... and from its own <base>, wherever it lies.
    r.html = "<base href='file://" + kFixtures + "/modern.html'><link rel=stylesheet href='modern.css'>";
    r.baseUrl = "file:///nowhere/";
    EXPECT_NE(DocumentStyleText(r).find("--accent"), std::string::npos);
}

// Answers a fixed result and counts its renders (and the documents
// announced to it, in `announced` when given).
class FakeEngine final : public HtmlEngine {
public:
    explicit FakeEngine(int& calls, int scrollWidth = 800, std::vector<std::string>* announced = nullptr)
        : calls_(calls), width_(scrollWidth), announced_(announced) {}
    RenderResult Render(const RenderRequest&) override {
        ++calls_;
        RenderResult r;
        r.documentAvailable = true;
        r.scrollWidth = width_;
        return r;
    }
    void Prefetch(const RenderRequest& r) override {
        if (announced_) announced_->push_back(r.address.substr(r.address.rfind('/') + 1));
    }

private:
    int& calls_;
    int width_;
    std::vector<std::string>* announced_;
};

struct Choice {
    int light = 0, browser = 0;
    RenderResult result;
};

Choice Choose(const std::string& engine, const std::string& file, bool installed, int lightWidth = 800) {
    Choice c;
    EngineChoiceOptions o;
    o.makeBrowser = [&c] { return std::make_unique<FakeEngine>(c.browser); };
    o.browserInstalled = [installed] { return installed; };
    auto e = CreateChoosingEngine(std::make_unique<FakeEngine>(c.light, lightWidth), o);
    RenderRequest r;
    r.address = file.starts_with("http") ? file : "file://" + kFixtures + "/" + file;
    r.minimalWidth = 800;
    r.engine = engine;
    c.result = e->Render(r);
    return c;
}

TEST(EngineChoice, AutoTakesTheBrowserOnlyWhereTheLightEngineFails) {
    auto modern = Choose("auto", "modern.html", true);
    EXPECT_EQ(modern.browser, 1);
    EXPECT_EQ(modern.light, 0);
    ASSERT_FALSE(modern.result.warnings.empty());
    EXPECT_EQ(modern.result.warnings.front(), "HTML engine: browser (custom properties in the style sheets)");

    auto classic = Choose("", "classic.html", true);
    EXPECT_EQ(classic.light, 1);
    EXPECT_EQ(classic.browser, 0);
    EXPECT_EQ(classic.result.warnings.front(), "HTML engine: light");

    // Far wider than the page in the light layout: drawn again by the browser.
    auto wide = Choose("auto", "classic.html", true, 1300);
    EXPECT_EQ(wide.light, 1);
    EXPECT_EQ(wide.browser, 1);
    EXPECT_EQ(wide.result.warnings.front(), "HTML engine: browser (the light layout is 1300 pixels wide)");
    EXPECT_EQ(Choose("auto", "classic.html", true, 1100).browser, 0);

    auto web = Choose("AUTO", "http://example.org/", true);
    EXPECT_EQ(web.browser, 1);
    EXPECT_EQ(web.result.warnings.front(), "HTML engine: browser (a web address)");
}

TEST(EngineChoice, ChosenEngineAndMissingBrowser) {
    EXPECT_EQ(Choose("light", "modern.html", true).light, 1);
    EXPECT_EQ(Choose("browser", "classic.html", true).browser, 1);

    auto none = Choose("browser", "classic.html", false);
    EXPECT_EQ(none.browser + none.light, 0);
    EXPECT_TRUE(none.result.crashed);
    EXPECT_EQ(none.result.warnings.front(), "HTML engine: browser, but no browser is installed");

    auto fallback = Choose("auto", "modern.html", false);
    EXPECT_EQ(fallback.light, 1);
    EXPECT_EQ(fallback.result.warnings.front(),
              "HTML engine: light (custom properties in the style sheets, but no browser is installed)");
    EXPECT_EQ(Choose("auto", "classic.html", false, 5000).browser, 0);
}

// Announced documents go ahead to the engine that will draw them: with
// "auto" by the style rule, before any layout. The light engine's work
// ahead, which ends with the add-on object, waits until the object draws a
// second document; the browser (the run's) starts at once.
TEST(EngineChoice, AnnouncementsGoToTheEngineThatWillDrawThem) {
    int lightCalls = 0, browserCalls = 0;
    std::vector<std::string> light, browser;
    EngineChoiceOptions o;
    o.makeBrowser = [&] { return std::make_unique<FakeEngine>(browserCalls, 800, &browser); };
    o.browserInstalled = [] { return true; };
    auto e = CreateChoosingEngine(std::make_unique<FakeEngine>(lightCalls, 800, &light), o);
    auto request = [](const std::string& file, const std::string& engine) {
        RenderRequest r;
        r.address = "file://" + kFixtures + "/" + file;
        r.engine = engine;
        return r;
    };
    e->Prefetch(request("modern.html", "auto"));
    e->Prefetch(request("classic.html", "auto"));
    e->Prefetch(request("modern.html", "light"));
    e->Prefetch(request("classic.html", "browser"));
    EXPECT_EQ(browser, (std::vector<std::string>{"modern.html", "classic.html"}));
    EXPECT_TRUE(light.empty());
    EXPECT_EQ(browserCalls + lightCalls, 0);  // announcing draws nothing

    e->Render(request("classic.html", "light"));
    EXPECT_TRUE(light.empty());
    e->Render(request("classic.html", "light"));
    EXPECT_EQ(light, (std::vector<std::string>{"classic.html", "modern.html"}));
    e->Prefetch(request("classic.html", ""));
    EXPECT_EQ(light.size(), 3u);

    // Without a browser every announcement is the light engine's.
    int calls = 0;
    std::vector<std::string> only;
    o.browserInstalled = [] { return false; };
    auto none = CreateChoosingEngine(std::make_unique<FakeEngine>(calls, 800, &only), o);
    none->Render(request("classic.html", "light"));
    none->Prefetch(request("modern.html", "auto"));
    none->Prefetch(request("modern.html", "browser"));
    EXPECT_EQ(only, std::vector<std::string>{"modern.html"});
}

TEST(EngineChoice, EngineWords) {
    EXPECT_EQ(ParseEngineKind("light"), EngineKind::Light);
    EXPECT_EQ(ParseEngineKind("Browser"), EngineKind::Browser);
    EXPECT_EQ(ParseEngineKind("auto"), EngineKind::Auto);
    EXPECT_EQ(ParseEngineKind(""), EngineKind::Auto);
    EXPECT_EQ(ParseEngineKind("webkit"), EngineKind::Auto);
}

// The profile folders of running browsers in `folder`.
int BrowserProfiles(const std::string& folder) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.path().filename().string().starts_with("browser-profile-");
    return n;
}

TEST(RunBrowser, AddOnObjectsOfARunShareOneBrowserUntilTheRunEnds) {
    if (FindBrowser().empty()) GTEST_SKIP() << "no browser installed";
    // A folder of this test's own for the browsers' profiles.
    const std::string folder = platform::MakeTempFolder("", "run-browser-");
    ASSERT_FALSE(folder.empty());
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before ? before : "";
    ::setenv("TMPDIR", folder.c_str(), 1);
    // The second document comes into the tab made ready while the first
    // was converted: it is drawn loaded, with its own text.
    // Each object announces the next document, which the next object draws.
    const std::pair<const char*, const char*> documents[] = {{"modern.html", "First"}, {"classic.html", "Classic"}};
    for (std::size_t i = 0; i < std::size(documents); ++i) {
        const auto& [file, word] = documents[i];
        auto request = [](const char* name) {
            RenderRequest r;
            r.address = "file://" + kFixtures + "/" + name;
            r.engine = "browser";
            return r;
        };
        auto engine = CreateRunBrowserEngine();
        if (i + 1 < std::size(documents)) engine->Prefetch(request(documents[i + 1].first));
        RenderResult result = engine->Render(request(file));
        EXPECT_TRUE(result.documentAvailable) << file;
        EXPECT_FALSE(result.crashed) << file;
        EXPECT_FALSE(result.timedOut) << file;
        std::u16string text;
        for (const emf::TextRun* run : result.drawing.TextRuns()) text += run->text + u" ";
        EXPECT_NE(text.find(std::u16string(word, word + std::char_traits<char>::length(word))), std::u16string::npos)
            << file;
    }
    // Both objects are gone; one browser drew for both and is still there.
    EXPECT_EQ(BrowserProfiles(folder), 1);
    // The run's end ends it and removes its profile; a document after that
    // gets a browser of its own again.
    EndRunBrowser();
    EXPECT_EQ(BrowserProfiles(folder), 0);
    RenderRequest again;
    again.address = "file://" + kFixtures + "/classic.html";
    again.engine = "browser";
    EXPECT_TRUE(CreateRunBrowserEngine()->Render(again).documentAvailable);
    EXPECT_EQ(BrowserProfiles(folder), 1);
    EndRunBrowser();
    EndRunBrowser();  // nothing left to end
    EXPECT_EQ(BrowserProfiles(folder), 0);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (before) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace browser
