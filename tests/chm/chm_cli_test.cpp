// vellumate on compiled help files from the command line, with the PDF
// library and the HTML add-on registered in a private registry: the suite's
// own help.chm and help files compiled at test time become PDF files whose
// outlines follow the contents tree and lead to the pages of their topics.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "run_program.h"
#include "chm_fixtures.h"

namespace {

// Standard output only: the tools' warnings would spoil what is parsed.
std::string Capture(const std::string& command) { return vmtest::Capture(command, false); }

using vmtest::PdfPageTexts;
using vmtest::Q;

struct Outline {
    std::string title;
    int depth;
    int page;  // from 1; 0 for none
};

std::vector<Outline> Outlines(const std::string& pdf) {
    std::string text = Capture("qpdf --json --json-key=outlines " + Q(pdf) +
                               " | python3 -c 'import json,sys\n"
                               "def walk(items, depth):\n"
                               "    for o in items:\n"
                               "        print(depth, o.get(\"destpageposfrom1\") or 0, o[\"title\"])\n"
                               "        walk(o[\"kids\"], depth + 1)\n"
                               "walk(json.load(sys.stdin)[\"outlines\"], 0)'");
    std::vector<Outline> out;
    std::size_t pos = 0, nl;
    while ((nl = text.find('\n', pos)) != std::string::npos) {
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        int depth = 0, page = 0, used = 0;
        if (std::sscanf(line.c_str(), "%d %d %n", &depth, &page, &used) >= 2) out.push_back({line.substr(used), depth, page});
    }
    return out;
}


class ChmCli : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* lib : {CORVANTH_LIB, TESSALINE_LIB}) ASSERT_EQ(box.Run(REGSVR_BIN, {lib}), 0) << box.lastStderr;
    }
    int Run(const std::vector<std::string>& args) { return box.Run(VELLUMATE_BIN, args); }
    bool TemporaryFoldersLeft() const {
        for (const auto& e : std::filesystem::directory_iterator(box.dir()))
            if (e.path().filename().string().starts_with("_CH")) return true;
        return false;
    }
    vmtest::Sandbox box;
};

TEST_F(ChmCli, OwnHelpFileBecomesAPdfWithItsContentsTree) {
    const std::string out = box.Path("help.pdf");
    ASSERT_EQ(Run({HELP_CHM, out}), 0) << box.lastStderr;
    auto outlines = Outlines(out);
    auto pages = PdfPageTexts(out);
    std::vector<std::pair<std::string, int>> tree;
    for (const auto& o : outlines) tree.emplace_back(o.title, o.depth);
    EXPECT_EQ(tree, (std::vector<std::pair<std::string, int>>{{"Welcome to Vellumate", 0},
                                                               {"Converting documents", 1},
                                                               {"Supported formats", 2},
                                                               {"Compiled help files", 2},
                                                               {"PDF settings", 1},
                                                               {"Command line", 1},
                                                               {"Switches", 2},
                                                               {"Exit codes", 2}}));
    // Each outline leads to the page where its topic starts: the page shows
    // the topic's heading ("Switches" is a place inside "Command line").
    for (const auto& o : outlines) {
        SCOPED_TRACE(o.title);
        ASSERT_GE(o.page, 1);
        ASSERT_LE(o.page, int(pages.size()));
        std::string heading = o.title == "Compiled help files" ? "Supported formats"
                              : o.title == "Switches"          ? "Command line"
                                                               : o.title;
        EXPECT_NE(pages[o.page - 1].find(heading), std::string::npos) << pages[o.page - 1];
    }
    EXPECT_EQ(outlines[2].page, outlines[3].page);  // one page loaded once for both entries
    EXPECT_FALSE(TemporaryFoldersLeft());
}

TEST_F(ChmCli, OrphanPagesFollowTheSwitchAndBrokenFilesEndWithTheirCodes) {
    if (chmtest::ChmCompiler().empty()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
    std::string chm = chmtest::CompileChm(
        box.Path("src"), "small",
        {{"one.htm", chmtest::Page("First topic")}, {"two.htm", chmtest::Page("Unlisted topic")}},
        "<UL>" + chmtest::Item("One", "one.htm") + "</UL>");
    ASSERT_FALSE(chm.empty());
    ASSERT_EQ(Run({chm, box.Path("with.pdf")}), 0) << box.lastStderr;
    ASSERT_EQ(Run({chm, box.Path("without.pdf"), "/excludeorphanpages", "yes"}), 0) << box.lastStderr;
    auto with = PdfPageTexts(box.Path("with.pdf"));
    auto without = PdfPageTexts(box.Path("without.pdf"));
    ASSERT_EQ(with.size(), 2u);
    EXPECT_NE(with[1].find("Unlisted topic"), std::string::npos);
    ASSERT_EQ(without.size(), 1u);
    EXPECT_NE(without[0].find("First topic"), std::string::npos);

    chmtest::WriteFile(box.Path("broken.chm"), "ITSF but nothing after it that makes sense");
    EXPECT_EQ(Run({box.Path("broken.chm"), box.Path("broken.pdf")}), 256 - 11);
    EXPECT_FALSE(TemporaryFoldersLeft());
}

}  // namespace
