// libFuzzer target: every picture loader, chosen by the input's first bytes.
// Seeds: tests/pictures/corpus.
#include "fuzz_one_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!vmtest::FuzzOnePicture(data, size)) __builtin_trap();
    return 0;
}
