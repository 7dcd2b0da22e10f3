#include "platform/text.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Text, FoldCaseCoversAsciiAndBeyondAndKeepsInvalidBytes) {
    EXPECT_EQ(FoldCase("Software\\Classes"), "software\\classes");
    EXPECT_EQ(FoldCase("\xC3\x84\xC3\x96\xC3\x9C"), "\xC3\xA4\xC3\xB6\xC3\xBC");  // umlauts
    EXPECT_EQ(FoldCase("\xD0\x9F\xD0\xA0"), "\xD0\xBF\xD1\x80");                  // Cyrillic
    EXPECT_EQ(FoldCase("A\xFF" "B"), "a\xFF" "b");
    EXPECT_TRUE(EqualsNoCase("Print Job", "PRINT JOB"));
    EXPECT_FALSE(EqualsNoCase("Print Job", "PrintJob"));
}

TEST(Text, StrictUtf16Conversions) {
    EXPECT_EQ(Utf8FromUtf16(Utf16FromUtf8("a\xE2\x82\xAC\xF0\x9F\x98\x80")), "a\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16FromUtf8("a\xFF"), u"a\uFFFD");
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));
    EXPECT_TRUE(IsValidUtf8(""));
}

TEST(Text, StrictConversionsReplaceEachBadPieceOnce) {
    // Overlong forms, encoded surrogates and a truncated sequence: one U+FFFD per byte.
    EXPECT_EQ(Utf32FromUtf8("\xC0\x80" "a"), U"\uFFFD\uFFFDa");
    EXPECT_EQ(Utf32FromUtf8("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf32FromUtf8("x\xE2\x82"), U"x\uFFFD\uFFFD");
    EXPECT_EQ(Utf32FromUtf8("\xF0\x9F\x98\x80"), U"\U0001F600");
    // A lone surrogate has no UTF-8 form; a pair is one character.
    EXPECT_EQ(Utf8FromUtf16(std::u16string{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Utf8FromUtf16(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8FromUtf32(U"\x110000"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16FromUtf32(U"\U0001F600\xDC00"), (std::u16string{0xD83D, 0xDE00, 0xFFFD}));
    std::u16string appended;
    AppendUtf16(appended, U'\U00010000');
    EXPECT_EQ(appended, (std::u16string{0xD800, 0xDC00}));
}

TEST(Text, AsciiCaseLeavesEveryOtherByte) {
    EXPECT_EQ(ToLowerAscii("Content-Type: TEXT/Html"), "content-type: text/html");
    EXPECT_EQ(ToLowerAscii("\xC3\x84" "B"), "\xC3\x84" "b");  // not folded beyond ASCII
    EXPECT_EQ(ToUpperAscii("utf-8"), "UTF-8");
    EXPECT_EQ(ToLowerAscii('Z'), 'z');
    EXPECT_TRUE(EqualsNoCaseAscii("A4", "a4"));
    EXPECT_FALSE(EqualsNoCaseAscii("a4", "a41"));
    EXPECT_TRUE(StartsWithNoCaseAscii("HTTP://x", "http:"));
    EXPECT_FALSE(StartsWithNoCaseAscii("ht", "http:"));
    EXPECT_TRUE(EndsWithNoCaseAscii("Index.HTM", ".htm"));
    EXPECT_FALSE(EndsWithNoCaseAscii("htm", ".htm"));
}

TEST(Text, FindNoCaseAsciiFromAPosition) {
    EXPECT_EQ(FindNoCaseAscii("<P><OBJECT type", "<object"), 3u);
    EXPECT_EQ(FindNoCaseAscii("<object><OBJECT", "<object", 1), 8u);
    EXPECT_EQ(FindNoCaseAscii("<obj", "<object"), std::string_view::npos);
    EXPECT_EQ(FindNoCaseAscii("abc", ""), std::string_view::npos);
    EXPECT_EQ(FindNoCaseAscii("abc", "c", 5), std::string_view::npos);
    EXPECT_TRUE(ContainsNoCaseAscii("Page.HTML", ".htm"));
}

TEST(Text, CharsetCodesSelectCodePages) {
    EXPECT_EQ(CodePageFromCharset(0), 1252);
    EXPECT_EQ(CodePageFromCharset(1), 65001);
    EXPECT_EQ(CodePageFromCharset(128), 932);
    EXPECT_EQ(CodePageFromCharset(204), 1251);
    EXPECT_EQ(CodePageFromCharset(255), 437);
    EXPECT_EQ(CodePageFromCharset(77), 10000);
    EXPECT_EQ(CodePageFromCharset(999), 1252);
}

TEST(Text, DecodesOnlyWhatIsNotUtf8) {
    EXPECT_EQ(Utf8FromCharset("caf\xC3\xA9", 204), "caf\xC3\xA9");                  // valid UTF-8 stays
    EXPECT_EQ(Utf8FromCharset("caf\xE9", 0), "caf\xC3\xA9");                         // 1252
    EXPECT_EQ(Utf8FromCharset("\xCF\xF0\xE8\xE2\xE5\xF2", 204), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(Utf8FromCharset("\x93\xFA\x96\x7B", 128), "\xE6\x97\xA5\xE6\x9C\xAC");  // Shift-JIS
    EXPECT_EQ(Utf8FromCharset("\x80 \xC3\xA9", 1), "\xE2\x82\xAC \xC3\xA9");          // UTF-8, 1252 for the rest
    EXPECT_EQ(Utf8FromCharset("\x81", 0), "\xC2\x81");                                // unassigned in iconv's 1252? kept decodable
}

TEST(Text, EncodesIntoCodePages) {
    EXPECT_EQ(CodePageFromUtf8("caf\xC3\xA9", 1252), "caf\xE9");
    EXPECT_EQ(CodePageFromUtf8("\xE6\x97\xA5", 1252), "?");
    EXPECT_EQ(Utf8FromCodePage("\x82\xA0", 932), "\xE3\x81\x82");
}
