// IPdfDocument by name: the member table and the one invoke callback.
// DISPIDs follow the order of the interface, from 1.
#include "pdf_document.h"

namespace corvanth {

namespace {

enum Member : com::DISPID {
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

const com::DispatchTable& MemberTable() {
    static const com::DispatchTable table({
        {"FileName", kFileName}, {"ViewAfterEnd", kViewAfterEnd}, {"BeginDoc", kBeginDoc}, {"EndDoc", kEndDoc},
        {"Resolution", kResolution}, {"PageWidth", kPageWidth}, {"PageHeight", kPageHeight},
        {"PaperWidth", kPaperWidth}, {"PaperHeight", kPaperHeight}, {"PageCount", kPageCount},
        {"CurrentPage", kCurrentPage}, {"NewPage", kNewPage}, {"PageRotation", kPageRotation},
        {"Compression", kCompression}, {"JpegQuality", kJpegQuality}, {"PdfVersion", kPdfVersion},
        {"PageLayout", kPageLayout}, {"PageMode", kPageMode}, {"FontEmbedding", kFontEmbedding},
        {"Author", kAuthor}, {"Subject", kSubject}, {"Title", kTitle}, {"Keywords", kKeywords},
        {"CreationDate", kCreationDate}, {"Orientation", kOrientation}, {"PaperSize", kPaperSize},
        {"Encrypt", kEncrypt}, {"UserPassword", kUserPassword}, {"OwnerPassword", kOwnerPassword},
        {"KeyLength", kKeyLength}, {"AllowCopy", kAllowCopy}, {"AllowModify", kAllowModify},
        {"AllowPrint", kAllowPrint}, {"HideToolBar", kHideToolBar}, {"HideMenuBar", kHideMenuBar},
        {"HideWindowUI", kHideWindowUI}, {"FitWindow", kFitWindow}, {"CenterWindow", kCenterWindow},
        {"TextOut", kTextOut}, {"SetFont", kSetFont}, {"GetTextWidth", kGetTextWidth}, {"SetColor", kSetColor},
        {"DrawEmfFile", kDrawEmfFile}, {"LoadPicture", kLoadPicture}, {"PictureCount", kPictureCount},
        {"GetPictureWidth", kGetPictureWidth}, {"GetPictureHeight", kGetPictureHeight},
        {"GetPictureResolution", kGetPictureResolution}, {"DrawPicture", kDrawPicture},
        {"InvertPicture", kInvertPicture}, {"CreateGoToAction", kCreateGoToAction},
        {"CreateUriAction", kCreateUriAction}, {"CreateScriptAction", kCreateScriptAction}, {"AddLink", kAddLink},
        {"AddUrlLink", kAddUrlLink}, {"AddDestination", kAddDestination},
        {"AddDestinationLink", kAddDestinationLink}, {"AddOutlineSibling", kAddOutlineSibling},
        {"AddOutlineChild", kAddOutlineChild}, {"CurrentOutline", kCurrentOutline},
        {"CurrentOutlineParent", kCurrentOutlineParent}, {"OutlineOpen", kOutlineOpen},
    });
    return table;
}

// Reads arguments in order, stopping at the first failure.
struct Reader {
    const com::DispArgs& a;
    HRESULT hr = com::S_OK;
    std::uint32_t next = 0;
    std::int32_t I() {
        std::int32_t v = 0;
        if (com::SUCCEEDED(hr)) hr = a.Int(next++, &v);
        return v;
    }
    double D() {
        double v = 0;
        if (com::SUCCEEDED(hr)) hr = a.Double(next++, &v);
        return v;
    }
    VARIANT_BOOL B() {
        bool v = false;
        if (com::SUCCEEDED(hr)) hr = a.Bool(next++, &v);
        return v ? com::VARIANT_TRUE : com::VARIANT_FALSE;
    }
    com::Bstr S() {
        std::string v;
        if (com::SUCCEEDED(hr)) hr = a.String(next++, &v);
        return com::Bstr(v);
    }
};

}  // namespace

const com::DispatchTable& CPdfDocument::Table() const { return MemberTable(); }

HRESULT CPdfDocument::InvokeMember(com::DISPID id, std::uint16_t flags, const com::DispArgs& args,
                                   com::VARIANT* result) {
    const bool put = (flags & (com::DISPATCH_PROPERTYPUT)) != 0;
    Reader r{args};
    HRESULT hr = com::S_OK;

    // Property helpers: get with no argument, put with one.
    auto intProp = [&](HRESULT (CPdfDocument::*get)(std::int32_t*), HRESULT (CPdfDocument::*set)(std::int32_t)) {
        if (put) {
            if (!set) return com::DISP_E_MEMBERNOTFOUND;
            if (HRESULT e = args.Expect(1); com::FAILED(e)) return e;
            std::int32_t v = r.I();
            return com::FAILED(r.hr) ? r.hr : (this->*set)(v);
        }
        if (!get) return com::DISP_E_MEMBERNOTFOUND;
        if (HRESULT e = args.Expect(0); com::FAILED(e)) return e;
        std::int32_t v = 0;
        HRESULT h = (this->*get)(&v);
        if (com::SUCCEEDED(h)) com::SetResult(result, v);
        return h;
    };
    auto dblProp = [&](HRESULT (CPdfDocument::*get)(double*), HRESULT (CPdfDocument::*set)(double)) {
        if (put) {
            if (!set) return com::DISP_E_MEMBERNOTFOUND;
            if (HRESULT e = args.Expect(1); com::FAILED(e)) return e;
            double v = r.D();
            return com::FAILED(r.hr) ? r.hr : (this->*set)(v);
        }
        if (!get) return com::DISP_E_MEMBERNOTFOUND;
        if (HRESULT e = args.Expect(0); com::FAILED(e)) return e;
        double v = 0;
        HRESULT h = (this->*get)(&v);
        if (com::SUCCEEDED(h)) com::SetResult(result, v);
        return h;
    };
    auto strProp = [&](HRESULT (CPdfDocument::*get)(BSTR*), HRESULT (CPdfDocument::*set)(BSTR)) {
        if (put) {
            if (!set) return com::DISP_E_MEMBERNOTFOUND;
            if (HRESULT e = args.Expect(1); com::FAILED(e)) return e;
            com::Bstr v = r.S();
            return com::FAILED(r.hr) ? r.hr : (this->*set)(v.Get());
        }
        if (!get) return com::DISP_E_MEMBERNOTFOUND;
        if (HRESULT e = args.Expect(0); com::FAILED(e)) return e;
        com::Bstr v;
        HRESULT h = (this->*get)(v.Out());
        if (com::SUCCEEDED(h)) com::SetResult(result, v.Utf8());
        return h;
    };
    auto boolProp = [&](HRESULT (CPdfDocument::*get)(VARIANT_BOOL*), HRESULT (CPdfDocument::*set)(VARIANT_BOOL)) {
        if (put) {
            if (!set) return com::DISP_E_MEMBERNOTFOUND;
            if (HRESULT e = args.Expect(1); com::FAILED(e)) return e;
            VARIANT_BOOL v = r.B();
            return com::FAILED(r.hr) ? r.hr : (this->*set)(v);
        }
        if (!get) return com::DISP_E_MEMBERNOTFOUND;
        if (HRESULT e = args.Expect(0); com::FAILED(e)) return e;
        VARIANT_BOOL v = 0;
        HRESULT h = (this->*get)(&v);
        if (com::SUCCEEDED(h)) com::SetResultBool(result, v != 0);
        return h;
    };
    // A method: n arguments, then the call (if they all read).
    auto method = [&](std::uint32_t n, auto call) -> HRESULT {
        if (put) return com::DISP_E_MEMBERNOTFOUND;
        if (HRESULT e = args.Expect(n); com::FAILED(e)) return e;
        return call();
    };
    auto guard = [&](HRESULT h) { return com::FAILED(r.hr) ? r.hr : h; };

    switch (id) {
    case kFileName: hr = strProp(&CPdfDocument::get_FileName, &CPdfDocument::put_FileName); break;
    case kViewAfterEnd: hr = boolProp(&CPdfDocument::get_ViewAfterEnd, &CPdfDocument::put_ViewAfterEnd); break;
    case kBeginDoc: hr = method(0, [&] { return BeginDoc(); }); break;
    case kEndDoc: hr = method(0, [&] { return EndDoc(); }); break;
    case kResolution: hr = intProp(&CPdfDocument::get_Resolution, &CPdfDocument::put_Resolution); break;
    case kPageWidth: hr = dblProp(&CPdfDocument::get_PageWidth, &CPdfDocument::put_PageWidth); break;
    case kPageHeight: hr = dblProp(&CPdfDocument::get_PageHeight, &CPdfDocument::put_PageHeight); break;
    case kPaperWidth: hr = dblProp(&CPdfDocument::get_PaperWidth, nullptr); break;
    case kPaperHeight: hr = dblProp(&CPdfDocument::get_PaperHeight, nullptr); break;
    case kPageCount: hr = intProp(&CPdfDocument::get_PageCount, nullptr); break;
    case kCurrentPage: hr = intProp(&CPdfDocument::get_CurrentPage, &CPdfDocument::put_CurrentPage); break;
    case kNewPage: hr = method(0, [&] { return NewPage(); }); break;
    case kPageRotation: hr = intProp(&CPdfDocument::get_PageRotation, &CPdfDocument::put_PageRotation); break;
    case kCompression: hr = intProp(&CPdfDocument::get_Compression, &CPdfDocument::put_Compression); break;
    case kJpegQuality: hr = intProp(&CPdfDocument::get_JpegQuality, &CPdfDocument::put_JpegQuality); break;
    case kPdfVersion: hr = intProp(&CPdfDocument::get_PdfVersion, &CPdfDocument::put_PdfVersion); break;
    case kPageLayout: hr = intProp(&CPdfDocument::get_PageLayout, &CPdfDocument::put_PageLayout); break;
    case kPageMode: hr = intProp(&CPdfDocument::get_PageMode, &CPdfDocument::put_PageMode); break;
    case kFontEmbedding: hr = intProp(&CPdfDocument::get_FontEmbedding, &CPdfDocument::put_FontEmbedding); break;
    case kAuthor: hr = strProp(&CPdfDocument::get_Author, &CPdfDocument::put_Author); break;
    case kSubject: hr = strProp(&CPdfDocument::get_Subject, &CPdfDocument::put_Subject); break;
    case kTitle: hr = strProp(&CPdfDocument::get_Title, &CPdfDocument::put_Title); break;
    case kKeywords: hr = strProp(&CPdfDocument::get_Keywords, &CPdfDocument::put_Keywords); break;
    case kCreationDate:
        hr = dblProp(&CPdfDocument::get_CreationDate, &CPdfDocument::put_CreationDate);
        if (!put && com::SUCCEEDED(hr) && result) result->vt = com::VT_DATE;
        break;
    case kOrientation: hr = intProp(&CPdfDocument::get_Orientation, &CPdfDocument::put_Orientation); break;
    case kPaperSize: hr = intProp(&CPdfDocument::get_PaperSize, &CPdfDocument::put_PaperSize); break;
    case kEncrypt: hr = boolProp(nullptr, &CPdfDocument::put_Encrypt); break;
    case kUserPassword: hr = strProp(nullptr, &CPdfDocument::put_UserPassword); break;
    case kOwnerPassword: hr = strProp(nullptr, &CPdfDocument::put_OwnerPassword); break;
    case kKeyLength: hr = intProp(nullptr, &CPdfDocument::put_KeyLength); break;
    case kAllowCopy: hr = boolProp(nullptr, &CPdfDocument::put_AllowCopy); break;
    case kAllowModify: hr = boolProp(nullptr, &CPdfDocument::put_AllowModify); break;
    case kAllowPrint: hr = boolProp(nullptr, &CPdfDocument::put_AllowPrint); break;
    case kHideToolBar: hr = boolProp(nullptr, &CPdfDocument::put_HideToolBar); break;
    case kHideMenuBar: hr = boolProp(nullptr, &CPdfDocument::put_HideMenuBar); break;
    case kHideWindowUI: hr = boolProp(nullptr, &CPdfDocument::put_HideWindowUI); break;
    case kFitWindow: hr = boolProp(nullptr, &CPdfDocument::put_FitWindow); break;
    case kCenterWindow: hr = boolProp(nullptr, &CPdfDocument::put_CenterWindow); break;
    case kTextOut:
        hr = method(4, [&] {
            com::Bstr t = r.S();
            double x = r.D(), y = r.D(), a = r.D();
            return guard(TextOut(t.Get(), x, y, a));
        });
        break;
    case kSetFont:
        hr = method(7, [&] {
            com::Bstr f = r.S();
            VARIANT_BOOL b = r.B(), i = r.B(), u = r.B(), s = r.B();
            double size = r.D();
            std::int32_t cs = r.I();
            return guard(SetFont(f.Get(), b, i, u, s, size, cs));
        });
        break;
    case kGetTextWidth:
        hr = method(1, [&] {
            com::Bstr t = r.S();
            double w = 0;
            HRESULT h = guard(GetTextWidth(t.Get(), &w));
            if (com::SUCCEEDED(h)) com::SetResult(result, w);
            return h;
        });
        break;
    case kSetColor:
        hr = method(3, [&] {
            std::int32_t cr = r.I(), cg = r.I(), cb = r.I();
            return guard(SetColor(cr, cg, cb));
        });
        break;
    case kDrawEmfFile:
        hr = method(5, [&] {
            com::Bstr p = r.S();
            double x = r.D(), y = r.D(), sx = r.D(), sy = r.D();
            return guard(DrawEmfFile(p.Get(), x, y, sx, sy));
        });
        break;
    case kLoadPicture:
        hr = method(1, [&] {
            com::Bstr p = r.S();
            std::int32_t last = -1;
            HRESULT h = guard(LoadPicture(p.Get(), &last));
            if (com::SUCCEEDED(h)) com::SetResult(result, last);
            return h;
        });
        break;
    case kPictureCount: hr = intProp(&CPdfDocument::get_PictureCount, nullptr); break;
    case kGetPictureWidth:
    case kGetPictureHeight:
        hr = method(1, [&] {
            std::int32_t i = r.I();
            double v = 0;
            HRESULT h = guard(id == kGetPictureWidth ? GetPictureWidth(i, &v) : GetPictureHeight(i, &v));
            if (com::SUCCEEDED(h)) com::SetResult(result, v);
            return h;
        });
        break;
    case kGetPictureResolution:
        hr = method(1, [&] {
            std::int32_t i = r.I(), v = 0;
            HRESULT h = guard(GetPictureResolution(i, &v));
            if (com::SUCCEEDED(h)) com::SetResult(result, v);
            return h;
        });
        break;
    case kDrawPicture:
        hr = method(3, [&] {
            std::int32_t i = r.I();
            double x = r.D(), y = r.D();
            return guard(DrawPicture(i, x, y));
        });
        break;
    case kInvertPicture:
        hr = method(1, [&] {
            std::int32_t i = r.I();
            return guard(InvertPicture(i));
        });
        break;
    case kCreateGoToAction:
    case kAddDestination:
        hr = method(2, [&] {
            std::int32_t page = r.I();
            double top = r.D();
            std::int32_t out = 0;
            HRESULT h = guard(id == kCreateGoToAction ? CreateGoToAction(page, top, &out)
                                                      : AddDestination(page, top, &out));
            if (com::SUCCEEDED(h)) com::SetResult(result, out);
            return h;
        });
        break;
    case kCreateUriAction:
    case kCreateScriptAction:
        hr = method(1, [&] {
            com::Bstr t = r.S();
            std::int32_t out = 0;
            HRESULT h = guard(id == kCreateUriAction ? CreateUriAction(t.Get(), &out)
                                                     : CreateScriptAction(t.Get(), &out));
            if (com::SUCCEEDED(h)) com::SetResult(result, out);
            return h;
        });
        break;
    case kAddLink:
    case kAddDestinationLink:
        hr = method(5, [&] {
            double l = r.D(), t = r.D(), rt = r.D(), b = r.D();
            std::int32_t a = r.I();
            return guard(id == kAddLink ? AddLink(l, t, rt, b, a) : AddDestinationLink(l, t, rt, b, a));
        });
        break;
    case kAddUrlLink:
        hr = method(5, [&] {
            double l = r.D(), t = r.D(), rt = r.D(), b = r.D();
            com::Bstr u = r.S();
            return guard(AddUrlLink(l, t, rt, b, u.Get()));
        });
        break;
    case kAddOutlineSibling:
    case kAddOutlineChild:
        hr = method(3, [&] {
            com::Bstr t = r.S();
            std::int32_t a = r.I(), cs = r.I(), out = -1;
            HRESULT h = guard(id == kAddOutlineSibling ? AddOutlineSibling(t.Get(), a, cs, &out)
                                                       : AddOutlineChild(t.Get(), a, cs, &out));
            if (com::SUCCEEDED(h)) com::SetResult(result, out);
            return h;
        });
        break;
    case kCurrentOutline: hr = intProp(nullptr, &CPdfDocument::put_CurrentOutline); break;
    case kCurrentOutlineParent: hr = intProp(&CPdfDocument::get_CurrentOutlineParent, nullptr); break;
    case kOutlineOpen: hr = boolProp(nullptr, &CPdfDocument::put_OutlineOpen); break;
    default: return com::DISP_E_MEMBERNOTFOUND;
    }
    // Failures of the document itself reach the caller with their description.
    if (com::FAILED(hr) && !lastError_.empty() && (hr & 0xFFFF0000u) != 0x80020000u)
        throw com::ComError(hr, lastError_);
    return hr;
}

}  // namespace corvanth
