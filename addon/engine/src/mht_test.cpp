#include "htmlengine/mht.h"

#include <gtest/gtest.h>

namespace htmlengine {
namespace {

const char* kArchive =
    "From: <Saved by a browser>\r\n"
    "Subject: Test page\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/related;\r\n"
    "\ttype=\"text/html\";\r\n"
    "\tboundary=\"----=_NextPart_000\"\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "\r\n"
    "------=_NextPart_000\r\n"
    "Content-Type: text/html;\r\n"
    "\tcharset=\"windows-1252\"\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "Content-Location: http://example.test/page.html\r\n"
    "\r\n"
    "<html><body><p class=3D\"x\">caf=E9 long line that is =\r\n"
    "continued</p><img src=3D\"pic.png\"><img src=3D\"cid:logo@x\"></body></html>\r\n"
    "------=_NextPart_000\r\n"
    "Content-Type: image/png\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Location: http://example.test/pic.png\r\n"
    "\r\n"
    "iVBORw0KGgo=\r\n"
    "------=_NextPart_000\r\n"
    "Content-Type: text/css\r\n"
    "Content-ID: <logo@x>\r\n"
    "\r\n"
    "p { color: red }\r\n"
    "------=_NextPart_000--\r\n";

TEST(ParseMht, UnpacksPartsWithTheirDecodings) {
    auto a = ParseMht(kArchive);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->parts.size(), 3u);
    EXPECT_EQ(a->root, 0u);
    const auto& html = a->parts[0];
    EXPECT_EQ(html.contentType, "text/html");
    EXPECT_EQ(html.charset, "windows-1252");
    EXPECT_EQ(html.location, "http://example.test/page.html");
    EXPECT_NE(html.body.find("<p class=\"x\">caf\xE9 long line that is continued</p>"), std::string::npos);
    EXPECT_EQ(a->parts[1].body, "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(a->parts[2].contentId, "logo@x");
    EXPECT_EQ(a->parts[2].body, "p { color: red }");
    EXPECT_TRUE(a->warnings.empty());
}

TEST(ParseMht, FindsPartsByLocationAndContentId) {
    auto a = ParseMht(kArchive);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Find("http://example.test/pic.png"), &a->parts[1]);
    EXPECT_EQ(a->Find("http://example.test/pic.png#x"), &a->parts[1]);
    EXPECT_EQ(a->Find("cid:logo@x"), &a->parts[2]);
    EXPECT_EQ(a->Find("CID:<logo@x>"), &a->parts[2]);
    EXPECT_EQ(a->Find("http://example.test/other.png"), nullptr);
}

TEST(ParseMht, StartParameterChoosesTheRoot) {
    std::string s =
        "Content-Type: multipart/related; boundary=b; start=\"<main>\"\n\n"
        "--b\nContent-Type: text/html\n\n<p>first</p>\n"
        "--b\nContent-Type: text/html\nContent-ID: <main>\n\n<p>second</p>\n--b--\n";
    auto a = ParseMht(s);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->root, 1u);
    EXPECT_EQ(a->parts[1].body, "<p>second</p>");
}

TEST(ParseMht, DamagedArchives) {
    EXPECT_FALSE(ParseMht(""));
    EXPECT_FALSE(ParseMht("<html>not an archive</html>"));
    EXPECT_FALSE(ParseMht("Content-Type: multipart/related\n\n--x\n"));  // no boundary
    EXPECT_FALSE(ParseMht("Content-Type: multipart/related; boundary=x\n\nno parts at all"));
    // A missing closing delimiter keeps the last part and says so.
    auto a = ParseMht("Content-Type: multipart/related; boundary=x\n\n--x\nContent-Type: text/html\n\n<p>cut");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->parts[0].body, "<p>cut");
    EXPECT_EQ(a->warnings.size(), 1u);
    // Delimiter-like lines inside a part are text.
    auto b = ParseMht("Content-Type: multipart/related; boundary=x\n\n--x\n\n--xy\n--x--\n");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->parts[0].body, "--xy");
}

TEST(LooksLikeMht, HeadersDecide) {
    EXPECT_TRUE(LooksLikeMht(kArchive));
    EXPECT_FALSE(LooksLikeMht("<!DOCTYPE html><html>"));
    EXPECT_FALSE(LooksLikeMht("Content-Type: text/html\n\n<p>"));
}

TEST(TransferDecodings, QuotedPrintableAndBase64) {
    EXPECT_EQ(DecodeQuotedPrintable("a=3Db=\r\nc=\nd =zz="), "a=bcd =zz=");
    EXPECT_EQ(DecodeBase64("SGVs\r\nbG8="), "Hello");
    EXPECT_EQ(DecodeBase64("SGVsbG8"), "Hello");
    EXPECT_EQ(DecodeBase64("!!"), "");
}

}  // namespace
}  // namespace htmlengine
