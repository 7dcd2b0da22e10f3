#include "list_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace vellumate {
namespace {

using Lines = std::vector<std::string>;

TEST(ListText, CrLfBlankLinesAndIndentation) {
    EXPECT_EQ(SplitListText("a.html\r\n\r\n   b c.htm  \r\n\t\n last.png"), (Lines{"a.html", "b c.htm", "last.png"}));
    EXPECT_EQ(SplitListText("\n\n \r\n"), Lines{});
    EXPECT_EQ(SplitListText("x"), Lines{"x"});
}

TEST(ListText, BinaryRubbishDoesNotBreakIt) {
    std::string text("a\0b\nc\r\r\n", 8);
    Lines lines = SplitListText(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "c");
}

class ListFile : public ::testing::Test {
protected:
    std::string Write(const std::string& content) {
        std::string path = ::testing::TempDir() + "list_" + std::to_string(::getpid()) + "_" + std::to_string(n_++);
        std::ofstream(path, std::ios::binary) << content;
        files_.push_back(path);
        return path;
    }
    ~ListFile() override {
        for (auto& f : files_) std::remove(f.c_str());
    }
    int n_ = 0;
    Lines files_;
};

TEST_F(ListFile, MissingOrEmptyIsUnreadable) {
    Lines lines;
    EXPECT_FALSE(ReadListFile("/nonexistent/list.txt", &lines));
    EXPECT_FALSE(ReadListFile(Write(""), &lines));
    EXPECT_FALSE(ReadListFile(::testing::TempDir(), &lines));  // a folder
    EXPECT_FALSE(ReadListFile("", &lines));
}

TEST_F(ListFile, BlankOnlyFileIsReadableAndEmpty) {
    Lines lines{"stale"};
    EXPECT_TRUE(ReadListFile(Write("\r\n  \n"), &lines));
    EXPECT_TRUE(lines.empty());
}

TEST_F(ListFile, ReadsEntries) {
    Lines lines;
    ASSERT_TRUE(ReadListFile(Write("one.html\r\ntwo.html"), &lines));
    EXPECT_EQ(lines, (Lines{"one.html", "two.html"}));
}

}  // namespace
}  // namespace vellumate
