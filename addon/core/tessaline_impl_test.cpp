#include "addon/core/tessaline_impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <regex>

#include "addon/common/testing/fake_pdf_document.h"

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::FakePdfDocument;

// A page image of `pages` pages of 100 pixels each; its links are placed on
// the page their top falls on.
PageImage Image(int pages, std::vector<LinkRecord> links = {}) {
    PageImage img;
    img.widthPx = 800;
    img.heightPx = pages * 100;
    img.links = std::move(links);
    img.renderScale = 1.5f;
    return img;
}

struct Script {
    std::vector<LoadResult> results;  // handed out in order; then failures
    std::vector<std::string> calls;
    std::vector<LoadSettings> settings;
};

class ScriptedLoader final : public DocumentLoader {
public:
    explicit ScriptedLoader(Script& s) : s_(s) {}
    LoadResult LoadFile(const std::string& src, const std::string& base, const LoadSettings& st) override {
        return Next("file " + src + " | " + base, st);
    }
    LoadResult LoadString(const std::string& html, const std::string& base, const LoadSettings& st) override {
        return Next("string " + html + " | " + base, st);
    }

private:
    LoadResult Next(std::string call, const LoadSettings& st) {
        s_.calls.push_back(std::move(call));
        s_.settings.push_back(st);
        if (s_.results.empty()) return {};
        LoadResult r = std::move(s_.results.front());
        s_.results.erase(s_.results.begin());
        return r;
    }
    Script& s_;
};

struct Drawn {
    std::vector<std::string> calls;
    bool fail = false;
};

class RecordingConverter final : public PageConverter {
public:
    explicit RecordingConverter(Drawn& d) : d_(d) {}
    int CountPages(PageHost&, const PageImage& img, const PageSettings&) override { return img.heightPx / 100; }
    std::vector<std::vector<LinkRecord>> MapLinks(PageHost&, const PageImage& img, const PageSettings&) override {
        std::vector<std::vector<LinkRecord>> pages(static_cast<std::size_t>(img.heightPx / 100));
        for (LinkRecord l : img.links) {
            std::size_t p = static_cast<std::size_t>(l.top / 100);
            l.top %= 100;
            l.bottom = l.top + 10;
            if (p < pages.size()) pages[p].push_back(l);
        }
        return pages;
    }
    bool AdjustPageWidth(PageHost& host, const PageImage& img, const PageSettings&) override {
        d_.calls.push_back("adjust " + std::to_string(img.heightPx / 100));
        return com::SUCCEEDED(host.Pdf().SetPageWidth(img.widthPx));
    }
    bool Convert(PageHost& host, const PageImage& img, int first, int page, const PageSettings& s) override {
        d_.calls.push_back("convert pages=" + std::to_string(img.heightPx / 100) + " first=" + std::to_string(first) +
                           " page=" + std::to_string(page) + " scale=" + std::to_string(s.renderScale));
        if (page == -1)
            for (int i = 1; i < img.heightPx / 100; ++i) host.Pdf().SafeNewPage();
        return !d_.fail;
    }

private:
    Drawn& d_;
};

class ImplTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A parameterised test's name holds a "/": one folder, not two.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / ("h4_impl_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        impl_ = std::make_unique<TessalineImpl>(
            [this](EventLog&) { return std::make_unique<ScriptedLoader>(script_); },
            [this] { return std::make_unique<RecordingConverter>(drawn_); });
        ASSERT_EQ(impl_->SetLogFile(LogPath()), com::S_OK);
    }
    void TearDown() override {
        impl_.reset();
        fs::remove_all(dir_);
    }
    std::string LogPath() const { return (dir_ / "addon.log").string(); }
    // The log's lines without their time stamps.
    std::vector<std::string> LogLines() const {
        std::ifstream in(LogPath());
        std::vector<std::string> out;
        std::regex stamp(R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4} )");
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            EXPECT_TRUE(std::regex_search(line, m, stamp)) << line;
            out.push_back(m.suffix());
        }
        return out;
    }
    LoadResult Ok(PageImage img, std::string temp = {}) {
        LoadResult r;
        r.ok = true;
        r.image = std::move(img);
        if (!temp.empty()) {
            std::ofstream((dir_ / temp).string()) << "emf";
            r.tempFiles.push_back((dir_ / temp).string());
        }
        return r;
    }
    std::int32_t Total() {
        std::int32_t n = -1;
        EXPECT_EQ(impl_->TotalPageCount(&n), com::S_OK);
        return n;
    }

    // Documents outlive the object, which may still hold one when it goes.
    FakePdfDocument& Doc(bool primary, bool compat) { return docs_.emplace_back(primary, compat); }

    fs::path dir_;
    Script script_;
    Drawn drawn_;
    std::deque<FakePdfDocument> docs_;
    std::unique_ptr<TessalineImpl> impl_;
};

TEST_F(ImplTest, PropertiesKeepDefaultsValidateMarginsAndLogExactLines) {
    EXPECT_TRUE(impl_->PreserveLinks());
    EXPECT_FALSE(impl_->AutoAdjustPageWidth());
    EXPECT_FALSE(impl_->AutoAdjustContentWidth());
    EXPECT_EQ(impl_->MinimalWidth(), 800);
    EXPECT_EQ(impl_->PageTimeout(), 80000);

    impl_->SetAutoAdjustPageWidth(true);
    impl_->SetAutoAdjustContentWidth(false);
    EXPECT_EQ(impl_->SetMarginLeft(10), com::S_OK);
    EXPECT_EQ(impl_->SetMarginRight(20), com::S_OK);  // no line
    EXPECT_EQ(impl_->SetMarginTop(30), com::S_OK);
    EXPECT_EQ(impl_->SetMarginBottom(40), com::S_OK);
    EXPECT_EQ(impl_->SetMarginBottom(-1), com::E_INVALIDARG);
    EXPECT_EQ(impl_->SetMarginLeft(-5), com::E_INVALIDARG);
    EXPECT_EQ(impl_->SetMarginTop(0), com::S_OK);
    impl_->SetBaseURL("http://example.test/a/");
    impl_->SetPreserveLinks(false);
    impl_->SetPageTimeout(1500);
    impl_->SetPageTimeout(-2500);
    impl_->SetMinimalWidth(-3);
    impl_->CreateDebugImages("/tmp/dbg");
    impl_->SetDEPCompatibility(false);

    EXPECT_EQ(impl_->MarginLeft(), 10);
    EXPECT_EQ(impl_->MarginRight(), 20);
    EXPECT_EQ(impl_->MarginTop(), 0);
    EXPECT_EQ(impl_->MarginBottom(), 40);  // its own value, not MarginTop's
    EXPECT_EQ(impl_->PageTimeout(), -2500);
    EXPECT_EQ(impl_->MinimalWidth(), -3);
    EXPECT_THAT(LogLines(),
                ElementsAre("TessalineImpl - Adjust Page set to 1", "TessalineImpl - Adjust Content set to 0",
                            "TessalineImpl - MarginLeft set to 10", "TessalineImpl - MarginTop set to 30",
                            "TessalineImpl - MarginBottom set to 40", "TessalineImpl - MarginTop set to 0",
                            "TessalineImpl - Base URL set to http://example.test/a/",
                            "TessalineImpl - Use Links set to 0", "TessalineImpl - Page timeout set to 1 seconds",
                            "TessalineImpl - Page timeout set to -2 seconds", "TessalineImpl - Minimal width set to -3",
                            "TessalineImpl - User set to create debug images in /tmp/dbg",
                            "TessalineImpl - User set DEP compatibility mode to false"));
}

TEST_F(ImplTest, ConnectFallsBackToOlderInterfaceAndReportsNeither) {
    FakePdfDocument& both = Doc(true, true);
    FakePdfDocument& older = Doc(false, true);
    FakePdfDocument& neither = Doc(false, false);
    EXPECT_EQ(impl_->ConnectToPDFLibrary(both.Unknown()), com::S_OK);
    EXPECT_EQ(both.refs, 1);
    EXPECT_EQ(impl_->ConnectToPDFLibrary(older.Unknown()), com::S_OK);
    EXPECT_EQ(both.refs, 0);
    EXPECT_EQ(impl_->ConnectToPDFLibrary(neither.Unknown()), com::S_FALSE);
    EXPECT_FALSE(impl_->IsConnected());
    EXPECT_EQ(older.refs, 0);
    EXPECT_EQ(impl_->ConnectToPDFLibrary(nullptr), com::S_OK);
    EXPECT_EQ(impl_->SafeNewPage(), com::E_NOINTERFACE);
    EXPECT_THAT(LogLines(), ElementsAre("TessalineImpl - PDFInterface released", "TessalineImpl - PDFInterface set",
                                        "TessalineImpl - PDFInterface released", "TessalineImpl - PDFInterface set",
                                        "TessalineImpl - PDFInterface released",
                                        "ERROR: TessalineImpl - QueryInterface for PDFInterface failed",
                                        "TessalineImpl - PDFInterface released"));
}

TEST_F(ImplTest, LoadsHandTheDocumentValuesAndSettingsToTheLoader) {
    FakePdfDocument& doc = Doc(false, true);
    doc.Current() = {600, 900, 0};
    doc.resolution = 96;
    impl_->ConnectToPDFLibrary(doc.Unknown());
    impl_->SetMarginLeft(5);
    impl_->SetAutoAdjustContentWidth(true);
    impl_->SetPageTimeout(0);
    impl_->SetDEPCompatibility(false);
    EXPECT_EQ(impl_->LoadHTMLString("", "x"), com::S_OK);  // nothing to load
    EXPECT_EQ(impl_->LoadHTMLFile("", "x"), com::S_OK);
    EXPECT_EQ(impl_->LoadHTMLString("a < b", ""), com::S_OK);
    EXPECT_EQ(impl_->LoadHTMLFile("page.html", "http://base/"), com::S_OK);
    EXPECT_THAT(script_.calls, ElementsAre("string a < b | ", "file page.html | http://base/"));
    const LoadSettings& s = script_.settings[0];
    EXPECT_EQ(s.pageWidth, 600);
    EXPECT_EQ(s.pageHeight, 900);
    EXPECT_EQ(s.resolution, 96);
    EXPECT_EQ(s.marginLeft, 5);
    EXPECT_EQ(s.pageTimeoutMs, 0);
    EXPECT_EQ(s.WidthAdjustMode(), 2);
    EXPECT_FALSE(s.depCompatible);
    EXPECT_EQ(s.PrintableWidth(), 595);
    EXPECT_EQ(Total(), 0);  // both loads failed: the count stays
}

TEST_F(ImplTest, PagesAreNumberedAcrossImagesAndOutOfRangeIsRejected) {
    FakePdfDocument& doc = Doc(true, false);
    impl_->ConnectToPDFLibrary(doc.Unknown());
    EXPECT_EQ(impl_->ConvertPage(0), com::E_INVALIDARG);  // nothing loaded yet
    script_.results.push_back(Ok(Image(3)));
    script_.results.push_back(Ok(Image(2)));
    impl_->LoadHTMLFile("a.html", "");
    impl_->LoadHTMLFile("b.html", "");
    impl_->LoadHTMLFile("c.html", "");  // fails: no change
    EXPECT_EQ(Total(), 5);
    EXPECT_EQ(impl_->ConvertPage(3), com::S_OK);
    EXPECT_EQ(impl_->ConvertPage(2), com::S_OK);
    EXPECT_EQ(impl_->ConvertPage(5), com::E_INVALIDARG);
    EXPECT_EQ(impl_->ConvertPage(-1), com::E_INVALIDARG);
    EXPECT_THAT(drawn_.calls, ElementsAre("convert pages=2 first=3 page=0 scale=1.500000",
                                          "convert pages=3 first=0 page=2 scale=1.500000"));
    EXPECT_EQ(doc.pages.size(), 1u);  // ConvertPage never adds a page
    auto lines = LogLines();
    std::vector<std::string> tail(lines.end() - 8, lines.end());
    EXPECT_THAT(tail, ElementsAre("TessalineImpl - ConvertPage called for page number 3",
                                  "TessalineImpl - Page number 3 converted",
                                  "TessalineImpl - ConvertPage called for page number 2",
                                  "TessalineImpl - Page number 2 converted",
                                  "TessalineImpl - ConvertPage called for page number 5",
                                  "ERROR: TessalineImpl - Wrong parameter passed to ConvertPage",
                                  "TessalineImpl - ConvertPage called for page number -1",
                                  "ERROR: TessalineImpl - Wrong parameter passed to ConvertPage"));

    drawn_.fail = true;
    impl_->SetAutoAdjustPageWidth(true);
    EXPECT_EQ(impl_->ConvertPage(1), com::E_FAIL);
    EXPECT_EQ(drawn_.calls.back(), "convert pages=3 first=0 page=1 scale=1.500000");
    EXPECT_EQ(drawn_.calls[drawn_.calls.size() - 2], "adjust 3");
    EXPECT_EQ(LogLines().back(), "TessalineImpl - ConvertPage called for page number 1");  // no line for E_FAIL
}

TEST_F(ImplTest, ImagesWithoutPagesHoldNoneAndUnloadStartsTheCountAgain) {
    FakePdfDocument& doc = Doc(true, false);
    impl_->ConnectToPDFLibrary(doc.Unknown());
    for (int pages : {2, 0, 1, 0, 3}) {
        script_.results.push_back(Ok(Image(pages)));
        impl_->LoadHTMLFile("x.html", "");
    }
    EXPECT_EQ(Total(), 6);
    for (int page : {1, 2, 3, 5}) EXPECT_EQ(impl_->ConvertPage(page), com::S_OK);
    EXPECT_THAT(drawn_.calls, ElementsAre("convert pages=2 first=0 page=1 scale=1.500000",
                                          "convert pages=1 first=2 page=0 scale=1.500000",
                                          "convert pages=3 first=3 page=0 scale=1.500000",
                                          "convert pages=3 first=3 page=2 scale=1.500000"));
    EXPECT_EQ(impl_->ConvertPage(6), com::E_INVALIDARG);
    impl_->UnloadAll();
    EXPECT_EQ(Total(), 0);
    script_.results.push_back(Ok(Image(1)));
    impl_->LoadHTMLFile("y.html", "");
    EXPECT_EQ(Total(), 1);
    EXPECT_EQ(impl_->ConvertPage(0), com::S_OK);
    EXPECT_EQ(drawn_.calls.back(), "convert pages=1 first=0 page=0 scale=1.500000");
}

TEST_F(ImplTest, ConvertingWithoutDocumentFailsClearly) {
    script_.results.push_back(Ok(Image(1)));
    impl_->LoadHTMLFile("a.html", "");
    EXPECT_EQ(impl_->ConvertPage(0), com::E_FAIL);
    EXPECT_EQ(impl_->ConvertAll(), com::E_FAIL);
    EXPECT_TRUE(drawn_.calls.empty());
    EXPECT_EQ(Total(), 1);
}

TEST_F(ImplTest, ConvertAllAddsPagesBetweenImagesThenUnloadsAndDeletesTemporaryFiles) {
    FakePdfDocument& doc = Doc(true, false);
    doc.Current().rotation = 90;
    impl_->ConnectToPDFLibrary(doc.Unknown());
    script_.results.push_back(Ok(Image(2), "TSL1.emf"));
    LoadResult failed;
    failed.tempFiles.push_back((dir_ / "TSL2.emf").string());
    std::ofstream((dir_ / "TSL2.emf").string()) << "partial";
    script_.results.push_back(std::move(failed));
    script_.results.push_back(Ok(Image(3), "TSL3.emf"));
    impl_->LoadHTMLFile("a", "");
    impl_->LoadHTMLFile("b", "");
    impl_->LoadHTMLFile("c", "");
    EXPECT_EQ(impl_->TempFiles().size(), 3u);
    EXPECT_EQ(Total(), 5);

    EXPECT_EQ(impl_->ConvertAll(), com::S_OK);
    EXPECT_THAT(drawn_.calls, ElementsAre("convert pages=2 first=0 page=-1 scale=1.500000",
                                          "convert pages=3 first=2 page=-1 scale=1.500000"));
    EXPECT_EQ(doc.pages.size(), 5u);
    for (const auto& p : doc.pages) EXPECT_EQ(p.rotation, 90);
    EXPECT_EQ(Total(), 0);
    EXPECT_FALSE(fs::exists(dir_ / "TSL1.emf"));
    EXPECT_FALSE(fs::exists(dir_ / "TSL2.emf"));
    EXPECT_FALSE(fs::exists(dir_ / "TSL3.emf"));
    EXPECT_TRUE(impl_->TempFiles().empty());
    EXPECT_EQ(impl_->ConvertPage(0), com::E_INVALIDARG);
    auto lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "TessalineImpl - ConvertAllPages called"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "TessalineImpl - SafeNewPage called"), lines.end());
}

TEST_F(ImplTest, FailedConvertAllKeepsImagesLoaded) {
    FakePdfDocument& doc = Doc(true, false);
    impl_->ConnectToPDFLibrary(doc.Unknown());
    script_.results.push_back(Ok(Image(2)));
    impl_->LoadHTMLFile("a", "");
    drawn_.fail = true;
    EXPECT_EQ(impl_->ConvertAll(), com::E_FAIL);
    EXPECT_EQ(Total(), 2);
}

TEST_F(ImplTest, EachImageIsDrawnWithItsOwnRenderScale) {
    FakePdfDocument& doc = Doc(true, false);
    impl_->ConnectToPDFLibrary(doc.Unknown());
    PageImage wide = Image(1);
    wide.renderScale = 3.0f;  // a page twice as wide as the first, fitted to the page
    script_.results.push_back(Ok(Image(1)));
    script_.results.push_back(Ok(wide));
    impl_->LoadHTMLFile("a.html", "");
    impl_->LoadHTMLFile("b.html", "");
    EXPECT_EQ(impl_->ConvertPage(0), com::S_OK);
    EXPECT_EQ(impl_->ConvertPage(1), com::S_OK);
    EXPECT_THAT(drawn_.calls, ElementsAre("convert pages=1 first=0 page=0 scale=1.500000",
                                          "convert pages=1 first=1 page=0 scale=3.000000"));
    EXPECT_EQ(impl_->ConvertAll(), com::S_OK);
    EXPECT_EQ(drawn_.calls[2], "convert pages=1 first=0 page=-1 scale=1.500000");
    EXPECT_EQ(drawn_.calls[3], "convert pages=1 first=1 page=-1 scale=3.000000");
}

TEST_F(ImplTest, CallsTheDocumentRefusesFailTheConversion) {
    FakePdfDocument& doc = Doc(true, false);
    impl_->ConnectToPDFLibrary(doc.Unknown());
    auto load = [&] {
        impl_->UnloadAll();
        script_.results.push_back(Ok(Image(1, {{10, 20, 60, 30, "#far", ""}})));
        script_.results.push_back(Ok(Image(1, {{0, 40, 0, 40, "", "far"}})));
        impl_->LoadHTMLFile("a", "");
        impl_->LoadHTMLFile("b", "");
    };
    // A new page between two page images.
    load();
    doc.refuse = {"NewPage"};
    EXPECT_EQ(impl_->ConvertAll(), com::E_FAIL);
    EXPECT_EQ(LogLines().back(), "ERROR: TessalineImpl - Adding a page failed");
    // The link to an anchor, made after the last page.
    load();
    doc.refuse = {"AddDestinationLink"};
    EXPECT_EQ(impl_->ConvertAll(), com::E_FAIL);
    EXPECT_EQ(impl_->ConvertPage(1), com::E_FAIL);
    EXPECT_THAT(LogLines().back(), HasSubstr("to anchor far failed"));
    EXPECT_EQ(impl_->ConvertPage(0), com::S_OK);  // not the last page: no links made yet
    // The page width of the image.
    doc.refuse = {"put_PageWidth"};
    impl_->SetAutoAdjustPageWidth(true);
    EXPECT_EQ(impl_->ConvertPage(0), com::E_FAIL);
    EXPECT_EQ(impl_->ConvertAll(), com::E_FAIL);
    EXPECT_EQ(LogLines().back(), "ERROR: TessalineImpl - Setting the page width failed");
}

TEST_F(ImplTest, LinkQueriesAddMarginsAndCheckRanges) {
    script_.results.push_back(
        Ok(Image(2, {{10, 20, 110, 30, "http://x.test/", ""}, {5, 150, 50, 160, "", "anchor"}})));
    impl_->LoadHTMLFile("a", "");
    impl_->SetMarginLeft(7);
    impl_->SetMarginTop(3);
    int n = -1, v = 0;
    std::string s;
    EXPECT_EQ(impl_->GetLinkCount(0, &n), com::S_OK);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(impl_->GetLinkCount(9, &n), com::S_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(impl_->GetLinkCount(-1, &n), com::S_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(impl_->GetLinkCount(0, nullptr), com::E_INVALIDARG);
    EXPECT_EQ(impl_->GetLinkLeft(0, 0, &v), com::S_OK);
    EXPECT_EQ(v, 17);
    EXPECT_EQ(impl_->GetLinkTop(0, 0, &v), com::S_OK);
    EXPECT_EQ(v, 23);
    EXPECT_EQ(impl_->GetLinkRight(0, 0, &v), com::S_OK);
    EXPECT_EQ(v, 117);
    EXPECT_EQ(impl_->GetLinkBottom(0, 0, &v), com::S_OK);
    EXPECT_EQ(v, 33);
    EXPECT_EQ(impl_->GetLinkText(0, 0, &s), com::S_OK);
    EXPECT_EQ(s, "http://x.test/");
    EXPECT_EQ(impl_->GetLinkName(1, 0, &s), com::S_OK);
    EXPECT_EQ(s, "anchor");
    EXPECT_EQ(impl_->GetLinkName(1, 1, &s), com::E_INVALIDARG);
    EXPECT_EQ(impl_->GetLinkText(2, 0, &s), com::E_INVALIDARG);
    EXPECT_EQ(impl_->GetLinkTop(0, -1, &v), com::E_INVALIDARG);
    EXPECT_EQ(impl_->GetLinkTop(0, 0, nullptr), com::E_INVALIDARG);
    impl_->SetMarginLeft(0x7FFFFFFF);  // sums saturate instead of overflowing
    EXPECT_EQ(impl_->GetLinkRight(0, 0, &v), com::S_OK);
    EXPECT_EQ(v, 0x7FFFFFFF);
    impl_->UnloadAll();
    EXPECT_EQ(impl_->GetLinkCount(0, &n), com::S_OK);
    EXPECT_EQ(n, 0);
}

class InternalLinks : public ImplTest, public ::testing::WithParamInterface<bool> {};

TEST_P(InternalLinks, OnlyTheLastPageLinksFragmentsToAnchorsAndTheCurrentPageStays) {
    FakePdfDocument& doc = Doc(GetParam(), !GetParam());
    impl_->ConnectToPDFLibrary(doc.Unknown());
    doc.pages.push_back({});  // a page of the client's own before ours
    doc.current = 1;
    script_.results.push_back(Ok(Image(2, {{10, 20, 60, 30, "file:///doc.html#Intro", ""},
                                           {0, 140, 0, 140, "", "intro"},
                                           {0, 150, 0, 150, "", "other"}})));
    impl_->LoadHTMLFile("a", "");
    ASSERT_EQ(Total(), 2);
    EXPECT_EQ(impl_->ConvertPage(0), com::S_OK);
    EXPECT_TRUE(doc.calls.empty());  // not the last page: no links yet
    impl_->SafeNewPage();
    doc.calls.clear();
    EXPECT_EQ(impl_->ConvertPage(1), com::S_OK);
    // Add-on page 0 is PDF page 1 (after the client's page); the anchor is on
    // add-on page 1, PDF page 2, at top 40 (+0 margin).
    EXPECT_THAT(doc.calls, ElementsAre("select 1", "AddDestination p2 40", "AddDestinationLink p1 10,20,60,30 d1",
                                       "select 2"));
    ASSERT_EQ(impl_->Anchors().size(), 2u);
    EXPECT_EQ(impl_->Anchors()[0].pdfPage, 2);
    EXPECT_EQ(doc.current, 2);

    impl_->SetPreserveLinks(false);
    doc.calls.clear();
    EXPECT_EQ(impl_->ConvertPage(1), com::S_OK);
    EXPECT_TRUE(doc.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(BothInterfaces, InternalLinks, ::testing::Values(true, false));

TEST_F(ImplTest, StartLinesAndLifetimeLines) {
    EXPECT_EQ(impl_->StartHTMLEngine(), com::S_OK);
    impl_.reset();
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_THAT(lines[0], ::testing::StartsWith("TessalineImpl - Operating system is "));
    EXPECT_THAT(lines[0], HasSubstr("Linux"));
    EXPECT_THAT(lines[1], ::testing::StartsWith("TessalineImpl - Internet Explorer version is litehtml"));
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(TessalineImpl - Running version \d+\.\d+\.\d+\.\d+\.)")))
        << lines[2];
    EXPECT_EQ(lines[3], "TessalineImpl - Destroyed");  // "Created" came before any file was open
}

TEST_F(ImplTest, SetLogFileWithTheSameNameKeepsTheFileOpen) {
    impl_->SetMinimalWidth(1);
    EXPECT_EQ(impl_->SetLogFile(LogPath()), com::S_OK);
    impl_->SetMinimalWidth(2);
    EXPECT_EQ(LogLines().size(), 2u);
    std::string bad = (dir_ / "no/such/dir.log").string();
    EXPECT_EQ(impl_->SetLogFile(bad), com::E_FAIL);
    EXPECT_EQ(impl_->SetLogFile(bad), com::E_FAIL);
}

}  // namespace
}  // namespace tessaline
