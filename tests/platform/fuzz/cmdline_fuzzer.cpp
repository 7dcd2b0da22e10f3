// Command-line text: splitting, and the round trip of what splitting gives.
#include "fuzzers.h"

#include "platform/cmdline.h"

#include <cstdlib>
#include <string>

int FuzzCommandLine(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto args = platform::SplitCommandLine(text);
    // Arguments without quotes must survive joining and splitting unchanged.
    bool quoteFree = true;
    for (const auto& a : args) quoteFree = quoteFree && a.find('"') == std::string::npos;
    if (quoteFree && platform::SplitCommandLine(platform::JoinCommandLine(args)) != args) std::abort();
    return 0;
}

VM_FUZZ_TARGET(FuzzCommandLine)
