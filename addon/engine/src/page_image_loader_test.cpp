// The load operation on a scripted engine: log lines of each way a load can
// go, the page image written, page breaks, links and the render scale.
#include "htmlengine/page_image_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "emf/reader.h"

namespace htmlengine {
namespace {

namespace fs = std::filesystem;

class ScriptedEngine : public HtmlEngine {
public:
    explicit ScriptedEngine(RenderResult r) : result_(std::move(r)) {}
    RenderResult Render(const RenderRequest& req) override {
        last = req;
        RenderResult copy;
        std::string bytes;
        SerializeResult(result_, bytes);
        DeserializeResult(bytes, copy);
        return copy;
    }
    RenderRequest last;

private:
    RenderResult result_;
};

RenderResult Page() {
    RenderResult r;
    r.documentAvailable = true;
    r.events.push_back({false, true, "file:///doc/page.html", 200});
    r.compatMode = "CSS1Compat";
    r.layoutWidth = 800, r.scrollWidth = 800, r.scrollHeight = 900, r.bodyScrollWidth = 780;
    r.elements = {{"HTML", false, false, false, {{0, 0, 800, 3000}}},
                  {"BODY", false, false, false, {{8, 8, 792, 2990}}},
                  {"P", false, false, false, {{8, 8, 792, 1500}}},
                  {"H2", true, false, false, {{8, 1200, 792, 1240}}}};
    r.anchors = {{"http://x.test/a", "http://x.test/a", "http:", "", {{10, 20, 60, 38}}}};
    emf::TextRun t;
    t.text = u"Hello";
    t.advances = {8, 8, 8, 8, 8};
    t.face = "DejaVu Sans";
    t.origin = {8, 30};
    r.drawing.DrawText(t, {});
    return r;
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vm_loader_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ASSERT_TRUE(log_.SetLogFile((dir_ / "addon.log").string()));
        settings_.pageWidth = 2100, settings_.pageHeight = 2970, settings_.resolution = 254;
        settings_.marginLeft = settings_.marginRight = settings_.marginTop = settings_.marginBottom = 100;
        settings_.pageTimeoutMs = 5000;
    }
    void TearDown() override {
        log_.Close();
        fs::remove_all(dir_);
    }
    tessaline::LoadResult Load(RenderResult r, const std::string& source, bool isString = false) {
        auto engine = std::make_unique<ScriptedEngine>(std::move(r));
        engine_ = engine.get();
        LoaderOptions o;
        o.tempFolder = dir_.string();
        o.currentFolder = dir_.string();
        loader_ = CreatePageImageLoader(log_, std::move(engine), o);
        return isString ? loader_->LoadString(source, "", settings_) : loader_->LoadFile(source, "", settings_);
    }
    // Log lines without their time stamps.
    std::vector<std::string> Lines() {
        std::vector<std::string> out;
        for (const auto& m : log_.Messages()) {
            for (const char* src : {"TessalineImpl - ", "CBrowserWindow - ", "ImageCreator - "}) {
                auto at = m.find(src);
                if (at != std::string::npos) {
                    bool err = m.find("ERROR: ") != std::string::npos;
                    out.push_back(std::string(err ? "!" : "") + m.substr(at));
                    break;
                }
            }
        }
        return out;
    }
    tessaline::EventLog log_;
    tessaline::LoadSettings settings_;
    fs::path dir_;
    ScriptedEngine* engine_ = nullptr;  // owned by loader_
    std::unique_ptr<tessaline::DocumentLoader> loader_;
};

TEST_F(LoaderTest, FileLoadWritesThePageImageAndEveryLine) {
    std::ofstream(dir_ / "page.html") << "<p>x</p>";
    auto r = Load(Page(), "page.html");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(engine_->last.address, "file://" + (dir_ / "page.html").string());
    EXPECT_EQ(engine_->last.timeoutMs, 5000);
    std::vector<std::string> want = {
        "TessalineImpl - ImageCreator created",
        "CBrowserWindow - Created",
        "CBrowserWindow - Arrived OnDocumentComplete for file:///doc/page.html (0xB10001)",
        "CBrowserWindow - Loaded. Ready to convert",
        "CBrowserWindow - Conversion routine called for (0xD0C001)",
        "ImageCreator - Conversion routine called for (0xD0C001)",
        "ImageCreator - Starting to explore page breaks",
        "ImageCreator - Page breaf found: before 1200",
        "ImageCreator - Save image called for (0xD0C001)",
        "ImageCreator - Metafile 800 x 1500 created",
        "ImageCreator - Trying supermodern way to draw",
        "ImageCreator - RECTL: l=0, t=0, r=800, b=1500",
        "ImageCreator - Supermodern way to draw succeeded. Woohoo!",
        "CBrowserWindow - Destroyed",
        "TessalineImpl - Download complete",
        "TessalineImpl - Metafile created",
        "TessalineImpl - ImageCreator destroyed",
    };
    EXPECT_EQ(Lines(), want);
    // The page image: a "TSL" file in the temporary folder, listed at once.
    ASSERT_EQ(r.tempFiles.size(), 1u);
    EXPECT_EQ(r.image.emfPath, r.tempFiles[0]);
    EXPECT_EQ(fs::path(r.image.emfPath).parent_path(), dir_);
    EXPECT_TRUE(fs::path(r.image.emfPath).filename().string().starts_with("TSL"));
    EXPECT_EQ(fs::path(r.image.emfPath).extension(), ".emf");
    EXPECT_TRUE(fs::exists(r.image.emfPath));
    EXPECT_EQ(r.image.widthPx, 800);
    EXPECT_EQ(r.image.heightPx, 1500);  // the tallest element other than HTML and BODY
    // Mode 0: the zoom factor (254 dpi over the screen's 96).
    EXPECT_FLOAT_EQ(r.image.renderScale, 254 / 96.0f);
    EXPECT_EQ(r.image.pageBreaks, (std::vector<std::int32_t>{1200}));
    ASSERT_EQ(r.image.links.size(), 1u);
    EXPECT_EQ(r.image.links[0], (tessaline::LinkRecord{10, 20, 60, 38, "http://x.test/a", ""}));
    // Only the temporary name's ".emf" twin remains.
    int files = 0;
    for (auto& e : fs::directory_iterator(dir_)) files += e.path().filename().string().starts_with("TSL");
    EXPECT_EQ(files, 1);
}

TEST_F(LoaderTest, StringLoadOpensAboutBlankFirst) {
    auto page = Page();
    page.events = {{false, true, "about:blank", 0}};
    auto r = Load(std::move(page), "<p>Hello</p>", true);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(engine_->last.kind, RenderRequest::Kind::String);
    EXPECT_EQ(engine_->last.html, "<p>Hello</p>");
    auto lines = Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], "CBrowserWindow - Arrived OnDocumentComplete for about:blank (0xB10001)");
    EXPECT_EQ(lines[3], "CBrowserWindow - Arrived OnDocumentComplete for about:blank (0xB10001)");
}

TEST_F(LoaderTest, EmptySourceLoadsAndLogsNothing) {
    auto r = Load(Page(), "");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(Lines().empty());
    EXPECT_TRUE(r.tempFiles.empty());
}

TEST_F(LoaderTest, FailedNavigationIsNoDocument) {
    RenderResult failed;
    failed.events = {{true, true, "http://missing.test/", 404}};
    auto r = Load(std::move(failed), "http://missing.test/");
    EXPECT_FALSE(r.ok);
    std::vector<std::string> want = {
        "TessalineImpl - ImageCreator created",
        "CBrowserWindow - Created",
        "CBrowserWindow - Arrived OnNavigateError for http://missing.test/ (0xB10001)",
        "CBrowserWindow - Loaded. Ready to convert",
        "CBrowserWindow - Conversion routine called for (0x0)",
        "ImageCreator - Conversion routine called for (0x0)",
        "!CBrowserWindow - Document retrieval failed",
        "CBrowserWindow - Destroyed",
        "TessalineImpl - Download complete",
        "!TessalineImpl - Metafile creation failed",
        "TessalineImpl - ImageCreator destroyed",
    };
    auto lines = Lines();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.find("not loaded") != std::string::npos; }),
                lines.end());
    EXPECT_EQ(lines, want);
    ASSERT_EQ(r.tempFiles.size(), 1u);
    EXPECT_FALSE(fs::exists(r.tempFiles[0]));
}

TEST_F(LoaderTest, TimeOutDrawsWhatArrived) {
    auto page = Page();
    page.timedOut = true;
    settings_.pageTimeoutMs = 3000;
    auto r = Load(std::move(page), "http://slow.test/");
    EXPECT_TRUE(r.ok);
    auto lines = Lines();
    auto at = std::find(lines.begin(), lines.end(), "CBrowserWindow - Timeout interval (3 seconds) elapsed.");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), "CBrowserWindow - StopDownload called");
    EXPECT_EQ(*(at + 2), "CBrowserWindow - Loaded. Ready to convert");
}

TEST_F(LoaderTest, LayoutProcessThatDiesFailsTheDownload) {
    RenderResult crashed;
    crashed.crashed = true;
    crashed.warnings = {"layout process ended by signal 11"};
    auto r = Load(std::move(crashed), "http://hostile.test/");
    EXPECT_FALSE(r.ok);
    auto lines = Lines();
    EXPECT_EQ(lines.back(), "TessalineImpl - ImageCreator destroyed");
    EXPECT_EQ(lines[lines.size() - 2], "!TessalineImpl - Download failed");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CBrowserWindow - Loaded. Ready to convert"), 0);
}

TEST_F(LoaderTest, RenderScaleOfTheWidthModes) {
    settings_.autoAdjustContentWidth = true;  // mode 2: content width / printable width x zoom
    auto r = Load(Page(), "http://x.test/");
    ASSERT_TRUE(r.ok);
    EXPECT_FLOAT_EQ(r.image.renderScale, 800.0f / 1900.0f * (254 / 96.0f));
    EXPECT_FLOAT_EQ(RenderScale(1, 800, std::max(1900.0, 800.0), 1.0), 800.0f / 1900.0f);
    EXPECT_FLOAT_EQ(RenderScale(1, 2500, std::max(1900.0, 2500.0), 2.0), 2.0f);
    EXPECT_FLOAT_EQ(RenderScale(0, 2500, 1900, 2.5), 2.5f);
    // No connected document (resolution and page size 0): one pixel per unit, never 0 or infinite.
    EXPECT_FLOAT_EQ(RenderScale(2, 800, 0, 0), 1.0f);
    EXPECT_FLOAT_EQ(RenderScale(0, 800, 0, 0), 1.0f);
}

TEST_F(LoaderTest, HugeMinimalWidthNeverCorruptsTheFrame) {
    // A frame in 0.01 mm of 90 million pixels would not fit an int: the
    // layout is kept to the widest page image there is.
    settings_.minimalWidth = 90000000;
    tessaline::LoadResult r = Load(Page(), (dir_ / "page.html").string());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(engine_->last.minimalWidth, 16384);
    auto header = emf::ReadHeader(r.image.emfBytes);
    ASSERT_TRUE(header);
    EXPECT_GT(header->frame.right, 0);
    EXPECT_EQ(header->frame.right / 2540 * 96 / 1000, r.image.widthPx / 1000);
}

// A billion-pixel box makes no page image that overflows or that no slicer
// takes: the image is cut to the largest size that works, the text above
// stays.
TEST_F(LoaderTest, AbsurdlyLargePageIsCutToAUsableImage) {
    RenderResult page = Page();
    page.layoutWidth = page.scrollWidth = page.bodyScrollWidth = 1000000008;
    page.elements.push_back({"DIV", false, false, false, {{8, 50, 1000000008, 1000000050}}});
    auto r = Load(std::move(page), "http://x.test/");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image.widthPx, 16384);
    EXPECT_EQ(r.image.heightPx, 8000000);
    const emf::Metafile mf = emf::Read(r.image.emfBytes);
    ASSERT_EQ(mf.status, emf::ReadStatus::Ok);
    EXPECT_GT(mf.header.frame.right, 0);
    EXPECT_GT(mf.header.frame.bottom, 0);
    const auto lines = Lines();
    EXPECT_TRUE(std::count(lines.begin(), lines.end(),
                           "ImageCreator - Page image of 1000000008 x 1000000050 cut to 16384 x 8000000"));
}

// Text below a box of absurd height is not lost beyond the cut: the empty
// stretch the box leaves is closed, and the text, its link and the page's
// height follow it up.
TEST_F(LoaderTest, TextBelowAnAbsurdlyTallBoxIsKept) {
    RenderResult page = Page();
    constexpr std::int32_t kBelow = 1000000100;
    page.elements.push_back({"DIV", false, false, false, {{8, 50, 808, 1000000050}}});
    page.elements.push_back({"P", false, false, false, {{8, kBelow - 20, 792, kBelow + 10}}});
    page.anchors.push_back({"http://x.test/b", "http://x.test/b", "http:", "", {{10, kBelow - 15, 60, kBelow + 5}}});
    emf::TextRun t;
    t.text = u"below";
    t.advances = {8, 8, 8, 8, 8};
    t.face = "DejaVu Sans";
    t.origin = {8, kBelow};
    page.drawing.DrawText(t, {});
    auto r = Load(std::move(page), "http://x.test/");
    ASSERT_TRUE(r.ok);
    EXPECT_LT(r.image.heightPx, 4000);
    EXPECT_GT(r.image.heightPx, 1000);
    const emf::Metafile mf = emf::Read(r.image.emfBytes);
    ASSERT_EQ(mf.status, emf::ReadStatus::Ok);
    int texts = 0, lowest = 0;
    for (const emf::Record& rec : mf.records) {
        if (rec.type != emf::EMR_EXTTEXTOUTW) continue;
        ++texts;
        std::int32_t y;
        std::memcpy(&y, r.image.emfBytes.data() + rec.offset + 40, 4);  // the reference point's y
        lowest = std::max(lowest, static_cast<int>(y));
    }
    EXPECT_EQ(texts, 2);
    EXPECT_GT(lowest, 1000);
    EXPECT_LT(lowest, r.image.heightPx);
    ASSERT_EQ(r.image.links.size(), 2u);
    EXPECT_EQ(r.image.links[1].target, "http://x.test/b");
    EXPECT_EQ(r.image.links[1].bottom - r.image.links[1].top, 20);
    EXPECT_LT(r.image.links[1].bottom, r.image.heightPx);
    EXPECT_NEAR(r.image.links[1].top, lowest - 15, 2);
    const auto lines = Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with("ImageCreator - Empty stretches of the page closed:");
    }));
}

TEST(PageBreaks, InsertionRule) {
    std::vector<std::int32_t> b;
    AddPageBreak(b, 500, 1000);
    AddPageBreak(b, 1500, 1000);
    AddPageBreak(b, 1500, 1000);
    EXPECT_EQ(b, (std::vector<std::int32_t>{500, 1500}));
    // A break earlier than a listed one replaces it.
    AddPageBreak(b, 1200, 1000);
    EXPECT_EQ(b, (std::vector<std::int32_t>{500, 1200}));
    AddPageBreak(b, 100, 1000);
    EXPECT_EQ(b, (std::vector<std::int32_t>{100, 1200}));
}

TEST(PageBreaks, PictureFitTest) {
    // d >= h + ((a - c) mod d), c the last break above the picture.
    EXPECT_TRUE(PictureFits({}, 100, 900, 1000));
    EXPECT_FALSE(PictureFits({}, 100, 901, 1000));
    EXPECT_TRUE(PictureFits({50}, 100, 950, 1000));
    EXPECT_FALSE(PictureFits({}, 1900, 200, 1000));
    EXPECT_TRUE(PictureFits({}, 5, 5000, 0));  // no page height: treated as fitting
}

TEST(PageBreaks, ExplorationLogsAndPictures) {
    tessaline::EventLog log;
    auto dir = fs::temp_directory_path() / ("vm_breaks_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    log.SetLogFile((dir / "l.log").string());
    tessaline::LogSource src(log, "ImageCreator");
    std::vector<ElementFacts> els = {
        {"DIV", false, true, false, {{0, 100, 800, 300}, {0, 280, 800, 450}}},
        {"IMG", false, false, false, {{0, 900, 400, 1300}}},  // 400 high, 450 below the break: fits
        {"IMG", false, false, false, {{0, 1300, 400, 1700}}}, // 850 below the break: does not fit
        {"IMG", false, false, true, {{0, 2100, 400, 2900}}},  // contains a cell: never broken
        {"P", false, false, false, {}},
        {"H1", true, false, false, {}},                       // no rectangles: no break
    };
    auto breaks = ExplorePageBreaks(els, 1000, src);
    EXPECT_EQ(breaks, (std::vector<std::int32_t>{450, 1300}));
    auto msgs = log.Messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_NE(msgs[1].find("ImageCreator - Page breaf found: after 450"), std::string::npos);
    EXPECT_NE(msgs[2].find("ImageCreator - Page breaf found: before 1300"), std::string::npos);
    log.Close();
    fs::remove_all(dir);
}

TEST(Links, CollectionRules) {
    std::vector<AnchorFacts> a = {
        {"http://x/y", "y", "http:", "n1", {{1, 1, 5, 10}, {0, 12, 9, 20}}},
        {"file:///doc/sub/p.html", "sub/p.html", "file:", "", {{0, 0, 5, 5}}},
        {"", "", "", "target", {}},
        {"", "", "", "", {{0, 0, 1, 1}}},
        {"http://x/z", "z", "http:", "", {}},
    };
    auto links = CollectLinks(a, "file:///base/");
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0], (tessaline::LinkRecord{0, 12, 9, 20, "http://x/y", "n1"}));
    EXPECT_EQ(links[1].target, "file:///base/sub/p.html");
    EXPECT_EQ(links[2], (tessaline::LinkRecord{0, 0, 0, 0, "", "target"}));
    // Without a base address a file link keeps the form it was written in.
    EXPECT_EQ(CollectLinks(a, "")[1].target, "sub/p.html");
}

}  // namespace
}  // namespace htmlengine
