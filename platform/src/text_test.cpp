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
