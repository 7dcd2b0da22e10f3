// The PDF document object (ProgID "Corvanth3.PDFDocument3"): one object makes
// one PDF file. Clients create it through the component runtime and talk to it
// through IPdfDocument (dual: also reachable by name through IDispatch) or the
// older, smaller IPdfDocumentCompat that the same object also answers.
//
// Units and conventions (both interfaces):
// - Page coordinates are in 1/Resolution inch, origin at the top-left corner of
//   the current page, y growing downwards. Resolution defaults to 72.
// - Booleans are VARIANT_BOOL (any non-zero value is true; getters give -1/0).
// - Page indexes are 0-based on IPdfDocument and 1-based on IPdfDocumentCompat.
// - Text crosses as BSTR; see com.h for how non-UTF-8 bytes travel.
// - Every call returns an HRESULT: E_INVALIDARG for arguments out of range (a
//   page index, a negative size, an unknown action, outline or picture),
//   E_POINTER for a null out-pointer, E_FAIL for a failure of the file system
//   or of a decoder (the error description says which).
// - Nothing is written to the output until EndDoc, which writes the whole file
//   to a temporary name beside the output and renames it into place.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace corvanth {

using com::BSTR;
using com::DATE;
using com::HRESULT;
using com::VARIANT_BOOL;

// Paper size indexes (PaperSize), in their real sizes; 0 "UserDefined" is A4.
// 1 Letter, 2 A4, 3 A3, 4 Legal, 5 B5 (JIS), 6 C5, 7 8 x 11 in, 8 B4 (JIS),
// 9 A5, 10 Folio, 11 Executive, 12 envelope B4, 13 envelope B5, 14 envelope C6,
// 15 envelope DL, 16 envelope Monarch, 17 envelope #9, 18 envelope #10,
// 19 envelope #11 (the order of the converter's settings table).

class IPdfDocument : public com::IDispatch {
public:
    // ---- Document
    virtual HRESULT get_FileName(BSTR* name) = 0;
    virtual HRESULT put_FileName(BSTR name) = 0;
    // Open the file in the desktop's viewer after EndDoc (default 0).
    virtual HRESULT get_ViewAfterEnd(VARIANT_BOOL* on) = 0;
    virtual HRESULT put_ViewAfterEnd(VARIANT_BOOL on) = 0;
    // BeginDoc checks that the output's folder can be written and makes page 0.
    virtual HRESULT BeginDoc() = 0;
    virtual HRESULT EndDoc() = 0;

    // ---- Units and pages
    virtual HRESULT get_Resolution(std::int32_t* dpi) = 0;
    virtual HRESULT put_Resolution(std::int32_t dpi) = 0;  // 1..10000
    virtual HRESULT get_PageWidth(double* w) = 0;          // current page
    virtual HRESULT put_PageWidth(double w) = 0;           // > 0
    virtual HRESULT get_PageHeight(double* h) = 0;
    virtual HRESULT put_PageHeight(double h) = 0;
    // Size of the chosen paper (PaperSize, Orientation) in current units.
    virtual HRESULT get_PaperWidth(double* w) = 0;
    virtual HRESULT get_PaperHeight(double* h) = 0;
    virtual HRESULT get_PageCount(std::int32_t* n) = 0;
    virtual HRESULT get_CurrentPage(std::int32_t* index) = 0;
    virtual HRESULT put_CurrentPage(std::int32_t index) = 0;
    // Appends a page of the chosen paper size and makes it current.
    virtual HRESULT NewPage() = 0;
    // The page's rotation in degrees (0, 90, 180, 270); a page added by a
    // client that copies it (SafeNewPage) keeps it.
    virtual HRESULT get_PageRotation(std::int32_t* degrees) = 0;
    virtual HRESULT put_PageRotation(std::int32_t degrees) = 0;

    // ---- Document settings
    virtual HRESULT get_Compression(std::int32_t* flate) = 0;  // 0 none, 1 Flate
    virtual HRESULT put_Compression(std::int32_t flate) = 0;
    virtual HRESULT get_JpegQuality(std::int32_t* q) = 0;  // 1..100, for pictures re-encoded as JPEG
    virtual HRESULT put_JpegQuality(std::int32_t q) = 0;
    virtual HRESULT get_PdfVersion(std::int32_t* v) = 0;  // 0 = 1.3, 1 = 1.4
    virtual HRESULT put_PdfVersion(std::int32_t v) = 0;
    // 0 single page, 1 one column, 2 two columns left, 3 two columns right.
    virtual HRESULT get_PageLayout(std::int32_t* layout) = 0;
    virtual HRESULT put_PageLayout(std::int32_t layout) = 0;
    // 0 none, 1 outlines, 2 thumbnails, 3 full screen.
    virtual HRESULT get_PageMode(std::int32_t* mode) = 0;
    virtual HRESULT put_PageMode(std::int32_t mode) = 0;
    // 2 embedded subsets, 3 no font program (the viewer substitutes).
    virtual HRESULT get_FontEmbedding(std::int32_t* mode) = 0;
    virtual HRESULT put_FontEmbedding(std::int32_t mode) = 0;
    virtual HRESULT get_Author(BSTR* s) = 0;
    virtual HRESULT put_Author(BSTR s) = 0;
    virtual HRESULT get_Subject(BSTR* s) = 0;
    virtual HRESULT put_Subject(BSTR s) = 0;
    virtual HRESULT get_Title(BSTR* s) = 0;
    virtual HRESULT put_Title(BSTR s) = 0;
    virtual HRESULT get_Keywords(BSTR* s) = 0;
    virtual HRESULT put_Keywords(BSTR s) = 0;
    virtual HRESULT get_CreationDate(DATE* d) = 0;  // local time
    virtual HRESULT put_CreationDate(DATE d) = 0;
    virtual HRESULT get_Orientation(std::int32_t* o) = 0;  // 0 portrait, 1 landscape
    virtual HRESULT put_Orientation(std::int32_t o) = 0;   // applies to the current page too
    virtual HRESULT get_PaperSize(std::int32_t* index) = 0;
    virtual HRESULT put_PaperSize(std::int32_t index) = 0;  // 0..19; applies to the current page too

    // ---- Protection (standard security handler, RC4)
    virtual HRESULT put_Encrypt(VARIANT_BOOL on) = 0;
    virtual HRESULT put_UserPassword(BSTR s) = 0;
    virtual HRESULT put_OwnerPassword(BSTR s) = 0;
    virtual HRESULT put_KeyLength(std::int32_t index) = 0;  // 0 = 40 bits, 1 = 128 bits
    virtual HRESULT put_AllowCopy(VARIANT_BOOL on) = 0;
    virtual HRESULT put_AllowModify(VARIANT_BOOL on) = 0;
    virtual HRESULT put_AllowPrint(VARIANT_BOOL on) = 0;

    // ---- Viewer preferences
    virtual HRESULT put_HideToolBar(VARIANT_BOOL on) = 0;
    virtual HRESULT put_HideMenuBar(VARIANT_BOOL on) = 0;
    virtual HRESULT put_HideWindowUI(VARIANT_BOOL on) = 0;
    virtual HRESULT put_FitWindow(VARIANT_BOOL on) = 0;
    virtual HRESULT put_CenterWindow(VARIANT_BOOL on) = 0;

    // ---- Drawing on the current page
    // (x, y) is the top-left corner of the text's cell (the ascent lies below
    // y), as a screen text call places it; angle in degrees, counter-clockwise
    // about that corner.
    virtual HRESULT TextOut(BSTR text, double x, double y, double angle) = 0;
    // size in points; charset is a character-set code (0 ANSI, 1 default, ...).
    virtual HRESULT SetFont(BSTR face, VARIANT_BOOL bold, VARIANT_BOOL italic, VARIANT_BOOL underline,
                            VARIANT_BOOL strikeout, double size, std::int32_t charset) = 0;
    virtual HRESULT GetTextWidth(BSTR text, double* width) = 0;  // in page units
    virtual HRESULT SetColor(std::int32_t r, std::int32_t g, std::int32_t b) = 0;  // 0..255 each
    // Draws an enhanced metafile held in memory, placed as DrawEmfFile places
    // it. logPixels is the pixels per inch of the device the metafile was
    // recorded for (0: take it from the metafile's header).
    virtual HRESULT DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                            double scaleY, std::int32_t logPixels) = 0;
    // Draws an enhanced metafile file: the metafile's frame, scaled by
    // scaleX/scaleY, placed with its top-left corner at (x, y). With scale 1
    // one metafile device pixel (at the metafile's own device resolution) is
    // one page unit.
    virtual HRESULT DrawEmfFile(BSTR path, double x, double y, double scaleX, double scaleY) = 0;

    // ---- Pictures (held by the document; every frame or page is a picture)
    // Loads every picture of the file; *lastIndex is the index of the last one added.
    virtual HRESULT LoadPicture(BSTR path, std::int32_t* lastIndex) = 0;
    virtual HRESULT get_PictureCount(std::int32_t* n) = 0;
    virtual HRESULT GetPictureWidth(std::int32_t index, double* w) = 0;    // pixels
    virtual HRESULT GetPictureHeight(std::int32_t index, double* h) = 0;   // pixels
    virtual HRESULT GetPictureResolution(std::int32_t index, std::int32_t* dpi) = 0;
    // At (x, y), one picture pixel per page unit at the current resolution.
    virtual HRESULT DrawPicture(std::int32_t index, double x, double y) = 0;
    virtual HRESULT InvertPicture(std::int32_t index) = 0;

    // ---- Actions and annotations (ids are >= 1)
    virtual HRESULT CreateGoToAction(std::int32_t page, double top, std::int32_t* action) = 0;
    virtual HRESULT CreateUriAction(BSTR uri, std::int32_t* action) = 0;
    virtual HRESULT CreateScriptAction(BSTR script, std::int32_t* action) = 0;
    // A link annotation on the current page.
    virtual HRESULT AddLink(double left, double top, double right, double bottom, std::int32_t action) = 0;
    virtual HRESULT AddUrlLink(double left, double top, double right, double bottom, BSTR url) = 0;
    virtual HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest) = 0;
    virtual HRESULT AddDestinationLink(double left, double top, double right, double bottom,
                                       std::int32_t dest) = 0;

    // ---- Outlines (ids are >= 0; -1 stands for none)
    // Title bytes that are not UTF-8 are decoded with the character set.
    virtual HRESULT AddOutlineSibling(BSTR title, std::int32_t action, std::int32_t charset,
                                      std::int32_t* outline) = 0;  // next sibling of the current one
    virtual HRESULT AddOutlineChild(BSTR title, std::int32_t action, std::int32_t charset,
                                    std::int32_t* outline) = 0;  // first child of the current one
    virtual HRESULT put_CurrentOutline(std::int32_t outline) = 0;
    virtual HRESULT get_CurrentOutlineParent(std::int32_t* outline) = 0;
    virtual HRESULT put_OutlineOpen(VARIANT_BOOL open) = 0;  // of the current outline

protected:
    ~IPdfDocument() = default;
};

// The older interface: pages, metafiles and links only, with 1-based pages.
class IPdfDocumentCompat : public com::IUnknown {
public:
    virtual HRESULT get_Resolution(std::int32_t* dpi) = 0;
    virtual HRESULT get_PageWidth(double* w) = 0;
    virtual HRESULT put_PageWidth(double w) = 0;
    virtual HRESULT get_PageHeight(double* h) = 0;
    virtual HRESULT put_PageHeight(double h) = 0;
    virtual HRESULT get_PageCount(std::int32_t* n) = 0;
    virtual HRESULT get_CurrentPage(std::int32_t* page) = 0;  // 1-based
    virtual HRESULT put_CurrentPage(std::int32_t page) = 0;
    virtual HRESULT NewPage() = 0;
    virtual HRESULT get_PageRotation(std::int32_t* degrees) = 0;
    virtual HRESULT put_PageRotation(std::int32_t degrees) = 0;
    virtual HRESULT DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                            double scaleY) = 0;
    virtual HRESULT DrawEmfFile(BSTR path, double x, double y, double scaleX, double scaleY) = 0;
    virtual HRESULT AddUrlLink(double left, double top, double right, double bottom, BSTR url) = 0;
    virtual HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest) = 0;  // 1-based page
    virtual HRESULT AddDestinationLink(double left, double top, double right, double bottom,
                                       std::int32_t dest) = 0;

protected:
    ~IPdfDocumentCompat() = default;
};

constexpr char kProgId[] = "Corvanth3.PDFDocument3";
constexpr com::CLSID CLSID_PdfDocument{0x5E0C2A71, 0x8B3D, 0x4F19, {0x9A, 0x42, 0x6D, 0x1B, 0x77, 0xC0, 0x3E, 0x15}};
constexpr com::IID IID_IPdfDocument{0x5E0C2A72, 0x8B3D, 0x4F19, {0x9A, 0x42, 0x6D, 0x1B, 0x77, 0xC0, 0x3E, 0x15}};
constexpr com::IID IID_IPdfDocumentCompat{
    0x5E0C2A73, 0x8B3D, 0x4F19, {0x9A, 0x42, 0x6D, 0x1B, 0x77, 0xC0, 0x3E, 0x15}};

}  // namespace corvanth

namespace com {
template <>
inline constexpr IID iid_of<corvanth::IPdfDocument> = corvanth::IID_IPdfDocument;
template <>
inline constexpr IID iid_of<corvanth::IPdfDocumentCompat> = corvanth::IID_IPdfDocumentCompat;
}  // namespace com
