#include "platform/modules.h"

#include <dlfcn.h>

namespace platform {
namespace {

// The folder of the object (library or program) this copy of the code was
// linked into.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void* OpenFrom(const std::string& path, std::string& errors) {
    // RTLD_LOCAL: the module's libraries stay out of the global namespace.
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        if (!errors.empty()) errors += "; ";
        errors += e ? e : path + ": cannot be opened";
    }
    return h;
}

}  // namespace

void* OpenModuleEntry(const std::string& folder, const char* file, const char* entry, std::uint32_t abiVersion,
                      std::string* why) {
    std::string errors;
    void* handle = nullptr;
    if (!folder.empty()) {
        handle = OpenFrom(folder + "/" + file, errors);
    } else if (const std::string own = OwnFolder(); !own.empty()) {
        handle = OpenFrom(own + "/" + file, errors);
        if (!handle) handle = OpenFrom(own + "/../lib/" + file, errors);
    }
    if (!handle) {
        if (why) *why = std::string(file) + " is not available (" + errors + ")";
        return nullptr;
    }
    auto* version = reinterpret_cast<ModuleVersionFn*>(dlsym(handle, "VmModuleAbiVersion"));
    void* fn = dlsym(handle, entry);
    if (!version || !fn || version() != abiVersion) {
        if (why) *why = std::string(file) + " belongs to another build";
        return nullptr;
    }
    return fn;
}

}  // namespace platform
