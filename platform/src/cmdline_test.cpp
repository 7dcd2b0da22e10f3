#include "platform/cmdline.h"

#include <gtest/gtest.h>

using namespace platform;
using Args = std::vector<std::string>;

TEST(CommandLine, JoinQuotesOnlyEmptyAndBlankArguments) {
    EXPECT_EQ(JoinCommandLine({"vellumate", "/url", "http://a/b?c=d"}), "vellumate /url http://a/b?c=d");
    EXPECT_EQ(JoinCommandLine({"/home/u/My Files/a.html", "", "x\ty"}), "\"/home/u/My Files/a.html\" \"\" \"x\ty\"");
    EXPECT_EQ(JoinCommandLine({}), "");
    const char* argv[] = {"/usr/bin/vellumate", "/inlist", "in list.txt", "/outdir", "/tmp/out"};
    EXPECT_EQ(CommandLineTail(5, argv), "/inlist \"in list.txt\" /outdir /tmp/out");
    EXPECT_EQ(CommandLineText(2, argv), "/usr/bin/vellumate /inlist");
    EXPECT_EQ(CommandLineTail(1, argv), "");
}

TEST(CommandLine, SplitByWindowsRules) {
    EXPECT_EQ(SplitCommandLine("a  b\tc "), (Args{"a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"/opt/vm/vellumate\" /url \"http://x/a b\""),
              (Args{"/opt/vm/vellumate", "/url", "http://x/a b"}));
    EXPECT_EQ(SplitCommandLine("\"\" x \"\""), (Args{"", "x", ""}));
    EXPECT_EQ(SplitCommandLine("ab\"c d\"ef"), (Args{"abc def"}));  // quotes inside a word
    EXPECT_EQ(SplitCommandLine("\"unterminated run"), (Args{"unterminated run"}));
    EXPECT_EQ(SplitCommandLine("reg query HKLM\\Software\\Vellumate"),
              (Args{"reg", "query", "HKLM\\Software\\Vellumate"}));  // backslashes stay
    EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\" next"), (Args{"C:\\dir\\", "next"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    EXPECT_TRUE(SplitCommandLine("").empty());
}

TEST(CommandLine, RoundTripsEveryArgumentWithoutQuotes) {
    const std::vector<Args> cases = {
        {"vmrelay", "/tmp/vellumate ticket.ini"},
        {"vellumate", "/url", "http://example.test/page with blanks.html"},
        {"x", "", "", "y"},
        {"tab\there", "trailing ", " leading", "  "},
        {"/p/a.b", "--", "/", "\\\\server\\share\\"},
        {"\xC3\xA4\xC3\xB6\xC3\xBC \xE6\x97\xA5"},
    };
    for (const auto& args : cases) EXPECT_EQ(SplitCommandLine(JoinCommandLine(args)), args);
}

TEST(CommandLine, TextWithQuotesKeptReachesTheProgramUnchanged) {
    // A program that takes everything after its name sees the same text when
    // a quoted argument is passed through and joined again.
    std::string text = "/url \"http://x/a b\" /addlog";
    EXPECT_EQ(JoinCommandLine(SplitCommandLine(text)), text);
}
