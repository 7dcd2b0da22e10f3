#include "office_document.h"

#include <com/sun/star/lang/DisposedException.hpp>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <osl/file.hxx>

#include <cmath>
#include <filesystem>
#include <vector>

#include "platform/printer.h"
#include "platform/step_times.h"

namespace vmoffice {

using css::beans::PropertyValue;
using css::beans::XPropertySet;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

std::string Utf8(const rtl::OUString& s) { return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr(); }
rtl::OUString Ou(const std::string& s) { return rtl::OStringToOUString(s.c_str(), RTL_TEXTENCODING_UTF8); }

PropertyValue Prop(const char* name, const Any& value) {
    PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Sequence<PropertyValue> Props(const std::vector<PropertyValue>& v) {
    return Sequence<PropertyValue>(v.data(), static_cast<sal_Int32>(v.size()));
}

// Lengths of the office are 1/100 mm.
double Points(sal_Int32 hundredthMm) { return hundredthMm * 72.0 / 2540.0; }
sal_Int32 HundredthMm(double points) { return static_cast<sal_Int32>(std::lround(points * 2540.0 / 72.0)); }

const char* ServiceOf(Kind kind) {
    switch (kind) {
    case Kind::Text: return "com.sun.star.text.TextDocument";
    case Kind::Spreadsheet: return "com.sun.star.sheet.SpreadsheetDocument";
    case Kind::Presentation: return "com.sun.star.presentation.PresentationDocument";
    }
    return "";
}

const char* NameOf(Kind kind) {
    switch (kind) {
    case Kind::Text: return "a text document";
    case Kind::Spreadsheet: return "a spreadsheet";
    case Kind::Presentation: return "a presentation";
    }
    return "";
}

// Runs an office call under the guard; the office's exceptions and a broken
// connection become an OfficeError with `what` in front.
template <class F>
auto Call(OfficeSession& session, const char* what, F&& f) -> decltype(f()) {
    try {
        OfficeSession::Guard guard(session);
        return f();
    } catch (const css::lang::DisposedException&) {
        // The bridge lost its office, which may still be on its way out.
        session.Abandon();
        throw OfficeError{std::string(what) + ": the office program ended or stopped answering"};
    } catch (const css::uno::Exception& e) {
        std::string text = std::string(what) + ": ";
        if (session.Broken())
            text += "the office program ended or stopped answering";
        else
            text += e.Message.isEmpty() ? std::string("the office reported an error") : Utf8(e.Message);
        throw OfficeError{text};
    }
}

Reference<css::container::XNameAccess> StylesOf(const Reference<css::lang::XComponent>& doc) {
    Reference<css::style::XStyleFamiliesSupplier> families(doc, UNO_QUERY_THROW);
    return Reference<css::container::XNameAccess>(families->getStyleFamilies()->getByName("PageStyles"),
                                                  UNO_QUERY_THROW);
}

// The style of the text's first page, or of the active sheet.
Reference<XPropertySet> MainPageStyle(const Reference<css::lang::XComponent>& doc, Kind kind) {
    rtl::OUString name;
    if (kind == Kind::Text) {
        Reference<css::text::XTextDocument> text(doc, UNO_QUERY_THROW);
        Reference<css::text::XTextCursor> cursor = text->getText()->createTextCursor();
        cursor->gotoStart(false);
        Reference<XPropertySet>(cursor, UNO_QUERY_THROW)->getPropertyValue("PageStyleName") >>= name;
    } else {
        Reference<css::frame::XModel> model(doc, UNO_QUERY_THROW);
        Reference<css::sheet::XSpreadsheetView> view(model->getCurrentController(), UNO_QUERY_THROW);
        Reference<XPropertySet>(view->getActiveSheet(), UNO_QUERY_THROW)->getPropertyValue("PageStyle") >>= name;
    }
    return Reference<XPropertySet>(StylesOf(doc)->getByName(name), UNO_QUERY_THROW);
}

Reference<XPropertySet> FirstSlide(const Reference<css::lang::XComponent>& doc) {
    Reference<css::drawing::XDrawPagesSupplier> pages(doc, UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> all(pages->getDrawPages(), UNO_QUERY_THROW);
    if (all->getCount() < 1) throw css::uno::RuntimeException("the presentation has no slides");
    return Reference<XPropertySet>(all->getByIndex(0), UNO_QUERY_THROW);
}

sal_Int32 Int(const Reference<XPropertySet>& p, const char* name) {
    sal_Int32 v = 0;
    p->getPropertyValue(rtl::OUString::createFromAscii(name)) >>= v;
    return v;
}

void SetMargins(const Reference<XPropertySet>& style, const PageSetup& s) {
    style->setPropertyValue("LeftMargin", Any(HundredthMm(s.left)));
    style->setPropertyValue("TopMargin", Any(HundredthMm(s.top)));
    style->setPropertyValue("RightMargin", Any(HundredthMm(s.right)));
    style->setPropertyValue("BottomMargin", Any(HundredthMm(s.bottom)));
}
}  // namespace

std::string DefaultPrinterName() { return platform::GetDefaultPrinter(); }

OfficeDocument::OfficeDocument(std::shared_ptr<OfficeSession> session, Kind kind, const std::string& path,
                               bool readOnly)
    : session_(std::move(session)), kind_(kind) {
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
    rtl::OUString url;
    if (ec || osl::FileBase::getFileURLFromSystemPath(Ou(absolute), url) != osl::FileBase::E_None)
        throw OfficeError{"\"" + path + "\" is not a file name"};
    OfficeLog("document loading " + absolute);
    platform::MarkHop("office load begins");
    Call(*session_, "the document could not be opened", [&] {
        auto args = Props({Prop("Hidden", Any(true)), Prop("ReadOnly", Any(readOnly)),
                                     Prop("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
                                     Prop("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
                                     Prop("Silent", Any(true))});
        doc_ = session_->Desktop()->loadComponentFromURL(url, "_blank", 0, args);
    });
    platform::MarkHop("office load ended");
    if (!doc_.is()) throw OfficeError{"the document could not be opened: \"" + absolute + "\" is damaged or of another kind"};
    Reference<css::lang::XServiceInfo> info(doc_, UNO_QUERY);
    if (!info.is() || !info->supportsService(rtl::OUString::createFromAscii(ServiceOf(kind)))) {
        Close();
        throw OfficeError{"\"" + absolute + "\" is not " + NameOf(kind)};
    }
}

OfficeDocument::~OfficeDocument() {
    try {
        Close();
    } catch (...) {
        // The office is gone; the session goes with the application object.
    }
}

void OfficeDocument::Close() {
    if (!doc_.is()) return;
    Reference<css::lang::XComponent> doc = doc_;
    doc_.clear();
    if (session_->Broken()) return;
    platform::MarkHop("office close begins");
    Call(*session_, "the document could not be closed", [&] {
        Reference<css::util::XCloseable> closeable(doc, UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        else
            doc->dispose();
    });
    platform::MarkHop("office close ended");
}

PageSetup OfficeDocument::ReadPageSetup() {
    if (setup_) return *setup_;
    setup_ = Call(*session_, "the page set-up could not be read", [&] {
        PageSetup s;
        if (kind_ == Kind::Presentation) {
            Reference<XPropertySet> slide = FirstSlide(doc_);
            s.width = Points(Int(slide, "Width"));
            s.height = Points(Int(slide, "Height"));
            s.landscape = s.width > s.height;
            return s;
        }
        Reference<XPropertySet> style = MainPageStyle(doc_, kind_);
        style->getPropertyValue("IsLandscape") >>= s.landscape;
        s.width = Points(Int(style, "Width"));
        s.height = Points(Int(style, "Height"));
        s.left = Points(Int(style, "LeftMargin"));
        s.top = Points(Int(style, "TopMargin"));
        s.right = Points(Int(style, "RightMargin"));
        s.bottom = Points(Int(style, "BottomMargin"));
        return s;
    });
    return *setup_;
}

void OfficeDocument::WritePageSetup(const PageSetup& s) {
    setup_.reset();
    Call(*session_, "the page set-up could not be changed", [&] {
        if (kind_ == Kind::Presentation) {
            Reference<XPropertySet> slide = FirstSlide(doc_);
            slide->setPropertyValue("Width", Any(HundredthMm(s.width)));
            slide->setPropertyValue("Height", Any(HundredthMm(s.height)));
            return;
        }
        if (kind_ == Kind::Spreadsheet) {
            Reference<XPropertySet> style = MainPageStyle(doc_, kind_);
            style->setPropertyValue("IsLandscape", Any(s.landscape));
            SetMargins(style, s);
            return;
        }
        // A text's set-up is the whole document's: every page style follows it.
        Reference<css::container::XNameAccess> styles = StylesOf(doc_);
        for (const rtl::OUString& name : styles->getElementNames()) {
            Reference<XPropertySet> style(styles->getByName(name), UNO_QUERY_THROW);
            style->setPropertyValue("IsLandscape", Any(s.landscape));
            if (s.width > 0 && s.height > 0) {
                style->setPropertyValue("Width", Any(HundredthMm(s.width)));
                style->setPropertyValue("Height", Any(HundredthMm(s.height)));
            }
            SetMargins(style, s);
        }
    });
}

void OfficeDocument::Print() {
    const std::string printer = DefaultPrinterName();
    if (printer.empty()) throw OfficeError{"there is no default printer to print on"};
    Call(*session_, "the document could not be printed", [&] {
        Reference<css::view::XPrintable> printable(doc_, UNO_QUERY_THROW);
        printable->setPrinter(Props({Prop("Name", Any(Ou(printer)))}));
        rtl::OUString chosen;
        for (const PropertyValue& p : printable->getPrinter())
            if (p.Name == "Name") p.Value >>= chosen;
        if (Utf8(chosen) != printer)
            throw css::uno::RuntimeException(Ou("the printer \"" + printer +
                                                "\" is not known to the office program (it sees only the printers "
                                                "that existed when it started)"));
        printable->print(Props({Prop("Wait", Any(true))}));
    });
}

}  // namespace vmoffice
