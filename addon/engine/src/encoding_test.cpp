#include "htmlengine/encoding.h"

#include <gtest/gtest.h>

namespace htmlengine {
namespace {

TEST(DetectHtmlEncoding, OrderOfEvidence) {
    // A byte-order mark wins over everything.
    auto bom = DetectHtmlEncoding("\xEF\xBB\xBF<meta charset=\"iso-8859-2\">", "koi8-r");
    EXPECT_EQ(bom.name, "UTF-8");
    EXPECT_EQ(bom.source, EncodingSource::Bom);
    EXPECT_EQ(DetectHtmlEncoding("\xFF\xFEh\0", "").name, "UTF-16LE");
    // The transport's charset wins over the document's own.
    EXPECT_EQ(DetectHtmlEncoding("<meta charset=\"iso-8859-2\">", "koi8-r").name, "KOI8-R");
    EXPECT_EQ(DetectHtmlEncoding("<meta charset='iso-8859-2'>", "").name, "ISO-8859-2");
    EXPECT_EQ(DetectHtmlEncoding("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">", "").name,
              "CP932");
    // Labels the browsers read as windows-1252.
    EXPECT_EQ(DetectHtmlEncoding("<meta charset=iso-8859-1>", "").name, "WINDOWS-1252");
    EXPECT_EQ(DetectHtmlEncoding("<meta charset=\"us-ascii\">", "").name, "WINDOWS-1252");
    // A meta that claims UTF-16 in an 8-bit document is read as UTF-8.
    EXPECT_EQ(DetectHtmlEncoding("<meta charset=utf-16>", "").name, "UTF-8");
}

TEST(DetectHtmlEncoding, WithoutDeclaration) {
    EXPECT_EQ(DetectHtmlEncoding("<p>caf\xC3\xA9</p>", "").source, EncodingSource::Utf8Guess);
    auto latin = DetectHtmlEncoding("<p>caf\xE9</p>", "");
    EXPECT_EQ(latin.name, "WINDOWS-1252");
    EXPECT_EQ(latin.source, EncodingSource::Default);
    // A meta beyond the first 1024 bytes is not seen.
    std::string late = std::string(1100, ' ') + "<meta charset=koi8-r>\xE9";
    EXPECT_EQ(DetectHtmlEncoding(late, "").name, "WINDOWS-1252");
    // An unknown label is no declaration.
    EXPECT_EQ(DetectHtmlEncoding("<meta charset=\"x-no-such\">\xE9", "").name, "WINDOWS-1252");
}

TEST(ToUtf8, ConvertsAndReplaces) {
    EXPECT_EQ(DecodeHtml("caf\xE9 \x80", ""), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(DecodeHtml("\xEF\xBB\xBFok", ""), "ok");
    EXPECT_EQ(DecodeHtml(std::string("\xFF\xFEh\0i\0", 6), ""), "hi");
    // Invalid bytes in a declared UTF-8 document become U+FFFD, the rest survives.
    EXPECT_EQ(DecodeHtml("<meta charset=utf-8>a\xFF" "b", ""), "<meta charset=utf-8>a\xEF\xBF\xBD" "b");
    // A truncated UTF-16 document loses only its last byte.
    EXPECT_EQ(DecodeHtml(std::string("\xFF\xFEh\0i", 5), ""), "h\xEF\xBF\xBD");
}

TEST(ToUtf8, CharsetsOfContentTypes) {
    EXPECT_EQ(CharsetFromContentType("text/html; charset=UTF-8"), "UTF-8");
    EXPECT_EQ(CharsetFromContentType("text/html;charset=\"koi8-r\""), "koi8-r");
    EXPECT_EQ(CharsetFromContentType("text/html"), "");
}

TEST(DecodeCss, CharsetRuleAndFallback) {
    EXPECT_EQ(DecodeCss("@charset \"koi8-r\"; p{content:\"\xC1\"}", "", "UTF-8"), "@charset \"koi8-r\"; p{content:\"\xD0\xB0\"}");
    EXPECT_EQ(DecodeCss("p{content:\"\xE9\"}", "", "WINDOWS-1252"), "p{content:\"\xC3\xA9\"}");
}

TEST(IsValidUtf8, RejectsOverlongsAndSurrogates) {
    EXPECT_TRUE(IsValidUtf8("\xE4\xB8\xAD\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));
    EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));
}

}  // namespace
}  // namespace htmlengine
