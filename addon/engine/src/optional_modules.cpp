#include "optional_modules.h"

#include <array>
#include <atomic>

#include "platform/modules.h"

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

// Called with ModulesLock held.
void Open(ModuleState& m) {
    if (m.tried) return;
    m.tried = true;
    m.fn = platform::OpenModuleEntry(FolderOverride(), m.file, m.entry, kModuleAbiVersion, &m.why);
    if (m.fn) g_opened.fetch_or(static_cast<std::uint32_t>(m.bit));
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
