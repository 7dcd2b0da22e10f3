// The HTML rendering add-on: its two automation interfaces, classes and
// identifiers. A client creates "TessalineAddOn.Tessaline2" through the
// component runtime, hands it a PDF document with ConnectToPDFLibrary, loads
// HTML and converts pages onto the document's current page.
//
// Conventions (both interfaces):
// - Every member returns an HRESULT. Getters return E_INVALIDARG for a null
//   out-pointer, S_OK otherwise.
// - Booleans are VARIANT_BOOL: any non-zero value counts as true; getters give
//   VARIANT_TRUE (-1) or VARIANT_FALSE (0).
// - Strings cross as BSTR (see com.h); the add-on works on UTF-8 inside.
// - long is std::int32_t; the GetLink* members take plain int.
// - Both interfaces are dual: the same members are reachable through IDispatch
//   by name, with the dispatch identifiers in the Dispid enums below.
// - Margins and link rectangles are in the PDF document's page units.
// - Pages are numbered from 0 across every page image loaded so far.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace tessaline {

using com::BSTR;
using com::HRESULT;
using com::VARIANT_BOOL;

// The current interface; this is what the desktop converter uses.
class ITessaline2 : public com::IDispatch {
public:
    // Writes the three start lines of the log; both arguments are ignored.
    virtual HRESULT StartHTMLEngine(BSTR a, BSTR b) = 0;
    // Disconnects, then keeps one reference to the document. S_FALSE when the
    // object offers no PDF document interface (the add-on stays disconnected);
    // a null object only disconnects.
    virtual HRESULT ConnectToPDFLibrary(com::IUnknown* pPDFLibObject) = 0;
    virtual HRESULT DisconnectFromPDFLibrary() = 0;
    // Loads: each successful one appends one page image. A failed load is not
    // an error code; it leaves TotalPageCount unchanged.
    virtual HRESULT LoadTextString(BSTR sText) = 0;  // loaded as HTML
    virtual HRESULT LoadHTMLString(BSTR sHTML, BSTR sBaseURL) = 0;
    virtual HRESULT LoadTextFile(BSTR sFileName) = 0;
    virtual HRESULT LoadHTMLFile(BSTR sFileName) = 0;
    virtual HRESULT LoadHTMLFile2(BSTR sFileName, BSTR sBaseURL) = 0;
    virtual HRESULT LoadURL(BSTR sURL) = 0;
    virtual HRESULT get_TotalPageCount(std::int32_t* lPageCount) = 0;
    // Draws page lPage onto the document's current page (adds no page).
    // E_INVALIDARG out of range, E_FAIL when the drawing fails.
    virtual HRESULT ConvertPage(std::int32_t lPage) = 0;
    // Draws every page, adding pages as needed, then unloads everything.
    virtual HRESULT ConvertAll() = 0;
    virtual HRESULT get_AutoAdjustPageWidth(VARIANT_BOOL* v) = 0;  // default false
    virtual HRESULT put_AutoAdjustPageWidth(VARIANT_BOOL v) = 0;
    virtual HRESULT get_AutoAdjustContentWidth(VARIANT_BOOL* v) = 0;  // default false
    virtual HRESULT put_AutoAdjustContentWidth(VARIANT_BOOL v) = 0;
    // Margins default to 0; a negative value gives E_INVALIDARG and is not stored.
    virtual HRESULT get_MarginLeft(std::int32_t* v) = 0;
    virtual HRESULT put_MarginLeft(std::int32_t v) = 0;
    virtual HRESULT get_MarginRight(std::int32_t* v) = 0;
    virtual HRESULT put_MarginRight(std::int32_t v) = 0;
    virtual HRESULT get_MarginTop(std::int32_t* v) = 0;
    virtual HRESULT put_MarginTop(std::int32_t v) = 0;
    virtual HRESULT get_MarginBottom(std::int32_t* v) = 0;
    virtual HRESULT put_MarginBottom(std::int32_t v) = 0;
    // Stored and returned only; loads use the base URL given to them.
    virtual HRESULT get_BaseURL(BSTR* v) = 0;
    virtual HRESULT put_BaseURL(BSTR v) = 0;
    virtual HRESULT get_PreserveLinks(VARIANT_BOOL* v) = 0;  // default true
    virtual HRESULT put_PreserveLinks(VARIANT_BOOL v) = 0;
    virtual HRESULT get_PageTimeout(std::int32_t* ms) = 0;  // default 80000
    virtual HRESULT put_PageTimeout(std::int32_t ms) = 0;
    // Adds a page that keeps the current page's rotation, width and height.
    // E_NOINTERFACE when no document is connected.
    virtual HRESULT SafeNewPage() = 0;
    virtual HRESULT get_MinimalWidth(std::int32_t* px) = 0;  // default 800
    virtual HRESULT put_MinimalWidth(std::int32_t px) = 0;
    // Opens (truncates) the log file; S_OK when a log file is open afterwards.
    virtual HRESULT SetLogFile(BSTR sLogFileName) = 0;
    // Links of a page: count is 0 for a page out of range; the others give
    // E_INVALIDARG out of range. Rectangles include the margins.
    virtual HRESULT GetLinkCount(int iPage, int* nCount) = 0;
    virtual HRESULT GetLinkName(int iPage, int iLink, BSTR* sName) = 0;
    virtual HRESULT GetLinkText(int iPage, int iLink, BSTR* sText) = 0;
    virtual HRESULT GetLinkTop(int iPage, int iLink, int* val) = 0;
    virtual HRESULT GetLinkLeft(int iPage, int iLink, int* val) = 0;
    virtual HRESULT GetLinkBottom(int iPage, int iLink, int* val) = 0;
    virtual HRESULT GetLinkRight(int iPage, int iLink, int* val) = 0;
    virtual HRESULT UnloadAll() = 0;
    virtual HRESULT CreateDebugImages(BSTR sPathToDebugImages) = 0;
    virtual HRESULT SetDEPCompatibility(VARIANT_BOOL useDEPCompatibleMode) = 0;

protected:
    ~ITessaline2() = default;
};

// The older interface: the same object seen through older names. Members
// documented as having no effect keep no state; their getters leave the
// caller's variable as it was.
class ITessaline : public com::IDispatch {
public:
    virtual HRESULT StartHTMLEngine(BSTR a, BSTR b) = 0;
    virtual HRESULT ConnectToPDFLibrary(com::IUnknown* PDFLibObject) = 0;
    virtual HRESULT LoadFromFile(BSTR FileName) = 0;  // = LoadHTMLFile
    virtual HRESULT DisconnectFromPDFLibrary() = 0;
    virtual HRESULT ConvertAll() = 0;
    virtual HRESULT get_Success(VARIANT_BOOL* Value) = 0;  // no effect
    virtual HRESULT ConvertPage(std::int32_t PageIndex) = 0;
    virtual HRESULT get_PageIndex(std::int32_t* Value) = 0;  // no effect
    virtual HRESULT put_PageIndex(std::int32_t Value) = 0;   // no effect
    virtual HRESULT get_PageCount(std::int32_t* Value) = 0;  // = TotalPageCount
    virtual HRESULT get_AutoAdjustPDFWidthToHTML(VARIANT_BOOL* Value) = 0;  // = AutoAdjustPageWidth
    virtual HRESULT put_AutoAdjustPDFWidthToHTML(VARIANT_BOOL Value) = 0;
    virtual HRESULT LoadTextFromFile(BSTR FileName) = 0;  // = LoadFromFile
    virtual HRESULT LoadFromString(BSTR HTMLCode, BSTR Reference) = 0;  // = LoadHTMLString
    virtual HRESULT LoadTextString(BSTR Text) = 0;  // = LoadFromString(Text, empty)
    virtual HRESULT get_MarginLeft(std::int32_t* Value) = 0;
    virtual HRESULT put_MarginLeft(std::int32_t Value) = 0;
    virtual HRESULT get_MarginRight(std::int32_t* Value) = 0;
    virtual HRESULT put_MarginRight(std::int32_t Value) = 0;
    virtual HRESULT get_MarginTop(std::int32_t* Value) = 0;
    virtual HRESULT put_MarginTop(std::int32_t Value) = 0;
    virtual HRESULT get_MarginBottom(std::int32_t* Value) = 0;
    virtual HRESULT put_MarginBottom(std::int32_t Value) = 0;
    virtual HRESULT get_ServerRoot(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_ServerRoot(BSTR Value) = 0;   // no effect
    virtual HRESULT get_BaseURL(BSTR* Value) = 0;
    virtual HRESULT put_BaseURL(BSTR Value) = 0;
    virtual HRESULT get_DocumentTitle(BSTR* Value) = 0;  // no effect
    virtual HRESULT get_BaseTarget(BSTR* Value) = 0;     // no effect
    virtual HRESULT get_Dither(VARIANT_BOOL* Value) = 0;  // no effect
    virtual HRESULT put_Dither(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_ViewImages(VARIANT_BOOL* Value) = 0;  // no effect
    virtual HRESULT put_ViewImages(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_ActivePDFLinks(VARIANT_BOOL* Value) = 0;  // = PreserveLinks
    virtual HRESULT put_ActivePDFLinks(VARIANT_BOOL Value) = 0;
    virtual HRESULT LoadFromURL(BSTR URL) = 0;  // = LoadURL
    virtual HRESULT get_CacheEnabled(VARIANT_BOOL* Value) = 0;  // no effect
    virtual HRESULT put_CacheEnabled(VARIANT_BOOL Value) = 0;
    virtual HRESULT get_CacheDirectory(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_CacheDirectory(BSTR Value) = 0;
    virtual HRESULT ClearCache() = 0;  // no effect
    virtual HRESULT LoadFromFile2(BSTR FileName, BSTR BaseURL) = 0;  // = LoadHTMLFile2
    virtual HRESULT get_ProxyHost(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_ProxyHost(BSTR Value) = 0;
    virtual HRESULT get_ProxyPort(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_ProxyPort(BSTR Value) = 0;
    virtual HRESULT get_PageTimeout(std::int32_t* Value) = 0;
    virtual HRESULT put_PageTimeout(std::int32_t Value) = 0;
    virtual HRESULT get_ProxyUserName(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_ProxyUserName(BSTR Value) = 0;
    virtual HRESULT get_ProxyPassword(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_ProxyPassword(BSTR Value) = 0;
    virtual HRESULT get_AuthorizationUsername(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_AuthorizationUsername(BSTR Value) = 0;
    virtual HRESULT get_AuthorizationPassword(BSTR* Value) = 0;  // no effect
    virtual HRESULT put_AuthorizationPassword(BSTR Value) = 0;
    virtual HRESULT get_UseBasicAuthorization(VARIANT_BOOL* Value) = 0;  // no effect
    virtual HRESULT put_UseBasicAuthorization(VARIANT_BOOL Value) = 0;
    virtual HRESULT SafeNewPage() = 0;

protected:
    ~ITessaline() = default;
};

// Dispatch identifiers of ITessaline2 (a property's get and put share one).
enum Tessaline2Dispid : com::DISPID {
    DISPID_T2_StartHTMLEngine = 1,
    DISPID_T2_ConnectToPDFLibrary = 2,
    DISPID_T2_DisconnectFromPDFLibrary = 3,
    DISPID_T2_LoadTextString = 4,
    DISPID_T2_LoadHTMLString = 5,
    DISPID_T2_LoadTextFile = 6,
    DISPID_T2_LoadHTMLFile = 7,
    DISPID_T2_LoadHTMLFile2 = 8,
    DISPID_T2_LoadURL = 9,
    DISPID_T2_TotalPageCount = 10,
    DISPID_T2_ConvertPage = 11,
    DISPID_T2_ConvertAll = 12,
    DISPID_T2_AutoAdjustPageWidth = 13,
    DISPID_T2_AutoAdjustContentWidth = 14,
    DISPID_T2_MarginLeft = 15,
    DISPID_T2_MarginRight = 16,
    DISPID_T2_MarginTop = 17,
    DISPID_T2_MarginBottom = 18,
    DISPID_T2_BaseURL = 19,
    DISPID_T2_PreserveLinks = 20,
    DISPID_T2_PageTimeout = 21,
    DISPID_T2_SafeNewPage = 22,
    DISPID_T2_MinimalWidth = 23,
    DISPID_T2_SetLogFile = 24,
    DISPID_T2_GetLinkCount = 25,
    DISPID_T2_GetLinkName = 26,
    DISPID_T2_GetLinkText = 27,
    DISPID_T2_GetLinkTop = 28,
    DISPID_T2_GetLinkLeft = 29,
    DISPID_T2_GetLinkBottom = 30,
    DISPID_T2_GetLinkRight = 31,
    DISPID_T2_UnloadAll = 32,
    DISPID_T2_CreateDebugImages = 33,
    DISPID_T2_SetDEPCompatibility = 34,
};

// Dispatch identifiers of ITessaline.
enum TessalineDispid : com::DISPID {
    DISPID_T1_StartHTMLEngine = 1,
    DISPID_T1_ConnectToPDFLibrary = 2,
    DISPID_T1_LoadFromFile = 3,
    DISPID_T1_DisconnectFromPDFLibrary = 4,
    DISPID_T1_ConvertAll = 5,
    DISPID_T1_Success = 6,
    DISPID_T1_ConvertPage = 7,
    DISPID_T1_PageIndex = 8,
    DISPID_T1_PageCount = 9,
    DISPID_T1_AutoAdjustPDFWidthToHTML = 10,
    DISPID_T1_LoadTextFromFile = 11,
    DISPID_T1_LoadFromString = 12,
    DISPID_T1_LoadTextString = 13,
    DISPID_T1_MarginLeft = 14,
    DISPID_T1_MarginRight = 15,
    DISPID_T1_MarginTop = 16,
    DISPID_T1_MarginBottom = 17,
    DISPID_T1_ServerRoot = 18,
    DISPID_T1_BaseURL = 19,
    DISPID_T1_DocumentTitle = 20,
    DISPID_T1_BaseTarget = 21,
    DISPID_T1_Dither = 22,
    DISPID_T1_ViewImages = 23,
    DISPID_T1_ActivePDFLinks = 24,
    DISPID_T1_LoadFromURL = 25,
    DISPID_T1_CacheEnabled = 26,
    DISPID_T1_CacheDirectory = 27,
    DISPID_T1_ClearCache = 28,
    DISPID_T1_LoadFromFile2 = 29,
    DISPID_T1_ProxyHost = 30,
    DISPID_T1_ProxyPort = 31,
    DISPID_T1_PageTimeout = 32,
    DISPID_T1_ProxyUserName = 33,
    DISPID_T1_ProxyPassword = 34,
    DISPID_T1_AuthorizationUsername = 35,
    DISPID_T1_AuthorizationPassword = 36,
    DISPID_T1_UseBasicAuthorization = 37,
    DISPID_T1_SafeNewPage = 201,
};

// An optional interface of both classes, for a client that knows which files
// it will load next (the topics of a compiled help file): AnnounceHTMLFile
// names a file that LoadHTMLFile will soon be asked for, with the settings as
// they stand then, and the add-on may lay it out meanwhile. An announcement
// changes nothing that a load returns, logs or counts; a file announced and
// never loaded costs only the work done on it. S_OK (E_INVALIDARG for a null
// name).
class ITessalineLookahead : public com::IUnknown {
public:
    virtual HRESULT AnnounceHTMLFile(BSTR sFileName) = 0;
};

// What a client that runs windows on its loading thread offers as the
// add-on's site (IObjectWithSite::SetSite): while a load waits for its
// document, the add-on calls KeepWaiting at least every 50 ms from the
// loading thread, so the client can process its window messages there.
// S_OK: go on waiting; S_FALSE: abandon the load, which then fails as a load
// that could not be completed (nothing drawn, TotalPageCount unchanged). The
// add-on holds one reference to the site until SetSite(nullptr) or its end.
class ITessalineWaitSite : public com::IUnknown {
public:
    virtual HRESULT KeepWaiting() = 0;
};

// ---- Identifiers ----------------------------------------------------------

constexpr com::IID IID_ITessaline2{0x6F65D59F, 0xA69A, 0x444C, {0x9F, 0x41, 0xD5, 0xA7, 0x99, 0x12, 0x11, 0x30}};
constexpr com::IID IID_ITessaline{0xD37122E3, 0xD04A, 0x47F9, {0xBB, 0x84, 0x9C, 0x11, 0xE6, 0xC7, 0xCC, 0xB4}};
constexpr com::IID IID_ITessalineLookahead{0x3C1A7E52, 0x8B0D, 0x4F6A, {0xA4, 0x19, 0x5E, 0x2D, 0x70, 0xC3, 0x9B, 0x61}};
// Class CTessaline ("Tessaline Class"): ITessaline, IObjectWithSite.
constexpr com::CLSID CLSID_Tessaline{0x6EBE927F, 0x6E40, 0x48CA, {0x8E, 0xA3, 0xBB, 0x86, 0xDD, 0x0B, 0x0F, 0x3D}};
// Class CTessaline2 ("Tessaline2 Class"): ITessaline2, IObjectWithSite.
constexpr com::CLSID CLSID_Tessaline2{0xABDDF5AF, 0xD211, 0x40B3, {0x88, 0xBD, 0x2D, 0x64, 0x30, 0x2A, 0x49, 0x58}};
// Type library "TessalineAddOn" 1.0.
constexpr com::GUID LIBID_TessalineAddOn{0x0D3D5269, 0x2210, 0x4048, {0x9A, 0x7A, 0x0F, 0x83, 0x1E, 0x3B, 0x4E, 0x28}};
constexpr com::GUID APPID_TessalineAddOn{0x6AB18FC0, 0xBD35, 0x49C3, {0xB5, 0xFE, 0xCB, 0x23, 0x16, 0xC7, 0xE4, 0x2E}};

// ProgIDs (the registry compares them without regard to case).
constexpr char kProgIdTessaline[] = "TessalineAddOn.Tessaline";
constexpr char kProgIdTessalineVersioned[] = "TessalineAddOn.Tessaline.1";
constexpr char kProgIdTessaline2[] = "TessalineAddOn.Tessaline2";
constexpr com::IID IID_ITessalineWaitSite{0x9A41C3D8, 0x5E27, 0x4B0F, {0x8C, 0x63, 0x1D, 0xF4, 0x0B, 0x7A, 0x25, 0xE9}};
constexpr char kProgIdTessaline2Versioned[] = "TessalineAddOn.Tessaline2.1";

}  // namespace tessaline

namespace com {
template <>
inline constexpr IID iid_of<tessaline::ITessaline2> = tessaline::IID_ITessaline2;
template <>
inline constexpr IID iid_of<tessaline::ITessaline> = tessaline::IID_ITessaline;
template <>
inline constexpr IID iid_of<tessaline::ITessalineLookahead> = tessaline::IID_ITessalineLookahead;
template <>
inline constexpr IID iid_of<tessaline::ITessalineWaitSite> = tessaline::IID_ITessalineWaitSite;
}  // namespace com
