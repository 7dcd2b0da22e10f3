// The fuzz target's seeds (and the committed documents) replayed as an
// ordinary test, so every build runs the target's code on them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(ParsersFuzzSeeds, ReplayWithoutFault) {
    namespace fs = std::filesystem;
    int replayed = 0;
    for (const char* dir : {VM_HTML_FIXTURES "/fuzz_seeds", VM_HTML_FIXTURES "/docs"}) {
        for (const auto& e : fs::directory_iterator(dir)) {
            std::ifstream in(e.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
            // Every prefix of a small seed, as truncated input arrives.
            if (bytes.size() < 600)
                for (std::size_t n = 0; n < bytes.size(); ++n)
                    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), n);
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 5);
}
