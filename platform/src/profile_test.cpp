#include "platform/profile.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <random>

using namespace platform;
using platform::testing::TempDir;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

TEST(Profile, ReadsWithWin32Semantics) {
    TempDir dir;
    std::string f = dir / "ticket.ini";
    WriteText(f, "\xEF\xBB\xBF[Job]\r\n  Pages = 3 \r\nName=\"  quoted  \"\r\nbare\r\n; Comment=1\r\n[job2]\nX='y'\nNum=-12abc\n"
                 "Empty=\n[ Spaced ]\nk=v\n");
    char buf[64];
    EXPECT_EQ(GetPrivateProfileString("JOB", "pages", "", buf, sizeof buf, f.c_str()), 1u);
    EXPECT_STREQ(buf, "3");
    GetPrivateProfileString("Job", "Name", "", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "  quoted  ");
    GetPrivateProfileString("job2", "x", "", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "y");
    GetPrivateProfileString("Spaced", "k", "", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "v");
    EXPECT_EQ(GetPrivateProfileString("Job", "bare", "def", buf, sizeof buf, f.c_str()), 0u);  // a key without value
    EXPECT_EQ(GetPrivateProfileString("Job", "Missing", "fallback  ", buf, sizeof buf, f.c_str()), 8u);
    EXPECT_STREQ(buf, "fallback");
    EXPECT_EQ(GetPrivateProfileString("Nope", "x", nullptr, buf, sizeof buf, f.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileString("Job", "Pages", "d", buf, sizeof buf, (dir / "missing.ini").c_str()), 1u);
    EXPECT_STREQ(buf, "d");

    // Cut to the buffer.
    EXPECT_EQ(GetPrivateProfileString("Job", "Name", "", buf, 5, f.c_str()), 4u);
    EXPECT_STREQ(buf, "  qu");
    EXPECT_EQ(GetPrivateProfileString("Job", "Name", "", buf, 0, f.c_str()), 0u);

    EXPECT_EQ(GetPrivateProfileInt("Job", "Pages", 7, f.c_str()), 3);
    EXPECT_EQ(GetPrivateProfileInt("job2", "Num", 7, f.c_str()), -12);
    EXPECT_EQ(GetPrivateProfileInt("job2", "X", 7, f.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileInt("job2", "Empty", 7, f.c_str()), 7);
    EXPECT_EQ(GetPrivateProfileInt("job2", "Missing", 7, f.c_str()), 7);
}

TEST(Profile, ListsSectionsAndKeysAsDoubleZeroLists) {
    TempDir dir;
    std::string f = dir / "a.ini";
    WriteText(f, "[One]\na=1\nbb=2\n[Two]\n");
    char buf[32];
    EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, nullptr, buf, sizeof buf, f.c_str()), 8u);
    EXPECT_EQ(std::string(buf, 9), std::string("One\0Two\0", 9));
    EXPECT_EQ(GetPrivateProfileString("one", nullptr, nullptr, buf, sizeof buf, f.c_str()), 5u);
    EXPECT_EQ(std::string(buf, 6), std::string("a\0bb\0", 6));
    EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, nullptr, buf, 6, f.c_str()), 4u);  // cut: size - 2
    EXPECT_EQ(std::string(buf, 6), std::string("One\0T\0", 6).substr(0, 4) + std::string("\0\0", 2));
    EXPECT_EQ(ProfileSections(f), (std::vector<std::string>{"One", "Two"}));
    // The first name fills the buffer exactly: the cut leaves it whole.
    WriteText(f, "[ab]\n[cd]\n");
    char four[4];
    EXPECT_EQ(GetPrivateProfileString(nullptr, nullptr, nullptr, four, sizeof four, f.c_str()), 2u);
    EXPECT_EQ(std::string(four, 4), std::string("ab\0\0", 4));
    // Every buffer size on a list gives a zero-ended list inside the buffer.
    WriteText(f, "[One]\nalpha=1\nbeta=2\ngamma=3\n[Two]\n[Three]\n");
    for (std::uint32_t size = 1; size < 24; ++size) {
        std::vector<char> b(size + 8, 'x');
        std::uint32_t n = GetPrivateProfileString("One", nullptr, nullptr, b.data(), size, f.c_str());
        EXPECT_LE(n, size - 1);
        EXPECT_EQ(b[size], 'x');
        EXPECT_EQ(b[n], '\0');
        EXPECT_EQ(b[size - 1], n + 1 < size ? b[size - 1] : '\0');
        n = GetPrivateProfileString(nullptr, nullptr, nullptr, b.data(), size, f.c_str());
        EXPECT_EQ(b[size], 'x');
    }
}

TEST(Profile, WritesDeletesAndKeepsTheRest) {
    TempDir dir;
    std::string f = dir / "settings.ini";
    WriteText(f, "; header comment\r\n[Main]\r\nKeep=1\r\nOld=2\r\n\r\n[Other]\r\nz=9\r\n");
    ASSERT_TRUE(WritePrivateProfileString("main", "OLD", "3", f.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Main", "New", "x y", f.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Third", "k", "v", f.c_str()));
    EXPECT_EQ(ReadText(f), "; header comment\n[Main]\nKeep=1\nOld=3\nNew=x y\n\n[Other]\nz=9\n\n[Third]\nk=v\n");
    ASSERT_TRUE(WritePrivateProfileString("Main", "keep", nullptr, f.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("other", nullptr, nullptr, f.c_str()));
    EXPECT_TRUE(WritePrivateProfileString(nullptr, nullptr, nullptr, f.c_str()));  // flush
    EXPECT_EQ(ReadText(f), "; header comment\n[Main]\nOld=3\nNew=x y\n\n[Third]\nk=v\n");
    EXPECT_FALSE(WritePrivateProfileString("Main", "Bad", "line\nbreak", f.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("Main", "k", "v", (dir / "no/such/folder.ini").c_str()));

    std::string fresh = dir / "fresh.ini";
    ASSERT_TRUE(ProfileSetString(fresh, "Job", "Pages", "2"));
    EXPECT_EQ(ReadText(fresh), "[Job]\nPages=2\n");
    EXPECT_EQ(ProfileGetInt(fresh, "job", "pages", 0), 2);
    EXPECT_TRUE(ProfileDeleteKey(fresh, "Job", "Pages"));
    EXPECT_EQ(ProfileKeys(fresh, "Job").size(), 0u);
    EXPECT_TRUE(ProfileDeleteSection(fresh, "Job"));
    EXPECT_EQ(ReadText(fresh), "");
}

TEST(Profile, ConcurrentWritersLoseNothing) {
    TempDir dir;
    std::string f = dir / "shared.ini";
    constexpr int kEach = 100;
    pid_t kids[2];
    for (int p = 0; p < 2; ++p) {
        kids[p] = fork();
        ASSERT_GE(kids[p], 0);
        if (kids[p] == 0) {
            bool ok = true;
            for (int i = 0; i < kEach; ++i)
                ok = ok && ProfileSetString(f, "S" + std::to_string(p), "k" + std::to_string(i), std::to_string(i));
            _exit(ok ? 0 : 1);
        }
    }
    // Meanwhile this process reads: it never sees a torn file.
    for (int i = 0; i < 200; ++i) {
        std::string text = ReadText(f);
        EXPECT_TRUE(text.empty() || text.back() == '\n');
    }
    for (pid_t k : kids) {
        int status = 0;
        waitpid(k, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ProfileKeys(f, "S0").size(), static_cast<std::size_t>(kEach));
    EXPECT_EQ(ProfileKeys(f, "S1").size(), static_cast<std::size_t>(kEach));
    EXPECT_EQ(ProfileGetString(f, "S1", "k99"), "99");
}

TEST(Profile, BinaryGarbageNeverCrashes) {
    TempDir dir;
    std::string f = dir / "garbage.ini";
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::string junk(static_cast<std::size_t>(rng() % 4000), '\0');
        for (char& c : junk) c = static_cast<char>(rng() % 8 == 0 ? "[]=\r\n;\"'"[rng() % 8] : rng());
        WriteText(f, junk);
        char buf[16];
        GetPrivateProfileString(nullptr, nullptr, nullptr, buf, sizeof buf, f.c_str());
        GetPrivateProfileString("a", "b", "c", buf, sizeof buf, f.c_str());
        GetPrivateProfileInt("a", "b", 1, f.c_str());
        for (const auto& s : ProfileSections(f)) ProfileKeys(f, s);
        EXPECT_TRUE(WritePrivateProfileString("Job", "Pages", "1", f.c_str()));
        EXPECT_EQ(ProfileGetInt(f, "Job", "Pages", 0), 1);
    }
    // A folder given as the file reads as missing and refuses writes.
    EXPECT_EQ(ProfileGetString(dir.path(), "a", "b", "d"), "d");
    EXPECT_FALSE(ProfileSetString(dir.path(), "a", "b", "c"));
}
