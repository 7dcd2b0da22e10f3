#include "addon/common/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace tessaline {
namespace {

namespace fs = std::filesystem;

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("h4_eventlog_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static std::vector<std::string> Lines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    fs::path dir_;
};

// "%c" in the classic locale: "Mon Dec  7 11:37:00 2026".
const char kStamp[] = R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4})";

TEST_F(EventLogTest, LinesHaveTimeSourceAndMessageAndErrorsAreMarked) {
    EventLog log;
    ASSERT_TRUE(log.SetLogFile(Path("a.log")));
    log.Write("TessalineImpl", "PDFInterface set");
    log.WriteError("TessalineImpl", "QueryInterface for PDFInterface failed");
    auto lines = Lines(Path("a.log"));  // flushed at once, readable while open
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kStamp) + " TessalineImpl - PDFInterface set")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(std::string(kStamp) + " ERROR: TessalineImpl - QueryInterface for PDFInterface failed")))
        << lines[1];
    EXPECT_EQ(log.LastMessage(), lines[1]);
    EXPECT_EQ(log.LastError(), lines[1]);
    EXPECT_EQ(log.Messages().size(), 2u);
    EXPECT_EQ(log.Errors().size(), 1u);
}

TEST_F(EventLogTest, NothingIsWrittenOrKeptWhileClosed) {
    EventLog log;
    log.Write("TessalineImpl", "Created");
    log.WriteError("TessalineImpl", "lost");
    EXPECT_EQ(log.LastMessage(), "");
    EXPECT_EQ(log.LastError(), "");
    EXPECT_FALSE(log.IsOpen());
}

TEST_F(EventLogTest, SameNameKeepsFileAndDoesNotRetryAFailedOpen) {
    EventLog log;
    ASSERT_TRUE(log.SetLogFile(Path("a.log")));
    log.Write("S", "one");
    EXPECT_TRUE(log.SetLogFile(Path("a.log")));  // not truncated again
    log.Write("S", "two");
    EXPECT_EQ(Lines(Path("a.log")).size(), 2u);

    std::string bad = Path("missing/dir/b.log");
    EXPECT_FALSE(log.SetLogFile(bad));
    EXPECT_FALSE(log.IsOpen());
    fs::create_directories(dir_ / "missing/dir");
    EXPECT_FALSE(log.SetLogFile(bad));  // same name: nothing changes
    EXPECT_TRUE(log.SetLogFile(Path("c.log")));
    EXPECT_TRUE(log.SetLogFile(bad));  // a different name again: opened now
}

TEST_F(EventLogTest, NewNameTruncatesAndSwitchesFiles) {
    {
        std::ofstream(Path("b.log")) << "old content\n";
    }
    EventLog log;
    ASSERT_TRUE(log.SetLogFile(Path("a.log")));
    log.Write("S", "to a");
    ASSERT_TRUE(log.SetLogFile(Path("b.log")));
    log.Write("S", "to b");
    auto a = Lines(Path("a.log"));
    auto b = Lines(Path("b.log"));
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_NE(b[0].find("S - to b"), std::string::npos);
    EXPECT_FALSE(log.SetLogFile(""));  // an empty name opens nothing
}

TEST_F(EventLogTest, HostileNamesAndMessagesStayOneLineAndNeverBlock) {
    EventLog log;
    std::string fifo = Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(log.SetLogFile(fifo));  // no reader: would block forever
    EXPECT_FALSE(log.SetLogFile(dir_.string()));
    ASSERT_TRUE(log.SetLogFile(Path("a.log")));
    log.WriteError("TessalineImpl", "Base URL set to http://x/\n01/01/70 ERROR: forged");
    auto lines = Lines(Path("a.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("http://x/ 01/01/70 ERROR: forged"), std::string::npos);
    for (int i = 0; i < 5000; ++i) log.Write("S", "x");
    EXPECT_LE(log.Messages().size(), 1000u);
    EXPECT_GE(log.Messages().size(), 500u);
    EXPECT_EQ(log.Errors().size(), 1u);
}

TEST_F(EventLogTest, ConcurrentWritersProduceWholeLines) {
    EventLog log;
    ASSERT_TRUE(log.SetLogFile(Path("a.log")));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 200; ++i) log.Write("T" + std::to_string(t), StrFormat("line %d", i));
        });
    for (auto& th : threads) th.join();
    auto lines = Lines(Path("a.log"));
    ASSERT_EQ(lines.size(), 800u);
    std::regex whole(std::string(kStamp) + R"( T\d - line \d+)");
    for (const auto& l : lines) ASSERT_TRUE(std::regex_match(l, whole)) << l;
}

TEST(StrFormatTest, FormatsLongText) {
    std::string big(5000, 'x');
    EXPECT_EQ(StrFormat("Base URL set to %s", big.c_str()).size(), 16 + 5000u);
    EXPECT_EQ(StrFormat("Page timeout set to %d seconds", 1500 / 1000), "Page timeout set to 1 seconds");
}

}  // namespace
}  // namespace tessaline
