// Replays the slicer fuzz target's seed corpus (and the metafile library's)
// as an ordinary test, so the sanitizer build runs every seed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(SlicerFuzzCorpus, EverySeedSlicesWithoutFault) {
    int seeds = 0;
    for (const char* dir : {VM_SLICER_CORPUS, VM_EMF_CORPUS}) {
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream f(entry.path(), std::ios::binary);
            std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
            SCOPED_TRACE(entry.path().string());
            // As stored (the first two bytes choose the sizes) and behind
            // fixed sizes, so a plain metafile is sliced whole too.
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            for (std::uint8_t h : {0, 40, 255}) {
                std::vector<std::uint8_t> sized{h, 100};
                sized.insert(sized.end(), bytes.begin(), bytes.end());
                LLVMFuzzerTestOneInput(sized.data(), sized.size());
            }
            ++seeds;
        }
    }
    EXPECT_GT(seeds, 0);
}

}  // namespace
