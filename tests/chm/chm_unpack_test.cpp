// The hh program on help files compiled at test time and on the real help
// files that installed packages ship.
#include <chm_lib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "chm_archive.h"
#include "chm_fixtures.h"

namespace chmtest {
namespace {

const std::string kHh = HH_PROGRAM;

#define REQUIRE_CHMCMD()                                                   \
    if (ChmCompiler().empty()) GTEST_SKIP() << "chmcmd (fp-utils) is not installed"

int ChmlibFileCount(const std::string& path) {
    chmFile* h = chm_open(path.c_str());
    if (!h) return -1;
    int count = 0;
    chm_enumerate(
        h, CHM_ENUMERATE_ALL,
        [](chmFile*, chmUnitInfo* ui, void* c) {
            if (hh::IsContentFile(ui->path)) ++*static_cast<int*>(c);
            return CHM_ENUMERATOR_CONTINUE;
        },
        &count);
    chm_close(h);
    return count;
}

// Every content file of the listing is in the folder with its listed size.
void ExpectEveryListedFile(const std::string& chm, const std::string& folder) {
    std::string error;
    auto archive = hh::ChmArchive::Open(chm, &error);
    ASSERT_TRUE(archive) << error;
    int listed = 0;
    for (const auto& e : archive->Listing().entries) {
        if (!hh::IsContentFile(e.name)) continue;
        ++listed;
        struct stat st{};
        auto rel = hh::SafeRelativePath(e.name);
        ASSERT_TRUE(rel) << e.name;
        ASSERT_EQ(::stat((folder + "/" + *rel).c_str(), &st), 0) << e.name;
        EXPECT_EQ(std::uint64_t(st.st_size), e.length) << e.name;
    }
    EXPECT_EQ(int(FilesBelow(folder).size()), listed);
    EXPECT_GE(listed, ChmlibFileCount(chm));
}

TEST(HhDecompile, ManyChunkFileComesOutWholeWithIdenticalBytes) {
    REQUIRE_CHMCMD();
    TempFolder tmp;
    std::map<std::string, std::string> files;
    for (int i = 0; i < 600; ++i)
        files["topics/a_topic_with_a_rather_long_file_name_" + std::to_string(i) + ".htm"] =
            Page("Topic " + std::to_string(i));
    files["img/pixel.bin"] = std::string("\x00\x01\x02\xff binary", 11);
    files["empty.txt"] = "";
    std::string chm = CompileChm(tmp.path() + "/src", "many", files, "");
    ASSERT_FALSE(chm.empty());
    const std::string out = tmp.path() + "/new/deeper/out";  // created with its parents
    ASSERT_EQ(RunArgv({kHh, "-decompile", out, chm}), 0);
    for (const auto& [rel, bytes] : files) EXPECT_EQ(ReadFile(out + "/" + rel), bytes) << rel;
    ExpectEveryListedFile(chm, out);
}

TEST(HhDecompile, HostileNamesAndLinksCannotWriteOutsideTheFolder) {
    REQUIRE_CHMCMD();
    TempFolder tmp;
    std::string chm = CompileChm(tmp.path() + "/src", "evil",
                                 {{"zzzzzz.htm", Page("z")},
                                  {"yyyyyy.htm", Page("y")},
                                  {"xxxxxxxxx.htm", Page("x")},
                                  {"linked/w.htm", Page("w")},
                                  {"good.htm", Page("good")}},
                                 "");
    ASSERT_FALSE(chm.empty());
    // Same-length names that climb out or are absolute after the leading "/".
    ASSERT_GE(PatchBytes(chm, "/zzzzzz.htm", "/../zzz.htm"), 1);
    ASSERT_GE(PatchBytes(chm, "/yyyyyy.htm", "//tmp/y.htm"), 1);
    ASSERT_GE(PatchBytes(chm, "/xxxxxxxxx.htm", "/a\\..\\..\\x.htm"), 1);
    const std::string out = tmp.path() + "/box/out";
    const std::string outside = tmp.path() + "/outside";
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(outside);
    std::filesystem::create_directory_symlink(outside, out + "/linked");

    EXPECT_EQ(RunArgv({kHh, "-decompile", out, chm}), 2);  // unpacked, with refusals
    EXPECT_EQ(ReadFile(out + "/good.htm"), Page("good"));
    EXPECT_FALSE(Exists(tmp.path() + "/box/zzz.htm"));
    EXPECT_FALSE(Exists(tmp.path() + "/x.htm"));
    EXPECT_FALSE(Exists("/tmp/y.htm") && ReadFile("/tmp/y.htm") == Page("y"));
    EXPECT_TRUE(FilesBelow(outside).empty());
}

TEST(HhDecompile, OutputLimitAndCutFilesLeaveNoPartialFiles) {
    REQUIRE_CHMCMD();
    TempFolder tmp;
    std::string big(300000, 'a');
    for (std::size_t i = 0; i < big.size(); i += 7) big[i] = char('a' + (i * 2654435761u >> 7) % 26);
    std::string chm = CompileChm(tmp.path() + "/src", "big", {{"big.htm", big}, {"small.htm", Page("s")}}, "");
    ASSERT_FALSE(chm.empty());
    std::string error;
    auto archive = hh::ChmArchive::Open(chm, &error);
    ASSERT_TRUE(archive) << error;
    hh::UnpackResult result;
    ASSERT_TRUE(hh::Unpack(*archive, tmp.path() + "/limited", &result, &error, 100000));
    EXPECT_EQ(ReadFile(tmp.path() + "/limited/small.htm"), Page("s"));
    EXPECT_FALSE(Exists(tmp.path() + "/limited/big.htm"));
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_NE(result.failed[0].find("output limit"), std::string::npos);

    // The same file cut short: what cannot be read in full is not written.
    std::string bytes = ReadFile(chm);
    WriteFile(tmp.path() + "/cut.chm", bytes.substr(0, bytes.size() * 2 / 3));
    int rc = RunArgv({kHh, "-decompile", tmp.path() + "/cut", tmp.path() + "/cut.chm"});
    EXPECT_TRUE(rc == 1 || rc == 2) << rc;
    if (Exists(tmp.path() + "/cut/big.htm")) {
        EXPECT_EQ(ReadFile(tmp.path() + "/cut/big.htm"), big);
    }
}

TEST(HhDecompile, BadInputAndUsageFail) {
    TempFolder tmp;
    WriteFile(tmp.path() + "/not.chm", "this is not a help file at all, just text that is long enough");
    WriteFile(tmp.path() + "/cut.chm", "ITSF\x03");
    EXPECT_EQ(RunArgv({kHh, "-decompile", tmp.path() + "/o1", tmp.path() + "/not.chm"}), 1);
    EXPECT_EQ(RunArgv({kHh, "-decompile", tmp.path() + "/o2", tmp.path() + "/cut.chm"}), 1);
    EXPECT_EQ(RunArgv({kHh, "-decompile", tmp.path() + "/o3", tmp.path() + "/missing.chm"}), 1);
    EXPECT_EQ(RunArgv({kHh, "-decompile", tmp.path() + "/o4"}), 1);
    EXPECT_EQ(RunArgv({kHh}), 1);
}

TEST(HhShowHelp, TopicAndDefaultPageGoToTheOpenerFromACache) {
    REQUIRE_CHMCMD();
    TempFolder tmp;
    std::string chm = CompileChm(tmp.path() + "/src", "help",
                                 {{"Vellumate/_CMDLine.html", Page("Command line")},
                                  {"Vellumate/style.css", "h1 { color: red }"},
                                  {"index.htm", Page("Start")}},
                                 "");
    ASSERT_FALSE(chm.empty());
    const std::string record = tmp.path() + "/opened.txt";
    const std::string opener = tmp.path() + "/opener.sh";
    WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + record + "\"\n");
    ::chmod(opener.c_str(), 0755);
    ::setenv("VELLUMATE_OPEN", opener.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (tmp.path() + "/cache").c_str(), 1);

    EXPECT_EQ(RunArgv({kHh, chm + "::/Vellumate/_CMDLine.html"}), 0);
    EXPECT_EQ(RunArgv({kHh, chm + "::/vellumate/_cmdline.html#x"}), 0);  // any case, with an anchor
    EXPECT_EQ(RunArgv({kHh, chm}), 0);
    EXPECT_EQ(RunArgv({kHh, chm + "::/Vellumate/none.html"}), 1);
    ::setenv("VELLUMATE_OPEN", "/nonexistent/opener", 1);
    EXPECT_EQ(RunArgv({kHh, chm + "::/Vellumate/_CMDLine.html"}), 1);
    ::unsetenv("VELLUMATE_OPEN");
    ::unsetenv("XDG_CACHE_HOME");

    std::vector<std::string> lines;
    std::string all = ReadFile(record);
    for (std::size_t s = 0, e; (e = all.find('\n', s)) != std::string::npos; s = e + 1)
        lines.push_back(all.substr(s, e - s));
    ASSERT_EQ(lines.size(), 3u) << all;
    EXPECT_TRUE(lines[0].ends_with("/Vellumate/_CMDLine.html")) << lines[0];
    EXPECT_EQ(ReadFile(lines[0]), Page("Command line"));
    EXPECT_EQ(lines[0].rfind(tmp.path() + "/cache/", 0), 0u) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("file://") && lines[1].ends_with("/Vellumate/_CMDLine.html#x")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("/index.htm")) << lines[2];
    // Pages beside the topic are there for it.
    EXPECT_TRUE(Exists(lines[0].substr(0, lines[0].rfind('/')) + "/style.css"));
}

TEST(HhDecompile, RealHelpFilesComeOutWhole) {
    for (const auto& chm : RealHelpFiles()) {
        SCOPED_TRACE(chm);
        ASSERT_TRUE(Exists(chm)) << "install the packages of scripts/packages.txt";
        TempFolder tmp;
        int rc = RunArgv({kHh, "-decompile", tmp.path() + "/out", chm});
        EXPECT_TRUE(rc == 0 || rc == 2) << rc;
        ExpectEveryListedFile(chm, tmp.path() + "/out");
    }
}

}  // namespace
}  // namespace chmtest
