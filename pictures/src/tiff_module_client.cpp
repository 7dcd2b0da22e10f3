// TIFF pictures are decoded by the module libvm_tiff.so, opened by the first
// one (see codecs.h).
#include <mutex>

#include "codecs.h"
#include "platform/modules.h"

namespace images::detail {

LoadResult LoadTiff(std::string_view file, std::vector<Picture>& out) {
    static std::string why;
    static LoadTiffFn* const load = reinterpret_cast<LoadTiffFn*>(
        platform::OpenModuleEntry({}, "libvm_tiff.so", "VmLoadTiff", kTiffModuleAbi, &why));
    if (!load) return Fail("TIFF pictures cannot be read: " + why);
    LoadResult result;
    load(file, &out, &result);
    return result;
}

}  // namespace images::detail
