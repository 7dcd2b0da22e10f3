// The library's exports: class object, unloading, and registration of the
// button's keys and of the browsers' host manifests.
#include "navlet/navlet.h"
#include "platform/registry.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using com::HRESULT;

int Regsvr(bool unregister) {
    std::string cmd = std::string(VM_REGSVR) + (unregister ? " /u" : "") + " /s '" + VM_NAVLET + "'";
    int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ModuleTest : public ::testing::Test {
protected:
    // The environment the test changes, put back afterwards.
    struct Saved {
        Saved() {
            for (const char* name : kNames)
                if (const char* v = getenv(name)) values.emplace_back(name, v);
        }
        ~Saved() {
            for (const char* name : kNames) unsetenv(name);
            for (const auto& [name, value] : values) setenv(name.c_str(), value.c_str(), 1);
        }
        static constexpr const char* kNames[] = {"VELLUMATE_REGISTRY", "HOME", "XDG_CONFIG_HOME"};
        std::vector<std::pair<std::string, std::string>> values;
    } saved_;

    void SetUp() override {
        std::string tmpl = fs::temp_directory_path().string() + "/navletmod-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        fs::create_directories(dir_ + "/registry");
        setenv("VELLUMATE_REGISTRY", (dir_ + "/registry").c_str(), 1);
        setenv("HOME", (dir_ + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ + "/home/.config").c_str(), 1);
        library_ = dlopen(VM_NAVLET, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        getClassObject_ = reinterpret_cast<com::DllGetClassObjectFn>(dlsym(library_, "DllGetClassObject"));
        canUnloadNow_ = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(library_, "DllCanUnloadNow"));
        ASSERT_TRUE(getClassObject_ && canUnloadNow_);
    }
    void TearDown() override {
        if (library_) dlclose(library_);
        fs::remove_all(dir_);
    }
    std::string Value(platform::HKEY root, const std::string& key, const std::string& name) {
        std::string v;
        return platform::RegGetString(root, key, name, &v) == platform::ERROR_SUCCESS ? v : "<none>";
    }

    std::string dir_;
    void* library_ = nullptr;
    com::DllGetClassObjectFn getClassObject_ = nullptr;
    com::DllCanUnloadNowFn canUnloadNow_ = nullptr;
};

TEST_F(ModuleTest, FactoryMakesCommandTargetsAndHoldsTheLibraryWhileUsed) {
    EXPECT_EQ(getClassObject_(navlet::CLSID_Navlet, com::IID_IClassFactory, nullptr), com::E_INVALIDARG);
    void* p = nullptr;
    EXPECT_EQ(getClassObject_(navlet::CLSID_Navlet, com::IID_IDispatch, &p), com::CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(canUnloadNow_(), com::S_OK);

    com::IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject_(navlet::CLSID_Navlet, com::IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              com::S_OK);
    EXPECT_EQ(canUnloadNow_(), com::S_FALSE);
    EXPECT_EQ(factory->CreateInstance(nullptr, com::IID_IUnknown, nullptr), com::E_INVALIDARG);
    EXPECT_EQ(factory->CreateInstance(factory, com::IID_IUnknown, &p), com::CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, com::IID_IDispatch, &p), com::E_NOINTERFACE);
    com::IOleCommandTarget* target = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, com::IID_IOleCommandTarget, reinterpret_cast<void**>(&target)),
              com::S_OK);
    EXPECT_EQ(factory->LockServer(true), com::S_OK);
    factory->Release();
    EXPECT_EQ(canUnloadNow_(), com::S_FALSE);  // the lock and the object
    factory = nullptr;
    ASSERT_EQ(getClassObject_(navlet::CLSID_Navlet, com::IID_IUnknown, reinterpret_cast<void**>(&factory)), com::S_OK);
    factory->LockServer(false);
    factory->Release();
    EXPECT_EQ(canUnloadNow_(), com::S_FALSE);  // the object
    com::IObjectWithSite* withSite = nullptr;
    ASSERT_EQ(target->QueryInterface(com::IID_IObjectWithSite, reinterpret_cast<void**>(&withSite)), com::S_OK);
    target->Release();
    EXPECT_EQ(canUnloadNow_(), com::S_FALSE);
    withSite->Release();
    EXPECT_EQ(canUnloadNow_(), com::S_OK);
}

TEST_F(ModuleTest, RegistrationWritesAndRemovesKeysAndHostManifests) {
    ASSERT_EQ(Regsvr(false), 0);
    const std::string module = fs::canonical(VM_NAVLET).string();
    const std::string clsid = "CLSID\\" + com::GuidToString(navlet::CLSID_Navlet);
    EXPECT_EQ(Value(platform::HKEY_CLASSES_ROOT, clsid, ""), "Tessaline Quorvel (IE PlugIn)");
    EXPECT_EQ(Value(platform::HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", ""), module);
    EXPECT_EQ(Value(platform::HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel"), "<none>");
    const std::string ext = "Software\\Microsoft\\Internet Explorer\\Extensions\\" +
                            com::GuidToString(navlet::GUID_NavletExtension);
    const std::pair<const char*, std::string> values[] = {
        {"ButtonText", "Convert to PDF"},
        {"CLSID", "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}"},
        {"Default Visible", "Yes"},
        {"ClsidExtension", com::GuidToString(navlet::CLSID_Navlet)},
        {"HotIcon", module + ",102"},
        {"Icon", module + ",103"},
        {"MenuText", "Convert to PDF using Tessaline Quorvel..."},
        {"MenuStatusBar", "Convert to PDF"},
    };
    for (const auto& [name, data] : values) EXPECT_EQ(Value(platform::HKEY_CURRENT_USER, ext, name), data) << name;

    const std::string chromium = dir_ + "/home/.config/chromium/NativeMessagingHosts/com.brindlecote.navlet.json";
    const std::string firefox = dir_ + "/home/.mozilla/native-messaging-hosts/com.brindlecote.navlet.json";
    const std::string host = fs::canonical(fs::path(module).parent_path() / "../bin/navlet-host").string();
    std::string c = Text(chromium), f = Text(firefox);
    EXPECT_NE(c.find("\"path\": \"" + host + "\""), std::string::npos) << c;
    EXPECT_NE(c.find("\"allowed_origins\": [\"chrome-extension://jgcgcphgjpaojecbjjbeiohfmjndblph/\"]"),
              std::string::npos)
        << c;
    EXPECT_NE(f.find("\"allowed_extensions\": [\"navlet@vellumate.invalid\"]"), std::string::npos) << f;
    EXPECT_NE(f.find("\"type\": \"stdio\""), std::string::npos) << f;

    ASSERT_EQ(Regsvr(true), 0);
    EXPECT_EQ(Value(platform::HKEY_CLASSES_ROOT, clsid, ""), "<none>");
    EXPECT_EQ(Value(platform::HKEY_CURRENT_USER, ext, "CLSID"), "<none>");
    EXPECT_FALSE(fs::exists(chromium));
    EXPECT_FALSE(fs::exists(firefox));
    // Nothing left to remove is a failure, as the keys are gone.
    EXPECT_NE(Regsvr(true), 0);
}

}  // namespace
