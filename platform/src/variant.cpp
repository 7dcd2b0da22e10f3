// VARIANT lifetime and the conversions automation arguments need.
#include "platform/com.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <strings.h>

namespace com {

void VariantInit(VARIANT* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->byref = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
            if (v->punkVal) v->punkVal->Release();
            break;
        case VT_DISPATCH:
            if (v->pdispVal) v->pdispVal->Release();
            break;
        default:
            break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
    if (!dst || !src) return E_INVALIDARG;
    VARIANT tmp = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        tmp.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!tmp.bstrVal) return E_OUTOFMEMORY;
    } else if (src->vt == VT_UNKNOWN && src->punkVal) {
        src->punkVal->AddRef();
    } else if (src->vt == VT_DISPATCH && src->pdispVal) {
        src->pdispVal->AddRef();
    }
    VariantClear(dst);
    *dst = tmp;
    return S_OK;
}

namespace {

// Number parsing of text arguments ("12", " 3.5", "-1").
bool ParseDouble(BSTR s, double* out) {
    std::string text = Utf8FromBstr(s);
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return false;
    char* end = nullptr;
    errno = 0;
    double d = std::strtod(p, &end);
    if (end == p || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end) return false;
    *out = d;
    return true;
}

// Reads the numeric value of a variant; false when it has none.
bool AsDouble(const VARIANT& v, double* out) {
    switch (v.vt) {
    case VT_EMPTY: *out = 0; return true;
    case VT_I2: *out = v.iVal; return true;
    case VT_I4:
    case VT_INT: *out = v.lVal; return true;
    case VT_R8: *out = v.dblVal; return true;
    case VT_DATE: *out = v.date; return true;
    case VT_BOOL: *out = v.boolVal ? -1 : 0; return true;
    case VT_BSTR: {
        if (ParseDouble(v.bstrVal, out)) return true;
        std::string t = Utf8FromBstr(v.bstrVal);
        if (strcasecmp(t.c_str(), "true") == 0) {
            *out = -1;
            return true;
        }
        if (strcasecmp(t.c_str(), "false") == 0) {
            *out = 0;
            return true;
        }
        return false;
    }
    default: return false;
    }
}

std::string FormatDouble(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, std::uint16_t vt) {
    if (!dst || !src) return E_INVALIDARG;
    if (src->vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
    if (src->vt == vt) return VariantCopy(dst, src);
    VARIANT tmp;
    tmp.vt = vt;
    double d = 0;
    switch (vt) {
    case VT_I4:
    case VT_INT:
    case VT_I2: {
        if (!AsDouble(*src, &d)) return DISP_E_TYPEMISMATCH;
        d = std::nearbyint(d);  // round half to even, as automation does
        double lo = vt == VT_I2 ? -32768.0 : -2147483648.0, hi = vt == VT_I2 ? 32767.0 : 2147483647.0;
        if (!(d >= lo && d <= hi)) return DISP_E_OVERFLOW;
        if (vt == VT_I2)
            tmp.iVal = static_cast<std::int16_t>(d);
        else
            tmp.lVal = static_cast<std::int32_t>(d);
        break;
    }
    case VT_R8:
    case VT_DATE:
        if (!AsDouble(*src, &d)) return DISP_E_TYPEMISMATCH;
        tmp.dblVal = d;
        break;
    case VT_BOOL:
        if (!AsDouble(*src, &d)) return DISP_E_TYPEMISMATCH;
        tmp.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_BSTR: {
        std::string text;
        switch (src->vt) {
        case VT_EMPTY: break;
        case VT_BOOL: text = src->boolVal ? "True" : "False"; break;
        case VT_I2: text = std::to_string(src->iVal); break;
        case VT_I4:
        case VT_INT: text = std::to_string(src->lVal); break;
        case VT_R8:
        case VT_DATE: text = FormatDouble(src->dblVal); break;
        default: return DISP_E_TYPEMISMATCH;
        }
        tmp.bstrVal = BstrFromUtf8(text);
        if (!tmp.bstrVal) return E_OUTOFMEMORY;
        break;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
    VariantClear(dst);
    *dst = tmp;
    return S_OK;
}

}  // namespace com
