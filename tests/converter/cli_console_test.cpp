// What vellumate says on the terminal: --help and --version, the one line of
// a failed run on standard error, and the progress line, which only a
// terminal gets (run under script(1)) and a pipe never does.
#include <gtest/gtest.h>

#include <regex>

#include "run_program.h"

namespace {

using vmtest::Capture;
using vmtest::Q;
using vmtest::Sandbox;

// The lines of standard error that the program itself wrote ("vellumate: ...").
std::vector<std::string> OwnLines(const std::string& err) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < err.size()) {
        size_t end = err.find('\n', pos);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(pos, end - pos);
        if (line.rfind("vellumate: ", 0) == 0) out.push_back(line);
        pos = end + 1;
    }
    return out;
}

class Console : public ::testing::Test {
protected:
    int Run(const std::vector<std::string>& args) { return box.Run(VELLUMATE_BIN, args); }
    Sandbox box;
};

TEST_F(Console, HelpAndVersionOnStandardOutput) {
    const std::string bin = Q(VELLUMATE_BIN);
    for (const char* option : {"--help", "-h"}) {
        const std::string out = Capture(bin + " " + option + " 2>/dev/null; echo \"status $?\"");
        EXPECT_EQ(out.rfind("Usage: vellumate SOURCE [OUTPUT] [SWITCHES]\n", 0), 0u) << out;
        for (const char* part : {"/inlist INPUTLIST /outdir FOLDER", "/psize", "VELLUMATE_QUIET", "status 0\n"})
            EXPECT_NE(out.find(part), std::string::npos) << option << ": " << part;
    }
    const std::string version = Capture(bin + " --version 2>/dev/null; echo \"status $?\"");
    EXPECT_TRUE(std::regex_match(version, std::regex("vellumate [0-9]+\\.[0-9]+\\.[0-9]+\nstatus 0\n"))) << version;
    // Nothing on standard error, and no conversion was tried.
    EXPECT_EQ(Capture(bin + " --help 2>&1 >/dev/null"), "");
}

TEST_F(Console, OneLinePerFailedRun) {
    const std::string page = box.Write("in/a.html", "<p>a</p>");
    const std::string noExtension = box.Write("in/README", "x");
    const std::string unknown = box.Write("in/a.xyz", "x");
    const std::string list = box.Write("in/list.txt", page + "\n");
    const std::string longer = box.Write("in/two.txt", page + "\n" + page + "\n");
    const std::string missing = box.Path("in/missing.html");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{"/url"}, 255,
         "vellumate: Wrong command line format! See application help for more information. (see --help) (-1)"},
        {{page, "/psize", "A4"}, 255,
         "vellumate: Wrong command line format! See application help for more information. (see --help) (-1)"},
        {{"/inlist", list, "/outdir", box.Path("nofolder")}, 254,
         "vellumate: Folder " + box.Path("nofolder") + " does not exists. Can't save file(s). (-2)"},
        {{"/inlist", longer, "/outlist", list}, 253,
         "vellumate: the input and output lists have different lengths (-3)"},
        {{"/inlist", box.Path("nolist"), "/outlist", list}, 252,
         "vellumate: cannot read the input list \"" + box.Path("nolist") + "\" (missing or empty) (-4)"},
        {{"/inlist", list, "/outlist", box.Path("nolist")}, 251,
         "vellumate: cannot read the output list \"" + box.Path("nolist") + "\" (missing or empty) (-5)"},
        {{missing}, 250, "vellumate: cannot find \"" + missing + "\" (-6)"},
        {{box.Path("in")}, 250, "vellumate: \"" + box.Path("in") + "\" is a folder (-6)"},
        // The second file of a list is the one named.
        {{"/inlist", box.Write("in/mixed.txt", noExtension + "\n" + missing + "\n"), "/outdir", box.dir()}, 249,
         "vellumate: \"" + noExtension + "\" has no extension (-7)"},
        {{unknown}, 248, "vellumate: cannot convert \"" + unknown + "\": its extension is not supported (-8)"},
        // Nothing is registered in the sandbox's registry.
        {{page}, 247, "vellumate: the PDF library or the HTML add-on is not registered or cannot be created (-9)"},
        {{page, page}, 226, "vellumate: the output path \"" + page + "\" is not correct (-30)"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        EXPECT_EQ(Run(c.args), c.status) << shown;
        const auto lines = OwnLines(box.lastStderr);
        ASSERT_EQ(lines.size(), 1u) << shown << "\n" << box.lastStderr;
        EXPECT_EQ(lines[0], c.line) << shown;
        // Standard error is a file here: no progress line.
        EXPECT_EQ(box.lastStderr.find('\r'), std::string::npos) << shown;
    }

    // Silenced on request; the status stays.
    box.env["VELLUMATE_QUIET"] = "1";
    EXPECT_EQ(Run({missing}), 250);
    EXPECT_TRUE(OwnLines(box.lastStderr).empty()) << box.lastStderr;
    box.env["VELLUMATE_QUIET"] = "0";
    EXPECT_EQ(Run({missing}), 250);
    EXPECT_EQ(OwnLines(box.lastStderr).size(), 1u);

    // A successful end says nothing.
    EXPECT_EQ(Run({"/inlist", list, "/nosuchword"}), 0);
    EXPECT_EQ(box.lastStderr, "");
}

TEST_F(Console, ProgressOnlyOnATerminal) {
    const std::string a = box.Write("in/first.html", "<p>a</p>");
    const std::string b = box.Write("in/second.html", "<p>b</p>");
    const std::string list = box.Write("in/list.txt", a + "\n" + b + "\n");
    const std::string command =
        box.ShellEnv() + Q(VELLUMATE_BIN) + " /inlist " + Q(list) + " /outdir " + Q(box.dir()) + " /nosuch x";
    // A malformed run never starts a file; a run that gets to its first file shows it.
    const std::string listRun =
        box.ShellEnv() + Q(VELLUMATE_BIN) + " /inlist " + Q(list) + " /outdir " + Q(box.dir());

    // Under script(1) standard error is a terminal: the line shows the first
    // file (which fails: nothing is registered) and is wiped before the message.
    const std::string tty = Capture("script -qec " + Q(listRun) + " /dev/null", false);
    EXPECT_NE(tty.find("\r\033[Kfile 1 of 2: first.html  "), std::string::npos) << tty;
    const size_t message = tty.find("vellumate: the PDF library");
    ASSERT_NE(message, std::string::npos) << tty;
    EXPECT_EQ(tty.rfind("\r\033[K", message), message - 4) << tty;
    EXPECT_EQ(tty.find("\033[K", message), std::string::npos) << "nothing drawn after the end: " << tty;
    EXPECT_EQ(Capture("script -qec " + Q(command) + " /dev/null", false).find("file 1 of"), std::string::npos);

    // Into a pipe: the message only.
    const std::string piped = Capture(listRun + " 2>&1 | cat");
    EXPECT_EQ(piped, "vellumate: the PDF library or the HTML add-on is not registered or cannot be created (-9)\n");
}

}  // namespace
