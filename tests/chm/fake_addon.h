// Test double of the HTML add-on for the compiled-help tests: every file it
// is asked to load gives the number of pages the test set for it (default 1);
// a file mapped to 0 pages fails to load as the add-on does (no page added),
// a file mapped to -1 fails with an error code. It records the loads in order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/com.h"
#include "tessaline/itessaline.h"

namespace chmtest {

using com::BSTR;
using com::HRESULT;
using com::VARIANT_BOOL;

class FakeAddon final : public tessaline::ITessaline2, public tessaline::ITessalineLookahead {
public:
    std::map<std::string, std::int32_t> pagesOf;  // by file name after the last "/"
    std::vector<std::string> loads;                // full paths, in order
    std::vector<std::string> announced;            // full paths, in order
    std::int32_t total = 0;
    int unloads = 0;

    HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (riid == tessaline::IID_ITessalineLookahead)
            *ppv = static_cast<tessaline::ITessalineLookahead*>(this);
        else
            *ppv = static_cast<tessaline::ITessaline2*>(this);
        AddRef();
        return com::S_OK;
    }
    HRESULT AnnounceHTMLFile(BSTR file) override {
        announced.push_back(com::Utf8FromBstr(file));
        return com::S_OK;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override { return --refs_; }
    HRESULT LoadHTMLFile(BSTR file) override {
        std::string path = com::Utf8FromBstr(file);
        loads.push_back(path);
        auto it = pagesOf.find(path.substr(path.rfind('/') + 1));
        std::int32_t pages = it == pagesOf.end() ? 1 : it->second;
        if (pages < 0) return com::E_FAIL;
        total += pages;
        return com::S_OK;
    }
    HRESULT get_TotalPageCount(std::int32_t* n) override {
        *n = total;
        return com::S_OK;
    }
    HRESULT UnloadAll() override {
        ++unloads;
        total = 0;
        return com::S_OK;
    }
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
    HRESULT LoadHTMLFile2(BSTR, BSTR) override { return com::E_NOTIMPL; }
    HRESULT LoadURL(BSTR) override { return com::E_NOTIMPL; }
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
    HRESULT CreateDebugImages(BSTR) override { return com::E_NOTIMPL; }
    HRESULT SetDEPCompatibility(VARIANT_BOOL) override { return com::E_NOTIMPL; }

private:
    std::uint32_t refs_ = 1;
};

}  // namespace chmtest
