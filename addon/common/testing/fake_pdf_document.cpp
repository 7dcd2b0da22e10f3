#include "addon/common/testing/fake_pdf_document.h"

namespace tessaline::testing {
namespace {

HRESULT Query(FakePdfDocument& d, com::REFIID riid, void** ppv) {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (riid == corvanth::IID_IPdfDocument || riid == com::IID_IDispatch) {
        if (!d.offerPrimary) return com::E_NOINTERFACE;
        *ppv = static_cast<corvanth::IPdfDocument*>(&d.primary);
    } else if (riid == corvanth::IID_IPdfDocumentCompat) {
        if (!d.offerCompat) return com::E_NOINTERFACE;
        *ppv = static_cast<corvanth::IPdfDocumentCompat*>(&d.compat);
    } else if (riid == com::IID_IUnknown) {
        *ppv = d.Unknown();
    } else {
        return com::E_NOINTERFACE;
    }
    ++d.refs;
    return com::S_OK;
}

std::string Num(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string Rect(double l, double t, double r, double b) {
    return Num(l) + "," + Num(t) + "," + Num(r) + "," + Num(b);
}

}  // namespace

// Both faces share the page model; only page numbers differ (compat counts from 1).
#define FAKE_COMMON(Face, base)                                                                         \
    HRESULT Face::QueryInterface(com::REFIID riid, void** ppv) { return Query(doc_, riid, ppv); }       \
    std::uint32_t Face::AddRef() { return static_cast<std::uint32_t>(++doc_.refs); }                    \
    std::uint32_t Face::Release() { return static_cast<std::uint32_t>(--doc_.refs); }                   \
    HRESULT Face::get_Resolution(std::int32_t* v) {                                                    \
        *v = doc_.resolution;                                                                           \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::get_PageWidth(double* v) {                                                           \
        *v = doc_.Current().width;                                                                      \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::put_PageWidth(double v) {                                                            \
        if (doc_.refuse.count("put_PageWidth")) return com::E_FAIL;                                     \
        doc_.Current().width = v;                                                                       \
        doc_.calls.push_back("put_PageWidth " + Num(v));                                                \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::get_PageHeight(double* v) {                                                          \
        *v = doc_.Current().height;                                                                     \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::put_PageHeight(double v) {                                                           \
        doc_.Current().height = v;                                                                      \
        doc_.calls.push_back("put_PageHeight " + Num(v));                                               \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::get_PageCount(std::int32_t* v) {                                                     \
        *v = static_cast<std::int32_t>(doc_.pages.size());                                              \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::get_CurrentPage(std::int32_t* v) {                                                   \
        *v = doc_.current + base;                                                                       \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::put_CurrentPage(std::int32_t v) {                                                    \
        if (v - base < 0 || v - base >= static_cast<std::int32_t>(doc_.pages.size()))                   \
            return com::E_INVALIDARG;                                                                   \
        doc_.current = v - base;                                                                        \
        doc_.calls.push_back("select " + std::to_string(v - base));                                     \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::NewPage() {                                                                           \
        if (doc_.refuse.count("NewPage")) return com::E_FAIL;                                           \
        doc_.pages.push_back(FakePage{});                                                               \
        doc_.current = static_cast<std::int32_t>(doc_.pages.size()) - 1;                                \
        doc_.calls.push_back("NewPage");                                                                \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::get_PageRotation(std::int32_t* v) {                                                  \
        *v = doc_.Current().rotation;                                                                   \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::put_PageRotation(std::int32_t v) {                                                   \
        doc_.Current().rotation = v;                                                                    \
        doc_.calls.push_back("put_PageRotation " + std::to_string(v));                                  \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::AddUrlLink(double l, double t, double r, double b, BSTR url) {                        \
        if (doc_.refuse.count("AddUrlLink")) return com::E_FAIL;                                        \
        doc_.calls.push_back("AddUrlLink p" + std::to_string(doc_.current) + " " + Rect(l, t, r, b) + " " + \
                             com::Utf8FromBstr(url));                                                   \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::AddDestination(std::int32_t page, double top, std::int32_t* dest) {                  \
        doc_.calls.push_back("AddDestination p" + std::to_string(page - base) + " " + Num(top));        \
        *dest = doc_.nextDest++;                                                                        \
        return com::S_OK;                                                                               \
    }                                                                                                   \
    HRESULT Face::AddDestinationLink(double l, double t, double r, double b, std::int32_t dest) {       \
        if (doc_.refuse.count("AddDestinationLink")) return com::E_FAIL;                                \
        doc_.calls.push_back("AddDestinationLink p" + std::to_string(doc_.current) + " " + Rect(l, t, r, b) + \
                             " d" + std::to_string(dest));                                              \
        return com::S_OK;                                                                               \
    }

FAKE_COMMON(FakePrimaryFace, 0)
FAKE_COMMON(FakeCompatFace, 1)

#undef FAKE_COMMON

}  // namespace tessaline::testing
