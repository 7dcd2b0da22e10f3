// A stand-in base for the HTML add-on's interface: every method answers
// E_NOTIMPL, so a test double overrides only what its test exercises. The
// reference count is kept but the object is owned by the test (Release never
// deletes it); QueryInterface answers IUnknown, IDispatch and ITessaline2.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/com.h"
#include "tessaline/itessaline.h"

namespace vmtest {

class TessalineStub : public tessaline::ITessaline2 {
public:
    using HRESULT = com::HRESULT;
    using BSTR = com::BSTR;
    using VARIANT_BOOL = com::VARIANT_BOOL;

    HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (!ppv) return com::E_POINTER;
        if (riid == com::IID_IUnknown || riid == com::IID_IDispatch || riid == tessaline::IID_ITessaline2) {
            *ppv = static_cast<tessaline::ITessaline2*>(this);
            AddRef();
            return com::S_OK;
        }
        *ppv = nullptr;
        return com::E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override { return --refs_; }
    HRESULT GetTypeInfoCount(std::uint32_t*) override { return com::E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo**) override { return com::E_NOTIMPL; }
    HRESULT GetIDsOfNames(com::REFIID, const com::OLECHAR* const*, std::uint32_t, com::LCID, com::DISPID*) override {
        return com::E_NOTIMPL;
    }
    HRESULT Invoke(com::DISPID, com::REFIID, com::LCID, std::uint16_t, com::DISPPARAMS*, com::VARIANT*,
                   com::EXCEPINFO*, std::uint32_t*) override {
        return com::E_NOTIMPL;
    }

    HRESULT StartHTMLEngine(BSTR, BSTR) override { return com::E_NOTIMPL; }
    HRESULT ConnectToPDFLibrary(com::IUnknown*) override { return com::E_NOTIMPL; }
    HRESULT DisconnectFromPDFLibrary() override { return com::E_NOTIMPL; }
    HRESULT LoadTextString(BSTR) override { return com::E_NOTIMPL; }
    HRESULT LoadHTMLString(BSTR, BSTR) override { return com::E_NOTIMPL; }
    HRESULT LoadTextFile(BSTR) override { return com::E_NOTIMPL; }
    HRESULT LoadHTMLFile(BSTR) override { return com::E_NOTIMPL; }
    HRESULT LoadHTMLFile2(BSTR, BSTR) override { return com::E_NOTIMPL; }
    HRESULT LoadURL(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_TotalPageCount(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT ConvertPage(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT ConvertAll() override { return com::E_NOTIMPL; }
    HRESULT get_AutoAdjustPageWidth(VARIANT_BOOL*) override { return com::E_NOTIMPL; }
    HRESULT put_AutoAdjustPageWidth(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT get_AutoAdjustContentWidth(VARIANT_BOOL*) override { return com::E_NOTIMPL; }
    HRESULT put_AutoAdjustContentWidth(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT get_MarginLeft(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_MarginLeft(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_MarginRight(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_MarginRight(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_MarginTop(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_MarginTop(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_MarginBottom(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_MarginBottom(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_BaseURL(BSTR*) override { return com::E_NOTIMPL; }
    HRESULT put_BaseURL(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_PreserveLinks(VARIANT_BOOL*) override { return com::E_NOTIMPL; }
    HRESULT put_PreserveLinks(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT get_PageTimeout(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PageTimeout(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT SafeNewPage() override { return com::E_NOTIMPL; }
    HRESULT get_MinimalWidth(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_MinimalWidth(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT SetLogFile(BSTR) override { return com::E_NOTIMPL; }
    HRESULT GetLinkCount(int, int*) override { return com::E_NOTIMPL; }
    HRESULT GetLinkName(int, int, BSTR*) override { return com::E_NOTIMPL; }
    HRESULT GetLinkText(int, int, BSTR*) override { return com::E_NOTIMPL; }
    HRESULT GetLinkTop(int, int, int*) override { return com::E_NOTIMPL; }
    HRESULT GetLinkLeft(int, int, int*) override { return com::E_NOTIMPL; }
    HRESULT GetLinkBottom(int, int, int*) override { return com::E_NOTIMPL; }
    HRESULT GetLinkRight(int, int, int*) override { return com::E_NOTIMPL; }
    HRESULT UnloadAll() override { return com::E_NOTIMPL; }
    HRESULT CreateDebugImages(BSTR) override { return com::E_NOTIMPL; }
    HRESULT SetDEPCompatibility(VARIANT_BOOL) override { return com::E_NOTIMPL; }

private:
    std::atomic<std::uint32_t> refs_{1};
};

}  // namespace vmtest
