#include "pdf_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

#include "paths.h"
#include "platform/registry.h"
#include "system.h"
#include "vellumate_version.h"

namespace vellumate {
namespace {

TEST(ProductKeyName, MajorMinorOfTheVersion) {
    EXPECT_EQ(ProductKeyNameFor(std::string_view("2.4.0")), "Vellumate Quorvel 2.4");
    EXPECT_EQ(ProductKeyNameFor(std::string_view("3.10.7")), "Vellumate Quorvel 3.10");
    EXPECT_EQ(ProductKeyNameFor(std::nullopt), "Vellumate Quorvel Undefined");
    EXPECT_EQ(SettingsKeyPath(), "Software\\Brindlecote\\" + ProductKeyName() + "\\Settings");
}

// A row the switch parser or the registry could not read would fail only
// when its switch is used or its value loaded.
TEST(SettingsTable, EveryRowCanBeReadAndWritten) {
    std::set<std::string> switches, names;
    for (const SettingRow& row : SettingRows()) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(names.insert(row.name).second);
        const bool text = std::holds_alternative<std::string PdfSettings::*>(row.field);
        const bool flag = std::holds_alternative<bool PdfSettings::*>(row.field);
        switch (row.value) {
        case kNoSwitch: EXPECT_EQ(row.switchName, nullptr); break;
        case kText: EXPECT_TRUE(text); break;
        case kYesNo: EXPECT_TRUE(flag); break;
        case kChoice: EXPECT_FALSE(row.choices.empty()); [[fallthrough]];
        case kMargin:
        case kCharset:
        case kPaper: EXPECT_TRUE(!text && !flag); break;
        }
        if (!row.switchName) continue;
        const std::string name = row.switchName;
        EXPECT_TRUE(name.starts_with("/") && name == ToLowerAscii(name));
        EXPECT_TRUE(switches.insert(name).second);
        EXPECT_EQ(SettingRowOfSwitch(name), &row);
    }
    EXPECT_EQ(SettingRowOfSwitch("/all2one"), nullptr);  // the run's mode, not a setting
    EXPECT_EQ(SettingRowOfSwitch("/Compress"), nullptr);  // looked up in lower case
}

TEST(Tables, CharsetPositionsAndCodes) {
    ASSERT_EQ(CharsetTable().size(), 19u);
    for (size_t i = 0; i < CharsetTable().size(); ++i) {
        EXPECT_EQ(CharsetPositionFromCode(CharsetTable()[i].code), static_cast<int>(i));
        EXPECT_EQ(CharsetTable()[i].labelId, 7016 + static_cast<int>(i));
    }
    EXPECT_EQ(CharsetPositionFromCode(99), 1);
    EXPECT_EQ(CharsetCodeFromPosition(18), 255);
    EXPECT_EQ(CharsetCodeFromPosition(19), 1);
    EXPECT_EQ(CharsetCodeFromPosition(-1), 1);
}

TEST(Tables, PrinterPaperCodes) {
    ASSERT_EQ(PaperTable().size(), 20u);
    EXPECT_EQ(PrinterPaperCode(1), 1);
    EXPECT_EQ(PrinterPaperCode(6), 24);
    EXPECT_EQ(PrinterPaperCode(19), 21);
    EXPECT_EQ(PrinterPaperCode(0), 9);
    EXPECT_EQ(PrinterPaperCode(20), 9);
    EXPECT_EQ(PrinterPaperCode(-3), 9);
}

class SettingsRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder per test: the registry keeps each hive it opened for the
        // life of the process.
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("vm_settings_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        ::setenv("VELLUMATE_REGISTRY", dir_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(SettingsRegistry, NoKeyKeepsDefaults) {
    PdfSettings s;
    EXPECT_TRUE(s.Load());  // created empty
    PdfSettings defaults;
    EXPECT_EQ(s.Size, 2);
    EXPECT_EQ(s.MarginLeft, 10);
    EXPECT_TRUE(s.EmbedFonts);
    EXPECT_TRUE(s.PreserveLinks);
    EXPECT_EQ(s.Compression, 0);
    EXPECT_EQ(s.Version, 1);
    EXPECT_EQ(s.PageLayout, defaults.PageLayout);
}

TEST_F(SettingsRegistry, SaveThenLoadRoundTrip) {
    PdfSettings s;
    s.Size = 7;
    s.MarginBottom = 999;
    s.PageNumbers = true;
    s.EmbedFonts = false;
    s.Title = "not stored";
    ASSERT_TRUE(s.Save());
    PdfSettings t;
    ASSERT_TRUE(t.Load());
    EXPECT_EQ(t.Size, 7);
    EXPECT_EQ(t.MarginBottom, 999);
    EXPECT_TRUE(t.PageNumbers);
    EXPECT_FALSE(t.EmbedFonts);
    EXPECT_EQ(t.Title, "");
}

TEST_F(SettingsRegistry, LayoutAfterSave) {
    PdfSettings s;
    s.ProtectionEnabled = true;
    s.UserPassword = "secret";  // never stored
    ASSERT_TRUE(s.Save());
    platform::RegKeyHolder key;
    const std::string path = "Software\\Brindlecote\\Vellumate Quorvel " + std::to_string(VELLUMATE_VERSION_MAJOR) +
                             "." + std::to_string(VELLUMATE_VERSION_MINOR) + "\\Settings";
    ASSERT_EQ(platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, path.c_str(), 0, platform::KEY_READ, key.Out()), 0);
    std::vector<std::string> names;
    for (platform::DWORD i = 0;; ++i) {
        char name[256];
        platform::DWORD cch = sizeof name, type = 0, value = 0, size = sizeof value;
        if (platform::RegEnumValue(key.Get(), i, name, &cch, nullptr, &type,
                                   reinterpret_cast<platform::BYTE*>(&value), &size) != 0)
            break;
        EXPECT_EQ(type, platform::REG_DWORD) << name;
        EXPECT_EQ(size, 4u) << name;
        names.emplace_back(name, cch);
        if (names.back() == "ProtectionEnabled") {
            EXPECT_EQ(value, 1u);
        }
        if (names.back() == "Size") {
            EXPECT_EQ(value, 2u);
        }
    }
    const std::vector<std::string> expected = {
        "Compression", "JPEGQuality", "Version", "Charset", "PageLayout", "PageMode", "Orientation", "Size",
        "PageWidthAdjusting", "ProtectionEnabled", "ProtectionKeyLength", "MarginLeft", "MarginRight", "MarginTop",
        "MarginBottom", "AllowCopy", "AllowModify", "AllowPrint", "CenterWindow", "FitWindow", "HideMenuBar",
        "HideToolBar", "HideWindowUI", "PreserveLinks", "ExcludeOrphanPages", "ForceSizes", "PageNumbers",
        "EmbedFonts", "HtmlEngine"};
    EXPECT_EQ(names, expected);
}

TEST_F(SettingsRegistry, NonZeroLoadsTrueAndSavesAsOne) {
    ASSERT_EQ(sys::RegSetDwordLM(SettingsKeyPath(), "PageNumbers", 5), 0);
    ASSERT_EQ(sys::RegSetDwordLM(SettingsKeyPath(), "Size", 77), 0);  // no range check on load
    PdfSettings s;
    ASSERT_TRUE(s.Load());
    EXPECT_TRUE(s.PageNumbers);
    EXPECT_EQ(s.Size, 77);
    ASSERT_TRUE(s.Save());
    std::uint32_t v = 0;
    ASSERT_EQ(sys::RegQueryDwordLM(SettingsKeyPath(), "PageNumbers", &v), 0);
    EXPECT_EQ(v, 1u);
}

TEST_F(SettingsRegistry, ValueOfWrongTypeKeepsField) {
    ASSERT_EQ(sys::RegSetStringLM(SettingsKeyPath(), "MarginTop", "25"), 0);
    PdfSettings s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.MarginTop, 10);
}

TEST_F(SettingsRegistry, ProductKeyStrings) {
    ASSERT_TRUE(WriteRegString("", "SaveFolder", "/tmp/out dir"));
    std::string v;
    ASSERT_TRUE(ReadRegString("", "SaveFolder", &v));
    EXPECT_EQ(v, "/tmp/out dir");
    EXPECT_FALSE(ReadRegString("", "Missing", &v));
    // Longer than the 260-character buffer: not read.
    ASSERT_TRUE(WriteRegString("", "Long", std::string(300, 'x')));
    EXPECT_FALSE(ReadRegString("", "Long", &v));
}

TEST_F(SettingsRegistry, ReadOnlyHiveFailsSave) {
    PdfSettings s;
    ASSERT_TRUE(s.Save());
    // A copy of the hive without any write bit, in a folder of its own (the
    // hive of dir_ is already open read-write in this process).
    auto ro = dir_ / "ro";
    std::filesystem::create_directories(ro);
    for (auto& f : std::filesystem::directory_iterator(dir_)) {
        if (!f.is_regular_file()) continue;
        auto copy = ro / f.path().filename();
        std::filesystem::copy_file(f.path(), copy);
        std::filesystem::permissions(copy, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    }
    ::setenv("VELLUMATE_REGISTRY", ro.c_str(), 1);
    s.Size = 5;
    EXPECT_FALSE(s.Save());
    EXPECT_EQ(s.Size, 5);
    PdfSettings t;
    t.Load();
    EXPECT_EQ(t.Size, 2);  // nothing written
}

}  // namespace
}  // namespace vellumate
