// The contents-file parser: lists and levels, parameter forms, the roles of
// the parameters, references, and damaged input.
#include <gtest/gtest.h>

#include "convert_chm_sitemap.h"

namespace vellumate {
namespace {

std::string Obj(const std::string& name, const std::string& local) {
    std::string s = "<LI><OBJECT type=\"text/sitemap\">\n  <param name=\"Name\" value=\"" + name + "\">\n";
    if (!local.empty()) s += "  <param name=\"Local\" value=\"" + local + "\">\n";
    return s + "</OBJECT>\n";
}

std::vector<std::pair<std::string, int>> TitlesAndLevels(const std::vector<SitemapEntry>& v) {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& e : v) out.emplace_back(e.title, e.level);
    return out;
}

TEST(Sitemap, ListsGiveLevelsAndEveryFileStartsAfresh) {
    const std::string text = "<HTML><BODY><OBJECT type=\"text/site properties\"></OBJECT>\n<UL>" + Obj("A", "a.htm") +
                             "<UL>" + Obj("A1", "a1.htm") + "<ul>" + Obj("A1x", "a1x.htm") + "</ul>" +
                             Obj("A2", "a2.htm") + "</UL>" + Obj("B", "b.htm") +
                             // a list opened after the item was closed still nests under it
                             "</LI><UL>" + Obj("B1", "b1.htm") + "</UL></UL></BODY></HTML>";
    const std::vector<std::pair<std::string, int>> want{{"A", 0},  {"A1", 1}, {"A1x", 2},
                                                        {"A2", 1}, {"B", 0},  {"B1", 1}};
    EXPECT_EQ(TitlesAndLevels(ParseSitemap(text)), want);
    // A second file of the same run gets the same levels.
    EXPECT_EQ(TitlesAndLevels(ParseSitemap(text)), want);
    // An entry outside every list, and one behind a surplus "</UL>".
    auto loose = ParseSitemap(Obj("out", "o.htm") + "</UL>" + Obj("low", "l.htm"));
    EXPECT_EQ(TitlesAndLevels(loose), (std::vector<std::pair<std::string, int>>{{"out", -1}, {"low", -2}}));
}

TEST(Sitemap, ParameterFormsOfRealWriters) {
    const std::string text =
        "\xef\xbb\xbf<ul>\n"
        "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"X1\" /><param name=\"Local\" "
        "value=\"x1.html\" /></object></li>\n"
        "<LI><OBJECT TYPE='text/sitemap'><PARAM NAME='name' VALUE='X2'><PARAM NAME='LOCAL' "
        "VALUE='x2.html'></OBJECT>\n"
        "<LI><OBJECT type=text/sitemap><param name=Name value=X3/><param name=Local value=x3.html/></OBJECT>\n"
        "<LI><OBJECT\ttype=\"text/sitemap\">\n<param   name=\"Name\"\n value=\"X4\">"
        "<param name=\"Comment\" value=\"\"><param name=\"Local\" value=\"x4.html\"></OBJECT>\n"
        "<LI><OBJECT type=\"text/html\"><param name=\"Name\" value=\"not a sitemap\"></OBJECT>\n"
        "</ul>";
    auto v = ParseSitemap(text);
    ASSERT_EQ(v.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v[i].title, "X" + std::to_string(i + 1));
        EXPECT_EQ(v[i].local, "x" + std::to_string(i + 1) + ".html");
        EXPECT_EQ(v[i].level, 0);
    }
}

TEST(Sitemap, RolesOfTheFirstAndLastParameter) {
    auto one = [](const std::string& params) {
        auto v = ParseSitemap("<UL><LI><OBJECT type=\"text/sitemap\">" + params + "</OBJECT></UL>");
        return v.size() == 1 ? v[0] : SitemapEntry{"<" + std::to_string(v.size()) + " entries>", false, {}, 0};
    };
    auto e = one(R"(<param name="Name" value="T"><param name="Merge" value="m"><param name="Local" value="t.htm">)");
    EXPECT_EQ(e.title, "T");
    EXPECT_EQ(e.local, "t.htm");
    // The last parameter is the image number: no reference at all.
    e = one(R"(<param name="Name" value="T"><param name="Local" value="t.htm"><param name="ImageNumber" value="3">)");
    EXPECT_EQ(e.title, "T");
    EXPECT_EQ(e.local, "");
    // Name last: the roles swap.
    e = one(R"(<param name="Local" value="t.htm"><param name="Name" value="T">)");
    EXPECT_EQ(e.title, "T");
    EXPECT_EQ(e.local, "t.htm");
    // Only a name: a heading.
    e = one(R"(<param name="Name" value="Heading">)");
    EXPECT_EQ(e.title, "Heading");
    EXPECT_EQ(e.local, "");
    // No name: a topic without a title.
    e = one(R"(<param name="Local" value="t.htm">)");
    EXPECT_EQ(e.title, "");
    EXPECT_EQ(e.local, "t.htm");
    // An object without parameters gives nothing.
    EXPECT_TRUE(ParseSitemap("<UL><LI><OBJECT type=\"text/sitemap\"></OBJECT></UL>").empty());
}

TEST(Sitemap, ReferencesTwoEntryRuleAndWebEntries) {
    auto v = ParseSitemap("<UL>" + Obj("Pic", "images\\pic.png") + Obj("Doc", "sub\\My%20Page.HTM#a%20b") +
                          Obj("Web", "http://example.com/a%20b.htm") + Obj("Secure", "https://example.com/x") +
                          Obj("A &amp; B &#x263A;", "a&amp;b.htm") + "</UL>");
    ASSERT_EQ(v.size(), 6u);
    // Neither side names a page: two headings.
    EXPECT_EQ(v[0].title, "Pic");
    EXPECT_EQ(v[0].local, "");
    EXPECT_EQ(v[1].title, "images/pic.png");
    EXPECT_EQ(v[1].local, "");
    EXPECT_EQ(v[1].level, 0);
    // Backslashes become slashes, escapes are decoded, ".HTM" counts as a page.
    EXPECT_EQ(v[2].local, "sub/My Page.HTM#a b");
    EXPECT_FALSE(v[2].web);
    // Addresses stay as written.
    EXPECT_TRUE(v[3].web);
    EXPECT_EQ(v[3].local, "http://example.com/a%20b.htm");
    EXPECT_TRUE(v[4].web);
    EXPECT_EQ(v[4].title, "Secure");
    EXPECT_EQ(v[4].local, "https://example.com/x");
    EXPECT_EQ(v[5].title, "A & B \xe2\x98\xba");
    EXPECT_EQ(v[5].local, "a&b.htm");

    EXPECT_EQ(PercentDecode("%41%4a%zz%4"), "AJ%zz%4");
    EXPECT_TRUE(IsWebReference("mailto:x@y"));
    EXPECT_TRUE(IsWebReference("ms-its:other.chm::/a.htm"));
    EXPECT_FALSE(IsWebReference("c:/a.htm"));
    EXPECT_FALSE(IsWebReference("a.htm"));
    EXPECT_EQ(DecodeEntities("&bogus; &#9999999; &#; &#xZZ; &amp"), "&bogus; \xef\xbf\xbd &#; &#xZZ; &amp");
}

TEST(Sitemap, DamagedTextAddsWhatCanBeReadAndNeverMore) {
    // Unclosed object: nothing from that segment after it.
    auto v = ParseSitemap("<UL>" + Obj("ok", "ok.htm") + "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" "
                          "value=\"lost\"></UL>");
    EXPECT_EQ(TitlesAndLevels(v), (std::vector<std::pair<std::string, int>>{{"ok", 0}}));
    for (const char* junk : {"", "<", "<UL", "<UL x=\">", "<OBJECT", "<object type=\"text/sitemap\"><param name=\"",
                             "</UL></UL></UL>", "<!-- <UL>", "<param name=a value=b>"})
        EXPECT_NO_THROW(ParseSitemap(junk)) << junk;
    // A list tag inside a comment does not count.
    v = ParseSitemap("<UL><!-- <UL> -->" + Obj("c", "c.htm") + "</UL>");
    EXPECT_EQ(TitlesAndLevels(v), (std::vector<std::pair<std::string, int>>{{"c", 0}}));
    // Nor does an entry: a commented-out entry is no outline, even one whose
    // comment is never closed.
    v = ParseSitemap("<UL><!--" + Obj("hidden", "h.htm") + "-->" + Obj("c", "c.htm") + "<!-- " + Obj("cut", "x.htm") +
                     "</UL>");
    EXPECT_EQ(TitlesAndLevels(v), (std::vector<std::pair<std::string, int>>{{"c", 0}}));
}

}  // namespace
}  // namespace vellumate
