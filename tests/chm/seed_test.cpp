// Replays the fuzzers' seed inputs (tests/chm/seeds) through the parsers they
// feed, so every seed stays a working input under the sanitizers too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../converter/core/convert_chm_sitemap.h"
#include "chm_archive.h"

namespace {

std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ChmSeeds, SitemapSeedsParse) {
    int seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(SEED_DIR "/sitemap")) {
        SCOPED_TRACE(e.path().string());
        auto entries = vellumate::ParseSitemap(Read(e.path()));
        ++seen;
        if (e.path().filename() == "xhtml.hhc") {
            ASSERT_EQ(entries.size(), 3u);
            EXPECT_EQ(entries[2].title, "Caf\xc3\xa9 & more");
            EXPECT_EQ(entries[2].local, "units/caf\xc3\xa9.html#top");
            EXPECT_EQ(entries[2].level, 1);
        }
        if (e.path().filename() == "nested.hhc") {
            ASSERT_EQ(entries.size(), 6u);  // the picture entry becomes two headings
            EXPECT_EQ(entries[0].local, "");  // the image number comes last
            EXPECT_EQ(entries[2].title, "Section");
            EXPECT_EQ(entries[2].local, "ch1/s1.htm");
            EXPECT_EQ(entries[2].level, 2);
            EXPECT_EQ(entries[4].title, "ch1/pic.gif");
            EXPECT_TRUE(entries[5].web);
        }
        if (e.path().filename() == "broken.hhc") {
            EXPECT_TRUE(entries.empty());
        }
    }
    EXPECT_EQ(seen, 3);
}

TEST(ChmSeeds, DirectorySeedsParse) {
    for (const auto& e : std::filesystem::directory_iterator(SEED_DIR "/directory")) {
        SCOPED_TRACE(e.path().string());
        std::string bytes = Read(e.path());
        std::string error;
        auto listing = hh::ParseDirectory(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), &error);
        EXPECT_TRUE(error.empty()) << error;
        EXPECT_TRUE(listing.warnings.empty());
        bool contents = false;
        for (const auto& entry : listing.entries) contents = contents || entry.name == "/toc.hhc";
        EXPECT_TRUE(contents);
    }
}

}  // namespace
