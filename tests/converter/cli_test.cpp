// vellumate from the command line: exit statuses, message boxes and the
// paths it resolves. No component is registered in the sandbox's registry,
// so a file that reaches a converter ends with -9 (status 247); that is how
// these tests see that routing got that far.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "run_program.h"

namespace {

using vmtest::Sandbox;

constexpr int kStatusMalformed = 255;      // -1
constexpr int kStatusFolderMissing = 254;  // -2
constexpr int kStatusListLengths = 253;    // -3
constexpr int kStatusInputList = 252;      // -4
constexpr int kStatusOutputList = 251;     // -5
constexpr int kStatusSourceMissing = 250;  // -6
constexpr int kStatusNoExtension = 249;    // -7
constexpr int kStatusUnsupported = 248;    // -8
constexpr int kStatusNoComponents = 247;   // -9
constexpr int kStatusEmptyMerge = 240;     // -16
constexpr int kStatusOpenFailed = 227;     // -29

class Cli : public ::testing::Test {
protected:
    int Run(const std::vector<std::string>& args) { return box.Run(VELLUMATE_BIN, args); }
    bool BoxSays(const std::string& fragment) const {
        for (const auto& b : box.Boxes())
            if (b.find(fragment) != std::string::npos) return true;
        return false;
    }
    Sandbox box;
};

TEST_F(Cli, MalformedCommandLines) {
    const std::string page = box.Write("a.html", "<p>a</p>");
    const std::vector<std::vector<std::string>> cases = {
        {"/inlist"},
        {"/inlist", "list.txt"},
        {"/inlist", "list.txt", "/outlist"},
        {"/inlist", "list.txt", "/outdir"},
        {"/url"},
        {page, "/nosuch", "x"},
        {page, "/title"},
        {page, "/psize", "A4"},  // values are lower case
        {page, "out.pdf", "/pagenumbers", "on"},
        {"/url", "example.org", "/ver", "v15"},
        {"/addlog", "/autolaunch"},  // only blanks left once the run flags are out
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_EQ(Run(args), kStatusMalformed) << line;
    }
    EXPECT_TRUE(box.Opened().empty());
}

TEST_F(Cli, SwitchNamesInAnyCaseValuesExactly) {
    const std::string page = box.Write("a.html", "<p>a</p>");
    EXPECT_EQ(Run({page, "/PSIZE", "a4", "/Margin-Left", "1500", "/allowprn", "no", "/protect", "yes"}),
              kStatusNoComponents);
    EXPECT_EQ(Run({page, "/protect", "no", "/keylen", "64"}), kStatusNoComponents);  // skipped unchecked
    EXPECT_EQ(Run({page, "/protect", "yes", "/keylen", "64"}), kStatusMalformed);
}

TEST_F(Cli, EmptyCommandLineWithoutDisplay) {
    // The window needs a display; the run says so and ends as a malformed one.
    EXPECT_EQ(Run({}), kStatusMalformed);
    EXPECT_NE(box.lastStderr.find("no display"), std::string::npos) << box.lastStderr;
    EXPECT_TRUE(box.Boxes().empty());
}

TEST_F(Cli, HelpWithoutHelpFile) {
    // A copy of the program in a folder of its own, where no help file is.
    const std::string program = vmtest::CopyProgram(VELLUMATE_BIN, box.Path("bare"));
    EXPECT_EQ(box.Run(program, {"/help"}), 0);
    EXPECT_EQ(box.Run(program, {"/?"}), 0);
    EXPECT_EQ(box.Run(program, {"/h"}), 0);
    ASSERT_EQ(box.Boxes().size(), 3u);
    EXPECT_TRUE(BoxSays("Can not find help file \\\"" + box.Path("bare") + "/help.chm\\\"."));
    // Modes are compared exactly: this is a file name.
    EXPECT_EQ(Run({"/HELP"}), kStatusSourceMissing);
}

TEST_F(Cli, HelpStartsTheViewerBesideTheProgram) {
    const std::string program = vmtest::CopyProgram(VELLUMATE_BIN, box.Path("prog"));
    box.Write("prog/help.chm", "chm");
    box.Write("prog/hh", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + box.Path("hh.args.tmp") + "\"\nmv \"" +
                             box.Path("hh.args.tmp") + "\" \"" + box.Path("hh.args") + "\"\n");
    std::filesystem::permissions(box.Path("prog/hh"), std::filesystem::perms::owner_all);
    EXPECT_EQ(box.Run(program, {"/help"}), 0);
    EXPECT_TRUE(box.Boxes().empty());
    // The viewer runs on its own; wait for what it was given.
    for (int i = 0; i < 200 && !std::filesystem::exists(box.Path("hh.args")); ++i) ::usleep(50 * 1000);
    EXPECT_EQ(vmtest::ReadFile(box.Path("hh.args")), box.Path("prog/help.chm") + "::/Vellumate/_CMDLine.html\n");
}

TEST_F(Cli, SourceFilesByExtension) {
    EXPECT_EQ(Run({box.Path("missing.html")}), kStatusSourceMissing);
    EXPECT_EQ(Run({box.Write("noext", "x")}), kStatusNoExtension);
    EXPECT_EQ(Run({box.Write("dot.in.folder/noext", "x")}), kStatusNoExtension);
    EXPECT_EQ(Run({box.Write("a.docz", "x")}), kStatusUnsupported);
    EXPECT_EQ(Run({box.Write("a.", "x")}), kStatusUnsupported);
    for (const char* ext : {"html", "HTM", "shtml", "shtm", "mht", "txt", "chm", "doc", "dot", "rtf", "wps", "wri",
                            "xls", "xlt", "xlw", "ppt", "pps", "pot", "jpg", "jpeg", "tif", "tiff", "gif", "emf",
                            "bmp", "png", "docx", "docm", "dotx", "odt", "ott", "xlsx", "xlsm", "xltx", "ods", "ots",
                            "pptx", "ppsx", "potx", "odp", "otp"}) {
        EXPECT_EQ(Run({box.Write(std::string("in.") + ext, "x")}), kStatusNoComponents) << ext;
    }
    EXPECT_EQ(Run({box.dir()}), kStatusSourceMissing);  // a folder is no source
    ASSERT_EQ(::mkfifo(box.Path("pipe.html").c_str(), 0600), 0);
    EXPECT_EQ(Run({box.Path("pipe.html")}), kStatusSourceMissing);  // nor is a pipe
    // Interactive messages stay off on the command line.
    EXPECT_TRUE(box.Boxes().empty());
}

TEST_F(Cli, RelativeSourceIsTakenFromTheProgramFolder) {
    const std::string program = vmtest::CopyProgram(VELLUMATE_BIN, box.Path("prog"));
    box.Write("prog/beside.html", "x");
    box.Write("incwd.html", "x");  // the current folder of the run
    EXPECT_EQ(box.Run(program, {"beside.html"}), kStatusNoComponents);
    EXPECT_EQ(box.Run(program, {"./beside.html"}), kStatusNoComponents);
    EXPECT_EQ(box.Run(program, {"incwd.html"}), kStatusSourceMissing);
    EXPECT_EQ(box.Run(program, {"../incwd.html"}), kStatusNoComponents);
}

TEST_F(Cli, OutputNames) {
    box.Write("my docs/report.doc", "x");
    const std::string source = box.Path("my docs/report.doc");
    const std::vector<std::string> expected = {source + ".pdf", source + ".pdf", box.Path("my docs/out.pdf"),
                                               box.Path("up.pdf"), box.Path("abs.pdf")};
    // The opener of /autolaunch sees the output path even when conversion
    // fails; the shell only opens what exists, so the outputs are there already.
    for (const auto& out : expected) box.Write(out.substr(box.dir().size() + 1), "old");
    EXPECT_EQ(Run({"/autolaunch", source}), kStatusNoComponents);
    // The argument with a blank reaches the tokenizer quoted.
    EXPECT_EQ(Run({source, "/title", "A title", "/autolaunch"}), kStatusNoComponents);
    EXPECT_EQ(Run({source, "out.pdf/autolaunch"}), kStatusNoComponents);
    EXPECT_EQ(Run({source, "../up.pdf", "/autolaunch"}), kStatusNoComponents);
    EXPECT_EQ(Run({source, box.Path("abs.pdf"), "/autolaunch"}), kStatusNoComponents);
    EXPECT_EQ(box.Opened(), expected);
}

TEST_F(Cli, OutputPathChecks) {
    const std::string page = box.Write("page.html", "x");
    // Climbing above "/" leaves no output path.
    std::string up;
    for (int i = 0; i < 40; ++i) up += "../";
    EXPECT_EQ(Run({page, up + "x.pdf"}), 226);  // -30
    // The source itself is never the output.
    EXPECT_EQ(Run({page, "page.html"}), 226);
    EXPECT_EQ(Run({page, box.dir()}), 226);
}

TEST_F(Cli, OpenAfterFailureWins) {
    const std::string page = box.Write("page.html", "x");
    box.env["VELLUMATE_OPEN"] = "/bin/false";
    EXPECT_EQ(Run({page, "/autolaunch"}), kStatusOpenFailed);
}

TEST_F(Cli, InputAndOutputLists) {
    box.Write("a.html", "x");
    box.Write("b.html", "x");
    const std::string two = box.Write("two.txt", box.Path("a.html") + "\r\n\r\n   " + box.Path("b.html") + "  \r\n");
    const std::string one = box.Write("one.txt", box.Path("out.pdf") + "\n");
    const std::string blank = box.Write("blank.txt", "\n  \r\n");
    const std::string empty = box.Write("empty.txt", "");

    EXPECT_EQ(Run({"/inlist", box.Path("nolist.txt"), "/outlist", one}), kStatusInputList);
    EXPECT_EQ(Run({"/inlist", empty, "/outlist", one}), kStatusInputList);
    EXPECT_EQ(Run({"/inlist", two, "/outlist", box.Path("nolist.txt")}), kStatusOutputList);
    EXPECT_EQ(Run({"/inlist", two, "/outlist", empty}), kStatusOutputList);
    EXPECT_EQ(Run({"/inlist", two, "/outlist", one}), kStatusListLengths);
    EXPECT_EQ(Run({"/inlist", blank, "/outlist", one, "/all2one", "yes"}), kStatusEmptyMerge);
    EXPECT_EQ(Run({"/inlist", two, "/outlist", one, "/all2one", "yes"}), kStatusNoComponents);
    EXPECT_EQ(Run({"/inlist", two, "/outlist", blank, "/all2one", "yes"}), kStatusOutputList);
    EXPECT_EQ(Run({"/inlist", blank, "/outlist", blank}), 0);  // nothing to do
    EXPECT_EQ(Run({"/inlist", two, "/outlist", two, "/nosuch", "x"}), kStatusMalformed);
    EXPECT_EQ(Run({"/inlist", two, "/unknown"}), 0);
    EXPECT_EQ(Run({"/inlist", two, "/OUTLIST", one}), 0);  // variants are compared exactly
}

TEST_F(Cli, ListToFolder) {
    box.Write("in/a.html", "x");
    const std::string list = box.Write("list.txt", box.Path("in/a.html") + "\n" + box.Path("in/b.html") + "\n");
    EXPECT_EQ(Run({"/inlist", list, "/outdir", box.Path("nowhere")}), kStatusFolderMissing);
    EXPECT_TRUE(BoxSays("Folder " + box.Path("nowhere") + " does not exists. Can't save file(s)."));

    box.Write("out dir/a.html.pdf", "old");
    EXPECT_EQ(Run({"/inlist", list, "/outdir", box.Path("out dir") + "/", "/autolaunch"}),
              kStatusNoComponents);
    EXPECT_EQ(box.Opened(), std::vector<std::string>{box.Path("out dir/a.html.pdf")});
    EXPECT_EQ(Run({"/inlist", box.Path("nolist.txt"), "/outdir", box.Path("out dir")}), kStatusInputList);
}

TEST_F(Cli, UrlMode) {
    EXPECT_EQ(Run({"/url", "example.invalid/page"}), kStatusNoComponents);
    EXPECT_TRUE(BoxSays("URL \\\"http://example.invalid/page\\\" can't be converted to PDF\\n\\nError code = -9"));
    EXPECT_TRUE(BoxSays("Tessaline Quorvel"));
    EXPECT_EQ(Run({"/url", "\"about:blank\"", "/all2one", "yes"}), kStatusNoComponents);
    EXPECT_TRUE(BoxSays("URL \\\"about:blank\\\" can't"));
    EXPECT_EQ(Run({"/url", "HTTPS://x.invalid"}), kStatusNoComponents);
    EXPECT_TRUE(BoxSays("URL \\\"http://HTTPS://x.invalid\\\" can't"));  // prefixes are case-sensitive
}

}  // namespace
