#include "page_files.h"

#include "platform/filetime.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace dispatcher;
namespace fs = std::filesystem;

TEST(PageFiles, NamesAndCopyPaths) {
    EXPECT_TRUE(IsPageFileName("~emf12.tmp"));
    EXPECT_TRUE(IsPageFileName("~EMF12.TMP"));
    EXPECT_TRUE(IsPageFileName("~emf.tmp"));
    EXPECT_FALSE(IsPageFileName("~emf12.tmp.bak"));
    EXPECT_FALSE(IsPageFileName("emf12.tmp"));
    EXPECT_EQ(CopyPathOf("/s/~emf12.tmp"), "/s/~emf12.emf");
    EXPECT_EQ(CopyPathOf("/s/~emf.a.b.tmp"), "/s/~emf.a.b.emf");
    EXPECT_EQ(CopyPathOf("/s.d/noext"), "/s.d/noext");
}

TEST(PageFiles, PageOrderComparesNumbersByValue) {
    std::vector<std::string> names = {"~emf7-10.tmp", "~emf7-2.tmp", "~EMF7-1.tmp", "~emf10-1.tmp", "~emf7-02.tmp"};
    std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return PageNameLess(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"~EMF7-1.tmp", "~emf7-02.tmp", "~emf7-2.tmp", "~emf7-10.tmp",
                                               "~emf10-1.tmp"}));
}

TEST(PageFiles, OnlyPagesOfTheLastHourAreTaken) {
    std::uint64_t now = 200'000'000'000ULL;
    const std::uint64_t minute = 600'000'000ULL;
    EXPECT_TRUE(IsRecent(now, now - 59 * minute));
    EXPECT_FALSE(IsRecent(now, now - 61 * minute));
    EXPECT_FALSE(IsRecent(now, now - kMaxPageAge));
    EXPECT_FALSE(IsRecent(now, now + 1));  // from the future

    // The same through the folder, with ages set on the modification time.
    char tmpl[] = "/tmp/vmpages-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    std::string dir = tmpl;
    setenv("VELLUMATE_CREATION_TIME", "mtime", 1);
    auto make = [&](const std::string& name, int minutesOld) {
        std::ofstream(dir + "/" + name) << "x";
        fs::last_write_time(dir + "/" + name, fs::file_time_type::clock::now() - std::chrono::minutes(minutesOld));
    };
    make("~emf1.tmp", 59);
    make("~emf2.tmp", 61);
    make("~emf3.tmp", -10);
    make("other.tmp", 1);
    fs::create_directory(dir + "/~emf4.tmp");
    EXPECT_EQ(RecentPageFiles(dir, platform::FileTimeNow()), std::vector<std::string>{"~emf1.tmp"});
    unsetenv("VELLUMATE_CREATION_TIME");
    fs::remove_all(dir);
}
