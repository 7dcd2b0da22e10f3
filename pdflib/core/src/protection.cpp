#include "pdfcore/protection.h"

#include <mutex>
#include <stdexcept>

#include "platform/modules.h"

namespace pdfcore {
namespace {

struct Entries {
    ProtectKeysFn* keys = nullptr;
    ObjectKeyFn* objectKey = nullptr;
    std::string why;
};

const Entries& Module() {
    static const Entries entries = [] {
        Entries e;
        constexpr const char* kFile = "libvm_protect.so";
        e.keys = reinterpret_cast<ProtectKeysFn*>(
            platform::OpenModuleEntry({}, kFile, "VmProtectKeys", kProtectModuleAbi, &e.why));
        if (e.keys)
            e.objectKey = reinterpret_cast<ObjectKeyFn*>(
                platform::OpenModuleEntry({}, kFile, "VmObjectKey", kProtectModuleAbi, &e.why));
        return e;
    }();
    if (!entries.keys || !entries.objectKey)
        throw std::runtime_error("documents cannot be protected: " + entries.why);
    return entries;
}

}  // namespace

ProtectionKeys ComputeProtectionKeys(const std::string& userUtf8, const std::string& ownerUtf8, int v, int r,
                                     int keyBytes, int p, const std::string& id1) {
    ProtectionKeys out;
    Module().keys(userUtf8, ownerUtf8, v, r, keyBytes, p, id1, &out);
    return out;
}

std::string ObjectKey(const std::string& fileKey, int objectNumber, int v, int r) {
    std::string out;
    Module().objectKey(fileKey, objectNumber, v, r, &out);
    return out;
}

}  // namespace pdfcore
