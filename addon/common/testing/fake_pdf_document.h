// Test-only: a PDF document that records what the add-on asks of it. It can
// offer the main interface, the older one, both or neither, and counts its
// references (the test owns it; Release never deletes).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "addon/common/event_log.h"
#include "corvanth/pdfdocument.h"

namespace tessaline::testing {

using com::BSTR;
using com::DATE;
using com::HRESULT;
using com::VARIANT_BOOL;

// Every member fails with E_NOTIMPL; fakes override what they need.
class PdfDocumentStub : public corvanth::IPdfDocument {
public:
    HRESULT GetTypeInfoCount(std::uint32_t*) override { return com::E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo**) override { return com::E_NOTIMPL; }
    HRESULT GetIDsOfNames(com::REFIID, const com::OLECHAR* const*, std::uint32_t, com::LCID, com::DISPID*) override {
        return com::E_NOTIMPL;
    }
    HRESULT Invoke(com::DISPID, com::REFIID, com::LCID, std::uint16_t, com::DISPPARAMS*, com::VARIANT*,
                   com::EXCEPINFO*, std::uint32_t*) override {
        return com::E_NOTIMPL;
    }
    HRESULT get_FileName(BSTR*) override { return com::E_NOTIMPL; }
    HRESULT put_FileName(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_ViewAfterEnd(VARIANT_BOOL*) override { return com::E_NOTIMPL; }
    HRESULT put_ViewAfterEnd(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT BeginDoc() override { return com::E_NOTIMPL; }
    HRESULT EndDoc() override { return com::E_NOTIMPL; }
    HRESULT get_Resolution(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_Resolution(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_PageWidth(double*) override { return com::E_NOTIMPL; }
    HRESULT put_PageWidth(double) override { return com::E_NOTIMPL; }
    HRESULT get_PageHeight(double*) override { return com::E_NOTIMPL; }
    HRESULT put_PageHeight(double) override { return com::E_NOTIMPL; }
    HRESULT get_PaperWidth(double*) override { return com::E_NOTIMPL; }
    HRESULT get_PaperHeight(double*) override { return com::E_NOTIMPL; }
    HRESULT get_PageCount(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT get_CurrentPage(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_CurrentPage(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT NewPage() override { return com::E_NOTIMPL; }
    HRESULT get_PageRotation(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PageRotation(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_Compression(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_Compression(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_JpegQuality(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_JpegQuality(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_PdfVersion(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PdfVersion(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_PageLayout(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PageLayout(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_PageMode(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PageMode(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_FontEmbedding(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_FontEmbedding(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_Author(BSTR*) override { return com::E_NOTIMPL; }
    HRESULT put_Author(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_Subject(BSTR*) override { return com::E_NOTIMPL; }
    HRESULT put_Subject(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_Title(BSTR*) override { return com::E_NOTIMPL; }
    HRESULT put_Title(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_Keywords(BSTR*) override { return com::E_NOTIMPL; }
    HRESULT put_Keywords(BSTR) override { return com::E_NOTIMPL; }
    HRESULT get_CreationDate(DATE*) override { return com::E_NOTIMPL; }
    HRESULT put_CreationDate(DATE) override { return com::E_NOTIMPL; }
    HRESULT get_Orientation(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_Orientation(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_PaperSize(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PaperSize(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT put_Encrypt(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_UserPassword(BSTR) override { return com::E_NOTIMPL; }
    HRESULT put_OwnerPassword(BSTR) override { return com::E_NOTIMPL; }
    HRESULT put_KeyLength(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT put_AllowCopy(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_AllowModify(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_AllowPrint(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_HideToolBar(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_HideMenuBar(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_HideWindowUI(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_FitWindow(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT put_CenterWindow(VARIANT_BOOL) override { return com::E_NOTIMPL; }
    HRESULT TextOut(BSTR, double, double, double) override { return com::E_NOTIMPL; }
    HRESULT SetFont(BSTR, VARIANT_BOOL, VARIANT_BOOL, VARIANT_BOOL, VARIANT_BOOL, double, std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT GetTextWidth(BSTR, double*) override { return com::E_NOTIMPL; }
    HRESULT SetColor(std::int32_t, std::int32_t, std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT DrawEmf(const std::uint8_t*, std::uint32_t, double, double, double, double, std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT DrawEmfFile(BSTR, double, double, double, double) override { return com::E_NOTIMPL; }
    HRESULT LoadPicture(BSTR, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT get_PictureCount(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT GetPictureWidth(std::int32_t, double*) override { return com::E_NOTIMPL; }
    HRESULT GetPictureHeight(std::int32_t, double*) override { return com::E_NOTIMPL; }
    HRESULT GetPictureResolution(std::int32_t, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT DrawPicture(std::int32_t, double, double) override { return com::E_NOTIMPL; }
    HRESULT InvertPicture(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT CreateGoToAction(std::int32_t, double, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT CreateUriAction(BSTR, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT CreateScriptAction(BSTR, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT AddLink(double, double, double, double, std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT AddUrlLink(double, double, double, double, BSTR) override { return com::E_NOTIMPL; }
    HRESULT AddDestination(std::int32_t, double, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT AddDestinationLink(double, double, double, double, std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT AddOutlineSibling(BSTR, std::int32_t, std::int32_t, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT AddOutlineChild(BSTR, std::int32_t, std::int32_t, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_CurrentOutline(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT get_CurrentOutlineParent(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_OutlineOpen(VARIANT_BOOL) override { return com::E_NOTIMPL; }

protected:
    ~PdfDocumentStub() = default;
};

class PdfDocumentCompatStub : public corvanth::IPdfDocumentCompat {
public:
    HRESULT get_Resolution(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT get_PageWidth(double*) override { return com::E_NOTIMPL; }
    HRESULT put_PageWidth(double) override { return com::E_NOTIMPL; }
    HRESULT get_PageHeight(double*) override { return com::E_NOTIMPL; }
    HRESULT put_PageHeight(double) override { return com::E_NOTIMPL; }
    HRESULT get_PageCount(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT get_CurrentPage(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_CurrentPage(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT NewPage() override { return com::E_NOTIMPL; }
    HRESULT get_PageRotation(std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT put_PageRotation(std::int32_t) override { return com::E_NOTIMPL; }
    HRESULT DrawEmf(const std::uint8_t*, std::uint32_t, double, double, double, double) override { return com::E_NOTIMPL; }
    HRESULT DrawEmfFile(BSTR, double, double, double, double) override { return com::E_NOTIMPL; }
    HRESULT AddUrlLink(double, double, double, double, BSTR) override { return com::E_NOTIMPL; }
    HRESULT AddDestination(std::int32_t, double, std::int32_t*) override { return com::E_NOTIMPL; }
    HRESULT AddDestinationLink(double, double, double, double, std::int32_t) override { return com::E_NOTIMPL; }

protected:
    ~PdfDocumentCompatStub() = default;
};

struct FakePage {
    double width = 595;
    double height = 842;
    std::int32_t rotation = 0;
};

class FakePdfDocument;

class FakePrimaryFace final : public PdfDocumentStub {
public:
    explicit FakePrimaryFace(FakePdfDocument& doc) : doc_(doc) {}
    HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    HRESULT get_Resolution(std::int32_t* v) override;
    HRESULT get_PageWidth(double* v) override;
    HRESULT put_PageWidth(double v) override;
    HRESULT get_PageHeight(double* v) override;
    HRESULT put_PageHeight(double v) override;
    HRESULT get_PageCount(std::int32_t* v) override;
    HRESULT get_CurrentPage(std::int32_t* v) override;
    HRESULT put_CurrentPage(std::int32_t v) override;
    HRESULT NewPage() override;
    HRESULT get_PageRotation(std::int32_t* v) override;
    HRESULT put_PageRotation(std::int32_t v) override;
    HRESULT AddUrlLink(double l, double t, double r, double b, BSTR url) override;
    HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest) override;
    HRESULT AddDestinationLink(double l, double t, double r, double b, std::int32_t dest) override;

private:
    FakePdfDocument& doc_;
};

class FakeCompatFace final : public PdfDocumentCompatStub {
public:
    explicit FakeCompatFace(FakePdfDocument& doc) : doc_(doc) {}
    HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    HRESULT get_Resolution(std::int32_t* v) override;
    HRESULT get_PageWidth(double* v) override;
    HRESULT put_PageWidth(double v) override;
    HRESULT get_PageHeight(double* v) override;
    HRESULT put_PageHeight(double v) override;
    HRESULT get_PageCount(std::int32_t* v) override;
    HRESULT get_CurrentPage(std::int32_t* v) override;  // 1-based
    HRESULT put_CurrentPage(std::int32_t v) override;
    HRESULT NewPage() override;
    HRESULT get_PageRotation(std::int32_t* v) override;
    HRESULT put_PageRotation(std::int32_t v) override;
    HRESULT AddUrlLink(double l, double t, double r, double b, BSTR url) override;
    HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest) override;  // 1-based
    HRESULT AddDestinationLink(double l, double t, double r, double b, std::int32_t dest) override;

private:
    FakePdfDocument& doc_;
};

// The document itself: pages (0-based current page), the calls made, the references held.
class FakePdfDocument {
public:
    FakePdfDocument(bool offerPrimary, bool offerCompat)
        : offerPrimary(offerPrimary), offerCompat(offerCompat), primary(*this), compat(*this) {}
    // The object as a client hands it over.
    com::IUnknown* Unknown() {
        return offerPrimary ? static_cast<com::IUnknown*>(&primary) : static_cast<com::IUnknown*>(&compat);
    }
    FakePage& Current() { return pages[static_cast<std::size_t>(current)]; }

    bool offerPrimary;
    bool offerCompat;
    std::int32_t resolution = 72;
    std::vector<FakePage> pages = std::vector<FakePage>(1);  // not a braced list: GCC 12 warns of it
    std::int32_t current = 0;
    std::int32_t refs = 0;
    std::int32_t nextDest = 1;
    std::vector<std::string> calls;  // one line per changing call, see the .cpp
    // Calls that fail with E_FAIL: "put_PageWidth", "NewPage", "AddUrlLink", "AddDestinationLink".
    std::set<std::string> refuse;
    FakePrimaryFace primary;
    FakeCompatFace compat;
};

}  // namespace tessaline::testing
