// Table-driven IDispatch and argument conversion.
#include "platform/com_dispatch.h"

#include "platform/text.h"

namespace com {

DispArgs::DispArgs(const DISPPARAMS* params, std::uint32_t* argErr)
    : params_(params), argErr_(argErr), count_(params ? params->cArgs : 0) {
    // A property put passes its value as the named argument DISPID_PROPERTYPUT;
    // it counts as the last positional one.
}

HRESULT DispArgs::Expect(std::uint32_t min, std::uint32_t max) const {
    return count_ >= min && count_ <= max ? S_OK : DISP_E_BADPARAMCOUNT;
}

const VARIANT* DispArgs::Raw(std::uint32_t i) const {
    if (!params_ || i >= count_ || !params_->rgvarg) return nullptr;
    const VARIANT* v = &params_->rgvarg[count_ - 1 - i];
    // Arguments passed by reference to a variant are read through it.
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->byref) v = static_cast<const VARIANT*>(v->byref);
    return v;
}

bool DispArgs::Has(std::uint32_t i) const {
    const VARIANT* v = Raw(i);
    return v && !(v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND);
}

HRESULT DispArgs::Convert(std::uint32_t i, std::uint16_t vt, VARIANT* out) const {
    const VARIANT* v = Raw(i);
    if (!v) return DISP_E_BADPARAMCOUNT;
    HRESULT hr = VariantChangeType(out, v, vt);
    if (FAILED(hr) && argErr_) *argErr_ = count_ - 1 - i;
    return hr;
}

HRESULT DispArgs::Int(std::uint32_t i, std::int32_t* out) const {
    VARIANT v;
    HRESULT hr = Convert(i, VT_I4, &v);
    if (SUCCEEDED(hr)) *out = v.lVal;
    return hr;
}

HRESULT DispArgs::Double(std::uint32_t i, double* out) const {
    VARIANT v;
    HRESULT hr = Convert(i, VT_R8, &v);
    if (SUCCEEDED(hr)) *out = v.dblVal;
    return hr;
}

HRESULT DispArgs::Bool(std::uint32_t i, bool* out) const {
    VARIANT v;
    HRESULT hr = Convert(i, VT_BOOL, &v);
    if (SUCCEEDED(hr)) *out = v.boolVal != VARIANT_FALSE;
    return hr;
}

HRESULT DispArgs::String(std::uint32_t i, std::string* out) const {
    VARIANT v;
    HRESULT hr = Convert(i, VT_BSTR, &v);
    if (SUCCEEDED(hr)) {
        *out = Utf8FromBstrLen(v.bstrVal);
        VariantClear(&v);
    }
    return hr;
}

HRESULT DispArgs::Unknown(std::uint32_t i, IUnknown** out) const {
    const VARIANT* v = Raw(i);
    if (!v) return DISP_E_BADPARAMCOUNT;
    if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
        *out = v->vt == VT_UNKNOWN ? v->punkVal : reinterpret_cast<IUnknown*>(v->pdispVal);
        return S_OK;
    }
    if (v->vt == VT_EMPTY || v->vt == VT_NULL) {
        *out = nullptr;
        return S_OK;
    }
    if (argErr_) *argErr_ = count_ - 1 - i;
    return DISP_E_TYPEMISMATCH;
}

void SetResult(VARIANT* result, std::int32_t v) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_I4;
    result->lVal = v;
}

void SetResult(VARIANT* result, double v) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_R8;
    result->dblVal = v;
}

void SetResultBool(VARIANT* result, bool v) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_BOOL;
    result->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetResult(VARIANT* result, std::string_view utf8) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_BSTR;
    result->bstrVal = BstrFromUtf8(utf8);
}

void SetResult(VARIANT* result, IDispatch* v) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_DISPATCH;
    result->pdispVal = v;
    if (v) v->AddRef();
}

DispatchTable::DispatchTable(std::vector<DispMember> members) : members_(std::move(members)) {
    for (const auto& m : members_) folded_.push_back(platform::FoldCase(m.name));
}

bool DispatchTable::Has(DISPID id) const {
    for (const auto& m : members_)
        if (m.id == id) return true;
    return false;
}

HRESULT DispatchTable::GetIDsOfNames(const OLECHAR* const* names, std::uint32_t count, DISPID* ids) const {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    HRESULT hr = S_OK;
    // The first name is the member; any further ones (parameter names) are not known here.
    ids[0] = DISPID_UNKNOWN;
    std::string wanted = platform::FoldCase(Utf8FromBstr(names[0]));
    for (std::size_t i = 0; i < members_.size(); ++i)
        if (folded_[i] == wanted) ids[0] = members_[i].id;
    if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    for (std::uint32_t i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchTable::Invoke(DISPID id, std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* excep, std::uint32_t* argErr, const DispInvoker& invoker) const {
    if (!Has(id)) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS empty;
    if (!params) params = &empty;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    // Named arguments other than the value of a property put are not supported.
    if (params->cNamedArgs > 1 ||
        (params->cNamedArgs == 1 && (!params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
        return DISP_E_PARAMNOTFOUND;
    if (result) VariantInit(result);
    DispArgs args(params, argErr);
    try {
        return invoker(id, flags, args, result);
    } catch (const ComError& e) {
        if (excep) {
            excep->wCode = 0;
            excep->scode = e.Error();
            excep->bstrDescription = BstrFromUtf8(e.Description());
        }
        return DISP_E_EXCEPTION;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT InvokeByName(IDispatch* obj, std::string_view name, std::uint16_t flags, std::vector<VARIANT> args,
                     VARIANT* result, std::string* description) {
    if (!obj) return E_POINTER;
    Bstr n(name);
    const OLECHAR* names[] = {n.Get()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = obj->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS p;
    p.rgvarg = reversed.empty() ? nullptr : reversed.data();
    p.cArgs = static_cast<std::uint32_t>(reversed.size());
    DISPID put = DISPID_PROPERTYPUT;
    if (flags & DISPATCH_PROPERTYPUT) {
        p.rgdispidNamedArgs = &put;
        p.cNamedArgs = 1;
    }
    EXCEPINFO ex;
    std::uint32_t argErr = 0;
    hr = obj->Invoke(id, GUID_NULL, 0, flags, &p, result, &ex, &argErr);
    if (hr == DISP_E_EXCEPTION && description) *description = Utf8FromBstr(ex.bstrDescription);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    return hr;
}

}  // namespace com
