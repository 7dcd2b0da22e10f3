// A small in-process server: class "VmTest.Calc" with a dual interface.
#include "test_server.h"

#include <atomic>

#include "platform/com_dispatch.h"
#include "platform/com_registrar.h"
#include "platform/com_server.h"

using namespace com;

namespace {

std::atomic<bool> g_kept{false};

class Calc : public server::Object<Calc, DispatchImpl<ITestCalc>> {
public:
    HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t* sum) override {
        if (!sum) return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
    HRESULT Objects(std::int32_t* count) override {
        *count = static_cast<std::int32_t>(server::g_objectCount.load());
        return S_OK;
    }

protected:
    const DispatchTable& Table() const override {
        static const DispatchTable table({{"Add", DISPID_Add}, {"Name", DISPID_Name}, {"Fail", DISPID_Fail}, {"Keep", DISPID_Keep}});
        return table;
    }
    HRESULT InvokeMember(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) override {
        switch (id) {
        case DISPID_Add: {
            std::int32_t a, b, sum;
            if (HRESULT hr = args.Expect(2); FAILED(hr)) return hr;
            if (HRESULT hr = args.Int(0, &a); FAILED(hr)) return hr;
            if (HRESULT hr = args.Int(1, &b); FAILED(hr)) return hr;
            Add(a, b, &sum);
            SetResult(result, sum);
            return S_OK;
        }
        case DISPID_Name:
            if (flags & DISPATCH_PROPERTYPUT) {
                if (HRESULT hr = args.Expect(1); FAILED(hr)) return hr;
                return args.String(0, &name_);
            }
            SetResult(result, std::string_view(name_));
            return S_OK;
        case DISPID_Fail:
            throw ComError(E_FAIL, "the calculator refuses");
        case DISPID_Keep:
            g_kept = true;
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::string name_ = "calc";
};

RegTree Registration() {
    RegTree tree;
    ClassRegistration c;
    c.clsid = CLSID_TestCalc;
    c.description = "Test Calculator";
    c.libraryPath = server::ModulePath(reinterpret_cast<const void*>(&Registration));
    c.progId = "VmTest.Calc.1";
    c.versionIndependentProgId = "VmTest.Calc";
    AddClass(tree, c);
    return tree;
}

}  // namespace

VM_COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return server::GetClassObject<Calc>(clsid, CLSID_TestCalc, riid, ppv);
}

VM_COM_EXPORT HRESULT DllCanUnloadNow() { return g_kept ? S_FALSE : server::CanUnloadNow(); }

VM_COM_EXPORT void DllShutdown() { g_kept = false; }

VM_COM_EXPORT HRESULT DllRegisterServer() {
    return server::Trap([] { return RegisterTree(platform::HKEY_CLASSES_ROOT, Registration()); });
}

VM_COM_EXPORT HRESULT DllUnregisterServer() {
    return server::Trap([] { return UnregisterTree(platform::HKEY_CLASSES_ROOT, Registration()); });
}
