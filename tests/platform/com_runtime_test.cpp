// The component runtime end to end: a test server registered with regsvr,
// created by ProgID, called directly and by name, unregistered and unloaded.
#include "test_server.h"

#include "platform/com_dispatch.h"
#include "platform/com_registrar.h"
#include "platform/registry.h"
#include "platform_e2e.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>

using namespace com;
using platform::HKEY;

namespace {

class ComRuntime : public e2e::RegistryTest {
protected:
    static bool Loaded() {
        void* h = dlopen(e2e::Lib("libvm_test_server.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h) dlclose(h);
        return h != nullptr;
    }
    void Register() { ASSERT_EQ(e2e::Run({e2e::Bin("regsvr"), "/s", e2e::Lib("libvm_test_server.so")}).status, 0); }
};

}  // namespace

TEST_F(ComRuntime, RegisterCreateCallAndUnload) {
    auto reg = e2e::Run({e2e::Bin("regsvr"), e2e::Lib("libvm_test_server.so")});
    ASSERT_EQ(reg.status, 0) << reg.err;
    EXPECT_NE(reg.out.find("DllRegisterServer"), std::string::npos);

    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID("VmTest.Calc.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestCalc);
    ASSERT_EQ(CLSIDFromProgID("vmtest.calc", &clsid), S_OK);  // through CurVer, any case
    EXPECT_EQ(clsid, CLSID_TestCalc);
    EXPECT_EQ(CLSIDFromProgID("VmTest.Nothing", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID("", &clsid), CO_E_CLASSSTRING);

    {
        ComPtr<ITestCalc> calc;
        ASSERT_EQ(CreateInstance("VmTest.Calc", &calc), S_OK);
        std::int32_t sum = 0;
        ASSERT_EQ(calc->Add(2, 40, &sum), S_OK);
        EXPECT_EQ(sum, 42);

        ComPtr<IDispatch> disp;
        ASSERT_EQ(calc.As(&disp), S_OK);
        ComPtr<IUnknown> u1, u2;
        ASSERT_EQ(calc.As(&u1), S_OK);
        ASSERT_EQ(disp.As(&u2), S_OK);
        EXPECT_EQ(u1.Get(), u2.Get());  // one identity
        ComPtr<IClassFactory> none;
        EXPECT_EQ(calc.As(&none), E_NOINTERFACE);

        VARIANT a, b, r;
        a.vt = VT_I4;
        a.lVal = 5;
        b.vt = VT_BSTR;
        b.bstrVal = BstrFromUtf8("7");
        ASSERT_EQ(InvokeByName(disp.Get(), "ADD", DISPATCH_METHOD, {a, b}, &r), S_OK);
        EXPECT_EQ(r.vt, VT_I4);
        EXPECT_EQ(r.lVal, 12);
        VariantClear(&b);

        VARIANT word;
        word.vt = VT_BSTR;
        word.bstrVal = BstrFromUtf8("twelve");
        EXPECT_EQ(InvokeByName(disp.Get(), "Add", DISPATCH_METHOD, {a, word}, &r), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(InvokeByName(disp.Get(), "Add", DISPATCH_METHOD, {a}, &r), DISP_E_BADPARAMCOUNT);
        EXPECT_EQ(InvokeByName(disp.Get(), "Subtract", DISPATCH_METHOD, {}, &r), DISP_E_UNKNOWNNAME);
        ASSERT_EQ(InvokeByName(disp.Get(), "name", DISPATCH_PROPERTYPUT, {word}, nullptr), S_OK);
        ASSERT_EQ(InvokeByName(disp.Get(), "Name", DISPATCH_PROPERTYGET, {}, &r), S_OK);
        EXPECT_EQ(Utf8FromBstr(r.bstrVal), "twelve");
        VariantClear(&r);
        VariantClear(&word);
        std::string why;
        EXPECT_EQ(InvokeByName(disp.Get(), "Fail", DISPATCH_METHOD, {}, &r, &why), DISP_E_EXCEPTION);
        EXPECT_EQ(why, "the calculator refuses");
        EXPECT_EQ(disp->Invoke(99, GUID_NULL, 0, DISPATCH_METHOD, nullptr, &r, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND);

        std::int32_t objects = 0;
        calc->Objects(&objects);
        EXPECT_EQ(objects, 1);
        CoFreeUnusedLibraries();  // an object lives: the library stays
        ASSERT_EQ(calc->Add(1, 1, &sum), S_OK);
        EXPECT_TRUE(Loaded());
    }
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Loaded());

    auto unreg = e2e::Run({e2e::Bin("regsvr"), "/u", "/s", e2e::Lib("libvm_test_server.so")});
    ASSERT_EQ(unreg.status, 0) << unreg.err;
    EXPECT_EQ(CLSIDFromProgID("VmTest.Calc.1", &clsid), CO_E_CLASSSTRING);
    ComPtr<ITestCalc> calc;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_ITestCalc,
                               reinterpret_cast<void**>(calc.ReleaseAndGetAddressOf())),
              REGDB_E_CLASSNOTREG);
    // The shared CLSID key stays (NoRemove); the class's own key is gone.
    HKEY k = nullptr;
    EXPECT_EQ(platform::RegOpenKeyEx(platform::HKEY_CLASSES_ROOT, "CLSID", 0, platform::KEY_READ, &k), 0);
    platform::RegCloseKey(k);
    EXPECT_EQ(platform::RegOpenKeyEx(platform::HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(CLSID_TestCalc)).c_str(),
                                     0, platform::KEY_READ, &k),
              platform::ERROR_FILE_NOT_FOUND);
}

TEST_F(ComRuntime, FactoryLockAndAggregation) {
    Register();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                               reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf())),
              S_OK);
    ComPtr<IUnknown> obj;
    EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IUnknown, reinterpret_cast<void**>(obj.ReleaseAndGetAddressOf())),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    factory = nullptr;
    CoFreeUnusedLibraries();  // locked: stays loaded
    ComPtr<ITestCalc> calc;
    ASSERT_EQ(CreateInstance("VmTest.Calc.1", &calc), S_OK);
    std::int32_t n = 0;
    calc->Objects(&n);
    EXPECT_EQ(n, 1);  // the same library instance, its factory gone
    ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                               reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf())),
              S_OK);
    EXPECT_EQ(factory->LockServer(false), S_OK);
}

TEST_F(ComRuntime, WhatALibraryKeepsAcrossObjectsEndsWithTheRuntime) {
    Register();
    ASSERT_EQ(CoInitialize(), S_OK);
    std::thread([] {
        // Another thread's runtime ends first: the process's goes on.
        EXPECT_EQ(CoInitialize(), S_OK);
        CoUninitialize();
    }).join();
    {
        ComPtr<IDispatch> calc;
        ASSERT_EQ(CreateInstance("VmTest.Calc", &calc), S_OK);
        VARIANT r;
        ASSERT_EQ(InvokeByName(calc.Get(), "Keep", DISPATCH_METHOD, {}, &r), S_OK);
    }
    CoFreeUnusedLibraries();  // no object lives, but the library keeps something
    EXPECT_TRUE(Loaded());
    EXPECT_EQ(CoInitialize(), S_FALSE);
    CoUninitialize();  // nested: the runtime goes on
    EXPECT_TRUE(Loaded());
    CoUninitialize();
    EXPECT_FALSE(Loaded());
}

TEST_F(ComRuntime, BrokenRegistrationsAnswerCodes) {
    namespace p = platform;
    std::string key = "CLSID\\" + GuidToString(CLSID_TestCalc) + "\\InprocServer32";
    ASSERT_EQ(p::RegSetString(p::HKEY_CLASSES_ROOT, key, "", "/nonexistent/libnothing.so"), 0);
    ComPtr<IUnknown> obj;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(obj.ReleaseAndGetAddressOf())),
              CO_E_DLLNOTFOUND);
    ASSERT_EQ(p::RegSetString(p::HKEY_CLASSES_ROOT, "Bad.ProgID\\CLSID", "", "not a guid"), 0);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID("Bad.ProgID", &clsid), CO_E_CLASSSTRING);
    // CurVer pointing at itself ends.
    ASSERT_EQ(p::RegSetString(p::HKEY_CLASSES_ROOT, "Loop.ProgID\\CurVer", "", "Loop.ProgID"), 0);
    EXPECT_EQ(CLSIDFromProgID("Loop.ProgID", &clsid), CO_E_CLASSSTRING);
}

TEST(Regsvr, ReportsFailuresWithStatusOne) {
    e2e::RegistryTest::Folder f;
    auto none = e2e::Run({e2e::Bin("regsvr"), "/nonexistent/libx.so"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("could not be loaded"), std::string::npos);
    auto noEntry = e2e::Run({e2e::Bin("regsvr"), "/lib/x86_64-linux-gnu/libm.so.6"});
    EXPECT_EQ(noEntry.status, 1);
    EXPECT_NE(noEntry.err.find("DllRegisterServer was not found"), std::string::npos);
    EXPECT_EQ(e2e::Run({e2e::Bin("regsvr")}).status, 1);
}

TEST(Registrar, UnregisterKeepsSharedAndRemovesForced) {
    e2e::RegistryTest::Folder f;
    namespace p = platform;
    ASSERT_EQ(p::RegSetString(p::HKEY_CURRENT_USER, "Software\\Shared", "Other", "theirs"), 0);
    ASSERT_EQ(p::RegSetString(p::HKEY_CURRENT_USER, "Software\\Forced\\Stale", "x", "old"), 0);
    RegTree tree;
    auto& sw = tree.Key("Software", RegKeyMode::NoRemove);
    sw.Key("Shared").Value("Mine", "ours").Value("Count", 3u);
    sw.Key("Forced", RegKeyMode::ForceRemove).Default("fresh").Key("Sub").Value("v", "1");
    sw.Key("Gone", RegKeyMode::Delete);
    ASSERT_EQ(p::RegSetString(p::HKEY_CURRENT_USER, "Software\\Gone", "x", "y"), 0);

    ASSERT_EQ(RegisterTree(p::HKEY_CURRENT_USER, tree), S_OK);
    std::string s;
    p::DWORD d = 0;
    EXPECT_EQ(p::RegGetDword(p::HKEY_CURRENT_USER, "Software\\Shared", "Count", &d), 0);
    EXPECT_EQ(d, 3u);
    EXPECT_EQ(p::RegGetString(p::HKEY_CURRENT_USER, "Software\\Forced\\Stale", "x", &s), p::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(p::RegGetString(p::HKEY_CURRENT_USER, "Software\\Forced", "", &s), 0);
    EXPECT_EQ(s, "fresh");
    EXPECT_EQ(p::RegGetString(p::HKEY_CURRENT_USER, "Software\\Gone", "x", &s), p::ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(UnregisterTree(p::HKEY_CURRENT_USER, tree), S_OK);
    EXPECT_EQ(p::RegGetString(p::HKEY_CURRENT_USER, "Software\\Shared", "Other", &s), 0);  // not ours: kept
    EXPECT_EQ(p::RegGetString(p::HKEY_CURRENT_USER, "Software\\Shared", "Mine", &s), p::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(p::RegGetString(p::HKEY_CURRENT_USER, "Software\\Forced", "", &s), p::ERROR_FILE_NOT_FOUND);
    HKEY k = nullptr;
    EXPECT_EQ(p::RegOpenKeyEx(p::HKEY_CURRENT_USER, "Software", 0, p::KEY_READ, &k), 0);
    p::RegCloseKey(k);
}
