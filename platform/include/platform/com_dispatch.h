// IDispatch from a name -> DISPID table and one invoke callback. Names are
// matched without regard to case; arguments are read in their natural order
// (automation passes them reversed) and converted to I4, R8, BOOL or BSTR
// with the DISP_E_* answers automation clients expect.
#pragma once

#include "platform/com.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace com {

struct DispMember {
    std::string name;
    DISPID id;
};

// The positional arguments of one Invoke call. Index 0 is the first argument
// as written by the caller. A failing read records the argument's position
// for the caller's argErr.
class DispArgs {
public:
    DispArgs(const DISPPARAMS* params, std::uint32_t* argErr);

    std::uint32_t Count() const { return count_; }
    // DISP_E_BADPARAMCOUNT unless min <= Count() <= max.
    HRESULT Expect(std::uint32_t min, std::uint32_t max) const;
    HRESULT Expect(std::uint32_t n) const { return Expect(n, n); }
    bool Has(std::uint32_t i) const;  // present and not an omitted optional argument

    HRESULT Int(std::uint32_t i, std::int32_t* out) const;
    HRESULT Double(std::uint32_t i, double* out) const;
    HRESULT Bool(std::uint32_t i, bool* out) const;
    HRESULT String(std::uint32_t i, std::string* out) const;  // UTF-8 (invalid bytes carried)
    // The interface an argument holds (VT_UNKNOWN or VT_DISPATCH), not AddRef'ed; null is allowed.
    HRESULT Unknown(std::uint32_t i, IUnknown** out) const;
    const VARIANT* Raw(std::uint32_t i) const;

private:
    HRESULT Convert(std::uint32_t i, std::uint16_t vt, VARIANT* out) const;
    const DISPPARAMS* params_;
    std::uint32_t* argErr_;
    std::uint32_t count_;
};

// Results for the callback.
void SetResult(VARIANT* result, std::int32_t v);
void SetResult(VARIANT* result, double v);
void SetResultBool(VARIANT* result, bool v);
void SetResult(VARIANT* result, std::string_view utf8);
void SetResult(VARIANT* result, IDispatch* v);  // adds a reference

// The callback: member id, DISPATCH_* flags, arguments, result slot (may be
// null). It may throw ComError; its description reaches the caller through
// EXCEPINFO with DISP_E_EXCEPTION.
using DispInvoker = std::function<HRESULT(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result)>;

class DispatchTable {
public:
    explicit DispatchTable(std::vector<DispMember> members);

    // Unknown names give DISPID_UNKNOWN and DISP_E_UNKNOWNNAME.
    HRESULT GetIDsOfNames(const OLECHAR* const* names, std::uint32_t count, DISPID* ids) const;
    // Unknown ids give DISP_E_MEMBERNOTFOUND.
    HRESULT Invoke(DISPID id, std::uint16_t flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   std::uint32_t* argErr, const DispInvoker& invoker) const;
    bool Has(DISPID id) const;

private:
    std::vector<DispMember> members_;
    std::vector<std::string> folded_;
};

// The four IDispatch methods for an interface `Iface` derived from IDispatch.
// The derived class provides Table() and InvokeMember().
template <class Iface>
class DispatchImpl : public Iface {
public:
    using Interface = Iface;

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, const OLECHAR* const* names, std::uint32_t count, LCID, DISPID* ids) override {
        return Table().GetIDsOfNames(names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, std::uint32_t* argErr) override {
        return Table().Invoke(id, flags, params, result, excep, argErr,
                              [this](DISPID i, std::uint16_t f, const DispArgs& a, VARIANT* r) {
                                  return InvokeMember(i, f, a, r);
                              });
    }

protected:
    virtual const DispatchTable& Table() const = 0;
    virtual HRESULT InvokeMember(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) = 0;
};

// Client side: calls a member by name on any IDispatch. Arguments are in
// natural order and stay the caller's; on DISP_E_EXCEPTION the server's text
// goes to *description when given.
HRESULT InvokeByName(IDispatch* obj, std::string_view name, std::uint16_t flags, std::vector<VARIANT> args,
                     VARIANT* result, std::string* description = nullptr);

}  // namespace com
