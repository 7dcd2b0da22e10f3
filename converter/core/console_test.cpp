#include "console.h"

#include <gtest/gtest.h>

namespace vellumate {
namespace {

TEST(Console, ProgressTexts) {
    EXPECT_EQ(TerminalProgress::Describe(0, 1, "a.html", Work::Pages, 0, 0), "a.html");
    EXPECT_EQ(TerminalProgress::Describe(0, 1, "big.chm", Work::Topics, 130, 20000), "big.chm: topic 130 of 20000");
    EXPECT_EQ(TerminalProgress::Describe(4, 12, "big.chm", Work::Pages, 7, 9), "file 5 of 12: big.chm: page 7 of 9");
}

TEST(Console, StandardOptionsOnlyAsTheFirstArgument) {
    auto of = [](std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        return StandardOptionOf(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_EQ(of({"vellumate", "--help"}), StandardOption::Help);
    EXPECT_EQ(of({"vellumate", "-h", "x"}), StandardOption::Help);
    EXPECT_EQ(of({"vellumate", "--version"}), StandardOption::Version);
    // The program's own words stay theirs.
    EXPECT_EQ(of({"vellumate", "/h"}), StandardOption::None);
    EXPECT_EQ(of({"vellumate", "/help"}), StandardOption::None);
    EXPECT_EQ(of({"vellumate", "a.html", "--help"}), StandardOption::None);
    EXPECT_EQ(of({"vellumate", "--HELP"}), StandardOption::None);
    EXPECT_EQ(of({"vellumate"}), StandardOption::None);
}

}  // namespace
}  // namespace vellumate
