#include "chm_archive.h"

#include <gtest/gtest.h>

#include <cstring>

namespace hh {
namespace {

constexpr std::uint32_t kChunk = 0x200;

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

void PutEncInt(std::vector<std::uint8_t>& out, std::uint64_t v) {
    std::uint8_t tmp[10];
    int n = 0;
    do {
        tmp[n++] = v & 0x7f;
        v >>= 7;
    } while (v);
    while (n--) out.push_back(tmp[n] | (n ? 0x80 : 0));
}

struct Item {
    std::string name;
    std::uint64_t section, offset, length;
};

std::vector<std::uint8_t> ListingChunk(const std::vector<Item>& items, int prev, int next) {
    std::vector<std::uint8_t> body;
    for (const auto& it : items) {
        PutEncInt(body, it.name.size());
        body.insert(body.end(), it.name.begin(), it.name.end());
        PutEncInt(body, it.section);
        PutEncInt(body, it.offset);
        PutEncInt(body, it.length);
    }
    std::vector<std::uint8_t> c(kChunk, 0);
    std::memcpy(c.data(), "PMGL", 4);
    Put32(c, 4, std::uint32_t(kChunk - 0x14 - body.size()));
    Put32(c, 0xc, std::uint32_t(prev));
    Put32(c, 0x10, std::uint32_t(next));
    std::memcpy(c.data() + 0x14, body.data(), body.size());
    return c;
}

std::vector<std::uint8_t> IndexChunk() {
    std::vector<std::uint8_t> c(kChunk, 0);
    std::memcpy(c.data(), "PMGI", 4);
    return c;
}

// A directory whose header claims `firstListing` as the first listing chunk.
std::vector<std::uint8_t> Directory(const std::vector<std::vector<std::uint8_t>>& chunks, int firstListing) {
    std::vector<std::uint8_t> d(0x54, 0);
    std::memcpy(d.data(), "ITSP", 4);
    Put32(d, 4, 1);
    Put32(d, 8, 0x54);
    Put32(d, 0x10, kChunk);
    Put32(d, 0x20, std::uint32_t(firstListing));
    Put32(d, 0x2c, std::uint32_t(chunks.size()));
    for (const auto& c : chunks) d.insert(d.end(), c.begin(), c.end());
    return d;
}

std::vector<std::string> Names(const DirectoryListing& l) {
    std::vector<std::string> out;
    for (const auto& e : l.entries) out.push_back(e.name);
    return out;
}

TEST(ChmDirectory, WalksEveryListingChunkWhateverTheHeaderAndLinksSay) {
    // The header names chunk 2 as the first listing chunk and chunk 1 links to
    // nothing; chunk 1's files must still be listed.
    auto d = Directory({IndexChunk(), ListingChunk({{"/a.htm", 1, 0, 10}, {"/b.htm", 1, 10, 5}}, -1, -1),
                        ListingChunk({{"/c.htm", 0, 0, 3}, {"/a.htm", 1, 0, 10}}, 1, -1)},
                       2);
    std::string error;
    auto l = ParseDirectory(d, &error);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(Names(l), (std::vector<std::string>{"/a.htm", "/b.htm", "/c.htm"}));  // duplicate dropped
    ASSERT_EQ(l.entries.size(), 3u);
    EXPECT_EQ(l.entries[1].section, 1u);
    EXPECT_EQ(l.entries[1].offset, 10u);
    EXPECT_EQ(l.entries[1].length, 5u);
    EXPECT_TRUE(l.warnings.empty());
}

TEST(ChmDirectory, LargeNumbersAndLongNamesRoundTrip) {
    std::string longName = "/" + std::string(300, 'x') + ".htm";
    auto d = Directory({ListingChunk({{longName, 1, 0x123456789ull, 0xfffffull}}, -1, -1)}, 0);
    auto l = ParseDirectory(d, nullptr);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].name, longName);
    EXPECT_EQ(l.entries[0].offset, 0x123456789ull);
    EXPECT_EQ(l.entries[0].length, 0xfffffull);
}

TEST(ChmDirectory, DamageIsAWarningAndTheOtherChunksStillCount) {
    auto bad = ListingChunk({{"/x.htm", 0, 0, 1}}, -1, -1);
    bad[0x14] = 0xff;  // name length that never ends
    bad[0x15] = 0xff;
    auto hugeFree = ListingChunk({{"/y.htm", 0, 0, 1}}, -1, -1);
    Put32(hugeFree, 4, 0xffffff00u);  // free space beyond the chunk: read to its end
    auto cut = ListingChunk({{"/z.htm", 0, 0, 1}}, -1, -1);
    Put32(cut, 4, kChunk - 0x14 - 8);  // ends inside the entry
    auto d = Directory({bad, hugeFree, cut, ListingChunk({{"/ok.htm", 0, 1, 1}}, -1, -1)}, 0);
    d.resize(d.size() + 17);  // a partial chunk at the end is ignored
    auto l = ParseDirectory(d, nullptr);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"/y.htm", "/ok.htm"}));
    EXPECT_EQ(l.warnings.size(), 3u);
}

TEST(ChmDirectory, RejectsBrokenHeaders) {
    std::string error;
    EXPECT_TRUE(ParseDirectory(std::vector<std::uint8_t>(10, 0), &error).entries.empty());
    EXPECT_FALSE(error.empty());
    auto d = Directory({ListingChunk({{"/a.htm", 0, 0, 1}}, -1, -1)}, 0);
    Put32(d, 0x10, 0);  // chunk size 0
    error.clear();
    EXPECT_TRUE(ParseDirectory(d, &error).entries.empty());
    EXPECT_FALSE(error.empty());

    std::vector<std::uint8_t> h(0x60, 0);
    std::memcpy(h.data(), "ITSF", 4);
    Put32(h, 4, 3);
    Put32(h, 0x48, 0x60);
    Put32(h, 0x50, 0x1000);
    EXPECT_FALSE(ParseFileHeader(h, 0x800, &error));  // directory past the end
    EXPECT_TRUE(ParseFileHeader(h, 0x2000, &error));
    Put32(h, 4, 7);
    EXPECT_FALSE(ParseFileHeader(h, 0x2000, &error));
}

TEST(ChmNames, ContentFilesAndSafePaths) {
    EXPECT_TRUE(IsContentFile("/a/b.htm"));
    EXPECT_FALSE(IsContentFile("/#SYSTEM"));
    EXPECT_FALSE(IsContentFile("/$WWKeywordLinks/BTree"));
    EXPECT_FALSE(IsContentFile("/a/"));
    EXPECT_FALSE(IsContentFile("::DataSpace/NameList"));

    EXPECT_EQ(SafeRelativePath("/a/b.htm"), "a/b.htm");
    EXPECT_EQ(SafeRelativePath("/a/sub/"), "a/sub");
    EXPECT_EQ(SafeRelativePath("/a\\b.htm"), "a/b.htm");
    EXPECT_EQ(SafeRelativePath("/..a/b..htm"), "..a/b..htm");
    for (const char* bad : {"/../x.htm", "/a/../../x.htm", "//etc/passwd", "/a//b.htm", "/./x.htm", "/..",
                            "/a\\..\\..\\x.htm", "relative.htm", "/", ""})
        EXPECT_FALSE(SafeRelativePath(bad)) << bad;
    EXPECT_FALSE(SafeRelativePath(std::string_view("/a\0b", 4)));
}

}  // namespace
}  // namespace hh
