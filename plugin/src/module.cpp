// The library's exports: the class factory, unloading, and the registration
// of the button (its class, the browser's extension key and the
// native-messaging host manifests).
#include "extension.h"
#include "host_manifests.h"
#include "platform/registry.h"
#include "platform/paths.h"
#include "strings.h"

#include <unistd.h>

#include <cstdio>

namespace navlet {

namespace {

using com::HRESULT;

class IMyClassFactory final : public com::server::Object<IMyClassFactory, com::IClassFactory> {
public:
    HRESULT CreateInstance(com::IUnknown* outer, com::REFIID riid, void** ppv) override {
        if (!ppv) return com::E_INVALIDARG;
        *ppv = nullptr;
        if (outer) return com::CLASS_E_NOAGGREGATION;
        return com::server::Trap([&] {
            IMyIEExtention* object = IMyIEExtention::CreateOwned();
            HRESULT hr = object->QueryInterface(riid, ppv);
            object->Release();
            return hr;
        });
    }
    HRESULT LockServer(bool lock) override {
        if (lock)
            ++com::server::g_lockCount;
        else if (com::server::g_lockCount.load() > 0)
            --com::server::g_lockCount;
        return com::S_OK;
    }
};

constexpr char kClassDescription[] = "Tessaline Quorvel (IE PlugIn)";
constexpr char kBrowserButtonClass[] = "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}";
constexpr char kExtensionsKey[] = "Software\\Microsoft\\Internet Explorer\\Extensions\\";
constexpr unsigned kHotIcon = 102;
constexpr unsigned kIcon = 103;

std::string ModuleFile() { return com::server::ModulePath(reinterpret_cast<const void*>(&ModuleFile)); }

std::string ClassKey() { return "CLSID\\" + com::GuidToString(CLSID_Navlet); }
std::string ExtensionKey() { return kExtensionsKey + com::GuidToString(GUID_NavletExtension); }

// The host program: beside the library, or in the programs' folder next to
// the libraries' one.
std::string HostProgram(const std::string& module) {
    const std::string folder = platform::FolderOf(module);
    for (const std::string& candidate :
         {folder + "/" + kNativeHostProgram, platform::FolderOf(folder) + "/bin/" + kNativeHostProgram}) {
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// One REG_SZ value of `length` bytes (with or without the terminating zero).
bool SetText(platform::HKEY key, const char* name, const std::string& text, bool withZero) {
    return platform::RegSetValueEx(key, name, 0, platform::REG_SZ, reinterpret_cast<const platform::BYTE*>(text.c_str()),
                                   static_cast<platform::DWORD>(text.size() + (withZero ? 1 : 0))) ==
           platform::ERROR_SUCCESS;
}

bool CreateKey(platform::HKEY root, const std::string& path, platform::RegKeyHolder* key) {
    return platform::RegCreateKeyEx(root, path.c_str(), 0, nullptr, platform::REG_OPTION_NON_VOLATILE,
                                    platform::KEY_WRITE, nullptr, key->Out(), nullptr) == platform::ERROR_SUCCESS;
}

HRESULT Register() {
    const std::string module = ModuleFile();
    const std::string host = HostProgram(module);
    if (module.empty() || host.empty()) return com::SELFREG_E_CLASS;
    {
        platform::RegKeyHolder key, server;
        if (!CreateKey(platform::HKEY_CLASSES_ROOT, ClassKey(), &key) || !SetText(key.Get(), "", kClassDescription, true) ||
            !CreateKey(key.Get(), "InprocServer32", &server) || !SetText(server.Get(), "", module, true))
            return com::SELFREG_E_CLASS;
    }
    {
        char hot[4200], icon[4200];
        std::snprintf(hot, sizeof hot, "%s,%u", module.c_str(), kHotIcon);
        std::snprintf(icon, sizeof icon, "%s,%u", module.c_str(), kIcon);
        platform::RegKeyHolder key;
        // Texts of the string table and the icons are stored without their
        // zero, the fixed texts with it.
        if (!CreateKey(platform::HKEY_CURRENT_USER, ExtensionKey(), &key) ||
            !SetText(key.Get(), "ButtonText", LoadString(IDS_BUTTON_TEXT), false) ||
            !SetText(key.Get(), "CLSID", kBrowserButtonClass, true) ||
            !SetText(key.Get(), "Default Visible", "Yes", true) ||
            !SetText(key.Get(), "ClsidExtension", com::GuidToString(CLSID_Navlet), true) ||
            !SetText(key.Get(), "HotIcon", hot, false) || !SetText(key.Get(), "Icon", icon, false) ||
            !SetText(key.Get(), "MenuText", LoadString(IDS_MENU_TEXT), false) ||
            !SetText(key.Get(), "MenuStatusBar", LoadString(IDS_BUTTON_TEXT), false))
            return com::SELFREG_E_CLASS;
    }
    return WriteHostManifests(HostManifests(host)) ? com::S_OK : com::SELFREG_E_CLASS;
}

HRESULT Unregister() {
    bool ok = platform::RegDeleteTree(platform::HKEY_CLASSES_ROOT, ClassKey().c_str()) == platform::ERROR_SUCCESS &&
              platform::RegDeleteTree(platform::HKEY_CURRENT_USER, ExtensionKey().c_str()) == platform::ERROR_SUCCESS;
    // The manifests go in any case, so no browser keeps starting a host
    // whose class is gone. Where the host is does not matter here.
    ok = RemoveHostManifests(HostManifests("")) && ok;
    return ok ? com::S_OK : com::SELFREG_E_CLASS;
}

}  // namespace
}  // namespace navlet

using namespace navlet;

// Any class identifier gets the factory: the button's library serves one class.
VM_COM_EXPORT com::HRESULT DllGetClassObject(com::REFCLSID, com::REFIID riid, void** ppv) {
    if (!ppv) return com::E_INVALIDARG;
    *ppv = nullptr;
    return com::server::Trap([&]() -> com::HRESULT {
        IMyClassFactory* factory = IMyClassFactory::CreateOwned();
        com::HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return com::FAILED(hr) ? com::CLASS_E_CLASSNOTAVAILABLE : hr;
    });
}

VM_COM_EXPORT com::HRESULT DllCanUnloadNow() { return com::server::CanUnloadNow(); }

VM_COM_EXPORT com::HRESULT DllRegisterServer() { return com::server::Trap([] { return Register(); }); }

VM_COM_EXPORT com::HRESULT DllUnregisterServer() { return com::server::Trap([] { return Unregister(); }); }
