// The fuzzer's seed corpus (and any crash inputs added to it) replayed as a
// test, so the sanitizer build runs every one of them.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "fuzz_one_picture.h"

TEST(PictureCorpus, EveryInputLoadsOrFailsCleanly) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PICTURE_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_TRUE(vmtest::FuzzOnePicture(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
            << entry.path();
        ++files;
    }
    EXPECT_GT(files, 5);
}
