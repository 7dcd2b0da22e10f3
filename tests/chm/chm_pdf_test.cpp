// Compiled help files all the way to a PDF file: hh unpacks, the converter
// reads the contents and loads the topics into the converter tests' stand-in
// add-on (one line of text per page), the real PDF library (registered into
// a private registry) writes the file, and qpdf, pdfinfo and pdftotext check
// the outline tree, the page count, the page each outline leads to and the
// link between two topics. Only the HTML rendering itself is stood in for.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "fake_addon.h"
#include "real_pdf_fixture.h"
#include "run_program.h"
#include "chm_fixtures.h"
#include "context.h"
#include "router.h"
#include "platform/com.h"

namespace {

// Standard output only: the tools' warnings would spoil what is parsed.
std::string Capture(const std::string& command) { return vmtest::Capture(command, false); }

using vmtest::PdfOutlineTree;
using vmtest::PdfPageTexts;
using vmtest::Q;

class ChmPdf : public vmtest::RealPdfSuite<vmtest::FakeAddon> {
protected:
    void SetUp() override {
        if (chmtest::ChmCompiler().empty()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
        const std::string hh = HH_PROGRAM;
        SetUpContext(hh.substr(0, hh.rfind('/')) + "/vellumate");  // hh beside it
        if (HasFatalFailure()) return;
        std::filesystem::create_directories(sandbox_->Path("out"));
        const std::string hhc = "<HTML><BODY><UL>\n" + chmtest::Item("Intro", "intro.htm") + "<UL>\n" +
                                chmtest::Item("Part A", "a/a.htm") + "<UL>\n" + chmtest::Item("A detail", "a/a.htm#x") +
                                chmtest::Item("A more", "a/a_more.htm") + "</UL>\n" + chmtest::Item("Part B", "b.htm") +
                                "</UL>\n" + chmtest::Item("Just a heading", "") +
                                chmtest::Item("Site", "http://example.com/") + "</UL></BODY></HTML>\n";
        chm = chmtest::CompileChm(tmp.path() + "/src", "book",
                                  {{"intro.htm", chmtest::Page("Intro")},
                                   {"a/a.htm", chmtest::Page("A")},
                                   {"a/a_more.htm", chmtest::Page("A more")},
                                   {"b.htm", chmtest::Page("B")},
                                   {"zorphan.html", chmtest::Page("Orphan")}},
                                  hhc);
        ASSERT_FALSE(chm.empty());
    }

    chmtest::TempFolder tmp;
    std::string chm;
};

TEST_F(ChmPdf, OutlinesFollowTheContentsTreeAndLeadToTheirTopics) {
    addon.pagesPerFile["a.htm"] = 3;
    addon.links[0] = {{"a/a_more.htm#x", 10, 10, 100, 30}};  // intro links to "A more"
    const std::string out = sandbox_->Path("out/book.pdf");
    ASSERT_EQ(vellumate::ConvertFile(ctx, chm, out), 0);

    EXPECT_EQ(PdfOutlineTree(out),
              "Intro 1\n"
              "  Part A 2\n"
              "    A detail 2\n"
              "    A more 5\n"
              "  Part B 6\n"
              "Just a heading None\n"
              "Site None\n");
    auto pages = PdfPageTexts(out);
    ASSERT_EQ(pages.size(), 7u);  // intro, a.htm (3), a_more, b, the orphan page
    EXPECT_NE(pages[0].find("Content of intro.htm #1"), std::string::npos) << pages[0];
    EXPECT_NE(pages[1].find("Content of a.htm #1"), std::string::npos) << pages[1];
    EXPECT_NE(pages[3].find("Content of a.htm #3"), std::string::npos) << pages[3];
    EXPECT_NE(pages[4].find("Content of a_more.htm #1"), std::string::npos) << pages[4];
    EXPECT_NE(pages[6].find("Content of zorphan.html #1"), std::string::npos) << pages[6];
    // a.htm was loaded once although two entries name it.
    EXPECT_EQ(std::count(addon.calls.begin(), addon.calls.end(), "LoadHTMLFile a.htm"), 1);
    // One link, on page 1, to page 5 (then its rectangle and the destination's top).
    const std::string links = Capture("qpdf --json --json-stream-data=none " + Q(out) + " | python3 " + PDF_LINKS_PY);
    EXPECT_TRUE(links.starts_with("1 goto 5 ")) << links;
    EXPECT_EQ(std::count(links.begin(), links.end(), '\n'), 1) << links;
}

TEST_F(ChmPdf, ExcludedOrphanPagesAreLeftOut) {
    ctx.settings.ExcludeOrphanPages = true;
    const std::string out = sandbox_->Path("out/no-orphans.pdf");
    ASSERT_EQ(vellumate::ConvertFile(ctx, chm, out), 0);
    auto pages = PdfPageTexts(out);
    ASSERT_EQ(pages.size(), 4u);
    for (const auto& p : pages) EXPECT_EQ(p.find("zorphan"), std::string::npos);
}

TEST_F(ChmPdf, MergedRunGetsOneOutlinePerFile) {
    ctx.MakeOne = true;
    const std::string out = sandbox_->Path("out/merged.pdf");
    ctx.firstFile = true;
    ctx.lastFile = false;
    ASSERT_EQ(vellumate::ConvertFile(ctx, chm, out), 0);
    ctx.firstFile = false;
    ctx.lastFile = true;
    ASSERT_EQ(vellumate::ConvertFile(ctx, chm, out), 0);
    EXPECT_EQ(PdfOutlineTree(out), "book 1\nbook 6\n");
    EXPECT_EQ(PdfPageTexts(out).size(), 10u);
}

}  // namespace
