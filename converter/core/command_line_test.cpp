#include "command_line.h"

#include <gtest/gtest.h>

namespace vellumate {
namespace {

using Tokens = std::vector<std::string>;

TEST(Tokenize, QuotedTokensKeepQuotesAndBlanks) {
    EXPECT_EQ(Tokenize("\"C:/my docs/a b.doc\" /title \"My title\""),
              (Tokens{"\"C:/my docs/a b.doc\"", "/title", "\"My title\""}));
}

TEST(Tokenize, EmptyTokensDropped) {
    EXPECT_EQ(Tokenize("  a   b  "), (Tokens{"a", "b"}));
    EXPECT_EQ(Tokenize("\"a\" b"), (Tokens{"\"a\"", "b"}));
    EXPECT_EQ(Tokenize(""), Tokens{});
    EXPECT_EQ(Tokenize("     "), Tokens{});
}

TEST(Tokenize, QuoteEndsTokenEvenWithoutBlank) {
    // The closing quote ends the token; what follows starts the next one.
    EXPECT_EQ(Tokenize("\"a b\"c d"), (Tokens{"\"a b\"", "c", "d"}));
    // A quote inside an unquoted token is an ordinary character.
    EXPECT_EQ(Tokenize("a\"b c"), (Tokens{"a\"b", "c"}));
}

TEST(Tokenize, UnterminatedQuoteRunsToEnd) {
    EXPECT_EQ(Tokenize("x \"open ended"), (Tokens{"x", "\"open ended"}));
    EXPECT_EQ(Tokenize("\""), (Tokens{"\""}));
    EXPECT_EQ(Tokenize("\"\""), (Tokens{"\"\""}));
}

TEST(Tokenize, NoEscapes) {
    EXPECT_EQ(Tokenize("\"a\\\" b"), (Tokens{"\"a\\\"", "b"}));
}

TEST(Tokenize, MultiByteTextIntact) {
    EXPECT_EQ(Tokenize("\"Ünïcødé ファイル.html\" x"), (Tokens{"\"Ünïcødé ファイル.html\"", "x"}));
}

TEST(RunFlags, FoundAnywhereAndRemovedEverywhere) {
    std::string text = "/addlog a.html /invertall/addlog";
    RunFlags f = RemoveRunFlags(&text);
    EXPECT_TRUE(f.addLog);
    EXPECT_TRUE(f.invertAll);
    EXPECT_FALSE(f.autoLaunch);
    EXPECT_EQ(text, " a.html ");
}

TEST(RunFlags, GluedToFileNameIsCutOut) {
    std::string text = "report.html/autolaunch";
    EXPECT_TRUE(RemoveRunFlags(&text).autoLaunch);
    EXPECT_EQ(text, "report.html");
}

TEST(RunFlags, CaseSensitive) {
    std::string text = "/AddLog x";
    EXPECT_FALSE(RemoveRunFlags(&text).addLog);
    EXPECT_EQ(text, "/AddLog x");
}

TEST(Strip, BlanksAndQuotesFromBothEnds) {
    EXPECT_EQ(StripBlanksAndQuotes(" \"a b\" "), "a b");
    EXPECT_EQ(StripBlanksAndQuotes("\"\""), "");
    EXPECT_EQ(StripQuotes("\" a b \""), " a b ");
    EXPECT_EQ(StripQuotes("plain"), "plain");
}

}  // namespace
}  // namespace vellumate
