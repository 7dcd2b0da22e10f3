// libFuzzer target: the contents-file parser. Seeds: any ".hhc" file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../../converter/core/convert_chm_sitemap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto entries = vellumate::ParseSitemap(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& e : entries) {
        if (e.title.size() > size * 4 + 16 || e.local.size() > size * 4 + 16) __builtin_trap();
    }
    return 0;
}
