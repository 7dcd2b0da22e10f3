#include "job_rules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <filesystem>
#include <unistd.h>

using namespace agent;

TEST(AgentRules, ClientCommandQuotesOnlyAnUnquotedCommandWithABlank) {
    EXPECT_EQ(ClientCommand("/opt/my apps/client"), "\"/opt/my apps/client\"");
    EXPECT_EQ(ClientCommand("\"/opt/my apps/client\" -x"), "\"/opt/my apps/client\" -x");
    EXPECT_EQ(ClientCommand("/usr/bin/client"), "/usr/bin/client");
    // A tab is not a blank here.
    EXPECT_EQ(ClientCommand("a\tb"), "a\tb");
}

TEST(AgentRules, ClipboardMessageStaysInTheApplicationRange) {
    EXPECT_EQ(ClipboardMessageId(0x7FFF), 0x8000u);
    EXPECT_EQ(ClipboardMessageId(0), 0x8000u);
    EXPECT_EQ(ClipboardMessageId(0x8000), 0x8000u);
    EXPECT_EQ(ClipboardMessageId(0xBFFF), 0xBFFFu);
    EXPECT_EQ(ClipboardMessageId(0xC000), 0x8000u);
}

TEST(AgentRules, OnlyTheWholeWordCancelStopsAJob) {
    EXPECT_TRUE(IsCancelled("cAnCeL"));
    EXPECT_TRUE(IsCancelled("CANCEL"));
    EXPECT_FALSE(IsCancelled("Cancelled"));
    EXPECT_FALSE(IsCancelled(""));
}

TEST(AgentRules, PathBlockHolds259BytesAndItsZero) {
    std::string block;
    ASSERT_TRUE(PathBlock("/run/x.INI", &block));
    EXPECT_EQ(block.size(), 260u);
    EXPECT_EQ(block.substr(0, 11), std::string("/run/x.INI\0", 11));
    EXPECT_TRUE(PathBlock(std::string(259, 'a'), &block));
    EXPECT_FALSE(PathBlock(std::string(260, 'a'), &block));
}

TEST(AgentRules, OnlyRegularIniFilesAreDeletedAsTickets) {
    std::string dir = std::filesystem::temp_directory_path() / ("agentrules-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/0000abcd.INI") << "[Device]\n";
    std::ofstream(dir + "/notes.txt") << "x";
    std::filesystem::create_symlink(dir + "/notes.txt", dir + "/link.INI");
    EXPECT_TRUE(IsTicketFile(dir + "/0000abcd.INI"));
    EXPECT_FALSE(IsTicketFile(dir + "/notes.txt"));
    EXPECT_FALSE(IsTicketFile(dir + "/link.INI"));
    EXPECT_FALSE(IsTicketFile(dir + "/missing.INI"));
    std::filesystem::remove_all(dir);
}
