// The two automation classes. Members only convert arguments (BSTR to UTF-8,
// VARIANT_BOOL to bool) and forward to the implementation, inside the trap.
#include <new>

#include "addon/core/addon_object.h"
#include "tessaline/itessaline.h"

namespace tessaline {

using com::BSTR;
using com::E_INVALIDARG;
using com::HRESULT;
using com::S_OK;
using com::VARIANT_BOOL;
using com::members::Kind;
using com::members::Member;
using com::members::ThunkFor;

namespace {

std::string Narrow(BSTR s) { return com::Utf8FromBstr(s); }
bool Flag(VARIANT_BOOL v) { return v != 0; }

template <class T>
HRESULT Out(T* out, T value) {
    if (!out) return E_INVALIDARG;
    *out = value;
    return S_OK;
}
HRESULT OutBool(VARIANT_BOOL* out, bool value) { return Out(out, value ? com::VARIANT_TRUE : com::VARIANT_FALSE); }
HRESULT OutString(BSTR* out, const std::string& value) {
    if (!out) return E_INVALIDARG;
    *out = com::BstrFromUtf8(value);
    return S_OK;
}
// The no-effect getters answer S_OK and leave the caller's variable as it was.
template <class T>
HRESULT Untouched(T* out) {
    return out ? S_OK : E_INVALIDARG;
}

class CTessaline2 final : public AddonObject<ITessaline2> {
public:
    using AddonObject::AddonObject;

    HRESULT StartHTMLEngine(BSTR engine, BSTR) override {
        return Trap([&] { return impl_.StartHTMLEngine(Narrow(engine)); });
    }
    HRESULT ConnectToPDFLibrary(com::IUnknown* p) override { return Trap([&] { return impl_.ConnectToPDFLibrary(p); }); }
    HRESULT DisconnectFromPDFLibrary() override { return Trap([&] { return impl_.DisconnectFromPDFLibrary(); }); }
    HRESULT LoadTextString(BSTR sText) override { return LoadHTMLString(sText, nullptr); }
    HRESULT LoadHTMLString(BSTR sHTML, BSTR sBaseURL) override {
        return Trap([&] {
            return impl_.LoadHTMLString(Narrow(sHTML), Narrow(sBaseURL));
        });
    }
    HRESULT LoadTextFile(BSTR sFileName) override { return LoadHTMLFile(sFileName); }
    HRESULT LoadHTMLFile(BSTR sFileName) override { return Trap([&] { return impl_.LoadHTMLFile(Narrow(sFileName), ""); }); }
    HRESULT LoadHTMLFile2(BSTR sFileName, BSTR sBaseURL) override {
        return Trap([&] {
            return impl_.LoadHTMLFile(Narrow(sFileName), Narrow(sBaseURL));
        });
    }
    HRESULT LoadURL(BSTR sURL) override { return LoadHTMLFile(sURL); }
    HRESULT get_TotalPageCount(std::int32_t* n) override { return Trap([&] { return impl_.TotalPageCount(n); }); }
    HRESULT ConvertPage(std::int32_t n) override { return Trap([&] { return impl_.ConvertPage(n); }); }
    HRESULT ConvertAll() override { return Trap([&] { return impl_.ConvertAll(); }); }
    HRESULT get_AutoAdjustPageWidth(VARIANT_BOOL* v) override { return Trap([&] { return OutBool(v, impl_.AutoAdjustPageWidth()); }); }
    HRESULT put_AutoAdjustPageWidth(VARIANT_BOOL v) override {
        return Trap([&] {
            impl_.SetAutoAdjustPageWidth(Flag(v));
            return S_OK;
        });
    }
    HRESULT get_AutoAdjustContentWidth(VARIANT_BOOL* v) override {
        return Trap([&] {
            return OutBool(v, impl_.AutoAdjustContentWidth());
        });
    }
    HRESULT put_AutoAdjustContentWidth(VARIANT_BOOL v) override {
        return Trap([&] {
            impl_.SetAutoAdjustContentWidth(Flag(v));
            return S_OK;
        });
    }
    HRESULT get_MarginLeft(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginLeft()); }); }
    HRESULT put_MarginLeft(std::int32_t v) override { return Trap([&] { return impl_.SetMarginLeft(v); }); }
    HRESULT get_MarginRight(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginRight()); }); }
    HRESULT put_MarginRight(std::int32_t v) override { return Trap([&] { return impl_.SetMarginRight(v); }); }
    HRESULT get_MarginTop(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginTop()); }); }
    HRESULT put_MarginTop(std::int32_t v) override { return Trap([&] { return impl_.SetMarginTop(v); }); }
    HRESULT get_MarginBottom(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginBottom()); }); }
    HRESULT put_MarginBottom(std::int32_t v) override { return Trap([&] { return impl_.SetMarginBottom(v); }); }
    HRESULT get_BaseURL(BSTR* v) override { return Trap([&] { return OutString(v, impl_.BaseURL()); }); }
    HRESULT put_BaseURL(BSTR v) override {
        return Trap([&] {
            impl_.SetBaseURL(Narrow(v));
            return S_OK;
        });
    }
    HRESULT get_PreserveLinks(VARIANT_BOOL* v) override { return Trap([&] { return OutBool(v, impl_.PreserveLinks()); }); }
    HRESULT put_PreserveLinks(VARIANT_BOOL v) override {
        return Trap([&] {
            impl_.SetPreserveLinks(Flag(v));
            return S_OK;
        });
    }
    HRESULT get_PageTimeout(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.PageTimeout()); }); }
    HRESULT put_PageTimeout(std::int32_t v) override {
        return Trap([&] {
            impl_.SetPageTimeout(v);
            return S_OK;
        });
    }
    HRESULT SafeNewPage() override { return Trap([&] { return impl_.SafeNewPage(); }); }
    HRESULT get_MinimalWidth(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MinimalWidth()); }); }
    HRESULT put_MinimalWidth(std::int32_t v) override {
        return Trap([&] {
            impl_.SetMinimalWidth(v);
            return S_OK;
        });
    }
    HRESULT SetLogFile(BSTR name) override { return Trap([&] { return impl_.SetLogFile(Narrow(name)); }); }
    HRESULT GetLinkCount(int p, int* n) override { return Trap([&] { return impl_.GetLinkCount(p, n); }); }
    HRESULT GetLinkName(int p, int l, BSTR* s) override {
        return Trap([&] {
            std::string v;
            HRESULT hr = s ? impl_.GetLinkName(p, l, &v) : E_INVALIDARG;
            return com::SUCCEEDED(hr) ? OutString(s, v) : hr;
        });
    }
    HRESULT GetLinkText(int p, int l, BSTR* s) override {
        return Trap([&] {
            std::string v;
            HRESULT hr = s ? impl_.GetLinkText(p, l, &v) : E_INVALIDARG;
            return com::SUCCEEDED(hr) ? OutString(s, v) : hr;
        });
    }
    HRESULT GetLinkTop(int p, int l, int* v) override { return Trap([&] { return impl_.GetLinkTop(p, l, v); }); }
    HRESULT GetLinkLeft(int p, int l, int* v) override { return Trap([&] { return impl_.GetLinkLeft(p, l, v); }); }
    HRESULT GetLinkBottom(int p, int l, int* v) override { return Trap([&] { return impl_.GetLinkBottom(p, l, v); }); }
    HRESULT GetLinkRight(int p, int l, int* v) override { return Trap([&] { return impl_.GetLinkRight(p, l, v); }); }
    HRESULT UnloadAll() override { return Trap([&] { return impl_.UnloadAll(); }); }
    HRESULT CreateDebugImages(BSTR path) override { return Trap([&] { return impl_.CreateDebugImages(Narrow(path)); }); }
    HRESULT SetDEPCompatibility(VARIANT_BOOL on) override { return Trap([&] { return impl_.SetDEPCompatibility(Flag(on)); }); }

private:
    const com::DispatchTable& Table() const override {
        static const com::DispatchTable table = com::members::MakeTable(Tessaline2Members());
        return table;
    }
    std::span<const Member> Members() const override { return Tessaline2Members(); }
};

class CTessaline final : public AddonObject<ITessaline> {
public:
    using AddonObject::AddonObject;

    HRESULT StartHTMLEngine(BSTR engine, BSTR) override {
        return Trap([&] { return impl_.StartHTMLEngine(Narrow(engine)); });
    }
    HRESULT ConnectToPDFLibrary(com::IUnknown* p) override { return Trap([&] { return impl_.ConnectToPDFLibrary(p); }); }
    HRESULT LoadFromFile(BSTR name) override { return Trap([&] { return impl_.LoadHTMLFile(Narrow(name), ""); }); }
    HRESULT DisconnectFromPDFLibrary() override { return Trap([&] { return impl_.DisconnectFromPDFLibrary(); }); }
    HRESULT ConvertAll() override { return Trap([&] { return impl_.ConvertAll(); }); }
    HRESULT get_Success(VARIANT_BOOL* v) override { return Untouched(v); }
    HRESULT ConvertPage(std::int32_t n) override { return Trap([&] { return impl_.ConvertPage(n); }); }
    HRESULT get_PageIndex(std::int32_t* v) override { return Untouched(v); }
    HRESULT put_PageIndex(std::int32_t) override { return S_OK; }
    HRESULT get_PageCount(std::int32_t* v) override { return Trap([&] { return impl_.TotalPageCount(v); }); }
    HRESULT get_AutoAdjustPDFWidthToHTML(VARIANT_BOOL* v) override {
        return Trap([&] {
            return OutBool(v, impl_.AutoAdjustPageWidth());
        });
    }
    HRESULT put_AutoAdjustPDFWidthToHTML(VARIANT_BOOL v) override {
        return Trap([&] {
            impl_.SetAutoAdjustPageWidth(Flag(v));
            return S_OK;
        });
    }
    HRESULT LoadTextFromFile(BSTR name) override { return LoadFromFile(name); }
    HRESULT LoadFromString(BSTR html, BSTR reference) override {
        return Trap([&] {
            return impl_.LoadHTMLString(Narrow(html), Narrow(reference));
        });
    }
    HRESULT LoadTextString(BSTR text) override { return LoadFromString(text, nullptr); }
    HRESULT get_MarginLeft(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginLeft()); }); }
    HRESULT put_MarginLeft(std::int32_t v) override { return Trap([&] { return impl_.SetMarginLeft(v); }); }
    HRESULT get_MarginRight(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginRight()); }); }
    HRESULT put_MarginRight(std::int32_t v) override { return Trap([&] { return impl_.SetMarginRight(v); }); }
    HRESULT get_MarginTop(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginTop()); }); }
    HRESULT put_MarginTop(std::int32_t v) override { return Trap([&] { return impl_.SetMarginTop(v); }); }
    HRESULT get_MarginBottom(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.MarginBottom()); }); }
    HRESULT put_MarginBottom(std::int32_t v) override { return Trap([&] { return impl_.SetMarginBottom(v); }); }
    HRESULT get_ServerRoot(BSTR* v) override { return Untouched(v); }
    HRESULT put_ServerRoot(BSTR) override { return S_OK; }
    HRESULT get_BaseURL(BSTR* v) override { return Trap([&] { return OutString(v, impl_.BaseURL()); }); }
    HRESULT put_BaseURL(BSTR v) override {
        return Trap([&] {
            impl_.SetBaseURL(Narrow(v));
            return S_OK;
        });
    }
    HRESULT get_DocumentTitle(BSTR* v) override { return Untouched(v); }
    HRESULT get_BaseTarget(BSTR* v) override { return Untouched(v); }
    HRESULT get_Dither(VARIANT_BOOL* v) override { return Untouched(v); }
    HRESULT put_Dither(VARIANT_BOOL) override { return S_OK; }
    HRESULT get_ViewImages(VARIANT_BOOL* v) override { return Untouched(v); }
    HRESULT put_ViewImages(VARIANT_BOOL) override { return S_OK; }
    HRESULT get_ActivePDFLinks(VARIANT_BOOL* v) override { return Trap([&] { return OutBool(v, impl_.PreserveLinks()); }); }
    HRESULT put_ActivePDFLinks(VARIANT_BOOL v) override {
        return Trap([&] {
            impl_.SetPreserveLinks(Flag(v));
            return S_OK;
        });
    }
    HRESULT LoadFromURL(BSTR url) override { return Trap([&] { return impl_.LoadHTMLFile(Narrow(url), ""); }); }
    HRESULT get_CacheEnabled(VARIANT_BOOL* v) override { return Untouched(v); }
    HRESULT put_CacheEnabled(VARIANT_BOOL) override { return S_OK; }
    HRESULT get_CacheDirectory(BSTR* v) override { return Untouched(v); }
    HRESULT put_CacheDirectory(BSTR) override { return S_OK; }
    HRESULT ClearCache() override { return S_OK; }
    HRESULT LoadFromFile2(BSTR name, BSTR base) override { return Trap([&] { return impl_.LoadHTMLFile(Narrow(name), Narrow(base)); }); }
    HRESULT get_ProxyHost(BSTR* v) override { return Untouched(v); }
    HRESULT put_ProxyHost(BSTR) override { return S_OK; }
    HRESULT get_ProxyPort(BSTR* v) override { return Untouched(v); }
    HRESULT put_ProxyPort(BSTR) override { return S_OK; }
    HRESULT get_PageTimeout(std::int32_t* v) override { return Trap([&] { return Out(v, impl_.PageTimeout()); }); }
    HRESULT put_PageTimeout(std::int32_t v) override {
        return Trap([&] {
            impl_.SetPageTimeout(v);
            return S_OK;
        });
    }
    HRESULT get_ProxyUserName(BSTR* v) override { return Untouched(v); }
    HRESULT put_ProxyUserName(BSTR) override { return S_OK; }
    HRESULT get_ProxyPassword(BSTR* v) override { return Untouched(v); }
    HRESULT put_ProxyPassword(BSTR) override { return S_OK; }
    HRESULT get_AuthorizationUsername(BSTR* v) override { return Untouched(v); }
    HRESULT put_AuthorizationUsername(BSTR) override { return S_OK; }
    HRESULT get_AuthorizationPassword(BSTR* v) override { return Untouched(v); }
    HRESULT put_AuthorizationPassword(BSTR) override { return S_OK; }
    HRESULT get_UseBasicAuthorization(VARIANT_BOOL* v) override { return Untouched(v); }
    HRESULT put_UseBasicAuthorization(VARIANT_BOOL) override { return S_OK; }
    HRESULT SafeNewPage() override { return Trap([&] { return impl_.SafeNewPage(); }); }

private:
    const com::DispatchTable& Table() const override {
        static const com::DispatchTable table = com::members::MakeTable(TessalineMembers());
        return table;
    }
    std::span<const Member> Members() const override { return TessalineMembers(); }
};

template <class Obj>
HRESULT Create(com::IUnknown* outer, com::REFIID riid, void** ppv) {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (outer && !(riid == com::IID_IUnknown)) return com::CLASS_E_NOAGGREGATION;
    auto* obj = new (std::nothrow) Obj(outer);
    if (!obj) return com::E_OUTOFMEMORY;
    com::IUnknown* inner = obj->Inner();
    inner->AddRef();
    HRESULT hr = inner->QueryInterface(riid, ppv);
    inner->Release();  // deletes the object when the query failed
    return hr;
}

using I2 = ITessaline2;
using I1 = ITessaline;
constexpr Kind M = Kind::Method;
constexpr Kind G = Kind::Get;
constexpr Kind P = Kind::Put;

const Member kTessaline2Members[] = {
    {"StartHTMLEngine", 1, M, "[in] BSTR, [in] BSTR", ThunkFor<&I2::StartHTMLEngine>},
    {"ConnectToPDFLibrary", 2, M, "[in] IUnknown* pPDFLibObject", ThunkFor<&I2::ConnectToPDFLibrary>},
    {"DisconnectFromPDFLibrary", 3, M, "", ThunkFor<&I2::DisconnectFromPDFLibrary>},
    {"LoadTextString", 4, M, "[in] BSTR sText", ThunkFor<&I2::LoadTextString>},
    {"LoadHTMLString", 5, M, "[in] BSTR sHTML, [in] BSTR sBaseURL", ThunkFor<&I2::LoadHTMLString>},
    {"LoadTextFile", 6, M, "[in] BSTR sFileName", ThunkFor<&I2::LoadTextFile>},
    {"LoadHTMLFile", 7, M, "[in] BSTR sFileName", ThunkFor<&I2::LoadHTMLFile>},
    {"LoadHTMLFile2", 8, M, "[in] BSTR sFileName, [in] BSTR sBaseURL", ThunkFor<&I2::LoadHTMLFile2>},
    {"LoadURL", 9, M, "[in] BSTR sURL", ThunkFor<&I2::LoadURL>},
    {"TotalPageCount", 10, G, "[out, retval] long* lPageCount", ThunkFor<&I2::get_TotalPageCount>},
    {"ConvertPage", 11, M, "[in] long lPage", ThunkFor<&I2::ConvertPage>},
    {"ConvertAll", 12, M, "", ThunkFor<&I2::ConvertAll>},
    {"AutoAdjustPageWidth", 13, G, "[out, retval] VARIANT_BOOL* pVal", ThunkFor<&I2::get_AutoAdjustPageWidth>},
    {"AutoAdjustPageWidth", 13, P, "[in] VARIANT_BOOL newVal", ThunkFor<&I2::put_AutoAdjustPageWidth>},
    {"AutoAdjustContentWidth", 14, G, "[out, retval] VARIANT_BOOL* pVal", ThunkFor<&I2::get_AutoAdjustContentWidth>},
    {"AutoAdjustContentWidth", 14, P, "[in] VARIANT_BOOL newVal", ThunkFor<&I2::put_AutoAdjustContentWidth>},
    {"MarginLeft", 15, G, "[out, retval] long* pVal", ThunkFor<&I2::get_MarginLeft>},
    {"MarginLeft", 15, P, "[in] long newVal", ThunkFor<&I2::put_MarginLeft>},
    {"MarginRight", 16, G, "[out, retval] long* pVal", ThunkFor<&I2::get_MarginRight>},
    {"MarginRight", 16, P, "[in] long newVal", ThunkFor<&I2::put_MarginRight>},
    {"MarginTop", 17, G, "[out, retval] long* pVal", ThunkFor<&I2::get_MarginTop>},
    {"MarginTop", 17, P, "[in] long newVal", ThunkFor<&I2::put_MarginTop>},
    {"MarginBottom", 18, G, "[out, retval] long* pVal", ThunkFor<&I2::get_MarginBottom>},
    {"MarginBottom", 18, P, "[in] long newVal", ThunkFor<&I2::put_MarginBottom>},
    {"BaseURL", 19, G, "[out, retval] BSTR* pVal", ThunkFor<&I2::get_BaseURL>},
    {"BaseURL", 19, P, "[in] BSTR newVal", ThunkFor<&I2::put_BaseURL>},
    {"PreserveLinks", 20, G, "[out, retval] VARIANT_BOOL* pVal", ThunkFor<&I2::get_PreserveLinks>},
    {"PreserveLinks", 20, P, "[in] VARIANT_BOOL newVal", ThunkFor<&I2::put_PreserveLinks>},
    {"PageTimeout", 21, G, "[out, retval] long* pVal", ThunkFor<&I2::get_PageTimeout>},
    {"PageTimeout", 21, P, "[in] long newVal", ThunkFor<&I2::put_PageTimeout>},
    {"SafeNewPage", 22, M, "", ThunkFor<&I2::SafeNewPage>},
    {"MinimalWidth", 23, G, "[out, retval] long* pVal", ThunkFor<&I2::get_MinimalWidth>},
    {"MinimalWidth", 23, P, "[in] long newVal", ThunkFor<&I2::put_MinimalWidth>},
    {"SetLogFile", 24, M, "[in] BSTR sLogFileName", ThunkFor<&I2::SetLogFile>},
    {"GetLinkCount", 25, M, "int iPage, [out, retval] int* nCount", ThunkFor<&I2::GetLinkCount>},
    {"GetLinkName", 26, M, "int iPage, int iLink, [out, retval] BSTR* sName", ThunkFor<&I2::GetLinkName>},
    {"GetLinkText", 27, M, "int iPage, int iLink, [out, retval] BSTR* sText", ThunkFor<&I2::GetLinkText>},
    {"GetLinkTop", 28, M, "int iPage, int iLink, [out, retval] int* val", ThunkFor<&I2::GetLinkTop>},
    {"GetLinkLeft", 29, M, "int iPage, int iLink, [out, retval] int* val", ThunkFor<&I2::GetLinkLeft>},
    {"GetLinkBottom", 30, M, "int iPage, int iLink, [out, retval] int* val", ThunkFor<&I2::GetLinkBottom>},
    {"GetLinkRight", 31, M, "int iPage, int iLink, [out, retval] int* val", ThunkFor<&I2::GetLinkRight>},
    {"UnloadAll", 32, M, "", ThunkFor<&I2::UnloadAll>},
    {"CreateDebugImages", 33, M, "[in] BSTR sPathToDebugImages", ThunkFor<&I2::CreateDebugImages>},
    {"SetDEPCompatibility", 34, M, "[in] VARIANT_BOOL useDEPCompatibleMode", ThunkFor<&I2::SetDEPCompatibility>},
};

const Member kTessalineMembers[] = {
    {"StartHTMLEngine", 1, M, "[in] BSTR, [in] BSTR", ThunkFor<&I1::StartHTMLEngine>},
    {"ConnectToPDFLibrary", 2, M, "[in] IUnknown* PDFLibObject", ThunkFor<&I1::ConnectToPDFLibrary>},
    {"LoadFromFile", 3, M, "[in] BSTR FileName", ThunkFor<&I1::LoadFromFile>},
    {"DisconnectFromPDFLibrary", 4, M, "", ThunkFor<&I1::DisconnectFromPDFLibrary>},
    {"ConvertAll", 5, M, "", ThunkFor<&I1::ConvertAll>},
    {"Success", 6, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_Success>, true},
    {"ConvertPage", 7, M, "[in] long PageIndex", ThunkFor<&I1::ConvertPage>},
    {"PageIndex", 8, G, "[out, retval] long* Value", ThunkFor<&I1::get_PageIndex>, true},
    {"PageIndex", 8, P, "[in] long Value", ThunkFor<&I1::put_PageIndex>},
    {"PageCount", 9, G, "[out, retval] long* Value", ThunkFor<&I1::get_PageCount>},
    {"AutoAdjustPDFWidthToHTML", 10, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_AutoAdjustPDFWidthToHTML>},
    {"AutoAdjustPDFWidthToHTML", 10, P, "[in] VARIANT_BOOL Value", ThunkFor<&I1::put_AutoAdjustPDFWidthToHTML>},
    {"LoadTextFromFile", 11, M, "[in] BSTR FileName", ThunkFor<&I1::LoadTextFromFile>},
    {"LoadFromString", 12, M, "[in] BSTR HTMLCode, [in] BSTR Reference", ThunkFor<&I1::LoadFromString>},
    {"LoadTextString", 13, M, "[in] BSTR Text", ThunkFor<&I1::LoadTextString>},
    {"MarginLeft", 14, G, "[out, retval] long* Value", ThunkFor<&I1::get_MarginLeft>},
    {"MarginLeft", 14, P, "[in] long Value", ThunkFor<&I1::put_MarginLeft>},
    {"MarginRight", 15, G, "[out, retval] long* Value", ThunkFor<&I1::get_MarginRight>},
    {"MarginRight", 15, P, "[in] long Value", ThunkFor<&I1::put_MarginRight>},
    {"MarginTop", 16, G, "[out, retval] long* Value", ThunkFor<&I1::get_MarginTop>},
    {"MarginTop", 16, P, "[in] long Value", ThunkFor<&I1::put_MarginTop>},
    {"MarginBottom", 17, G, "[out, retval] long* Value", ThunkFor<&I1::get_MarginBottom>},
    {"MarginBottom", 17, P, "[in] long Value", ThunkFor<&I1::put_MarginBottom>},
    {"ServerRoot", 18, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_ServerRoot>, true},
    {"ServerRoot", 18, P, "[in] BSTR Value", ThunkFor<&I1::put_ServerRoot>},
    {"BaseURL", 19, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_BaseURL>},
    {"BaseURL", 19, P, "[in] BSTR Value", ThunkFor<&I1::put_BaseURL>},
    {"DocumentTitle", 20, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_DocumentTitle>, true},
    {"BaseTarget", 21, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_BaseTarget>, true},
    {"Dither", 22, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_Dither>, true},
    {"Dither", 22, P, "[in] VARIANT_BOOL Value", ThunkFor<&I1::put_Dither>},
    {"ViewImages", 23, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_ViewImages>, true},
    {"ViewImages", 23, P, "[in] VARIANT_BOOL Value", ThunkFor<&I1::put_ViewImages>},
    {"ActivePDFLinks", 24, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_ActivePDFLinks>},
    {"ActivePDFLinks", 24, P, "[in] VARIANT_BOOL Value", ThunkFor<&I1::put_ActivePDFLinks>},
    {"LoadFromURL", 25, M, "[in] BSTR URL", ThunkFor<&I1::LoadFromURL>},
    {"CacheEnabled", 26, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_CacheEnabled>, true},
    {"CacheEnabled", 26, P, "[in] VARIANT_BOOL Value", ThunkFor<&I1::put_CacheEnabled>},
    {"CacheDirectory", 27, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_CacheDirectory>, true},
    {"CacheDirectory", 27, P, "[in] BSTR Value", ThunkFor<&I1::put_CacheDirectory>},
    {"ClearCache", 28, M, "", ThunkFor<&I1::ClearCache>},
    {"LoadFromFile2", 29, M, "[in] BSTR FileName, [in] BSTR BaseURL", ThunkFor<&I1::LoadFromFile2>},
    {"ProxyHost", 30, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_ProxyHost>, true},
    {"ProxyHost", 30, P, "[in] BSTR Value", ThunkFor<&I1::put_ProxyHost>},
    {"ProxyPort", 31, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_ProxyPort>, true},
    {"ProxyPort", 31, P, "[in] BSTR Value", ThunkFor<&I1::put_ProxyPort>},
    {"PageTimeout", 32, G, "[out, retval] long* Value", ThunkFor<&I1::get_PageTimeout>},
    {"PageTimeout", 32, P, "[in] long Value", ThunkFor<&I1::put_PageTimeout>},
    {"ProxyUserName", 33, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_ProxyUserName>, true},
    {"ProxyUserName", 33, P, "[in] BSTR Value", ThunkFor<&I1::put_ProxyUserName>},
    {"ProxyPassword", 34, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_ProxyPassword>, true},
    {"ProxyPassword", 34, P, "[in] BSTR Value", ThunkFor<&I1::put_ProxyPassword>},
    {"AuthorizationUsername", 35, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_AuthorizationUsername>, true},
    {"AuthorizationUsername", 35, P, "[in] BSTR Value", ThunkFor<&I1::put_AuthorizationUsername>},
    {"AuthorizationPassword", 36, G, "[out, retval] BSTR* Value", ThunkFor<&I1::get_AuthorizationPassword>, true},
    {"AuthorizationPassword", 36, P, "[in] BSTR Value", ThunkFor<&I1::put_AuthorizationPassword>},
    {"UseBasicAuthorization", 37, G, "[out, retval] VARIANT_BOOL* Value", ThunkFor<&I1::get_UseBasicAuthorization>, true},
    {"UseBasicAuthorization", 37, P, "[in] VARIANT_BOOL Value", ThunkFor<&I1::put_UseBasicAuthorization>},
    {"SafeNewPage", 201, M, "", ThunkFor<&I1::SafeNewPage>},
};

}  // namespace

std::span<const Member> TessalineMembers() { return kTessalineMembers; }
std::span<const Member> Tessaline2Members() { return kTessaline2Members; }

HRESULT CreateTessaline(com::IUnknown* outer, com::REFIID riid, void** ppv) {
    return Create<CTessaline>(outer, riid, ppv);
}

HRESULT CreateTessaline2(com::IUnknown* outer, com::REFIID riid, void** ppv) {
    return Create<CTessaline2>(outer, riid, ppv);
}

}  // namespace tessaline
