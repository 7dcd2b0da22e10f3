// Profile text: parse, query, edit and print again.
#include "fuzzers.h"

#include "platform/profile.h"

#include <string>

int FuzzProfile(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::ProfileText p(text);
    std::string v;
    for (const auto& s : p.Sections())
        for (const auto& k : p.Keys(s)) p.Get(s, k, &v);
    p.Set("Job", "Pages", "1");
    p.DeleteKey("Job", "Pages");
    if (!p.Sections().empty()) p.DeleteSection(p.Sections().front());
    platform::ProfileText again(p.Text());
    again.Sections();
    return 0;
}

VM_FUZZ_TARGET(FuzzProfile)
