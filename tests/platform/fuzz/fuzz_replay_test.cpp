// Replays the seed corpora of the fuzz targets as ordinary tests.
#include "fuzzers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

void Replay(const char* corpus, int (*fn)(const std::uint8_t*, std::size_t)) {
    std::filesystem::path dir = std::filesystem::path(VM_CORPUS_DIR) / corpus;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(e.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(e.path().string());
        fn(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++n;
    }
    EXPECT_GT(n, 0) << "empty corpus " << dir;
}

}  // namespace

TEST(FuzzCorpus, Profile) { Replay("profile", FuzzProfile); }
TEST(FuzzCorpus, CommandLine) { Replay("cmdline", FuzzCommandLine); }
TEST(FuzzCorpus, RegFile) { Replay("regfile", FuzzRegFile); }
