// Style text rewrites: media features decided, fixed furniture and header
// groups rewritten, everything else left as written.
#include "style_text.h"

#include <gtest/gtest.h>

namespace htmlengine {
namespace {

TEST(StyleText, MediaFeaturesLitehtmlDoesNotKnowAreDecided) {
    std::string kept;
    EXPECT_FALSE(DecideMediaQueries("(prefers-color-scheme: dark)", kept));
    EXPECT_TRUE(DecideMediaQueries(" screen and (prefers-color-scheme: light)", kept));
    EXPECT_EQ(kept, "screen");
    EXPECT_TRUE(DecideMediaQueries("(prefers-color-scheme:dark), print", kept));
    EXPECT_EQ(kept, "print");
    // Features litehtml evaluates are left to it, with what remains.
    EXPECT_TRUE(DecideMediaQueries("only screen and (min-width: 768px) and (hover: hover)", kept));
    EXPECT_EQ(kept, "only screen and (min-width: 768px)");
    EXPECT_TRUE(DecideMediaQueries("(-webkit-min-device-pixel-ratio: 1.5), (min-resolution: 2dppx)", kept));
    EXPECT_EQ(kept, "(min-resolution: 2dppx)");
    EXPECT_FALSE(DecideMediaQueries("(-webkit-min-device-pixel-ratio: 1.5)", kept));
    EXPECT_FALSE(DecideMediaQueries("(some-future-feature: 3)", kept));
    EXPECT_TRUE(DecideMediaQueries("(prefers-reduced-motion: no-preference)", kept));
    EXPECT_EQ(kept, "all");
    EXPECT_TRUE(DecideMediaQueries("not screen and (prefers-color-scheme: dark)", kept));  // left as written
    EXPECT_TRUE(DecideMediaQueries("(width >= 600px)", kept));
    EXPECT_EQ(kept, "(width >= 600px)");
}

TEST(StyleText, SheetsAreRewrittenOnlyWhereNeeded) {
    EXPECT_EQ(PrepareStyleSheet("p { color: red }"), "p { color: red }");
    EXPECT_EQ(PrepareStyleSheet("@media (prefers-color-scheme: dark) { body { background: black } } p{x:y}"), " p{x:y}");
    EXPECT_EQ(PrepareStyleSheet("@media screen { @media (prefers-color-scheme: dark) { a{b:c} } d{e:f} }"),
              "@media screen {  d{e:f} }");
    EXPECT_EQ(PrepareStyleSheet(".nav { position: fixed; top: 0; height: 4em }"),
              ".nav { position: relative; top: auto; height: 4em }");
    EXPECT_EQ(PrepareStyleSheet("thead{display:table-header-group}"), "thead{display: table-row-group}");
    EXPECT_EQ(PrepareStyleAttribute("position:fixed;left:3px"), "position: relative;left: auto");
    // Strings and comments are no declarations; broken text ends without a fault.
    EXPECT_EQ(PrepareStyleSheet("a::after { content: \"position: fixed; top: 1px\" }"),
              "a::after { content: \"position: fixed; top: 1px\" }");
    for (const char* broken : {"@media (prefers-color-scheme: dark", "@media {", "a { position: fixed", "@media",
                               "/* @media (hover) {", "@media ((((( { }"})
        (void)PrepareStyleSheet(broken);
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "@media screen {";
    EXPECT_FALSE(PrepareStyleSheet(deep).empty());
}

}  // namespace
}  // namespace htmlengine
