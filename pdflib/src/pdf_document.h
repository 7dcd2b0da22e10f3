// CPdfDocument: the object behind ProgID "Corvanth3.PDFDocument3". It answers
// IPdfDocument (with IDispatch by name) and IPdfDocumentCompat, keeps the
// caller's page units and state, and draws through the document core.
//
// Every interface method runs its body through Trap(): exceptions of the core
// become HRESULTs with a description (LastError(); callers by name get it in
// EXCEPINFO); nothing escapes a call.
//
// VELLUMATE_PDF_DETERMINISTIC=1 in the environment when an object is made
// gives files with a fixed /ID and fixed dates (for tests).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "corvanth/pdfdocument.h"
#include "platform/com_dispatch.h"
#include "platform/com_server.h"
#include "platform/com_trap.h"
#include "pdfcore/document.h"

namespace corvanth {

// A picture the document holds (LoadPicture adds them; every frame or page of
// a file is one). Filled by the picture code in document_pictures.cpp.
struct Picture {
    double width = 0, height = 0;  // pixels
    std::int32_t dpi = 96;
    std::string xobject;  // resource name of the drawn form (image or form XObject)
    bool inverted = false;
    std::shared_ptr<void> payload;  // whatever the picture code keeps (decoded samples, ...)
};

class CPdfDocument final : public com::server::Object<CPdfDocument, com::DispatchImpl<IPdfDocument>> {
public:
    CPdfDocument();
    ~CPdfDocument() override;

    // IPdfDocumentCompat (a part object sharing this object's count).
    void* QueryExtra(com::REFIID riid);

    // ---- IPdfDocument
    HRESULT get_FileName(BSTR* name) override;
    HRESULT put_FileName(BSTR name) override;
    HRESULT get_ViewAfterEnd(VARIANT_BOOL* on) override;
    HRESULT put_ViewAfterEnd(VARIANT_BOOL on) override;
    HRESULT BeginDoc() override;
    HRESULT EndDoc() override;
    HRESULT get_Resolution(std::int32_t* dpi) override;
    HRESULT put_Resolution(std::int32_t dpi) override;
    HRESULT get_PageWidth(double* w) override;
    HRESULT put_PageWidth(double w) override;
    HRESULT get_PageHeight(double* h) override;
    HRESULT put_PageHeight(double h) override;
    HRESULT get_PaperWidth(double* w) override;
    HRESULT get_PaperHeight(double* h) override;
    HRESULT get_PageCount(std::int32_t* n) override;
    HRESULT get_CurrentPage(std::int32_t* index) override;
    HRESULT put_CurrentPage(std::int32_t index) override;
    HRESULT NewPage() override;
    HRESULT get_PageRotation(std::int32_t* degrees) override;
    HRESULT put_PageRotation(std::int32_t degrees) override;
    HRESULT get_Compression(std::int32_t* flate) override;
    HRESULT put_Compression(std::int32_t flate) override;
    HRESULT get_JpegQuality(std::int32_t* q) override;
    HRESULT put_JpegQuality(std::int32_t q) override;
    HRESULT get_PdfVersion(std::int32_t* v) override;
    HRESULT put_PdfVersion(std::int32_t v) override;
    HRESULT get_PageLayout(std::int32_t* layout) override;
    HRESULT put_PageLayout(std::int32_t layout) override;
    HRESULT get_PageMode(std::int32_t* mode) override;
    HRESULT put_PageMode(std::int32_t mode) override;
    HRESULT get_FontEmbedding(std::int32_t* mode) override;
    HRESULT put_FontEmbedding(std::int32_t mode) override;
    HRESULT get_Author(BSTR* s) override;
    HRESULT put_Author(BSTR s) override;
    HRESULT get_Subject(BSTR* s) override;
    HRESULT put_Subject(BSTR s) override;
    HRESULT get_Title(BSTR* s) override;
    HRESULT put_Title(BSTR s) override;
    HRESULT get_Keywords(BSTR* s) override;
    HRESULT put_Keywords(BSTR s) override;
    HRESULT get_CreationDate(com::DATE* d) override;
    HRESULT put_CreationDate(com::DATE d) override;
    HRESULT get_Orientation(std::int32_t* o) override;
    HRESULT put_Orientation(std::int32_t o) override;
    HRESULT get_PaperSize(std::int32_t* index) override;
    HRESULT put_PaperSize(std::int32_t index) override;
    HRESULT put_Encrypt(VARIANT_BOOL on) override;
    HRESULT put_UserPassword(BSTR s) override;
    HRESULT put_OwnerPassword(BSTR s) override;
    HRESULT put_KeyLength(std::int32_t index) override;
    HRESULT put_AllowCopy(VARIANT_BOOL on) override;
    HRESULT put_AllowModify(VARIANT_BOOL on) override;
    HRESULT put_AllowPrint(VARIANT_BOOL on) override;
    HRESULT put_HideToolBar(VARIANT_BOOL on) override;
    HRESULT put_HideMenuBar(VARIANT_BOOL on) override;
    HRESULT put_HideWindowUI(VARIANT_BOOL on) override;
    HRESULT put_FitWindow(VARIANT_BOOL on) override;
    HRESULT put_CenterWindow(VARIANT_BOOL on) override;
    HRESULT TextOut(BSTR text, double x, double y, double angle) override;
    HRESULT SetFont(BSTR face, VARIANT_BOOL bold, VARIANT_BOOL italic, VARIANT_BOOL underline,
                    VARIANT_BOOL strikeout, double size, std::int32_t charset) override;
    HRESULT GetTextWidth(BSTR text, double* width) override;
    HRESULT SetColor(std::int32_t r, std::int32_t g, std::int32_t b) override;
    HRESULT DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                    double scaleY, std::int32_t logPixels) override;
    HRESULT DrawEmfFile(BSTR path, double x, double y, double scaleX, double scaleY) override;
    HRESULT LoadPicture(BSTR path, std::int32_t* lastIndex) override;
    HRESULT get_PictureCount(std::int32_t* n) override;
    HRESULT GetPictureWidth(std::int32_t index, double* w) override;
    HRESULT GetPictureHeight(std::int32_t index, double* h) override;
    HRESULT GetPictureResolution(std::int32_t index, std::int32_t* dpi) override;
    HRESULT DrawPicture(std::int32_t index, double x, double y) override;
    HRESULT InvertPicture(std::int32_t index) override;
    HRESULT CreateGoToAction(std::int32_t page, double top, std::int32_t* action) override;
    HRESULT CreateUriAction(BSTR uri, std::int32_t* action) override;
    HRESULT CreateScriptAction(BSTR script, std::int32_t* action) override;
    HRESULT AddLink(double left, double top, double right, double bottom, std::int32_t action) override;
    HRESULT AddUrlLink(double left, double top, double right, double bottom, BSTR url) override;
    HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest) override;
    HRESULT AddDestinationLink(double left, double top, double right, double bottom, std::int32_t dest) override;
    HRESULT AddOutlineSibling(BSTR title, std::int32_t action, std::int32_t charset,
                              std::int32_t* outline) override;
    HRESULT AddOutlineChild(BSTR title, std::int32_t action, std::int32_t charset, std::int32_t* outline) override;
    HRESULT put_CurrentOutline(std::int32_t outline) override;
    HRESULT get_CurrentOutlineParent(std::int32_t* outline) override;
    HRESULT put_OutlineOpen(VARIANT_BOOL open) override;

    // The description of the last failure of this object (empty after success).
    const std::string& LastError() const { return lastError_; }

    // For the picture code and the painter: page units <-> points.
    double ToPoints(double units) const;
    double FromPoints(double points) const;
    pdfcore::Document& Doc() { return *doc_; }
    std::vector<Picture>& Pictures() { return pictures_; }
    // The current page; throws the "no document" error before BeginDoc.
    pdfcore::Page& CurrentPage();
    int CurrentPageIndex() const { return current_; }

    // Runs `body`, turning exceptions into HRESULTs and keeping the description.
    template <class F>
    HRESULT Trap(F&& body);

    // Draws an enhanced metafile (bytes, or a file when data is null) placed
    // as DrawEmfFile describes; a picture file by what it shows (MetafileShows).
    HRESULT DrawEmfAny(const std::uint8_t* data, std::uint32_t size, const std::string& path, double x, double y,
                       double scaleX, double scaleY, std::int32_t logPixels, bool asPicture = false);
    // The size in device pixels of what a metafile picture shows where its
    // header's frame lies about it; false when the frame holds.
    static bool MetafileShows(const std::string& bytes, double* width, double* height);

private:
    // IPdfDocumentCompat lives in a part object of its own: its page numbers
    // are 1-based, so it cannot share the methods of IPdfDocument.
    class Compat;
    void RequireBegun() const;
    void SelectPage(int index);
    void ApplyPaperToCurrentPage();
    void PaperPoints(double* w, double* h) const;
    pdfcore::Font* CurrentFont();
    void DrawTextLine(std::u16string_view text, double x, double y, double angle);
    double TextWidthPoints(std::u16string_view text);
    std::u16string TextFromBstr(BSTR s, int charset) const;
    pdfcore::Rect RectPoints(double left, double top, double right, double bottom) const;
    int AddOutline(BSTR title, std::int32_t action, std::int32_t charset, bool child);

    const com::DispatchTable& Table() const override;
    HRESULT InvokeMember(com::DISPID id, std::uint16_t flags, const com::DispArgs& args,
                         com::VARIANT* result) override;

    std::unique_ptr<Compat> compat_;
    std::unique_ptr<pdfcore::Document> doc_;
    std::string fileName_;
    bool viewAfterEnd_ = false;
    bool begun_ = false;
    int resolution_ = 72;
    int current_ = -1;
    int jpegQuality_ = 79;
    int paperSize_ = 2;
    int orientation_ = 0;
    com::DATE creationDate_ = 0;
    // font request and colour
    std::string fontFace_ = "Arial";
    bool bold_ = false, italic_ = false, underline_ = false, strikeout_ = false;
    double fontSize_ = 10;
    int charset_ = 1;
    pdfcore::Font* font_ = nullptr;
    pdfcore::Rgb color_{0, 0, 0};
    int currentOutline_ = -1;
    std::vector<Picture> pictures_;
    std::string lastError_;
};

// The server's error taxonomy (platform/com_trap.h).
using com::Failure;
using com::InvalidArgument;
using com::WrongState;

template <class F>
HRESULT CPdfDocument::Trap(F&& body) {
    return com::Trap(lastError_, std::forward<F>(body));
}

}  // namespace corvanth
