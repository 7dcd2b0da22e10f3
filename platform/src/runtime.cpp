// The component runtime: per-thread initialisation, ProgID lookup, and
// in-process servers found under HKCR\CLSID and loaded with dlopen.
#include "platform/com.h"

#include "platform/registry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include <map>
#include <vector>
#include <mutex>

namespace com {

using platform::HKEY_CLASSES_ROOT;
using platform::RegGetString;
using platform::RegKeyHolder;

namespace {

thread_local int g_initCount = 0;
std::atomic<int> g_initialisedThreads{0};

struct LoadedLibrary {
    void* handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
    DllShutdownFn shutdown = nullptr;
};

std::mutex g_libsMu;
std::map<std::string, LoadedLibrary> g_libs;  // by the registered path

HRESULT Load(const std::string& path, LoadedLibrary* out) {
    std::lock_guard lock(g_libsMu);
    auto it = g_libs.find(path);
    if (it != g_libs.end()) {
        *out = it->second;
        return S_OK;
    }
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return CO_E_DLLNOTFOUND;
    LoadedLibrary lib;
    lib.handle = h;
    lib.getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(h, "DllGetClassObject"));
    lib.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(h, "DllCanUnloadNow"));
    lib.shutdown = reinterpret_cast<DllShutdownFn>(dlsym(h, "DllShutdown"));
    if (!lib.getClassObject) {
        dlclose(h);
        return CO_E_ERRORINDLL;
    }
    g_libs.emplace(path, lib);
    *out = lib;
    return S_OK;
}

// A class string under HKEY_CLASSES_ROOT: the user's own registration, else
// the one an installation made for every user in the system registry (read
// only, and never created from here). A private registry
// ($VELLUMATE_REGISTRY, as tests use) stands alone.
platform::LSTATUS ClassString(const std::string& path, std::string* out) {
    const platform::LSTATUS own = RegGetString(HKEY_CLASSES_ROOT, path, "", out);
    if (own == 0) return own;
    if (const char* priv = std::getenv("VELLUMATE_REGISTRY"); priv && *priv) return own;
    const std::string hive = platform::SystemRegistryFolder() + "/machine.db";
    if (access(hive.c_str(), R_OK) != 0) return own;
    RegKeyHolder root;
    if (platform::RegLoadAppKey(hive.c_str(), root.Out(), platform::KEY_READ, 0, 0) != 0) return own;
    return RegGetString(root.Get(), "Software\\Classes\\" + path, "", out);
}

}  // namespace

HRESULT CoInitialize(void*) {
    // Every thread is its own apartment; a second call answers S_FALSE as usual.
    if (g_initCount++ > 0) return S_FALSE;
    ++g_initialisedThreads;
    return S_OK;
}

void CoUninitialize() {
    if (g_initCount == 0 || --g_initCount > 0) return;
    if (--g_initialisedThreads > 0) return;
    // The runtime ends. The libraries are asked outside the lock: a server
    // may take its time (ending a process) and may call back into the runtime.
    std::vector<DllShutdownFn> shutdowns;
    {
        std::lock_guard lock(g_libsMu);
        for (const auto& [path, lib] : g_libs)
            if (lib.shutdown) shutdowns.push_back(lib.shutdown);
    }
    for (DllShutdownFn f : shutdowns) f();
    CoFreeUnusedLibraries();
}

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* out) {
    if (!out) return E_INVALIDARG;
    if (progId.empty() || progId.size() > 255 || progId.find('\\') != std::string_view::npos) return CO_E_CLASSSTRING;
    std::string name(progId);
    // A version-independent ProgID may carry no CLSID of its own: follow
    // CurVer to the current versioned one (a few steps at most, no loops).
    for (int depth = 0; depth < 8; ++depth) {
        std::string text;
        if (ClassString(name + "\\CLSID", &text) == 0)
            return GuidFromString(text, out) ? S_OK : CO_E_CLASSSTRING;
        std::string next;
        if (ClassString(name + "\\CurVer", &next) != 0 || next.empty() ||
            next.find('\\') != std::string::npos)
            break;
        name = next;
    }
    return CO_E_CLASSSTRING;
}

HRESULT CoGetClassObject(REFCLSID clsid, std::uint32_t context, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (ClassString("CLSID\\" + GuidToString(clsid) + "\\InprocServer32", &path) != 0 ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    LoadedLibrary lib;
    if (HRESULT hr = Load(path, &lib); FAILED(hr)) return hr;
    return lib.getClassObject(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, std::uint32_t context, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(g_libsMu);
    for (auto it = g_libs.begin(); it != g_libs.end();) {
        const LoadedLibrary& lib = it->second;
        if (lib.canUnloadNow && lib.canUnloadNow() == S_OK) {
            dlclose(lib.handle);
            it = g_libs.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace com
