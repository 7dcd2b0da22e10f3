#include "platform/registry.h"
#include "platform/registry_watch.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <fstream>

using namespace platform;
using platform::testing::ScopedEnv;
using platform::testing::TempDir;

namespace {

class Registry : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"VELLUMATE_REGISTRY", dir.path()};

    HKEY Create(HKEY root, const char* path) {
        HKEY k = nullptr;
        EXPECT_EQ(RegCreateKeyEx(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
        return k;
    }
    static LSTATUS SetSz(HKEY k, const char* name, const char* text) {
        return RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(std::strlen(text) + 1));
    }
};

}  // namespace

TEST_F(Registry, NamesAreCaseInsensitiveAndCasePreserving) {
    DWORD disp = 0;
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Brindlecote\\Vellumate", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &k, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    ASSERT_EQ(SetSz(k, "SaveFolder", "/home/a"), ERROR_SUCCESS);
    RegCloseKey(k);

    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\brindlecote\\VELLUMATE", 0, nullptr, 0, KEY_READ,
                             nullptr, &k, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
    char buf[64];
    DWORD type = 0, size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(k, "savefolder", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
    EXPECT_STREQ(buf, "/home/a");
    DWORD cch = sizeof buf;
    ASSERT_EQ(RegEnumValue(k, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "SaveFolder");
    RegCloseKey(k);

    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &root), ERROR_SUCCESS);
    cch = sizeof buf;
    ASSERT_EQ(RegEnumKeyEx(root, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "Brindlecote");
    RegCloseKey(root);

    // Non-ASCII names fold too.
    HKEY u = Create(HKEY_CURRENT_USER, "Software\\\xC3\x84rger");
    RegCloseKey(u);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\\xC3\xA4RGER", 0, KEY_READ, &u), ERROR_SUCCESS);
    RegCloseKey(u);
}

TEST_F(Registry, QuerySizesAndMoreData) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Vellumate");
    ASSERT_EQ(SetSz(k, "Language", "English"), ERROR_SUCCESS);
    DWORD size = 0, type = 0;
    ASSERT_EQ(RegQueryValueEx(k, "Language", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(k, "Language", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(RegQueryValueEx(k, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

    // A string written without its zero reads back with one.
    ASSERT_EQ(RegSetValueEx(k, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    size = 0;
    RegQueryValueEx(k, "Bare", nullptr, nullptr, nullptr, &size);
    EXPECT_EQ(size, 4u);

    DWORD dw = 0x12345678, out = 0;
    ASSERT_EQ(RegSetValueEx(k, "EMF: Enabled", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dw), 4), ERROR_SUCCESS);
    size = 4;
    ASSERT_EQ(RegQueryValueEx(k, "EMF: Enabled", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(out, dw);

    const BYTE blob[] = {0, 1, 2, 0, 255};
    ASSERT_EQ(RegSetValueEx(k, nullptr, 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);  // the default value
    BYTE back[8];
    size = sizeof back;
    ASSERT_EQ(RegQueryValueEx(k, "", nullptr, &type, back, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, sizeof blob);
    EXPECT_EQ(std::memcmp(back, blob, sizeof blob), 0);
    RegCloseKey(k);
}

TEST_F(Registry, EnumerationOrderAndEnd) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, "Software\\Enum");
    for (const char* sub : {"zeta", "Alpha", "beta"}) RegCloseKey(Create(k, sub));
    for (const char* v : {"second", "First", "third"}) SetSz(k, v, "x");
    SetSz(k, "SECOND", "y");  // overwriting keeps the place and the first spelling
    char name[32];
    std::vector<std::string> keys, vals;
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        LSTATUS e = RegEnumKeyEx(k, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        keys.emplace_back(name, cch);
    }
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        LSTATUS e = RegEnumValue(k, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        vals.emplace_back(name, cch);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "zeta"}));
    EXPECT_EQ(vals, (std::vector<std::string>{"second", "First", "third"}));
    DWORD cch = 3;
    EXPECT_EQ(RegEnumKeyEx(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    DWORD nKeys = 0, nVals = 0, maxName = 0;
    ASSERT_EQ(RegQueryInfoKey(k, &nKeys, nullptr, &nVals, &maxName, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(nKeys, 3u);
    EXPECT_EQ(nVals, 3u);
    EXPECT_EQ(maxName, 6u);
    RegCloseKey(k);
}

TEST_F(Registry, DeleteValueKeyAndTree) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, "Software\\Del\\A\\B");
    SetSz(k, "v", "1");
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Del", 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(parent, "A"), ERROR_ACCESS_DENIED);  // has a subkey
    EXPECT_EQ(RegDeleteValue(k, "v"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(k, "v"), ERROR_FILE_NOT_FOUND);
    SetSz(k, "v", "1");
    ASSERT_EQ(RegDeleteTree(parent, "a"), ERROR_SUCCESS);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Del\\A", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    // A handle to a deleted key answers, it does not crash.
    EXPECT_EQ(SetSz(k, "w", "1"), ERROR_KEY_DELETED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(k, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(k);

    RegCloseKey(Create(parent, "Leaf"));
    SetSz(parent, "keep", "x");
    EXPECT_EQ(RegDeleteKey(parent, "leaf"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTree(parent, nullptr), ERROR_SUCCESS);  // empties, keeps the key
    DWORD nVals = 9;
    ASSERT_EQ(RegQueryInfoKey(parent, nullptr, nullptr, &nVals, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(nVals, 0u);
    RegCloseKey(parent);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Nowhere"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ClassesRootIsAViewOfMachineClasses) {
    ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Corvanth3.PDFDocument3\\CLSID", "", "{1}"), ERROR_SUCCESS);
    std::string s;
    ASSERT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\Corvanth3.PDFDocument3\\CLSID", "", &s),
              ERROR_SUCCESS);
    EXPECT_EQ(s, "{1}");
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Classes\\Corvanth3.PDFDocument3\\CLSID", "", &s),
              ERROR_FILE_NOT_FOUND);
    char name[64];
    DWORD cch = sizeof name;
    ASSERT_EQ(RegEnumKeyEx(HKEY_CLASSES_ROOT, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Corvanth3.PDFDocument3");
    EXPECT_TRUE(std::filesystem::exists(dir / "machine.db"));
}

TEST_F(Registry, AccessMaskAndHandles) {
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Mask"));
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Mask", 0, KEY_QUERY_VALUE, &k), ERROR_SUCCESS);
    EXPECT_EQ(SetSz(k, "x", "y"), ERROR_ACCESS_DENIED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyEx(k, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_ACCESS_DENIED);
    RegCloseKey(k);
    EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(k, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueEx(nullptr, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(Registry, OverlongNamesAreRefused) {
    std::string longKey(256, 'k'), longValue(16384, 'v');
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, ("Software\\" + longKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &k, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetString(HKEY_CURRENT_USER, "Software\\X", longValue, "v"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetString(HKEY_CURRENT_USER, "Software\\" + std::string(255, 'k'), "v", "ok"), ERROR_SUCCESS);
}

TEST_F(Registry, ConvenienceValuesCheckTheType) {
    ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Vellumate", "EMF: Enabled", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", "Deutsch"), ERROR_SUCCESS);
    DWORD d = 0;
    std::string s;
    EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Vellumate", "EMF: Enabled", &d), ERROR_SUCCESS);
    EXPECT_EQ(d, 1u);
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", &s), ERROR_SUCCESS);
    EXPECT_EQ(s, "Deutsch");
    EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", &d), ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Vellumate", "EMF: Enabled", &s), ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(RegRemoveValue(HKEY_CURRENT_USER, "Software\\Vellumate", "Language"), ERROR_SUCCESS);
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", &s), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Nothing", "Language", &s), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ReadOnlyHiveRefusesWrites) {
    ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Print Job", "/tmp/a.ini"), ERROR_SUCCESS);
    // A fresh process view: another folder path to the same files.
    TempDir other;
    std::filesystem::copy(dir / "machine.db", other / "machine.db");
    if (std::filesystem::exists(dir / "machine.db-wal"))
        std::filesystem::copy(dir / "machine.db-wal", other / "machine.db-wal");
    chmod((other / "machine.db").c_str(), 0444);
    ScopedEnv env2("VELLUMATE_REGISTRY", other.path());
    std::string s;
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Print Job", &s), ERROR_SUCCESS);
    EXPECT_EQ(s, "/tmp/a.ini");
    EXPECT_EQ(RegSetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Print Job", "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetString(HKEY_LOCAL_MACHINE, "Software\\New", "v", "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Vellumate"), ERROR_ACCESS_DENIED);
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Vellumate", 0, KEY_WRITE, &k), ERROR_ACCESS_DENIED);
    // The user's hive in the same folder is still writable.
    EXPECT_EQ(RegSetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", "x"), ERROR_SUCCESS);
}

TEST_F(Registry, AppKeyIsAHiveOfItsOwn) {
    TempDir system;
    const std::string file = system / "machine.db";
    {
        RegKeyHolder root;
        ASSERT_EQ(RegLoadAppKey(file.c_str(), root.Out(), KEY_ALL_ACCESS, 0, 0), ERROR_SUCCESS);
        EXPECT_EQ(RegSetString(root.Get(), "Software\\Classes\\Some.Class\\CLSID", "", "{1}"), ERROR_SUCCESS);
    }
    std::string s;
    EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "Some.Class\\CLSID", "", &s), ERROR_FILE_NOT_FOUND);

    // Written by another user: read, never written.
    TempDir copy;
    const std::string readOnly = copy / "machine.db";
    std::filesystem::copy(file, readOnly);
    if (std::filesystem::exists(file + "-wal")) std::filesystem::copy(file + "-wal", readOnly + "-wal");
    chmod(readOnly.c_str(), 0444);
    RegKeyHolder root;
    ASSERT_EQ(RegLoadAppKey(readOnly.c_str(), root.Out(), KEY_READ, 0, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegGetString(root.Get(), "Software\\Classes\\Some.Class\\CLSID", "", &s), ERROR_SUCCESS);
    EXPECT_EQ(s, "{1}");
    RegKeyHolder writer;
    EXPECT_EQ(RegLoadAppKey(readOnly.c_str(), writer.Out(), KEY_WRITE, 0, 0), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegLoadAppKey(nullptr, writer.Out(), KEY_READ, 0, 0), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, UnreachableFolderReadsAsEmptyAndRefusesWrites) {
    ScopedEnv nowhere("VELLUMATE_REGISTRY", "/proc/vellumate-no-such-folder/registry");
    std::string s;
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", &s), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", "x"), ERROR_ACCESS_DENIED);
    char name[16];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(HKEY_CLASSES_ROOT, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, DamagedHiveGivesAnErrorNotACrash) {
    {
        std::ofstream f(dir / "machine.db", std::ios::binary);
        f << "this is no database at all, just some garbage bytes\x01\x02\x03";
    }
    std::string s;
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "x", &s), ERROR_BADDB);
    EXPECT_EQ(RegSetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "x", "y"), ERROR_BADDB);

    // A truncated hive: a real one cut in the middle.
    TempDir other;
    {
        ScopedEnv env2("VELLUMATE_REGISTRY", other.path());
        for (int i = 0; i < 200; ++i)
            RegSetString(HKEY_CURRENT_USER, "Software\\Key" + std::to_string(i), "v", std::string(100, 'x'));
    }
    TempDir cut;
    std::filesystem::copy(other / "user.db", cut / "user.db");
    std::filesystem::resize_file(cut / "user.db", std::filesystem::file_size(cut / "user.db") / 2);
    ScopedEnv env3("VELLUMATE_REGISTRY", cut.path());
    for (int i = 0; i < 200; ++i) {
        LSTATUS e = RegGetString(HKEY_CURRENT_USER, "Software\\Key" + std::to_string(i), "v", &s);
        EXPECT_TRUE(e == ERROR_SUCCESS || e == ERROR_FILE_NOT_FOUND || e == ERROR_BADDB) << e;
    }
}

TEST_F(Registry, TwoProcessesWritingTheSameKeyLoseNothing) {
    constexpr int kPerProcess = 1000;
    pid_t kids[2];
    for (int p = 0; p < 2; ++p) {
        kids[p] = fork();
        ASSERT_GE(kids[p], 0);
        if (kids[p] == 0) {
            int failures = 0;
            for (int i = 0; i < kPerProcess; ++i) {
                std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
                failures += RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Race", name, static_cast<DWORD>(i)) != 0;
            }
            _exit(failures ? 1 : 0);
        }
    }
    for (pid_t kid : kids) {
        int status = 0;
        waitpid(kid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Race", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD n = 0;
    ASSERT_EQ(RegQueryInfoKey(k, nullptr, nullptr, &n, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(n, 2u * kPerProcess);
    RegCloseKey(k);
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kPerProcess; i += 97) {
            DWORD d = 0;
            EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "Software\\Race", "p" + std::to_string(p) + "_" + std::to_string(i), &d), 0);
            EXPECT_EQ(d, static_cast<DWORD>(i));
        }
}

// Values changed together are seen together: a reader that takes "First"
// and then "Second" never finds Second behind First while a writer moves
// both forward in one batch (written one by one, the reader would catch
// First already moved and Second not yet). A batch that cannot be made
// changes nothing; removing a missing value is no error.
TEST_F(Registry, ValuesChangedTogetherAreSeenWholeByAnotherProgram) {
    constexpr int kBatches = 2000;
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        int failures = 0;
        for (int i = 1; i <= kBatches; ++i)
            failures += RegChangeValues(HKEY_LOCAL_MACHINE, "Software\\Pair",
                                        {RegValueChange::Dword("First", DWORD(i)), RegValueChange::Dword("Second", DWORD(i)),
                                         RegValueChange::Removed("Never there")}) != ERROR_SUCCESS;
        _exit(failures ? 1 : 0);
    }
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        DWORD first = 0, second = 0;
        while (first < DWORD(kBatches)) {
            if (RegGetDword(HKEY_LOCAL_MACHINE, "Software\\Pair", "First", &first) != ERROR_SUCCESS) continue;
            if (RegGetDword(HKEY_LOCAL_MACHINE, "Software\\Pair", "Second", &second) != ERROR_SUCCESS || second < first)
                _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    const bool written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    EXPECT_TRUE(written);
    if (!written) kill(reader, SIGKILL);  // it would wait for the last batch for ever
    waitpid(reader, &status, 0);
    EXPECT_TRUE(written && WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(RegChangeValues(HKEY_LOCAL_MACHINE, "Software\\Pair",
                              {RegValueChange::String("Text", "kept"), RegValueChange::Removed("First")}),
              ERROR_SUCCESS);
    std::string text;
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Pair", "Text", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "kept");
    DWORD d = 0;
    EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "Software\\Pair", "First", &d), ERROR_FILE_NOT_FOUND);
    // A string without its terminating zero, and an overlong name: nothing is changed.
    RegValueChange bare{"Text", REG_SZ, {'x'}, false};
    EXPECT_EQ(RegChangeValues(HKEY_LOCAL_MACHINE, "Software\\Pair", {RegValueChange::Dword("Second", 7), bare}),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegChangeValues(HKEY_LOCAL_MACHINE, "Software\\Pair",
                              {RegValueChange::Dword("Second", 7), RegValueChange::Dword(std::string(20000, 'n'), 1)}),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "Software\\Pair", "Second", &d), ERROR_SUCCESS);
    EXPECT_EQ(d, DWORD(kBatches));
}

TEST_F(Registry, ProgramThatEndsLeavesAnEmptyLogAndItsValues) {
    // Each program start would otherwise read the whole log back and copy it
    // into the hive again (with its syncs) when it ends.
    for (int run = 0; run < 2; ++run) {
        pid_t kid = fork();
        ASSERT_GE(kid, 0);
        if (kid == 0) {
            const bool ok = RegSetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Run " + std::to_string(run), "done") == 0;
            std::exit(ok ? 0 : 1);  // an ordinary end: the hive is closed
        }
        int status = 0;
        waitpid(kid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        const auto log = dir / "machine.db-wal";
        EXPECT_TRUE(!std::filesystem::exists(log) || std::filesystem::file_size(log) == 0);
    }
    std::string s;
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Run 0", &s), ERROR_SUCCESS);
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Run 1", &s), ERROR_SUCCESS);
    EXPECT_EQ(s, "done");
}

TEST_F(Registry, AWatchWakesForAValueAnotherProgramWritesAndCanBeMadeAgain) {
    // The second round watches again on the same thread (its inotify
    // instance is kept; only the watch comes and goes).
    for (int round = 0; round < 2; ++round) {
        platform::RegistryWatch watch;
        pid_t kid = fork();
        ASSERT_GE(kid, 0);
        if (kid == 0) {
            const bool ok = RegSetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "tmpIniPath", "/spool/job.INI") == 0;
            std::_Exit(ok ? 0 : 1);
        }
        // Without the change this would wait for an hour (the test's time limit ends it first).
        watch.Wait(std::chrono::hours(1));
        int status = 0;
        waitpid(kid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string s;
    EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "tmpIniPath", &s), ERROR_SUCCESS);
    EXPECT_EQ(s, "/spool/job.INI");
}
