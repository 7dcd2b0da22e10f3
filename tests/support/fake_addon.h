// The one in-process stand-in for the HTML add-on: loads "pages" by name,
// draws a line of text per page onto the connected PDF document and reports
// links the test gives it. It records the calls the driver makes, the files
// it loads and the ones announced to it (ITessalineLookahead).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "corvanth/pdfdocument.h"
#include "tessaline_stub.h"

namespace vmtest {

struct FakeLink {
    std::string target;
    int left, top, right, bottom;
};

class FakeAddon final : public TessalineStub, public tessaline::ITessalineLookahead {
public:
    // Pages each load adds, by the loaded path's file name (default 1). A file
    // mapped to 0 adds none (as a page that fails to lay out); a negative
    // count makes the load fail with E_FAIL.
    std::map<std::string, int> pagesPerFile;
    // Links by add-on page index.
    std::map<int, std::vector<FakeLink>> links;
    // ConvertPage of this index fails with E_FAIL.
    int failOnPage = -1;
    std::vector<std::string> calls;
    std::vector<std::string> loads;      // full paths, in order
    std::vector<std::string> announced;  // full paths, in order
    int unloads = 0;
    std::int32_t marginLeft = 0, marginRight = 0, marginTop = 0, marginBottom = 0, minimalWidth = 800;
    bool autoPage = false, autoContent = false, preserveLinks = true;
    std::string logFile, debugFolder;
    com::ComPtr<corvanth::IPdfDocument> pdf;

    com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (ppv && riid == tessaline::IID_ITessalineLookahead) {
            *ppv = static_cast<tessaline::ITessalineLookahead*>(this);
            AddRef();
            return com::S_OK;
        }
        return TessalineStub::QueryInterface(riid, ppv);
    }
    std::uint32_t AddRef() override { return TessalineStub::AddRef(); }
    std::uint32_t Release() override { return TessalineStub::Release(); }
    com::HRESULT AnnounceHTMLFile(com::BSTR file) override {
        announced.push_back(com::Utf8FromBstr(file));
        return com::S_OK;
    }

    com::HRESULT StartHTMLEngine(com::BSTR, com::BSTR) override { return Call("StartHTMLEngine"); }
    com::HRESULT ConnectToPDFLibrary(com::IUnknown* unk) override {
        pdf.Reset();
        if (unk) unk->QueryInterface(corvanth::IID_IPdfDocument, reinterpret_cast<void**>(pdf.ReleaseAndGetAddressOf()));
        return Call("ConnectToPDFLibrary");
    }
    com::HRESULT DisconnectFromPDFLibrary() override {
        pdf.Reset();
        return Call("DisconnectFromPDFLibrary");
    }
    com::HRESULT LoadHTMLFile(com::BSTR name) override {
        std::string path = com::Utf8FromBstr(name);
        loads.push_back(path);
        std::string file = path.substr(path.rfind('/') + 1);
        auto it = pagesPerFile.find(file);
        const int n = it == pagesPerFile.end() ? 1 : it->second;
        if (n < 0) return com::E_FAIL;
        for (int i = 0; i < n; ++i) pageNames_.push_back(file + " #" + std::to_string(i + 1));
        return Call("LoadHTMLFile " + file);
    }
    com::HRESULT LoadURL(com::BSTR url) override {
        pageNames_.push_back(com::Utf8FromBstr(url));
        return Call("LoadURL " + com::Utf8FromBstr(url));
    }
    com::HRESULT get_TotalPageCount(std::int32_t* n) override {
        *n = static_cast<std::int32_t>(pageNames_.size());
        return com::S_OK;
    }
    com::HRESULT ConvertPage(std::int32_t page) override {
        Call("ConvertPage " + std::to_string(page));
        if (page == failOnPage) return com::E_FAIL;
        if (page < 0 || page >= static_cast<std::int32_t>(pageNames_.size()) || !pdf) return com::E_INVALIDARG;
        com::Bstr text("Content of " + pageNames_[static_cast<size_t>(page)]);
        return pdf->TextOut(text.Get(), marginLeft, marginTop, 0);
    }
    com::HRESULT get_AutoAdjustPageWidth(com::VARIANT_BOOL* v) override { return Get(v, autoPage); }
    com::HRESULT put_AutoAdjustPageWidth(com::VARIANT_BOOL v) override { return Put(&autoPage, v); }
    com::HRESULT get_AutoAdjustContentWidth(com::VARIANT_BOOL* v) override { return Get(v, autoContent); }
    com::HRESULT put_AutoAdjustContentWidth(com::VARIANT_BOOL v) override { return Put(&autoContent, v); }
    com::HRESULT get_MarginLeft(std::int32_t* v) override { return GetI(v, marginLeft); }
    com::HRESULT put_MarginLeft(std::int32_t v) override { return PutI(&marginLeft, v); }
    com::HRESULT get_MarginRight(std::int32_t* v) override { return GetI(v, marginRight); }
    com::HRESULT put_MarginRight(std::int32_t v) override { return PutI(&marginRight, v); }
    com::HRESULT get_MarginTop(std::int32_t* v) override { return GetI(v, marginTop); }
    com::HRESULT put_MarginTop(std::int32_t v) override { return PutI(&marginTop, v); }
    com::HRESULT get_MarginBottom(std::int32_t* v) override { return GetI(v, marginBottom); }
    com::HRESULT put_MarginBottom(std::int32_t v) override { return PutI(&marginBottom, v); }
    com::HRESULT get_PreserveLinks(com::VARIANT_BOOL* v) override { return Get(v, preserveLinks); }
    com::HRESULT put_PreserveLinks(com::VARIANT_BOOL v) override { return Put(&preserveLinks, v); }
    com::HRESULT SafeNewPage() override {
        Call("SafeNewPage");
        return pdf ? pdf->NewPage() : com::E_NOINTERFACE;
    }
    com::HRESULT get_MinimalWidth(std::int32_t* v) override { return GetI(v, minimalWidth); }
    com::HRESULT put_MinimalWidth(std::int32_t v) override { return PutI(&minimalWidth, v); }
    com::HRESULT SetLogFile(com::BSTR name) override {
        logFile = com::Utf8FromBstr(name);
        return Call("SetLogFile");
    }
    com::HRESULT GetLinkCount(int page, int* n) override {
        auto it = links.find(page);
        *n = it == links.end() ? 0 : static_cast<int>(it->second.size());
        return Call("GetLinkCount " + std::to_string(page));
    }
    // Named anchors: none; every entry is a link.
    com::HRESULT GetLinkName(int page, int i, com::BSTR* s) override {
        auto it = links.find(page);
        if (it == links.end() || i < 0 || i >= static_cast<int>(it->second.size())) return com::E_INVALIDARG;
        *s = nullptr;
        return com::S_OK;
    }
    com::HRESULT GetLinkText(int page, int i, com::BSTR* s) override {
        *s = com::BstrFromUtf8(links.at(page).at(static_cast<size_t>(i)).target);
        return com::S_OK;
    }
    com::HRESULT GetLinkTop(int page, int i, int* v) override { return Link(page, i, v, &FakeLink::top); }
    com::HRESULT GetLinkLeft(int page, int i, int* v) override { return Link(page, i, v, &FakeLink::left); }
    com::HRESULT GetLinkBottom(int page, int i, int* v) override { return Link(page, i, v, &FakeLink::bottom); }
    com::HRESULT GetLinkRight(int page, int i, int* v) override { return Link(page, i, v, &FakeLink::right); }
    com::HRESULT UnloadAll() override {
        ++unloads;
        pageNames_.clear();
        return Call("UnloadAll");
    }
    com::HRESULT CreateDebugImages(com::BSTR folder) override {
        debugFolder = com::Utf8FromBstr(folder);
        return Call("CreateDebugImages");
    }
    com::HRESULT SetDEPCompatibility(com::VARIANT_BOOL) override { return com::S_OK; }

private:
    com::HRESULT Call(std::string what) {
        calls.push_back(std::move(what));
        return com::S_OK;
    }
    static com::HRESULT Get(com::VARIANT_BOOL* v, bool b) {
        *v = b ? com::VARIANT_TRUE : com::VARIANT_FALSE;
        return com::S_OK;
    }
    static com::HRESULT Put(bool* b, com::VARIANT_BOOL v) {
        *b = v != 0;
        return com::S_OK;
    }
    static com::HRESULT GetI(std::int32_t* v, std::int32_t x) {
        *v = x;
        return com::S_OK;
    }
    static com::HRESULT PutI(std::int32_t* x, std::int32_t v) {
        *x = v;
        return com::S_OK;
    }
    com::HRESULT Link(int page, int i, int* v, int FakeLink::*field) {
        auto it = links.find(page);
        if (it == links.end() || i < 0 || i >= static_cast<int>(it->second.size())) return com::E_INVALIDARG;
        *v = it->second[static_cast<size_t>(i)].*field;
        return com::S_OK;
    }
    std::vector<std::string> pageNames_;
};

}  // namespace vmtest
