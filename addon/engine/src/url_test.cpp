#include "htmlengine/url.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace htmlengine {
namespace {

class NormaliseSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("vm_url_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_ / "sub");
        std::ofstream(dir_ / "page.html") << "<p>x</p>";
        std::ofstream(dir_ / "sub" / "in sub.html") << "<p>y</p>";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(NormaliseSourceTest, ExistingAbsolutePathBecomesFileAddress) {
    std::string path = (dir_ / "page.html").string();
    EXPECT_EQ(NormaliseSource(path, "/elsewhere"), "file://" + path);
}

TEST_F(NormaliseSourceTest, BareNameIsLookedUpInTheCurrentFolder) {
    EXPECT_EQ(NormaliseSource("page.html", dir_.string()), "file://" + (dir_ / "page.html").string());
    EXPECT_EQ(NormaliseSource("page.html", dir_.string() + "/"), "file://" + (dir_ / "page.html").string());
}

TEST_F(NormaliseSourceTest, RelativePathWithFolderIsTakenFromTheCurrentFolder) {
    // Escapes are decoded for the file test; the address carries the decoded path.
    EXPECT_EQ(NormaliseSource("sub/in%20sub.html", dir_.string()), "file://" + (dir_ / "sub" / "in sub.html").string());
}

TEST_F(NormaliseSourceTest, NoSuchFileBecomesHttpAddressOfTheTextAsGiven) {
    EXPECT_EQ(NormaliseSource("www.example.com/a%20b", dir_.string()), "http://www.example.com/a%20b");
    EXPECT_EQ(NormaliseSource("missing.html", dir_.string()), "http://missing.html");
}

TEST_F(NormaliseSourceTest, KnownSchemesAreKeptUnchanged) {
    for (std::string s : {"http://x.org/%41", "HTTPS://x.org", "ftp://f", "file:///tmp/a%20b.html", "mailto:a@b",
                          "news:comp.lang", "gopher://g", "socks://s"})
        EXPECT_EQ(NormaliseSource(s, dir_.string()), s);
}

TEST_F(NormaliseSourceTest, BrokenEscapeGivesAboutBlank) {
    EXPECT_EQ(NormaliseSource("page%2.html", dir_.string()), "about:blank");
    EXPECT_EQ(NormaliseSource("100%", dir_.string()), "about:blank");
    EXPECT_EQ(NormaliseSource("%zz", dir_.string()), "about:blank");
}

TEST_F(NormaliseSourceTest, OverlongSourceGivesAboutBlank) {
    EXPECT_EQ(NormaliseSource(std::string(2084, 'a'), dir_.string()), "about:blank");
    EXPECT_EQ(NormaliseSource(std::string(2083, 'a'), dir_.string()), "http://" + std::string(2083, 'a'));
    // The limit is on the decoded text: escapes shrink it.
    std::string escaped;
    for (int i = 0; i < 1000; ++i) escaped += "%41";
    EXPECT_EQ(NormaliseSource(escaped, dir_.string()), "http://" + escaped);
}

TEST(PercentDecode, DecodesAndRejects) {
    EXPECT_EQ(PercentDecode("a%20b%2fc"), "a b/c");
    EXPECT_EQ(PercentDecode("%e4%B8%AD"), "\xE4\xB8\xAD");
    EXPECT_FALSE(PercentDecode("a%2"));
    EXPECT_FALSE(PercentDecode("a%g0"));
    EXPECT_EQ(PercentDecode("%00"), std::string(1, '\0'));
}

TEST(SchemeOf, DriveLettersAreNoSchemes) {
    EXPECT_EQ(SchemeOf("C:/x"), "");
    EXPECT_EQ(SchemeOf("Http://x"), "http");
    EXPECT_EQ(SchemeOf("about:blank"), "about");
    EXPECT_EQ(SchemeOf("/a:b"), "");
    EXPECT_EQ(SchemeOf("a+b-c.d:x"), "a+b-c.d");
}

TEST(ResolveUrl, ReferenceResolution) {
    const std::string base = "http://a/b/c/d;p?q";
    EXPECT_EQ(ResolveUrl(base, "g"), "http://a/b/c/g");
    EXPECT_EQ(ResolveUrl(base, "./g"), "http://a/b/c/g");
    EXPECT_EQ(ResolveUrl(base, "g/"), "http://a/b/c/g/");
    EXPECT_EQ(ResolveUrl(base, "/g"), "http://a/g");
    EXPECT_EQ(ResolveUrl(base, "//g"), "http://g");
    EXPECT_EQ(ResolveUrl(base, "?y"), "http://a/b/c/d;p?y");
    EXPECT_EQ(ResolveUrl(base, "#s"), "http://a/b/c/d;p?q#s");
    EXPECT_EQ(ResolveUrl(base, "../g"), "http://a/b/g");
    EXPECT_EQ(ResolveUrl(base, "../../../g"), "http://a/g");
    EXPECT_EQ(ResolveUrl(base, ""), "http://a/b/c/d;p?q");
    EXPECT_EQ(ResolveUrl(base, "https://x/y"), "https://x/y");
    EXPECT_EQ(ResolveUrl(base, "  g  "), "http://a/b/c/g");
    EXPECT_EQ(ResolveUrl("file:///doc/a/index.html", "..\\img\\p.png"), "file:///doc/img/p.png");
    EXPECT_EQ(ResolveUrl("file:///doc/index.html", "mailto:x@y"), "mailto:x@y");
    EXPECT_EQ(ResolveUrl("", "rel.html"), "rel.html");
}

TEST(FileAddresses, PathRoundTrip) {
    EXPECT_EQ(FileUrlFromPath("/a/b c#1.html"), "file:///a/b%20c%231.html");
    EXPECT_EQ(FilePathFromUrl("file:///a/b%20c%231.html"), "/a/b c#1.html");
    EXPECT_EQ(FilePathFromUrl("file://localhost/x/y.html#frag"), "/x/y.html");
    EXPECT_EQ(FilePathFromUrl("file:/x/y.html"), "/x/y.html");
    EXPECT_FALSE(FilePathFromUrl("file://otherhost/x"));
    EXPECT_FALSE(FilePathFromUrl("http://a/b"));
}

}  // namespace
}  // namespace htmlengine
