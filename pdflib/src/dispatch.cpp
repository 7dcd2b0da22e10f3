// IPdfDocument by name: the member table of the platform's dispatch layer.
// DISPIDs follow the order of the interface, from 1.
#include "pdf_document.h"
#include "platform/com_members.h"

namespace corvanth {

namespace {

enum MemberId : com::DISPID {
    kFileName = 1, kViewAfterEnd, kBeginDoc, kEndDoc, kResolution, kPageWidth, kPageHeight, kPaperWidth,
    kPaperHeight, kPageCount, kCurrentPage, kNewPage, kPageRotation, kCompression, kJpegQuality, kPdfVersion,
    kPageLayout, kPageMode, kFontEmbedding, kAuthor, kSubject, kTitle, kKeywords, kCreationDate, kOrientation,
    kPaperSize, kEncrypt, kUserPassword, kOwnerPassword, kKeyLength, kAllowCopy, kAllowModify, kAllowPrint,
    kHideToolBar, kHideMenuBar, kHideWindowUI, kFitWindow, kCenterWindow, kTextOut, kSetFont, kGetTextWidth,
    kSetColor, kDrawEmfFile, kLoadPicture, kPictureCount, kGetPictureWidth, kGetPictureHeight,
    kGetPictureResolution, kDrawPicture, kInvertPicture, kCreateGoToAction, kCreateUriAction, kCreateScriptAction,
    kAddLink, kAddUrlLink, kAddDestination, kAddDestinationLink, kAddOutlineSibling, kAddOutlineChild,
    kCurrentOutline, kCurrentOutlineParent, kOutlineOpen,
};

using com::members::Kind;
using com::members::Member;
using com::members::ThunkFor;
using I = IPdfDocument;
constexpr Kind M = Kind::Method;
constexpr Kind G = Kind::Get;
constexpr Kind P = Kind::Put;

// A property without a getter (or setter) answers DISP_E_MEMBERNOTFOUND to
// the missing direction; arguments that do not convert fail the call before
// the member runs.
const Member kMembers[] = {
    {"FileName", kFileName, G, "", ThunkFor<&I::get_FileName>},
    {"FileName", kFileName, P, "", ThunkFor<&I::put_FileName>},
    {"ViewAfterEnd", kViewAfterEnd, G, "", ThunkFor<&I::get_ViewAfterEnd>},
    {"ViewAfterEnd", kViewAfterEnd, P, "", ThunkFor<&I::put_ViewAfterEnd>},
    {"BeginDoc", kBeginDoc, M, "", ThunkFor<&I::BeginDoc>},
    {"EndDoc", kEndDoc, M, "", ThunkFor<&I::EndDoc>},
    {"Resolution", kResolution, G, "", ThunkFor<&I::get_Resolution>},
    {"Resolution", kResolution, P, "", ThunkFor<&I::put_Resolution>},
    {"PageWidth", kPageWidth, G, "", ThunkFor<&I::get_PageWidth>},
    {"PageWidth", kPageWidth, P, "", ThunkFor<&I::put_PageWidth>},
    {"PageHeight", kPageHeight, G, "", ThunkFor<&I::get_PageHeight>},
    {"PageHeight", kPageHeight, P, "", ThunkFor<&I::put_PageHeight>},
    {"PaperWidth", kPaperWidth, G, "", ThunkFor<&I::get_PaperWidth>},
    {"PaperHeight", kPaperHeight, G, "", ThunkFor<&I::get_PaperHeight>},
    {"PageCount", kPageCount, G, "", ThunkFor<&I::get_PageCount>},
    {"CurrentPage", kCurrentPage, G, "", ThunkFor<&I::get_CurrentPage>},
    {"CurrentPage", kCurrentPage, P, "", ThunkFor<&I::put_CurrentPage>},
    {"NewPage", kNewPage, M, "", ThunkFor<&I::NewPage>},
    {"PageRotation", kPageRotation, G, "", ThunkFor<&I::get_PageRotation>},
    {"PageRotation", kPageRotation, P, "", ThunkFor<&I::put_PageRotation>},
    {"Compression", kCompression, G, "", ThunkFor<&I::get_Compression>},
    {"Compression", kCompression, P, "", ThunkFor<&I::put_Compression>},
    {"JpegQuality", kJpegQuality, G, "", ThunkFor<&I::get_JpegQuality>},
    {"JpegQuality", kJpegQuality, P, "", ThunkFor<&I::put_JpegQuality>},
    {"PdfVersion", kPdfVersion, G, "", ThunkFor<&I::get_PdfVersion>},
    {"PdfVersion", kPdfVersion, P, "", ThunkFor<&I::put_PdfVersion>},
    {"PageLayout", kPageLayout, G, "", ThunkFor<&I::get_PageLayout>},
    {"PageLayout", kPageLayout, P, "", ThunkFor<&I::put_PageLayout>},
    {"PageMode", kPageMode, G, "", ThunkFor<&I::get_PageMode>},
    {"PageMode", kPageMode, P, "", ThunkFor<&I::put_PageMode>},
    {"FontEmbedding", kFontEmbedding, G, "", ThunkFor<&I::get_FontEmbedding>},
    {"FontEmbedding", kFontEmbedding, P, "", ThunkFor<&I::put_FontEmbedding>},
    {"Author", kAuthor, G, "", ThunkFor<&I::get_Author>},
    {"Author", kAuthor, P, "", ThunkFor<&I::put_Author>},
    {"Subject", kSubject, G, "", ThunkFor<&I::get_Subject>},
    {"Subject", kSubject, P, "", ThunkFor<&I::put_Subject>},
    {"Title", kTitle, G, "", ThunkFor<&I::get_Title>},
    {"Title", kTitle, P, "", ThunkFor<&I::put_Title>},
    {"Keywords", kKeywords, G, "", ThunkFor<&I::get_Keywords>},
    {"Keywords", kKeywords, P, "", ThunkFor<&I::put_Keywords>},
    {"CreationDate", kCreationDate, G, "", ThunkFor<&I::get_CreationDate>},
    {"CreationDate", kCreationDate, P, "", ThunkFor<&I::put_CreationDate>},
    {"Orientation", kOrientation, G, "", ThunkFor<&I::get_Orientation>},
    {"Orientation", kOrientation, P, "", ThunkFor<&I::put_Orientation>},
    {"PaperSize", kPaperSize, G, "", ThunkFor<&I::get_PaperSize>},
    {"PaperSize", kPaperSize, P, "", ThunkFor<&I::put_PaperSize>},
    {"Encrypt", kEncrypt, P, "", ThunkFor<&I::put_Encrypt>},
    {"UserPassword", kUserPassword, P, "", ThunkFor<&I::put_UserPassword>},
    {"OwnerPassword", kOwnerPassword, P, "", ThunkFor<&I::put_OwnerPassword>},
    {"KeyLength", kKeyLength, P, "", ThunkFor<&I::put_KeyLength>},
    {"AllowCopy", kAllowCopy, P, "", ThunkFor<&I::put_AllowCopy>},
    {"AllowModify", kAllowModify, P, "", ThunkFor<&I::put_AllowModify>},
    {"AllowPrint", kAllowPrint, P, "", ThunkFor<&I::put_AllowPrint>},
    {"HideToolBar", kHideToolBar, P, "", ThunkFor<&I::put_HideToolBar>},
    {"HideMenuBar", kHideMenuBar, P, "", ThunkFor<&I::put_HideMenuBar>},
    {"HideWindowUI", kHideWindowUI, P, "", ThunkFor<&I::put_HideWindowUI>},
    {"FitWindow", kFitWindow, P, "", ThunkFor<&I::put_FitWindow>},
    {"CenterWindow", kCenterWindow, P, "", ThunkFor<&I::put_CenterWindow>},
    {"TextOut", kTextOut, M, "", ThunkFor<&I::TextOut>},
    {"SetFont", kSetFont, M, "", ThunkFor<&I::SetFont>},
    {"GetTextWidth", kGetTextWidth, M, "", ThunkFor<&I::GetTextWidth>},
    {"SetColor", kSetColor, M, "", ThunkFor<&I::SetColor>},
    {"DrawEmfFile", kDrawEmfFile, M, "", ThunkFor<&I::DrawEmfFile>},
    {"LoadPicture", kLoadPicture, M, "", ThunkFor<&I::LoadPicture>},
    {"PictureCount", kPictureCount, G, "", ThunkFor<&I::get_PictureCount>},
    {"GetPictureWidth", kGetPictureWidth, M, "", ThunkFor<&I::GetPictureWidth>},
    {"GetPictureHeight", kGetPictureHeight, M, "", ThunkFor<&I::GetPictureHeight>},
    {"GetPictureResolution", kGetPictureResolution, M, "", ThunkFor<&I::GetPictureResolution>},
    {"DrawPicture", kDrawPicture, M, "", ThunkFor<&I::DrawPicture>},
    {"InvertPicture", kInvertPicture, M, "", ThunkFor<&I::InvertPicture>},
    {"CreateGoToAction", kCreateGoToAction, M, "", ThunkFor<&I::CreateGoToAction>},
    {"CreateUriAction", kCreateUriAction, M, "", ThunkFor<&I::CreateUriAction>},
    {"CreateScriptAction", kCreateScriptAction, M, "", ThunkFor<&I::CreateScriptAction>},
    {"AddLink", kAddLink, M, "", ThunkFor<&I::AddLink>},
    {"AddUrlLink", kAddUrlLink, M, "", ThunkFor<&I::AddUrlLink>},
    {"AddDestination", kAddDestination, M, "", ThunkFor<&I::AddDestination>},
    {"AddDestinationLink", kAddDestinationLink, M, "", ThunkFor<&I::AddDestinationLink>},
    {"AddOutlineSibling", kAddOutlineSibling, M, "", ThunkFor<&I::AddOutlineSibling>},
    {"AddOutlineChild", kAddOutlineChild, M, "", ThunkFor<&I::AddOutlineChild>},
    {"CurrentOutline", kCurrentOutline, P, "", ThunkFor<&I::put_CurrentOutline>},
    {"CurrentOutlineParent", kCurrentOutlineParent, G, "", ThunkFor<&I::get_CurrentOutlineParent>},
    {"OutlineOpen", kOutlineOpen, P, "", ThunkFor<&I::put_OutlineOpen>},
};

}  // namespace

const com::DispatchTable& CPdfDocument::Table() const {
    static const com::DispatchTable table = com::members::MakeTable(kMembers);
    return table;
}

HRESULT CPdfDocument::InvokeMember(com::DISPID id, std::uint16_t flags, const com::DispArgs& args,
                                   com::VARIANT* result) {
    // Failures of the document itself reach the caller with their description.
    const HRESULT hr = com::members::InvokeMember(kMembers, static_cast<IPdfDocument*>(this), id, flags, args,
                                                  result, &lastError_);
    // The creation date is a date to script hosts, not a number.
    if (id == kCreationDate && !(flags & com::DISPATCH_PROPERTYPUT) && com::SUCCEEDED(hr) && result)
        result->vt = com::VT_DATE;
    return hr;
}

}  // namespace corvanth
