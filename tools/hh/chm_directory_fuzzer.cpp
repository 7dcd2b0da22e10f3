// libFuzzer target: the container's file header and directory listing.
#include <cstddef>
#include <cstdint>
#include <span>

#include "chm_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    std::string error;
    (void)hh::ParseFileHeader(bytes, size, &error);
    auto listing = hh::ParseDirectory(bytes, &error);
    for (const auto& e : listing.entries) (void)hh::SafeRelativePath(e.name);
    return 0;
}
