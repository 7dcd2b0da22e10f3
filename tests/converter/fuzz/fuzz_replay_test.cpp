// Replays the command-line fuzzer's seed corpus as an ordinary test.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(CmdlineFuzzCorpus, EverySeedRuns) {
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VM_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0)
            << entry.path();
        ++seeds;
    }
    EXPECT_GT(seeds, 0);
}
