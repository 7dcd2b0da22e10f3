#include "platform/com.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace com;

TEST(Bstr, LayoutIsLengthPrefixedUtf16) {
    const char16_t text[] = u"abc";
    BSTR b = SysAllocString(text);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
    EXPECT_EQ(prefix, 6u);  // bytes, not units
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);

    BSTR z = SysAllocStringLen(u"a\0b", 3);  // embedded zero kept
    EXPECT_EQ(SysStringLen(z), 3u);
    EXPECT_EQ(z[2], u'b');
    SysFreeString(z);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    EXPECT_EQ(blank[0], 0);
    SysFreeString(blank);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Bstr, Utf8RoundTrip) {
    for (std::string s : {"", "plain", "Gr\xC3\xBC\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC", "emoji \xF0\x9F\x98\x80 end"}) {
        Bstr b(s);
        EXPECT_EQ(b.Utf8(), s);
    }
    Bstr e("\xF0\x9F\x98\x80");
    EXPECT_EQ(SysStringLen(e.Get()), 2u);  // a surrogate pair
    EXPECT_EQ(e.Get()[0], 0xD83D);
}

TEST(Bstr, InvalidBytesTravelAsLoneSurrogates) {
    // A Latin-1 title, a truncated sequence, an overlong form, an encoded surrogate.
    for (std::string s : {std::string("caf\xE9"), std::string("\xC3"), std::string("a\xC0\xAFz"),
                          std::string("\xED\xB2\x80"), std::string("\xFF\xFE", 2), std::string("x\xE6\x97")}) {
        Bstr b(s);
        EXPECT_EQ(b.Utf8(), s);
    }
    Bstr b(std::string("caf\xE9"));
    EXPECT_EQ(SysStringLen(b.Get()), 4u);
    EXPECT_EQ(b.Get()[3], 0xDC80 + (0xE9 - 0x80));
}

TEST(Bstr, OtherLoneSurrogatesBecomeReplacementCharacter) {
    const char16_t s[] = {u'a', 0xD800, u'b', 0xDC10, 0};
    EXPECT_EQ(Utf8FromBstr(s), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(Utf8FromBstr(nullptr), "");
}

TEST(Bstr, OwningWrapperMovesAndDetaches) {
    Bstr a("one");
    Bstr b(std::move(a));
    EXPECT_EQ(a.Get(), nullptr);
    EXPECT_EQ(b.Utf8(), "one");
    *b.Out() = BstrFromUtf8("two");
    EXPECT_EQ(b.Utf8(), "two");
    BSTR raw = b.Detach();
    EXPECT_EQ(Utf8FromBstr(raw), "two");
    SysFreeString(raw);
}
