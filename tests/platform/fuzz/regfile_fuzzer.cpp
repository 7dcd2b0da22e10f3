// Registry text files: parse, and print what was parsed.
#include "fuzzers.h"

#include "regfile.h"

int FuzzRegFile(const std::uint8_t* data, std::size_t size) {
    auto parsed = regtool::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string out = regtool::FormatHeader();
    for (const auto& k : parsed.keys) {
        out += regtool::FormatKeyLine(k.name);
        for (const auto& v : k.values)
            if (!v.remove) out += regtool::FormatValueLine(v);
    }
    regtool::ParseRegFile(out);
    return 0;
}

VM_FUZZ_TARGET(FuzzRegFile)
