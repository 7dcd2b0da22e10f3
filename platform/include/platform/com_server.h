// Building blocks for in-process servers: a reference-counted object base
// that answers QueryInterface for its interfaces, a class factory, the
// module's object and lock counts behind DllCanUnloadNow, and the trap that
// turns exceptions into result codes at every exported method.
//
// Each server library has its own counts (the variables below are inline,
// and a server built with vm_com_server() keeps its symbols to itself).
#pragma once

#include "platform/com.h"
#include "platform/com_trap.h"

#include <atomic>
#include <exception>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

namespace com::server {

// Live objects and LockServer(true) calls of this library.
inline std::atomic<long> g_objectCount{0};
inline std::atomic<long> g_lockCount{0};

// The answer of DllCanUnloadNow.
inline HRESULT CanUnloadNow() { return g_objectCount.load() == 0 && g_lockCount.load() == 0 ? S_OK : S_FALSE; }

// The trap (platform/com_trap.h) for entry points that have no object to
// keep a description in: class factories, registration, module entry points.
template <class F>
HRESULT Trap(F&& body) noexcept {
    std::string ignored;
    return com::Trap(ignored, std::forward<F>(body));
}

// The interface a base class stands for: itself, or its `Interface` when it
// is an implementation helper such as DispatchImpl<IFoo>.
template <class T, class = void>
struct InterfaceOf {
    using type = T;
};
template <class T>
struct InterfaceOf<T, std::void_t<typename T::Interface>> {
    using type = typename T::Interface;
};

// Reference counting and QueryInterface for a class implementing `Ifaces`
// (each with an iid_of, or a helper over one). IUnknown answers with the first interface; IDispatch
// with the first that derives from it. The object deletes itself at zero and
// counts in the module while it lives.
template <class Derived, class... Ifaces>
class Object : public Ifaces... {
public:
    Object() { ++g_objectCount; }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!((riid == iid_of<typename InterfaceOf<Ifaces>::type>
                          ? (*ppv = static_cast<typename InterfaceOf<Ifaces>::type*>(static_cast<Ifaces*>(this)), true)
                          : false) ||
                     ...)) {
            if (riid == IID_IDispatch) *ppv = FindDispatch<Ifaces...>();
            if (!*ppv) *ppv = static_cast<Derived*>(this)->QueryExtra(riid);
        }
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++refs_); }
    std::uint32_t Release() override {
        long n = --refs_;
        if (n == 0) delete static_cast<Derived*>(this);
        return static_cast<std::uint32_t>(n);
    }

    // A derived class may answer further interfaces (or hide some) here.
    void* QueryExtra(REFIID) { return nullptr; }

    // Makes an object holding one reference for the caller.
    template <class... Args>
    static Derived* CreateOwned(Args&&... args) {
        auto* d = new Derived(std::forward<Args>(args)...);
        d->AddRef();
        return d;
    }

protected:
    virtual ~Object() { --g_objectCount; }

private:
    template <class T, class...>
    struct FirstOf {
        using type = T;
    };
    using First = typename FirstOf<Ifaces...>::type;

    template <class T, class... Rest>
    void* FindDispatch() {
        if constexpr (std::is_base_of_v<IDispatch, T>)
            return static_cast<IDispatch*>(static_cast<T*>(this));
        else if constexpr (sizeof...(Rest) > 0)
            return FindDispatch<Rest...>();
        else
            return nullptr;
    }

    std::atomic<long> refs_{0};
};

// The class factory of T (default-constructible, derived from Object<T, ...>).
template <class T>
class ClassFactory : public Object<ClassFactory<T>, IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Trap([&] {
            T* obj = T::CreateOwned();
            HRESULT hr = obj->QueryInterface(riid, ppv);
            obj->Release();
            return hr;
        });
    }
    HRESULT LockServer(bool lock) override {
        if (lock)
            ++g_lockCount;
        else if (g_lockCount.load() > 0)
            --g_lockCount;
        return S_OK;
    }
};

// The body of DllGetClassObject for one class: the factory of T when
// `wanted` is `mine`, CLASS_E_CLASSNOTAVAILABLE otherwise. Chain several
// with `if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;`.
template <class T>
HRESULT GetClassObject(REFCLSID wanted, REFCLSID mine, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(wanted == mine)) return CLASS_E_CLASSNOTAVAILABLE;
    return Trap([&] {
        auto* f = ClassFactory<T>::CreateOwned();
        HRESULT hr = f->QueryInterface(riid, ppv);
        f->Release();
        return hr;
    });
}

// The absolute path of the shared library (or program) that holds `address`
// (pass the address of one of its own functions); "" when unknown.
std::string ModulePath(const void* address);

}  // namespace com::server
