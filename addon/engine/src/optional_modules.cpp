#include "optional_modules.h"

#include <dlfcn.h>

#include <array>
#include <atomic>

namespace htmlengine {
namespace {

struct ModuleState {
    const char* file;
    const char* entry;
    OptionalModule bit;
    bool tried = false;
    void* fn = nullptr;
    std::string why;
};

std::array<ModuleState, 2>& States() {
    static std::array<ModuleState, 2> states{{
        {"libvm_fetch.so", "VmFetchHttp", OptionalModule::Fetch, false, nullptr, {}},
        {"libvm_svg.so", "VmRenderSvg", OptionalModule::Svg, false, nullptr, {}},
    }};
    return states;
}

std::string& FolderOverride() {
    static std::string folder;
    return folder;
}

std::atomic<std::uint32_t> g_opened{0};

// The folder of the object (library or program) this code was linked into.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void* OpenFrom(const std::string& path, std::string& error) {
    // RTLD_LOCAL: the module's libraries stay out of the global namespace.
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        if (!error.empty()) error += "; ";
        error += e ? e : path + ": cannot be opened";
    }
    return h;
}

// Called with ModulesLock held.
void Open(ModuleState& m) {
    if (m.tried) return;
    m.tried = true;
    std::string errors;
    void* handle = nullptr;
    if (!FolderOverride().empty()) {
        handle = OpenFrom(FolderOverride() + "/" + m.file, errors);
    } else {
        const std::string own = OwnFolder();
        if (!own.empty()) {
            handle = OpenFrom(own + "/" + m.file, errors);
            if (!handle) handle = OpenFrom(own + "/../lib/" + m.file, errors);
        }
    }
    if (!handle) {
        m.why = std::string(m.file) + " is not available (" + errors + ")";
        return;
    }
    auto* version = reinterpret_cast<ModuleVersionFn*>(dlsym(handle, "VmModuleAbiVersion"));
    void* fn = dlsym(handle, m.entry);
    if (!version || !fn || version() != kModuleAbiVersion) {
        // Another build's module: left mapped (its code may have run), never called.
        m.why = std::string(m.file) + " belongs to another build";
        return;
    }
    m.fn = fn;
    g_opened.fetch_or(static_cast<std::uint32_t>(m.bit));
}

void* Entry(OptionalModule which, std::string* why) {
    std::lock_guard<std::mutex> lock(ModulesLock());
    for (ModuleState& m : States()) {
        if (m.bit != which) continue;
        Open(m);
        if (!m.fn && why) *why = m.why;
        return m.fn;
    }
    return nullptr;
}

}  // namespace

std::mutex& ModulesLock() {
    static std::mutex lock;
    return lock;
}

FetchHttpFn* FetchModule(std::string* why) {
    return reinterpret_cast<FetchHttpFn*>(Entry(OptionalModule::Fetch, why));
}

RenderSvgFn* SvgModule(std::string* why) {
    return reinterpret_cast<RenderSvgFn*>(Entry(OptionalModule::Svg, why));
}

std::uint32_t OpenedModules() { return g_opened.load(); }

void OpenModules(std::uint32_t mask) {
    for (OptionalModule m : {OptionalModule::Fetch, OptionalModule::Svg})
        if (mask & static_cast<std::uint32_t>(m)) Entry(m, nullptr);
}

void SetModuleFolderForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(ModulesLock());
    FolderOverride() = folder;
    for (ModuleState& m : States()) m.tried = false, m.fn = nullptr, m.why.clear();
    g_opened = 0;
}

}  // namespace htmlengine
