// The conversion of compiled help files: contents read from unpacked help
// files, topics loaded into a fake add-on, outlines, and the whole ConvertChm
// with its temporary folder and result codes. The page drawing itself waits
// for the add-on; here the add-on is a fake that reports page counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "chm_fixtures.h"
#include "addon/common/testing/fake_pdf_document.h"
#include "context.h"
#include "convert_chm_contents.h"
#include "convert_chm_topics.h"
#include "converters.h"
#include "fake_addon.h"

namespace chmtest {
namespace {

using vellumate::ChmContents;
using vellumate::ChmTopic;
using vellumate::ConversionContext;
using vellumate::OutlineEntry;
using vellumate::ReadChmContents;
using vmtest::FakeAddon;

const std::string kHh = HH_PROGRAM;

#define REQUIRE_CHMCMD()                                                   \
    if (ChmCompiler().empty()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed"

// A PDF document that only has to exist: a MakeOne run before its last file
// draws nothing.
class IdlePdf final : public tessaline::testing::PdfDocumentStub {
public:
    com::HRESULT QueryInterface(com::REFIID, void** ppv) override {
        *ppv = this;
        return com::S_OK;
    }
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
};

std::string Folder(const std::string& s) { return s.substr(0, s.rfind('/')); }

std::vector<std::string> Locals(const ChmContents& c) {
    std::vector<std::string> out;
    for (const auto& t : c.topics) out.push_back(t.local);
    return out;
}

// The help file of most tests: a tree three levels deep, two entries for
// one page (one with an anchor), a heading, a web entry, and a page that no
// entry names.
struct Book {
    TempFolder tmp;
    std::string chm;
    std::string unpacked;
    Book() {
        std::string hhc = "<HTML><BODY><UL>\n" + Item("Intro", "intro.htm") + "<UL>\n" + Item("Part A", "a/a.htm") +
                          "<UL>\n" + Item("A detail", "a/a.htm#x") + Item("A more", "a/A_More.HTM") + "</UL>\n" +
                          Item("Part B", "b.htm") + "</UL>\n" + Item("Just a heading", "") +
                          Item("Site", "http://example.com/") + "</UL></BODY></HTML>\n";
        chm = CompileChm(tmp.path() + "/src", "book",
                         {{"intro.htm", Page("Intro")},
                          {"a/a.htm", Page("A")},
                          {"a/a_more.htm", Page("A more")},
                          {"b.htm", Page("B")},
                          {"zorphan.html", Page("Orphan")},
                          {"pic.png", "png"}},
                         hhc);
        unpacked = tmp.path() + "/unpacked";
        if (!chm.empty() && RunArgv({kHh, "-decompile", unpacked, chm}) != 0) chm.clear();
    }
};

TEST(ChmContents, TreeLevelsOrphansAndReferencesMatchedToTheUnpackedFiles) {
    REQUIRE_CHMCMD();
    Book book;
    ASSERT_FALSE(book.chm.empty());
    ChmContents c = ReadChmContents(book.unpacked, false);
    ASSERT_EQ(c.status, vellumate::ChmContentsStatus::kOk);
    EXPECT_TRUE(c.contentsFile.ends_with("/book.hhc"));
    std::vector<std::pair<std::string, int>> tree;
    for (const auto& t : c.topics) tree.emplace_back(t.title, t.level);
    EXPECT_EQ(tree, (std::vector<std::pair<std::string, int>>{{"Intro", 0},
                                                               {"Part A", 1},
                                                               {"A detail", 2},
                                                               {"A more", 2},
                                                               {"Part B", 1},
                                                               {"Just a heading", 0},
                                                               {"Site", 0},
                                                               {"", 0}}));
    EXPECT_EQ(Locals(c), (std::vector<std::string>{"intro.htm", "a/a.htm", "a/a.htm#x", "a/a_more.htm", "b.htm", "",
                                                   "http://example.com/", "zorphan.html"}));
    EXPECT_TRUE(c.topics[6].web);

    ChmContents without = ReadChmContents(book.unpacked, true);
    EXPECT_EQ(without.topics.size(), 7u);
    EXPECT_EQ(without.topics.back().title, "Site");
}

TEST(ChmContents, WithoutContentsFileUnsafeReferencesAndUnreadableFiles) {
    TempFolder tmp;
    // No contents file: the index page is the one topic.
    WriteFile(tmp.path() + "/a/Index.HTML", Page("i"));
    WriteFile(tmp.path() + "/a/other.htm", Page("o"));
    ChmContents c = ReadChmContents(tmp.path() + "/a", true);
    EXPECT_EQ(Locals(c), std::vector<std::string>{"Index.HTML"});
    EXPECT_EQ(c.topics[0].title, "");
    c = ReadChmContents(tmp.path() + "/a", false);
    EXPECT_EQ(Locals(c), (std::vector<std::string>{"Index.HTML", "other.htm"}));

    // References that climb out or name nothing become headings; a deeper
    // jump than one level is pulled up.
    WriteFile(tmp.path() + "/secret.htm", Page("secret"));
    WriteFile(tmp.path() + "/b/t.htm", Page("t"));
    WriteFile(tmp.path() + "/b/c.hhc", "<UL>" + Item("Up", "..\\secret.htm") + "<UL><UL>" + Item("Deep", "/./t.htm") +
                                           "</UL></UL>" + Item("Gone", "missing.htm") + Item("Esc", "sub%2F..%2F..%2Fsecret.htm") +
                                           "</UL>");
    c = ReadChmContents(tmp.path() + "/b", true);
    ASSERT_EQ(c.topics.size(), 4u);
    EXPECT_EQ(Locals(c), (std::vector<std::string>{"", "t.htm", "", ""}));
    EXPECT_EQ(c.topics[1].level, 1);
    EXPECT_EQ(c.warnings.size(), 3u);

    // An empty contents file cannot be parsed.
    WriteFile(tmp.path() + "/e/x.hhc", "");
    WriteFile(tmp.path() + "/e/x.htm", Page("x"));
    EXPECT_EQ(ReadChmContents(tmp.path() + "/e", false).status, vellumate::ChmContentsStatus::kUnreadable);
}

TEST(ChmTopics, EachPageLoadedOnceOutlinesAtTheirLevelsAndPages) {
    REQUIRE_CHMCMD();
    Book book;
    ASSERT_FALSE(book.chm.empty());
    ChmContents c = ReadChmContents(book.unpacked, false);
    FakeAddon addon;
    addon.pagesPerFile["a.htm"] = 3;
    ConversionContext ctx;
    ctx.interactive = false;
    ctx.addon = com::ComPtr<tessaline::ITessaline2>(&addon);
    std::int32_t total = 0;
    ASSERT_EQ(vellumate::LoadChmTopics(ctx, c.topics, book.unpacked, &total), vellumate::kOk);

    const std::string u = book.unpacked + "/";
    EXPECT_EQ(addon.loads, (std::vector<std::string>{u + "intro.htm", u + "a/a.htm", u + "a/a_more.htm",
                                                     u + "b.htm", u + "zorphan.html"}));
    // While a file loads, the add-on has heard of the ones that come next,
    // each once and in order.
    EXPECT_EQ(addon.announced, std::vector<std::string>(addon.loads.begin() + 1, addon.loads.end()));
    EXPECT_EQ(total, 7);
    ASSERT_EQ(ctx.queue.size(), 5u);
    EXPECT_EQ(ctx.queue[1].pageCount, 3);
    struct Want {
        std::string title;
        int level, page;
        std::string url;
    };
    std::vector<Want> want{{"Intro", 0, 0, ""},  {"Part A", 1, 1, ""},         {"A detail", 2, 1, ""},
                           {"A more", 2, 4, ""}, {"Part B", 1, 5, ""},         {"Just a heading", 0, -1, ""},
                           {"Site", 0, -1, "http://example.com/"}};
    ASSERT_EQ(ctx.outlines.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].title);
        EXPECT_EQ(ctx.outlines[i].title, want[i].title);
        EXPECT_EQ(ctx.outlines[i].level, want[i].level);
        EXPECT_EQ(ctx.outlines[i].page, want[i].page);
        EXPECT_EQ(ctx.outlines[i].url, want[i].url);
    }
    // Links between topics find their pages through the page table.
    ASSERT_EQ(ctx.pageTable.size(), 5u);
    EXPECT_EQ(ctx.pageTable[3].fileName, "b.htm");
    EXPECT_EQ(ctx.pageTable[3].firstPage, 5);
    EXPECT_TRUE(ctx.pageTable[3].addonIndex);
}

TEST(ChmTopics, LoadsThatFailOrAddNoPageStopWithTheTopicCode) {
    TempFolder tmp;
    WriteFile(tmp.path() + "/a.htm", Page("a"));
    WriteFile(tmp.path() + "/b.htm", Page("b"));
    for (std::int32_t broken : {0, -1}) {
        std::vector<ChmTopic> topics{{"A", false, "a.htm", 0, -1}, {"B", false, "b.htm", 0, -1}};
        FakeAddon addon;
        addon.pagesPerFile["b.htm"] = broken;
        ConversionContext ctx;
        ctx.interactive = false;
        ctx.addon = com::ComPtr<tessaline::ITessaline2>(&addon);
        std::int32_t total = 0;
        EXPECT_EQ(vellumate::LoadChmTopics(ctx, topics, tmp.path(), &total), vellumate::kChmTopicFailed);
        EXPECT_EQ(ctx.queue.size(), 1u);  // nothing queued for the failed page
    }
}

// The whole conversion, run as the later file of a merged run so that no
// page is drawn yet; TMPDIR points into the test's folder so that left-over
// "_CH" folders can be seen.
struct MergedRun {
    TempFolder tmp;
    IdlePdf pdf;
    FakeAddon addon;
    ConversionContext ctx;
    std::string savedTmp;
    MergedRun() {
        const char* t = std::getenv("TMPDIR");
        savedTmp = t ? t : "";
        std::filesystem::create_directories(tmp.path() + "/tmp");
        ::setenv("TMPDIR", (tmp.path() + "/tmp").c_str(), 1);
        ctx.interactive = false;
        ctx.MakeOne = true;
        ctx.firstFile = false;
        ctx.lastFile = false;
        ctx.mergedPageCount = 4;
        ctx.programPath = Folder(kHh) + "/vellumate";
        ctx.pdf = com::ComPtr<corvanth::IPdfDocument>(&pdf);
        ctx.addon = com::ComPtr<tessaline::ITessaline2>(&addon);
    }
    ~MergedRun() {
        if (savedTmp.empty()) ::unsetenv("TMPDIR");
        else ::setenv("TMPDIR", savedTmp.c_str(), 1);
    }
    std::int32_t Convert(const std::string& chm) { return vellumate::ConvertChm(ctx, chm, tmp.path() + "/out.pdf"); }
    bool TemporaryFoldersLeft() const { return !std::filesystem::is_empty(tmp.path() + "/tmp"); }
};

TEST(ConvertChm, MergedRunQueuesEveryTopicAndLeavesNoTemporaryFolder) {
    REQUIRE_CHMCMD();
    Book book;
    ASSERT_FALSE(book.chm.empty());
    MergedRun run;
    ASSERT_EQ(run.Convert(book.chm), vellumate::kOk);
    EXPECT_EQ(run.addon.loads.size(), 5u);
    EXPECT_EQ(run.ctx.queue.size(), 5u);
    EXPECT_EQ(run.ctx.mergedPageCount, 4 + 5);
    // The help file itself is the one outline of a merged run.
    ASSERT_EQ(run.ctx.outlines.size(), 1u);
    EXPECT_EQ(run.ctx.outlines[0].title, "book");
    EXPECT_EQ(run.ctx.outlines[0].level, 0);
    EXPECT_EQ(run.ctx.outlines[0].page, 4);
    EXPECT_FALSE(run.TemporaryFoldersLeft());
    EXPECT_TRUE(run.ctx.temporaryFolder.empty());

    // A second help file in the same run starts at level 0 again.
    ChmContents again = ReadChmContents(book.unpacked, true);
    EXPECT_EQ(again.topics[0].level, 0);
}

TEST(ConvertChm, FailuresGiveTheirCodesAndDeleteTheTemporaryFolder) {
    REQUIRE_CHMCMD();
    TempFolder src;
    {
        MergedRun run;  // not a help file: the unpacker fails
        WriteFile(src.path() + "/bad.chm", "not a help file, just some text to read");
        EXPECT_EQ(run.Convert(src.path() + "/bad.chm"), vellumate::kChmViewerFailed);
        EXPECT_FALSE(run.TemporaryFoldersLeft());
    }
    {
        MergedRun run;  // the unpacker cannot be found
        run.ctx.programPath = src.path() + "/nowhere/vellumate";
        const char* path = std::getenv("PATH");
        std::string saved = path ? path : "";
        ::setenv("PATH", "/nonexistent", 1);
        WriteFile(src.path() + "/x.chm", "x");
        EXPECT_EQ(run.Convert(src.path() + "/x.chm"), vellumate::kChmViewerFailed);
        ::setenv("PATH", saved.c_str(), 1);
        EXPECT_FALSE(run.TemporaryFoldersLeft());
    }
    {
        MergedRun run;  // nothing to convert: no contents, no index, no page
        std::string chm = CompileChm(src.path() + "/e", "empty", {{"a.png", "png"}}, "");
        ASSERT_FALSE(chm.empty());
        EXPECT_EQ(run.Convert(chm), vellumate::kChmContentsFailed);
        EXPECT_FALSE(run.TemporaryFoldersLeft());
    }
    {
        MergedRun run;  // a topic the add-on cannot load
        std::string chm = CompileChm(src.path() + "/t", "topic", {{"a.htm", Page("a")}, {"b.htm", Page("b")}},
                                     "<UL>" + Item("A", "a.htm") + Item("B", "b.htm") + "</UL>");
        ASSERT_FALSE(chm.empty());
        run.addon.pagesPerFile["b.htm"] = -1;
        EXPECT_EQ(run.Convert(chm), vellumate::kChmTopicFailed);
        EXPECT_FALSE(run.TemporaryFoldersLeft());
    }
    {
        Book book;  // made before the run points TMPDIR at its own folder
        MergedRun run;  // a path the command line cannot carry as it is
        ASSERT_FALSE(book.chm.empty());
        std::string odd = src.path() + "/we\"ird $(name) `x`.chm";
        std::filesystem::copy_file(book.chm, odd);
        EXPECT_EQ(run.Convert(odd), vellumate::kOk);
        EXPECT_EQ(run.addon.loads.size(), 5u);
        EXPECT_FALSE(run.TemporaryFoldersLeft());
    }
}

// Cancelled from the progress window between two topics: the add-on's pages
// are unloaded, the output is discarded and the unpacked folder is deleted.
class CancelAt final : public vellumate::IProgress {
public:
    explicit CancelAt(int check) : check_(check) {}
    bool Cancelled() const override { return ++checks_ >= check_; }
    void Advance(int steps) override { advanced += steps; }
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    int advanced = 0;
    std::vector<std::string> statuses;

private:
    int check_;
    mutable int checks_ = 0;
};

TEST(ConvertChm, CancelBetweenTopicsDiscardsAndDeletesTheTemporaryFolder) {
    REQUIRE_CHMCMD();
    Book book;
    ASSERT_FALSE(book.chm.empty());
    MergedRun run;
    CancelAt progress(5);  // the frame, after the contents, then before each topic
    run.ctx.interactive = true;
    run.ctx.progress = &progress;
    EXPECT_EQ(run.Convert(book.chm), vellumate::kCancelled);
    EXPECT_EQ(run.addon.loads.size(), 2u);
    EXPECT_EQ(run.addon.unloads, 1);
    EXPECT_FALSE(run.ctx.addon);
    EXPECT_FALSE(run.TemporaryFoldersLeft());
    ASSERT_FALSE(progress.statuses.empty());
    EXPECT_EQ(progress.statuses[0], "Importing file (1 of 8):\nintro.htm");
}

// Real help files: the contents tree read from each gives as many titled
// entries as the file has sitemap objects, nested as deep as its lists.
TEST(ChmContents, RealHelpFilesKeepTheirTree) {
    for (const auto& chm : RealHelpFiles()) {
        SCOPED_TRACE(chm);
        ASSERT_TRUE(Exists(chm)) << "install the packages of scripts/packages.txt";
        TempFolder tmp;
        int rc = RunArgv({kHh, "-decompile", tmp.path(), chm});
        ASSERT_TRUE(rc == 0 || rc == 2);
        ChmContents c = ReadChmContents(tmp.path(), true);
        if (c.contentsFile.empty()) continue;
        // Count objects and list depth with a plain scan of the text.
        std::string text = ReadFile(c.contentsFile);
        std::string lower = text;
        for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        std::size_t objects = 0;
        for (std::size_t p = 0; (p = lower.find("text/sitemap", p)) != std::string::npos; ++p) ++objects;
        int depth = 0, deepest = 0;
        for (std::size_t p = 0; (p = lower.find("ul>", p)) != std::string::npos; ++p) {
            if (p >= 1 && lower[p - 1] == '<') deepest = std::max(deepest, ++depth);
            if (p >= 2 && lower[p - 1] == '/' && lower[p - 2] == '<') --depth;
        }
        std::size_t titled = 0;
        int maxLevel = 0;
        for (const auto& t : c.topics) {
            if (!t.title.empty()) ++titled;
            maxLevel = std::max(maxLevel, t.level);
        }
        EXPECT_GE(titled, objects);
        EXPECT_LE(titled, 2 * objects);
        EXPECT_EQ(maxLevel + 1, deepest);
        // Every page the contents name was found among the unpacked files.
        for (const auto& w : c.warnings) ADD_FAILURE() << w;
    }
}

}  // namespace
}  // namespace chmtest

namespace chmtest {
namespace {

#ifdef HELP_CHM
// The suite's own help file: the topics the programs open are in the folder
// they ask for, and its contents name only pages it holds.
TEST(OwnHelp, TopicsTheProgramsOpenAndAWholeContentsTree) {
    TempFolder tmp;
    ASSERT_EQ(RunArgv({kHh, "-decompile", tmp.path(), HELP_CHM}), 0);
    EXPECT_TRUE(Exists(tmp.path() + "/Vellumate/_CMDLine.html"));
    EXPECT_TRUE(Exists(tmp.path() + "/Vellumate/_Settings.html"));
    ChmContents c = ReadChmContents(tmp.path(), false);
    EXPECT_TRUE(c.warnings.empty());
    std::vector<int> levels;
    for (const auto& t : c.topics) levels.push_back(t.level);
    EXPECT_EQ(levels, (std::vector<int>{0, 1, 2, 2, 1, 1, 2, 2}));  // no orphan pages either
}
#endif

#ifdef VELLUMATE_PROGRAM
// "/help" hands the command-line topic of help.chm beside the program to the
// desktop's opener (the viewer runs on its own, so the test waits for it).
TEST(OwnHelp, HelpSwitchOpensTheCommandLineTopic) {
    TempFolder tmp;
    const std::string record = tmp.path() + "/opened.txt";
    const std::string opener = tmp.path() + "/opener.sh";
    WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"" + record + ".part\" && mv \"" + record + ".part\" \"" +
                          record + "\"\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    ::setenv("VELLUMATE_OPEN", opener.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (tmp.path() + "/cache").c_str(), 1);
    EXPECT_EQ(RunArgv({VELLUMATE_PROGRAM, "/help"}), 0);
    for (int i = 0; i < 600 && !Exists(record); ++i) ::usleep(50000);
    ::unsetenv("VELLUMATE_OPEN");
    ::unsetenv("XDG_CACHE_HOME");
    std::string opened = ReadFile(record);
    EXPECT_TRUE(opened.ends_with("/Vellumate/_CMDLine.html\n")) << opened;
}
#endif

}  // namespace
}  // namespace chmtest
