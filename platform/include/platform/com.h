// The component object runtime: result codes, identifiers, the base
// interfaces, automation strings and variants, and a reference-counting
// pointer. Servers and clients are built by the same compiler, so the virtual
// tables of the abstract classes below are the binary contract between a
// program and the shared libraries it loads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace com {

// ---- Result codes ---------------------------------------------------------

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
// HRESULT_FROM_WIN32: a Win32 error number as a failure code.
constexpr HRESULT HResultFromWin32(long err) {
    return err <= 0 ? static_cast<HRESULT>(err)
                    : static_cast<HRESULT>((static_cast<std::uint32_t>(err) & 0xFFFFu) | 0x80070000u);
}

// ---- Identifiers ----------------------------------------------------------

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex, as the registry keeps it.
std::string GuidToString(const GUID& g);
// Accepts the braced registry form (either case). False on anything else.
bool GuidFromString(std::string_view text, GUID* out);

// ---- Automation strings and variants -------------------------------------

using OLECHAR = char16_t;
using BSTR = OLECHAR*;  // length-prefixed UTF-16; null is the empty string
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
using DISPID = std::int32_t;
using LCID = std::uint32_t;
using DATE = double;  // days since 30 December 1899, fraction is the time of day

BSTR SysAllocString(const OLECHAR* s);
BSTR SysAllocStringLen(const OLECHAR* s, std::uint32_t len);
void SysFreeString(BSTR s);
std::uint32_t SysStringLen(BSTR s);  // in UTF-16 units

// Conversions at the boundary. A byte that is not part of valid UTF-8 (a
// title in an old 8-bit code page, say) travels as the lone surrogate
// U+DC80 + (byte - 0x80) and comes back out of Utf8FromBstr as the same byte,
// so narrow text crosses an interface unchanged and the receiver can still
// decode it with a character set of its choice.
BSTR BstrFromUtf8(std::string_view utf8);
std::string Utf8FromBstr(const OLECHAR* s);  // null gives ""
// The same by the BSTR's own length (embedded zeros kept).
std::string Utf8FromBstrLen(BSTR s);
// The same conversions on plain UTF-16 strings.
std::u16string Utf16FromUtf8Carrying(std::string_view utf8);
std::string Utf8FromUtf16Carrying(std::u16string_view utf16);

enum VARTYPE : std::uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_INT = 22,
    VT_BYREF = 0x4000,
};

class IUnknown;
class IDispatch;

struct VARIANT {
    std::uint16_t vt = VT_EMPTY;
    union {
        std::int16_t iVal;
        std::int32_t lVal;
        std::int32_t intVal;
        double dblVal;
        DATE date;
        BSTR bstrVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        void* byref;
    };
    VARIANT() : byref(nullptr) {}
};
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);  // frees a BSTR, releases an interface
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// Converts to I2, I4, INT, R8, DATE, BOOL or BSTR (dst may be src); DISP_E_TYPEMISMATCH
// when the value has no such form, DISP_E_OVERFLOW when a number does not fit.
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, std::uint16_t vt);

// ---- Base interfaces ------------------------------------------------------

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;  // arguments in reverse order, as automation passes them
    DISPID* rgdispidNamedArgs = nullptr;
    std::uint32_t cArgs = 0;
    std::uint32_t cNamedArgs = 0;
};

struct EXCEPINFO {
    std::uint16_t wCode = 0;
    BSTR bstrSource = nullptr;
    BSTR bstrDescription = nullptr;
    HRESULT scode = 0;
};

constexpr std::uint16_t DISPATCH_METHOD = 1;
constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_UNKNOWN = -1;

class ITypeInfo;  // type information is described as text (see typelib), never as an object

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(std::uint32_t* count) = 0;
    virtual HRESULT GetTypeInfo(std::uint32_t index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, const OLECHAR* const* names, std::uint32_t count, LCID lcid,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, std::uint16_t flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, std::uint32_t* argErr) = 0;

protected:
    ~IDispatch() = default;
};

class IObjectWithSite : public IUnknown {
public:
    virtual HRESULT SetSite(IUnknown* site) = 0;
    virtual HRESULT GetSite(REFIID riid, void** ppv) = 0;

protected:
    ~IObjectWithSite() = default;
};

// Asks an object (a host site, say) for a service it offers by identifier.
class IServiceProvider : public IUnknown {
public:
    virtual HRESULT QueryService(const GUID& service, REFIID riid, void** ppv) = 0;

protected:
    ~IServiceProvider() = default;
};

// Commands a host sends to an object it holds (a toolbar button, say).
constexpr std::uint32_t OLECMDF_SUPPORTED = 1;
constexpr std::uint32_t OLECMDF_ENABLED = 2;
struct OLECMD {
    std::uint32_t cmdID = 0;
    std::uint32_t cmdf = 0;  // OLECMDF_* flags, set by QueryStatus
};
struct OLECMDTEXT {
    std::uint32_t cmdtextf = 0;
    std::uint32_t cwActual = 0;
    std::uint32_t cwBuf = 0;
    OLECHAR rgwz[1] = {};
};

class IOleCommandTarget : public IUnknown {
public:
    virtual HRESULT QueryStatus(const GUID* group, std::uint32_t count, OLECMD* commands, OLECMDTEXT* text) = 0;
    virtual HRESULT Exec(const GUID* group, std::uint32_t command, std::uint32_t options, VARIANT* in,
                         VARIANT* out) = 0;

protected:
    ~IOleCommandTarget() = default;
};

constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IObjectWithSite{0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};
constexpr IID IID_IServiceProvider{0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
constexpr IID IID_IOleCommandTarget{0xB722BCCB, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};

// Ties an interface class to its identifier: template<> inline constexpr IID iid_of<IFoo> = {...};
template <class T>
inline constexpr IID iid_of = GUID_NULL;
template <>
inline constexpr IID iid_of<IUnknown> = IID_IUnknown;
template <>
inline constexpr IID iid_of<IClassFactory> = IID_IClassFactory;
template <>
inline constexpr IID iid_of<IDispatch> = IID_IDispatch;
template <>
inline constexpr IID iid_of<IObjectWithSite> = IID_IObjectWithSite;
template <>
inline constexpr IID iid_of<IServiceProvider> = IID_IServiceProvider;
template <>
inline constexpr IID iid_of<IOleCommandTarget> = IID_IOleCommandTarget;

// ---- Owning pointer -------------------------------------------------------

// Holds one reference. Attach() adopts a reference the caller already owns;
// the constructor from a raw pointer adds its own.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& o) {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    static ComPtr Attach(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }

    // QueryInterface for another interface class that has an iid_of.
    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid_of<U>, reinterpret_cast<void**>(out->ReleaseAndGetAddressOf()));
    }

private:
    T* p_ = nullptr;
};

// ---- Owning string ---------------------------------------------------------

// A BSTR owned by its holder (freed on destruction).
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8) : s_(BstrFromUtf8(utf8)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept {
        std::swap(s_, o.s_);
        return *this;
    }
    ~Bstr() { SysFreeString(s_); }

    static Bstr Attach(BSTR s) {
        Bstr b;
        b.s_ = s;
        return b;
    }
    BSTR Get() const { return s_; }
    BSTR* Out() {  // for [out] BSTR* parameters
        SysFreeString(std::exchange(s_, nullptr));
        return &s_;
    }
    BSTR Detach() { return std::exchange(s_, nullptr); }
    std::string Utf8() const { return Utf8FromBstr(s_); }

private:
    BSTR s_ = nullptr;
};

// ---- Errors -----------------------------------------------------------------

// The error a client-side wrapper throws for a failing HRESULT. Description()
// is the server's text, or "Unknown error 0x%0lX" / "IDispatch error #%d" when
// the server gave none (the codes 0x80040200..0x8004FFFF are dispatch errors).
class ComError {
public:
    explicit ComError(HRESULT hr, std::string description = {});
    HRESULT Error() const { return hr_; }
    std::string ErrorMessage() const;  // the formatted fallback text
    std::string Description() const;   // description, else ErrorMessage()

private:
    HRESULT hr_;
    std::string description_;
};

// Throws ComError when hr failed; returns hr otherwise.
HRESULT Check(HRESULT hr);

// ---- Runtime ---------------------------------------------------------------

// Each thread initialises the runtime before its first call and ends it
// with CoUninitialize. When the last initialised thread of the process ends
// it, the runtime ends: every loaded server library is asked to let go of
// what it keeps across its objects (its optional export DllShutdown: a
// helper process it started, say), and the ones that can unload then are
// unloaded, as CoFreeUnusedLibraries does.
HRESULT CoInitialize(void* reserved = nullptr);
void CoUninitialize();

// ProgID -> CLSID through HKCR\<ProgID>\CLSID (following CurVer). CO_E_CLASSSTRING when unknown.
HRESULT CLSIDFromProgID(std::string_view progId, CLSID* out);
// HKCR\CLSID\{clsid}\InprocServer32 -> dlopen -> DllGetClassObject -> CreateInstance.
// REGDB_E_CLASSNOTREG when the class is not registered, CO_E_DLLNOTFOUND when the library will not load,
// CO_E_ERRORINDLL when it lacks the export. Loaded libraries stay loaded (one dlopen per library) until
// CoFreeUnusedLibraries.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, std::uint32_t context, REFIID riid, void** ppv);
HRESULT CoGetClassObject(REFCLSID clsid, std::uint32_t context, REFIID riid, void** ppv);
// Unloads the loaded server libraries whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr std::uint32_t CLSCTX_ALL = 0x17;

template <class T>
HRESULT CreateInstance(std::string_view progId, ComPtr<T>* out) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid_of<T>,
                            reinterpret_cast<void**>(out->ReleaseAndGetAddressOf()));
}

// The exports every in-process server provides.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
// Optional: called when the runtime ends (CoUninitialize above). A server
// keeps nothing across objects past it; objects still alive keep working.
using DllShutdownFn = void (*)();

}  // namespace com

// The exports are plain C names so that dlsym finds them.
#define VM_COM_EXPORT extern "C" __attribute__((visibility("default")))
