#include "paths.h"

#include <gtest/gtest.h>

namespace vellumate {
namespace {

constexpr char kProgram[] = "/opt/vm/bin/vellumate";

TEST(ResolvePath, AbsoluteUnchanged) {
    EXPECT_EQ(ResolvePath("/data/a.html", "/x/y.html", kProgram), "/data/a.html");
}

TEST(ResolvePath, RelativeToProgramFolderWhenNoBase) {
    EXPECT_EQ(ResolvePath("a.html", "", kProgram), "/opt/vm/bin/a.html");
    EXPECT_EQ(ResolvePath("./a.html", "", kProgram), "/opt/vm/bin/a.html");
    EXPECT_EQ(ResolvePath("sub/a.html", kProgram, kProgram), "/opt/vm/bin/sub/a.html");
}

TEST(ResolvePath, OutputAgainstSourceFolder) {
    EXPECT_EQ(ResolvePath("out.pdf", "/data/in/a.html", kProgram), "/data/in/out.pdf");
    EXPECT_EQ(ResolvePath("../out.pdf", "/data/in/a.html", kProgram), "/data/out.pdf");
    EXPECT_EQ(ResolvePath("../../out.pdf", "/data/in/a.html", kProgram), "/out.pdf");
}

TEST(ResolvePath, ClimbingAboveRootGivesEmpty) {
    EXPECT_EQ(ResolvePath("../../../out.pdf", "/data/in/a.html", kProgram), "");
    EXPECT_EQ(ResolvePath("../x", "/a.html", kProgram), "");
    EXPECT_EQ(ResolvePath("x", "noslash", kProgram), "");
}

TEST(ResolvePath, OnlyLeadingDotSegmentsCount) {
    EXPECT_EQ(ResolvePath("a/../b.pdf", "/d/s.html", kProgram), "/d/a/../b.pdf");
    EXPECT_EQ(ResolvePath("./../b.pdf", "/d/e/s.html", kProgram), "/d/b.pdf");
}

TEST(PathParts, NamesAndExtensions) {
    EXPECT_EQ(FileNamePart("/a/b.c/report.doc"), "report.doc");
    EXPECT_EQ(DisplayName("/a/b.c/report.v2.doc"), "report.v2");
    EXPECT_EQ(DisplayName("/a/.hidden"), ".hidden");
    EXPECT_EQ(LowerExtension("/a/b.c/REPORT.HTML"), "html");
    EXPECT_EQ(LowerExtension("/a/b.c/report"), std::nullopt);  // a dot in a folder is no extension
    EXPECT_EQ(LowerExtension("/a/.profile"), std::nullopt);
    EXPECT_EQ(LowerExtension("/a/x."), "");
    EXPECT_EQ(FolderPart("/a/b"), "/a");
    EXPECT_EQ(FolderPart("/b"), "/");
}

}  // namespace
}  // namespace vellumate
