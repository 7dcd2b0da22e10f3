// Entry points of the platform's fuzz targets, shared by the libFuzzer
// programs (VM_FUZZ) and the replay of their seed corpora in the test suite.
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzProfile(const std::uint8_t* data, std::size_t size);
int FuzzCommandLine(const std::uint8_t* data, std::size_t size);
int FuzzRegFile(const std::uint8_t* data, std::size_t size);

#ifdef VM_FUZZ_ENTRY
#define VM_FUZZ_TARGET(fn) \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return fn(data, size); }
#else
#define VM_FUZZ_TARGET(fn)
#endif
