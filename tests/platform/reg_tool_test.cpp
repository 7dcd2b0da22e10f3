// The reg program end to end, on a private registry folder.
#include "platform/registry.h"
#include "platform_e2e.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

namespace {

class RegTool : public e2e::RegistryTest {
protected:
    static e2e::Result Reg(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), e2e::Bin("reg"));
        return e2e::Run(args, input);
    }
};

}  // namespace

TEST_F(RegTool, AddQueryDelete) {
    auto add = Reg({"add", "HKLM\\Software\\Vellumate", "/v", "Print Job", "/t", "REG_SZ", "/d", "/tmp/job 1.ini", "/f"});
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "The operation completed successfully.\n");
    ASSERT_EQ(Reg({"add", "HKEY_LOCAL_MACHINE\\software\\vellumate", "/v", "MessageId", "/t", "REG_DWORD", "/d", "0x10",
                   "/f"}).status,
              0);
    ASSERT_EQ(Reg({"add", "HKLM\\Software\\Vellumate\\Defaults", "/f"}).status, 0);

    auto q = Reg({"query", "HKLM\\Software\\Vellumate"});
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_EQ(q.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Vellumate\n"
              "    Print Job    REG_SZ    /tmp/job 1.ini\n"
              "    MessageId    REG_DWORD    0x10\n"
              "\nHKEY_LOCAL_MACHINE\\Software\\Vellumate\\Defaults\n\n");
    auto one = Reg({"query", "hklm\\Software\\Vellumate", "/v", "print job"});
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(one.out, "\nHKEY_LOCAL_MACHINE\\Software\\Vellumate\n    Print Job    REG_SZ    /tmp/job 1.ini\n\n");

    // The value the programs read is the one reg wrote.
    platform::DWORD id = 0;
    EXPECT_EQ(platform::RegGetDword(platform::HKEY_LOCAL_MACHINE, "Software\\Vellumate", "MessageId", &id), 0);
    EXPECT_EQ(id, 16u);

    // Without /f an existing value is kept when nobody says yes.
    auto keep = Reg({"add", "HKLM\\Software\\Vellumate", "/v", "MessageId", "/t", "REG_DWORD", "/d", "1"});
    EXPECT_EQ(keep.status, 1);
    auto yes = Reg({"add", "HKLM\\Software\\Vellumate", "/v", "MessageId", "/t", "REG_DWORD", "/d", "1"}, "yes\n");
    EXPECT_EQ(yes.status, 0);

    ASSERT_EQ(Reg({"delete", "HKLM\\Software\\Vellumate", "/v", "MessageId", "/f"}).status, 0);
    auto gone = Reg({"query", "HKLM\\Software\\Vellumate", "/v", "MessageId"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "ERROR: The system was unable to find the specified registry key or value.\n");
    EXPECT_EQ(Reg({"delete", "HKLM\\Software\\Vellumate"}).status, 1);  // not confirmed
    ASSERT_EQ(Reg({"delete", "HKLM\\Software\\Vellumate", "/f"}).status, 0);
    EXPECT_EQ(Reg({"query", "HKLM\\Software\\Vellumate"}).status, 1);
}

TEST_F(RegTool, ClassesRootAndUserHive) {
    ASSERT_EQ(Reg({"add", "HKCR\\VmTest.Thing\\CLSID", "/ve", "/d", "{X}", "/f"}).status, 0);
    auto q = Reg({"query", "HKLM\\Software\\Classes\\VmTest.Thing\\CLSID", "/ve"});
    ASSERT_EQ(q.status, 0);
    EXPECT_NE(q.out.find("    (Default)    REG_SZ    {X}\n"), std::string::npos);
    ASSERT_EQ(Reg({"add", "HKCU\\Software\\Vellumate", "/v", "Language", "/d", "English", "/f"}).status, 0);
    EXPECT_EQ(Reg({"query", "HKLM\\Software\\Vellumate", "/v", "Language"}).status, 1);
}

TEST_F(RegTool, ExportAndImportRoundTrip) {
    ASSERT_EQ(Reg({"add", "HKCU\\Software\\Src", "/v", "s", "/d", "a \"quoted\" \\ text", "/f"}).status, 0);
    ASSERT_EQ(Reg({"add", "HKCU\\Software\\Src\\Sub", "/v", "d", "/t", "REG_DWORD", "/d", "4294967295", "/f"}).status, 0);
    ASSERT_EQ(Reg({"add", "HKCU\\Software\\Src\\Sub", "/v", "b", "/t", "REG_BINARY", "/d", "00ff10", "/f"}).status, 0);
    std::string file = folder.path + "/out.reg";
    auto ex = Reg({"export", "HKCU\\Software\\Src", file});
    ASSERT_EQ(ex.status, 0) << ex.err;
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Src]\n\"s\"=\"a \\\"quoted\\\" \\\\ text\"\n\n"
              "[HKEY_CURRENT_USER\\Software\\Src\\Sub]\n\"d\"=dword:ffffffff\n\"b\"=hex:00,ff,10\n\n");
    EXPECT_EQ(Reg({"export", "HKCU\\Software\\Src", file}).status, 1);  // exists, not confirmed
    EXPECT_EQ(Reg({"export", "HKCU\\Software\\Src", file, "/y"}).status, 0);

    ASSERT_EQ(Reg({"delete", "HKCU\\Software\\Src", "/f"}).status, 0);
    auto im = Reg({"import", file});
    ASSERT_EQ(im.status, 0) << im.err;
    auto q = Reg({"query", "HKCU\\Software\\Src", "/s"});
    ASSERT_EQ(q.status, 0);
    EXPECT_EQ(q.out,
              "\nHKEY_CURRENT_USER\\Software\\Src\n    s    REG_SZ    a \"quoted\" \\ text\n"
              "\nHKEY_CURRENT_USER\\Software\\Src\\Sub\n    d    REG_DWORD    0xffffffff\n    b    REG_BINARY    00FF10\n\n");
}

TEST_F(RegTool, BadInputExitsWithOneAndAMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    std::string bad = folder.path + "/bad.reg";
    std::ofstream(bad) << "Windows Registry Editor Version 5.00\n[HKLM\\Software\\Ok]\n\"v\"=dword:zz\n";
    std::string garbage = folder.path + "/garbage.reg";
    std::ofstream(garbage) << std::string("\x00\x01\x02garbage\xFF", 12);
    const std::vector<Case> cases = {
        {{}, "usage"},
        {{"frobnicate", "HKLM\\x"}, "Invalid operation"},
        {{"query", "HKU\\Software"}, "Invalid key name"},
        {{"query"}, "Invalid syntax"},
        {{"add", "HKLM\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "12x", "/f"}, "Invalid value for REG_DWORD"},
        {{"add", "HKLM\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296", "/f"}, "Invalid value"},
        {{"add", "HKLM\\Software\\X", "/v", "n", "/t", "REG_WHAT", "/d", "1", "/f"}, "Invalid type"},
        {{"add", "HKLM\\Software\\X", "/v"}, "Missing data"},
        {{"add", "HKLM\\Software\\" + std::string(300, 'k'), "/v", "n", "/d", "x", "/f"}, "parameter is incorrect"},
        {{"delete", "HKLM", "/f"}, "whole hive"},
        {{"import", folder.path + "/missing.reg"}, "Cannot read"},
        {{"import", bad}, "nothing was imported"},
        {{"import", garbage}, "nothing was imported"},
        {{"export", "HKLM\\Software\\Missing", folder.path + "/x.reg"}, "unable to find"},
    };
    for (const auto& c : cases) {
        auto r = Reg(c.args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(Reg({"query", "HKLM\\Software\\Ok"}).status, 1);  // the bad file applied nothing
    EXPECT_NE(Reg({"import", bad}).err.find("line 3:"), std::string::npos);
}

TEST_F(RegTool, DamagedOrReadOnlyHive) {
    ASSERT_EQ(Reg({"add", "HKLM\\Software\\V", "/v", "x", "/d", "1", "/f"}).status, 0);
    chmod((folder.path + "/machine.db").c_str(), 0444);
    auto ro = Reg({"add", "HKLM\\Software\\V", "/v", "x", "/d", "2", "/f"});
    EXPECT_EQ(ro.status, 1);
    EXPECT_EQ(ro.err, "ERROR: Access is denied.\n");
    EXPECT_EQ(Reg({"query", "HKLM\\Software\\V", "/v", "x"}).status, 0);

    std::ofstream(folder.path + "/user.db", std::ios::binary | std::ios::trunc) << "SQLite format 3 but not really";
    auto bad = Reg({"query", "HKCU\\Software"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "ERROR: The registry database is damaged.\n");
}
