// The conversion driver against the real PDF document library, with the
// in-process stand-in for the HTML add-on. The PDFs are checked with qpdf,
// pdfinfo and pdftotext.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app.h"
#include "emf/writer.h"
#include "frame.h"
#include "router.h"
#include "fake_addon.h"
#include "real_pdf_fixture.h"
#include "run_program.h"

namespace {

using vellumate::ConversionContext;
using vmtest::FakeAddon;
using vmtest::Sandbox;

using vmtest::Capture;

using vmtest::Q;

// Asks to stop once `after` status texts were shown.
class Cancelling : public vellumate::IProgress {
public:
    explicit Cancelling(int after) : left_(after) {}
    bool Cancelled() const override { return left_ <= 0; }
    void Advance(int steps) override { advanced += steps; }
    void SetStatus(const std::string& text) override {
        statuses.push_back(text);
        --left_;
    }
    int advanced = 0;
    std::vector<std::string> statuses;

private:
    int left_;
};

class DriverPdf : public vmtest::RealPdfSuite<FakeAddon> {
protected:
    std::string Page(const std::string& name) { return sandbox_->Write("in/" + name, "<p>" + name + "</p>"); }
};


TEST_F(DriverPdf, SettingsRecordReachesThePdf) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    auto& s = ctx.settings;
    s.Title = "Quarterly report";
    s.Author = "Ann Example";
    s.Subject = "Numbers";
    s.Keywords = "alpha beta";
    s.Version = 0;
    s.PageLayout = 2;
    s.PageMode = 1;
    s.HideToolBar = s.HideMenuBar = s.HideWindowUI = s.FitWindow = s.CenterWindow = true;
    const std::string out = Out("settings.pdf");
    ASSERT_EQ(vellumate::ConvertFile(ctx, Page("settings.html"), out), 0);

    const std::string info = Capture("pdfinfo " + Q(out));
    EXPECT_NE(info.find("Title:           Quarterly report"), std::string::npos) << info;
    EXPECT_NE(info.find("Author:          Ann Example"), std::string::npos) << info;
    EXPECT_NE(info.find("Subject:         Numbers"), std::string::npos) << info;
    EXPECT_NE(info.find("Keywords:        alpha beta"), std::string::npos) << info;
    EXPECT_NE(info.find("PDF version:     1.3"), std::string::npos) << info;
    EXPECT_NE(info.find("Encrypted:       no"), std::string::npos) << info;

    const std::string root = Capture("qpdf --show-object=trailer --filtered-stream-data " + Q(out) +
                                     " && qpdf --qdf --object-streams=disable " + Q(out) + " -");
    EXPECT_NE(root.find("/PageLayout /TwoColumnLeft"), std::string::npos);
    EXPECT_NE(root.find("/PageMode /UseOutlines"), std::string::npos);
    for (const char* pref : {"/HideToolbar true", "/HideMenubar true", "/HideWindowUI true", "/FitWindow true",
                             "/CenterWindow true"})
        EXPECT_NE(root.find(pref), std::string::npos) << pref;
    EXPECT_NE(Capture("qpdf --check " + Q(out)).find("No syntax or stream encoding errors"), std::string::npos);
    // The add-on got the margins and the width flags.
    EXPECT_EQ(addon.marginBottom, 10);
    EXPECT_FALSE(addon.autoPage);
    EXPECT_TRUE(addon.autoContent);
    EXPECT_FALSE(addon.preserveLinks);
}

TEST_F(DriverPdf, ProtectionWithBothKeyLengths) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    auto& s = ctx.settings;
    s.ProtectionEnabled = true;
    s.UserPassword = "user";
    s.OwnerPassword = "owner";
    s.AllowPrint = false;
    s.AllowCopy = false;
    s.AllowModify = true;
    for (int keyLength : {0, 1}) {
        s.ProtectionKeyLength = keyLength;
        const std::string out = Out("protected" + std::to_string(keyLength) + ".pdf");
        ASSERT_EQ(vellumate::ConvertFile(ctx, Page("secret.html"), out), 0);
        const std::string enc = Capture("qpdf --show-encryption --password=user " + Q(out));
        EXPECT_NE(enc.find(keyLength == 0 ? "R = 2" : "R = 3"), std::string::npos) << enc;
        EXPECT_NE(enc.find("print low resolution: not allowed"), std::string::npos) << enc;
        EXPECT_NE(enc.find("extract for any purpose: not allowed"), std::string::npos) << enc;
        EXPECT_NE(enc.find("modify other: allowed"), std::string::npos) << enc;
        EXPECT_NE(Capture("pdfinfo " + Q(out)).find("Incorrect password"), std::string::npos);
        EXPECT_NE(Capture("pdftotext -upw user " + Q(out) + " -").find("Content of secret.html #1"),
                  std::string::npos);
    }
}

TEST_F(DriverPdf, PageNumbersUnderEveryPage) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    ctx.settings.PageNumbers = true;
    addon.pagesPerFile["long.html"] = 3;
    const std::string out = Out("numbered.pdf");
    ASSERT_EQ(vellumate::ConvertFile(ctx, Page("long.html"), out), 0);
    EXPECT_EQ(addon.marginBottom, 26);  // room for the number
    const std::string text = Capture("pdftotext -layout " + Q(out) + " -");
    for (const char* n : {"Page 1", "Page 2", "Page 3"}) EXPECT_NE(text.find(n), std::string::npos) << text;
    EXPECT_NE(text.find("Content of long.html #3"), std::string::npos);
    EXPECT_NE(Capture("pdfinfo " + Q(out)).find("Pages:           3"), std::string::npos);
}

TEST_F(DriverPdf, MergedFilesGetOutlinesAndLinksBetweenThem) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    addon.pagesPerFile["one.html"] = 2;
    // Page 1 of one.html links to two.html and to an outside address.
    addon.links[1] = {{"file:///elsewhere/TWO.html#top", 10, 10, 100, 30},
                      {"http://Example.com/Case", 10, 40, 100, 60},
                      {"empty-rect.html", 50, 50, 50, 60}};
    ctx.MakeOne = true;
    const std::vector<std::string> files{Page("one.html"), Page("two.html"), Page("three.html")};
    const std::string out = Out("merged.pdf");
    for (size_t i = 0; i < files.size(); ++i) {
        ctx.firstFile = i == 0;
        ctx.lastFile = i + 1 == files.size();
        ASSERT_EQ(vellumate::ConvertFile(ctx, files[i], out), 0) << i;
    }
    EXPECT_NE(Capture("pdfinfo " + Q(out)).find("Pages:           4"), std::string::npos);
    const std::string json = Capture("qpdf --json --json-key=outlines --json-key=pages " + Q(out));
    for (const char* title : {"\"title\": \"one\"", "\"title\": \"two\"", "\"title\": \"three\""})
        EXPECT_NE(json.find(title), std::string::npos) << json;
    EXPECT_NE(json.find("\"destpageposfrom1\": 3"), std::string::npos) << json;  // two.html starts on page 3
    const std::string qdf = Capture("qpdf --qdf --object-streams=disable " + Q(out) + " -");
    EXPECT_NE(qdf.find("http://Example.com/Case"), std::string::npos);
    EXPECT_EQ(qdf.find("empty-rect"), std::string::npos);
    // The add-on's pages continue across the files.
    EXPECT_NE(std::find(addon.calls.begin(), addon.calls.end(), "ConvertPage 3"), addon.calls.end());
}

// A list run announces the next HTML files to the add-on before each load,
// two at most and none past a file that is not HTML or cannot be read;
// merged or not, the files are loaded as before.
TEST_F(DriverPdf, ListRunsAnnounceTheNextHtmlFiles) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    const std::vector<std::string> files{Page("a1.html"), Page("a2.htm"), Page("a3.txt"), Page("a4.html"),
                                         sandbox_->Path("in/gone.html")};
    std::string list;
    for (const auto& f : {files[0], files[1], files[2], sandbox_->Path("in/notes.csv"), files[3], files[4]})
        list += f + "\n";
    sandbox_->Write("in/notes.csv", "a,b\n");
    const std::string in = sandbox_->Write("in/list.txt", list);
    std::string outputs;
    for (int i = 0; i < 6; ++i) outputs += Out("f" + std::to_string(i) + ".pdf") + "\n";
    for (bool merged : {false, true}) {
        addon.announced.clear();
        addon.loads.clear();
        ctx.MakeOne = merged;
        const std::string out = sandbox_->Write("out/list.txt", merged ? Out("merged.pdf") : outputs);
        // The run stops at the file that is no document.
        EXPECT_EQ(vellumate::RunInputList(ctx, in, out), vellumate::kUnsupportedExtension) << merged;
        EXPECT_EQ(addon.announced, (std::vector<std::string>{files[1], files[2], files[2]})) << merged;
        EXPECT_EQ(addon.loads, (std::vector<std::string>{files[0], files[1], files[2]})) << merged;
        vellumate::ReleaseComObjects(ctx);
    }
}

TEST_F(DriverPdf, OutlineLevelsBecomeATree) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    ASSERT_EQ(vellumate::BeginFileFrame(ctx, Out("tree.pdf")), 0);
    for (auto [title, level] : std::vector<std::pair<const char*, int>>{
             {"A", 0}, {"A1", 1}, {"A1a", 2}, {"A2", 1}, {"B", 0}, {"B1", 1}, {"C", 0}}) {
        ctx.outlines.push_back({title, level, 0, ""});
    }
    ctx.outlines.push_back({"Web", 1, -1, "http://example.com/"});
    ctx.outlines.push_back({"Nothing", 1, -1, ""});
    addon.LoadHTMLFile(com::Bstr("x.html").Get());
    vellumate::PageSource src;
    src.pageCount = 1;
    src.addonSource = true;
    vellumate::QueuePageSource(ctx, src);
    ASSERT_EQ(vellumate::GeneratePages(ctx, 1), 0);
    const std::string tree = vmtest::PdfOutlineTree(Out("tree.pdf"));
    EXPECT_EQ(tree,
              "A 1\n"
              "  A1 1\n"
              "    A1a 1\n"
              "  A2 1\n"
              "B 1\n"
              "  B1 1\n"
              "C 1\n"
              "  Web None\n"
              "  Nothing None\n");
}

TEST_F(DriverPdf, CancelDuringGenerationDeletesTheOutput) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    Cancelling progress(3);
    ctx.interactive = true;
    ctx.progress = &progress;
    addon.pagesPerFile["many.html"] = 5;
    const std::string out = Out("cancelled.pdf");
    EXPECT_EQ(vellumate::ConvertFile(ctx, Page("many.html"), out), 1);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(ctx.pdf);
    EXPECT_EQ(ctx.stepCounter, progress.advanced);
    ASSERT_EQ(progress.statuses.size(), 3u);
    EXPECT_EQ(progress.statuses[2], "Generating pages...\nPage 3 of 5");
    EXPECT_EQ(std::count(addon.calls.begin(), addon.calls.end(), "UnloadAll"), 1);
}

TEST_F(DriverPdf, AddonFailureDiscardsTheOutput) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    addon.pagesPerFile["bad.html"] = 3;
    addon.failOnPage = 1;
    const std::string out = Out("failed.pdf");
    EXPECT_EQ(vellumate::ConvertFile(ctx, Page("bad.html"), out), -17);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(addon.calls.back(), "DisconnectFromPDFLibrary");
}

TEST_F(DriverPdf, UnwritableOutputFolder) {
    EXPECT_EQ(vellumate::ConvertFile(ctx, Page("a.html"), sandbox_->Path("no/such/folder/a.pdf")), -15);
}

TEST_F(DriverPdf, LogFlagGivesLogPathAndEmptyDebugFolder) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    sandbox_->Write("prog/DebugEMFs/old.emf", "stale");
    ctx.logFlag = true;
    ASSERT_EQ(vellumate::ConvertFile(ctx, Page("log.html"), Out("log.pdf")), 0);
    EXPECT_EQ(addon.logFile, sandbox_->Path("prog/vellumate_addon.log"));
    EXPECT_EQ(addon.debugFolder, sandbox_->Path("prog/DebugEMFs"));
    EXPECT_TRUE(std::filesystem::is_directory(addon.debugFolder));
    EXPECT_TRUE(std::filesystem::is_empty(addon.debugFolder));
}

TEST_F(DriverPdf, UrlRunNamesItsOutputInTheSaveFolder) {
    std::filesystem::create_directories(sandbox_->Path("saved"));
    ASSERT_TRUE(vellumate::WriteRegString("", "SaveFolder", sandbox_->Path("saved")));
    sandbox_->Write("saved/ConvertedDocument.pdf", "old");
    sandbox_->Write("saved/ConvertedDocument_1.pdf", "old");
    EXPECT_EQ(vellumate::RunUrlMode(ctx, {"/url", "example.org/x"}), 0);
    EXPECT_TRUE(std::filesystem::exists(sandbox_->Path("saved/ConvertedDocument_2.pdf")));
    EXPECT_EQ(vmtest::ReadFile(sandbox_->Path("saved/ConvertedDocument.pdf")), "old");
    EXPECT_NE(std::find(addon.calls.begin(), addon.calls.end(), "LoadURL http://example.org/x"), addon.calls.end());
}

TEST_F(DriverPdf, UrlRunOpensTheOutputOnYes) {
    std::filesystem::create_directories(sandbox_->Path("saved2"));
    ASSERT_TRUE(vellumate::WriteRegString("", "SaveFolder", sandbox_->Path("saved2")));
    ::setenv("VELLUMATE_MSGBOX_ANSWER", "yes", 1);
    ::setenv("VELLUMATE_MSGBOX_LOG", sandbox_->Path("boxes.log").c_str(), 1);
    ::setenv("VELLUMATE_OPEN", sandbox_->env["VELLUMATE_OPEN"].c_str(), 1);
    const int result = vellumate::RunUrlMode(ctx, {"/url", "\"https://example.org/a b\""});
    ::unsetenv("VELLUMATE_MSGBOX_ANSWER");
    ::unsetenv("VELLUMATE_MSGBOX_LOG");
    ::unsetenv("VELLUMATE_OPEN");
    EXPECT_EQ(result, 0);
    const std::string out = sandbox_->Path("saved2/ConvertedDocument.pdf");
    EXPECT_EQ(sandbox_->Opened(), std::vector<std::string>{out});
    const auto boxes = sandbox_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("URL \\\"https://example.org/a b\\\" is converted to PDF\\nand saved as \\\"" + out +
                            "\\\"\\n\\nDo you want to open it?"),
              std::string::npos)
        << boxes[0];
    EXPECT_NE(boxes[0].find("Tessaline Quorvel"), std::string::npos);
}

// A printed page as the virtual printer leaves it: an EMF file with a frame
// and one line of text.
std::string WritePrintedPage(const std::string& path, const std::u16string& text) {
    emf::Recorder rec;
    rec.Rectangle({20, 20, 400, 300});
    emf::LogFont font;
    font.height = -24;
    font.faceName = u"DejaVu Sans";
    rec.SelectObject(rec.ExtCreateFontIndirectW(font));
    rec.ExtTextOutW(40, 60, 0, nullptr, text, {});
    const auto bytes = rec.Finish();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST_F(DriverPdf, PrintedPagesAreDrawnAndTheirFilesDeleted) {
    std::filesystem::create_directories(sandbox_->Path("out"));
    std::filesystem::create_directories(sandbox_->Path("spool"));
    const std::string out = Out("printed.pdf");
    ctx.settings.PageNumbers = true;
    ASSERT_EQ(vellumate::BeginFileFrame(ctx, out), 0);
    vellumate::PageSource src;
    src.pageCount = 2;
    src.orientation = 1;  // landscape
    src.placement = 0;
    vellumate::QueuePageSource(ctx, src);
    ctx.temporaryFiles = {WritePrintedPage(sandbox_->Path("spool/page1.emf"), u"Printed page one"),
                          WritePrintedPage(sandbox_->Path("spool/page2.emf"), u"Printed page two")};
    ASSERT_EQ(vellumate::GeneratePages(ctx, 1), 0);
    const std::string text = Capture("pdftotext " + Q(out) + " -");
    EXPECT_NE(text.find("Printed page one"), std::string::npos) << text;
    EXPECT_NE(text.find("Printed page two"), std::string::npos) << text;
    EXPECT_NE(text.find("Page 2"), std::string::npos) << text;
    const std::string info = Capture("pdfinfo " + Q(out));
    EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
    EXPECT_NE(info.find("841.89 x 595.276 pts (A4)"), std::string::npos) << info;  // landscape
    EXPECT_FALSE(std::filesystem::exists(sandbox_->Path("spool/page1.emf")));
    EXPECT_FALSE(std::filesystem::exists(sandbox_->Path("spool/page2.emf")));
    EXPECT_TRUE(ctx.temporaryFiles.empty());
}

}  // namespace
