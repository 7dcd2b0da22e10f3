// The server module: the class factories, the four exports, the registry
// keys the library writes and removes, and the type library text.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "addon/core/addon_object.h"
#include "addon/core/tessaline_impl.h"
#include "addon/core/type_library.h"
#include "platform/com_registrar.h"
#include "platform/com_server.h"
#include "platform/registry.h"
#include "tessaline/itessaline.h"

namespace tessaline {
namespace {

using com::HRESULT;
using com::RegKeyMode;
using com::RegTree;

using Creator = HRESULT (*)(com::IUnknown*, com::REFIID, void**);

// Unlike the platform's generic factory, this one lets an outer object
// aggregate the classes.
class Factory final : public com::server::Object<Factory, com::IClassFactory> {
public:
    explicit Factory(Creator create) : create_(create) {}
    HRESULT CreateInstance(com::IUnknown* outer, com::REFIID riid, void** ppv) override {
        return com::server::Trap([&] { return create_(outer, riid, ppv); });
    }
    HRESULT LockServer(bool lock) override {
        if (lock)
            ++com::server::g_lockCount;
        else if (com::server::g_lockCount.load() > 0)
            --com::server::g_lockCount;
        return com::S_OK;
    }

private:
    Creator create_;
};

constexpr char kAppName[] = "TessalineAddOn";
constexpr char kTypeLibFile[] = "tessaline.tlb";

std::string ModuleFile() { return com::server::ModulePath(reinterpret_cast<const void*>(&ModuleFile)); }

std::string TypeLibPath(const std::string& module) {
    return (std::filesystem::path(module).parent_path() / kTypeLibFile).string();
}

void AddAddOnClass(RegTree& root, const com::CLSID& clsid, const char* description, const char* progId,
                   const char* independentProgId, const std::string& module) {
    std::string id = com::GuidToString(clsid);
    RegTree& versioned = root.Key(progId);
    versioned.Default(description);
    versioned.Key("CLSID").Default(id);
    RegTree& independent = root.Key(independentProgId);
    independent.Default(description);
    independent.Key("CLSID").Default(id);
    independent.Key("CurVer").Default(std::string(progId));

    RegTree& key = root.Key("CLSID", RegKeyMode::NoRemove).Key(id, RegKeyMode::ForceRemove);
    key.Default(description);
    key.Value("AppID", com::GuidToString(APPID_TessalineAddOn));
    key.Key("ProgID").Default(std::string(progId));
    key.Key("VersionIndependentProgID").Default(std::string(independentProgId));
    key.Key("Programmable", RegKeyMode::ForceRemove);
    key.Key("InprocServer32").Default(module).Value("ThreadingModel", "Apartment");
    key.Key("TypeLib").Default(com::GuidToString(LIBID_TessalineAddOn));
}

// Everything the server writes under HKEY_CLASSES_ROOT.
RegTree ServerKeys(const std::string& module) {
    RegTree root;
    std::string appId = com::GuidToString(APPID_TessalineAddOn);
    RegTree& apps = root.Key("AppID", RegKeyMode::NoRemove);
    apps.Key(appId).Default(std::string(kAppName));
    apps.Key("TessalineAddOn.DLL").Value("AppID", appId);

    AddAddOnClass(root, CLSID_Tessaline, "Tessaline Class", kProgIdTessalineVersioned, kProgIdTessaline, module);
    AddAddOnClass(root, CLSID_Tessaline2, "Tessaline2 Class", kProgIdTessaline2Versioned, kProgIdTessaline2,
                  module);

    std::string libId = com::GuidToString(LIBID_TessalineAddOn);
    RegTree& version = root.Key("TypeLib", RegKeyMode::NoRemove).Key(libId, RegKeyMode::ForceRemove).Key("1.0");
    version.Default(std::string(kTypeLibHelpString));
    version.Key("0").Key("linux64").Default(TypeLibPath(module));
    version.Key("FLAGS").Default(std::string("0"));
    version.Key("HELPDIR").Default(std::filesystem::path(module).parent_path().string());

    RegTree& interfaces = root.Key("Interface", RegKeyMode::NoRemove);
    for (auto [iid, name] : {std::pair{IID_ITessaline2, "ITessaline2"}, std::pair{IID_ITessaline, "ITessaline"}}) {
        RegTree& itf = interfaces.Key(com::GuidToString(iid), RegKeyMode::ForceRemove);
        itf.Default(std::string(name));
        itf.Key("TypeLib").Default(libId).Value("Version", "1.0");
    }
    return root;
}

// Installs the type library text beside the library (left alone when it
// already says the same, so a read-only folder with a current file is fine).
HRESULT InstallTypeLibrary(const std::string& module) {
    std::string path = TypeLibPath(module);
    std::string text = TypeLibraryText();
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::string current((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (current == text) return com::S_OK;
        }
    }
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return com::SELFREG_E_TYPELIB;
        out << text;
        if (!out.flush()) return com::SELFREG_E_TYPELIB;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return com::SELFREG_E_TYPELIB;
    }
    return com::S_OK;
}

}  // namespace
}  // namespace tessaline

using namespace tessaline;

VM_COM_EXPORT com::HRESULT DllGetClassObject(com::REFCLSID clsid, com::REFIID riid, void** ppv) {
    return com::server::Trap([&]() -> com::HRESULT {
        if (!ppv) return com::E_POINTER;
        *ppv = nullptr;
        Creator create = clsid == CLSID_Tessaline2 ? &CreateTessaline2
                         : clsid == CLSID_Tessaline ? &CreateTessaline
                                                    : nullptr;
        if (!create) return com::CLASS_E_CLASSNOTAVAILABLE;
        Factory* f = Factory::CreateOwned(create);
        com::HRESULT hr = f->QueryInterface(riid, ppv);
        f->Release();
        return hr;
    });
}

VM_COM_EXPORT com::HRESULT DllCanUnloadNow() { return com::server::CanUnloadNow(); }

// The component runtime ends: so does the browser the run's documents shared.
VM_COM_EXPORT void DllShutdown() { TessalineImpl::EndSharedLoaders(); }

VM_COM_EXPORT com::HRESULT DllRegisterServer() {
    return com::server::Trap([]() -> com::HRESULT {
        std::string module = ModuleFile();
        if (module.empty()) return com::SELFREG_E_CLASS;
        com::HRESULT hr = com::RegisterTree(platform::HKEY_CLASSES_ROOT, ServerKeys(module));
        if (com::FAILED(hr)) return hr;
        return InstallTypeLibrary(module);
    });
}

VM_COM_EXPORT com::HRESULT DllUnregisterServer() {
    return com::server::Trap([]() -> com::HRESULT {
        // The keys do not depend on where the library is, only their values do.
        return com::UnregisterTree(platform::HKEY_CLASSES_ROOT, ServerKeys(ModuleFile()));
    });
}
