// Runs the fuzz target over every file of the given folders (the seed corpus
// as an ordinary test, and crash reproducers after a fuzzing run).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        std::vector<std::filesystem::path> list;
        if (std::filesystem::is_directory(p)) {
            for (auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file()) list.push_back(e.path());
        } else {
            list.push_back(p);
        }
        for (auto& f : list) {
            std::ifstream in(f, std::ios::binary);
            std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(b.data(), b.size());
            ++files;
        }
    }
    std::printf("replayed %d inputs\n", files);
    return files > 0 ? 0 : 1;
}
