#include "regfile.h"

#include <gtest/gtest.h>

#include <random>

using namespace regtool;
using namespace platform;

TEST(RegFile, KeyNamesShortAndLong) {
    HKEY root;
    std::string sub;
    ASSERT_TRUE(ParseKeyName("HKLM\\Software\\Vellumate\\", &root, &sub));
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(sub, "Software\\Vellumate");
    ASSERT_TRUE(ParseKeyName("hkey_current_user", &root, &sub));
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(sub, "");
    ASSERT_TRUE(ParseKeyName("HKCR\\CLSID", &root, &sub));
    EXPECT_EQ(LongKeyName(root, sub), "HKEY_CLASSES_ROOT\\CLSID");
    EXPECT_FALSE(ParseKeyName("HKU\\x", &root, &sub));
    EXPECT_FALSE(ParseKeyName("", &root, &sub));
}

TEST(RegFile, WritesWhatItReads) {
    ValueRecord sz{"Print Job", REG_SZ, {'a', '\\', '"', 'b', 0}};
    ValueRecord dw{"EMF: Enabled", REG_DWORD, {1, 0, 0, 0}};
    ValueRecord bin{"", REG_BINARY, {0, 0xFF, 0x10}};
    ValueRecord multi{"M", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}};
    ValueRecord odd{"Odd", REG_SZ, {'x', '\n', 'y', 0}};
    std::string text = FormatHeader() + FormatKeyLine("HKEY_LOCAL_MACHINE\\Software\\Vellumate");
    for (const auto* v : {&sz, &dw, &bin, &multi, &odd}) text += FormatValueLine(*v);
    EXPECT_NE(text.find("\"Print Job\"=\"a\\\\\\\"b\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"EMF: Enabled\"=dword:00000001\n"), std::string::npos);
    EXPECT_NE(text.find("@=hex:00,ff,10\n"), std::string::npos);
    EXPECT_NE(text.find("\"M\"=hex(7):61,00,62,00,00\n"), std::string::npos);

    ParsedFile p = ParseRegFile(text);
    ASSERT_TRUE(p.errors.empty()) << p.errors[0];
    ASSERT_EQ(p.keys.size(), 1u);
    const auto& vals = p.keys[0].values;
    ASSERT_EQ(vals.size(), 5u);
    EXPECT_EQ(vals[0].data, sz.data);
    EXPECT_EQ(vals[1].type, REG_DWORD);
    EXPECT_EQ(vals[1].data, dw.data);
    EXPECT_EQ(vals[2].name, "");
    EXPECT_EQ(vals[2].data, bin.data);
    EXPECT_EQ(vals[3].type, REG_MULTI_SZ);
    EXPECT_EQ(vals[4].type, REG_SZ);
    EXPECT_EQ(vals[4].data, odd.data);
}

TEST(RegFile, ReadsDeletionsContinuationsAndUtf16) {
    std::string text =
        "REGEDIT4\r\n\r\n[-HKCU\\Software\\Old]\r\n[HKCU\\Software\\New]\r\n\"gone\"=-\r\n"
        "\"long\"=hex:01,02,\\\r\n  03,04\r\n; comment\r\n";
    ParsedFile p = ParseRegFile(text);
    ASSERT_TRUE(p.errors.empty()) << p.errors[0];
    ASSERT_EQ(p.keys.size(), 2u);
    EXPECT_TRUE(p.keys[0].remove);
    EXPECT_TRUE(p.keys[1].values[0].remove);
    EXPECT_EQ(p.keys[1].values[1].data, (std::vector<std::uint8_t>{1, 2, 3, 4}));

    std::string utf8 = "Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"n\"=\"\xC3\xA4\"\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"n\"=\"\u00e4\"\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    ParsedFile a = ParseRegFile(utf8), b = ParseRegFile(utf16);
    ASSERT_TRUE(a.errors.empty() && b.errors.empty());
    EXPECT_EQ(a.keys[0].values[0].data, b.keys[0].values[0].data);
}

TEST(RegFile, DamageIsReportedWithItsLine) {
    ParsedFile none = ParseRegFile("just text\n");
    ASSERT_EQ(none.errors.size(), 1u);
    ParsedFile p = ParseRegFile(
        "Windows Registry Editor Version 5.00\n\"orphan\"=\"x\"\n[HKLM\\A\n[HKXX\\B]\n[HKLM\\C]\n"
        "\"d\"=dword:123456789\n\"e\"=hex:0g\n\"f\"=\"unterminated\nnovalue\n\"g\"=hex(zz):00\n");
    ASSERT_EQ(p.errors.size(), 8u);
    EXPECT_EQ(p.errors[0].substr(0, 7), "line 2:");
    EXPECT_EQ(p.errors[1].substr(0, 7), "line 3:");
}

TEST(RegFile, RandomBytesNeverCrash) {
    std::mt19937 rng(11);
    const std::string seed = "Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"v\"=hex(7):00,\\\n01\n@=dword:1\n";
    for (int round = 0; round < 300; ++round) {
        std::string s = seed;
        for (int k = 0; k < 8; ++k) s[rng() % s.size()] = static_cast<char>(rng());
        if (round % 3 == 0) s.resize(rng() % s.size());
        ParseRegFile(s);
        std::string junk(rng() % 200, '\0');
        for (char& c : junk) c = static_cast<char>(rng());
        ParseRegFile(junk);
        ParseRegFile("\xFF\xFE" + junk);
    }
}
