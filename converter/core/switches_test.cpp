#include "switches.h"

#include <gtest/gtest.h>

#include "command_line.h"

namespace vellumate {
namespace {

struct Parsed {
    int result;
    PdfSettings s;
    bool makeOne = false;
};

Parsed Parse(const std::string& text, PdfSettings start = {}) {
    Parsed p{0, start};
    p.result = ParseSwitches(Tokenize(text), 0, &p.s, &p.makeOne);
    return p;
}

TEST(Switches, DocumentInformationAndQuotedValues) {
    auto p = Parse("/title \"My report\" /AUTHOR Ann /subj s /keywords \"k1 k2\"");
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.s.Title, "My report");
    EXPECT_EQ(p.s.Author, "Ann");
    EXPECT_EQ(p.s.Subject, "s");
    EXPECT_EQ(p.s.Keywords, "k1 k2");
}

TEST(Switches, KeywordTables) {
    auto p = Parse("/compress flate /ver v13 /charset russian /psize env11 /porient landscape /widthadj none "
                   "/playout 2columnright /pmode fullscreen /all2one yes");
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.s.Compression, 1);
    EXPECT_EQ(p.s.Version, 0);
    EXPECT_EQ(p.s.Charset, 204);
    EXPECT_EQ(p.s.Size, 19);
    EXPECT_EQ(p.s.Orientation, 1);
    EXPECT_EQ(p.s.PageWidthAdjusting, 2);
    EXPECT_EQ(p.s.PageLayout, 3);
    EXPECT_EQ(p.s.PageMode, 3);
    EXPECT_TRUE(p.makeOne);
    EXPECT_EQ(Parse("/psize userdefined").s.Size, 0);
    EXPECT_EQ(Parse("/psize 8x11").s.Size, 7);
    EXPECT_EQ(Parse("/charset mac").s.Charset, 77);
}

TEST(Switches, ValuesAreCaseSensitiveNamesAreNot) {
    EXPECT_EQ(Parse("/psize A4").result, -1);
    EXPECT_EQ(Parse("/PSIZE a4").result, 0);
    EXPECT_EQ(Parse("/pagenumbers Yes").result, -1);
    EXPECT_EQ(Parse("/engine browser").s.HtmlEngine, 2);
    EXPECT_EQ(Parse("/engine light").s.HtmlEngine, 1);
    EXPECT_EQ(Parse("/engine light /engine auto").s.HtmlEngine, 0);
    EXPECT_EQ(Parse("/engine chrome").result, -1);
}

TEST(Switches, MalformedLines) {
    EXPECT_EQ(Parse("/nosuch yes").result, -1);
    EXPECT_EQ(Parse("/title").result, -1);              // no value
    EXPECT_EQ(Parse("/title a /pagenumbers").result, -1);
    EXPECT_EQ(Parse("/keylen 64 ").result, 0);          // protection off: skipped, value unchecked
    EXPECT_EQ(Parse("/protect yes /keylen 64").result, -1);
    EXPECT_EQ(Parse("/ver v15").result, -1);
}

TEST(Switches, BooleanSwitches) {
    auto p = Parse("/pagenumbers yes /forcesizes yes /excludeorphanpages yes /preservelinks no /centerwnd yes "
                   "/fitwnd yes /hidemenu yes /hidetoolbar yes /hidewui yes /embedfonts no");
    ASSERT_EQ(p.result, 0);
    EXPECT_TRUE(p.s.PageNumbers);
    EXPECT_TRUE(p.s.ForceSizes);
    EXPECT_TRUE(p.s.ExcludeOrphanPages);
    EXPECT_FALSE(p.s.PreserveLinks);
    EXPECT_TRUE(p.s.CenterWindow && p.s.FitWindow && p.s.HideMenuBar && p.s.HideToolBar && p.s.HideWindowUI);
    EXPECT_FALSE(p.s.EmbedFonts);
}

TEST(Switches, ProtectionOnlyAfterProtectYes) {
    auto before = Parse("/allowprn no /protect yes");
    ASSERT_EQ(before.result, 0);
    EXPECT_TRUE(before.s.AllowPrint);  // skipped: protection was off when met
    EXPECT_TRUE(before.s.ProtectionEnabled);

    auto after = Parse("/protect yes /allowprn no /allowcpy no /allowmodif no /ownerpass o /userpass u /keylen 128");
    ASSERT_EQ(after.result, 0);
    EXPECT_FALSE(after.s.AllowPrint);
    EXPECT_FALSE(after.s.AllowCopy);
    EXPECT_FALSE(after.s.AllowModify);
    EXPECT_EQ(after.s.OwnerPassword, "o");
    EXPECT_EQ(after.s.UserPassword, "u");
    EXPECT_EQ(after.s.ProtectionKeyLength, 1);

    PdfSettings stored;
    stored.ProtectionEnabled = true;  // as if loaded on
    EXPECT_FALSE(Parse("/allowprn no", stored).s.AllowPrint);
}

TEST(Switches, MarginsReadLikeAtoiAndRangeChecked) {
    EXPECT_EQ(Parse("/margin-left 25").s.MarginLeft, 25);
    EXPECT_EQ(Parse("/margin-left 1500").s.MarginLeft, 0);
    EXPECT_EQ(Parse("/margin-left abc").s.MarginLeft, 0);
    EXPECT_EQ(Parse("/margin-right -5").s.MarginRight, 0);
    EXPECT_EQ(Parse("/margin-top 12mm").s.MarginTop, 12);
    EXPECT_EQ(Parse("/margin-bottom 999").s.MarginBottom, 999);
    EXPECT_EQ(Parse("/margin-bottom 99999999999999999999999").s.MarginBottom, 0);
}

TEST(Switches, StartIndexAndPartialApplication) {
    PdfSettings s;
    bool makeOne = false;
    std::vector<std::string> tokens{"a.html", "out.pdf", "/title", "T", "/bad", "x", "/author", "A"};
    EXPECT_EQ(ParseSwitches(tokens, 2, &s, &makeOne), -1);
    EXPECT_EQ(s.Title, "T");
    EXPECT_EQ(s.Author, "");
}

}  // namespace
}  // namespace vellumate
