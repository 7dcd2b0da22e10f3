// Word, Excel and PowerPoint documents: the application (libvmoffice.so, or
// any server of those classes) opens the document and prints it to the
// virtual printer; the job comes back through the pipeline and its page
// files are drawn into the PDF by the page generation.
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "converters.h"
#include "com_checks.h"
#include "frame.h"
#include "paths.h"
#include "print_handoff.h"
#include "router.h"
#include "strings.h"
#include "system.h"

#include "platform/step_times.h"
#include "vmoffice/office_lookahead.h"

namespace vellumate {
namespace {

using com::ComPtr;
using com::DISPID;
using com::HRESULT;
using com::IDispatch;
using com::VARIANT;

enum class App { Word, Excel, PowerPoint };

struct AppInfo {
    com::CLSID clsid;
    int loadFailedText;
    std::int32_t loadFailed;
    const char* who;  // in "%s has thrown an exception"
    int risenText;
    std::int32_t exception;
    std::int32_t placement;
    bool readOnly;  // what its Open below asks for
    vmoffice::OfficeKind kind;
};

// Printed slides are drawn at the page's origin (placement 0): the office
// prints a slide from the paper's corner, and placement 2's shift of
// (-81.3, -37.3) would cut off the slide's left and top edges.
constexpr std::int32_t kSlidePlacement = 0;

const AppInfo& InfoOf(App app) {
    static const AppInfo word{{0x000209FF, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
                              IDS_WORD_LOAD_FAILED, kWordLoadFailed, "MS Word", IDS_WORD_RISEN, kWordException, 0, false,
                              vmoffice::kOfficeText};
    static const AppInfo excel{{0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
                               IDS_EXCEL_LOAD_FAILED, kExcelLoadFailed, "MS Excel", IDS_EXCEL_RISEN,
                               kExcelException, 1, false, vmoffice::kOfficeSpreadsheet};
    static const AppInfo powerPoint{{0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}},
                                    IDS_POWERPOINT_LOAD_FAILED, kPowerPointLoadFailed, "MS PowerPoint",
                                    IDS_POWERPOINT_RISEN, kPowerPointException, kSlidePlacement, true,
                                    vmoffice::kOfficePresentation};
    return app == App::Word ? word : app == App::Excel ? excel : powerPoint;
}

// Automation arguments, owned: cleared when the call is done.
struct Args {
    std::vector<VARIANT> v;
    ~Args() {
        for (VARIANT& a : v) com::VariantClear(&a);
    }
    Args& Str(const std::string& s) {
        VARIANT a;
        a.vt = com::VT_BSTR;
        a.bstrVal = com::BstrFromUtf8(s);
        v.push_back(a);
        return *this;
    }
    Args& Int(std::int32_t i) {
        VARIANT a;
        a.vt = com::VT_I4;
        a.lVal = i;
        v.push_back(a);
        return *this;
    }
    Args& Double(double d) {
        VARIANT a;
        a.vt = com::VT_R8;
        a.dblVal = d;
        v.push_back(a);
        return *this;
    }
    Args& Bool(bool b) {
        VARIANT a;
        a.vt = com::VT_BOOL;
        a.boolVal = b ? com::VARIANT_TRUE : com::VARIANT_FALSE;
        v.push_back(a);
        return *this;
    }
    Args& Omitted() {
        VARIANT a;
        a.vt = com::VT_ERROR;
        a.scode = com::DISP_E_PARAMNOTFOUND;
        v.push_back(a);
        return *this;
    }
};

// A late-bound call; a failure throws com::ComError with the server's text.
VARIANT Invoke(IDispatch* obj, DISPID id, std::uint16_t flags, const Args& args = {}) {
    std::vector<VARIANT> reversed(args.v.rbegin(), args.v.rend());
    com::DISPPARAMS p;
    p.rgvarg = reversed.empty() ? nullptr : reversed.data();
    p.cArgs = static_cast<std::uint32_t>(reversed.size());
    DISPID put = com::DISPID_PROPERTYPUT;
    if (flags & com::DISPATCH_PROPERTYPUT) {
        p.rgdispidNamedArgs = &put;
        p.cNamedArgs = 1;
    }
    VARIANT result;
    com::EXCEPINFO ex;
    std::uint32_t argErr = 0;
    HRESULT hr = obj->Invoke(id, com::GUID_NULL, 0, flags, &p, &result, &ex, &argErr);
    std::string text = ex.bstrDescription ? com::Utf8FromBstr(ex.bstrDescription) : std::string();
    com::SysFreeString(ex.bstrSource);
    com::SysFreeString(ex.bstrDescription);
    if (com::FAILED(hr)) {
        com::VariantClear(&result);
        throw com::ComError(hr == com::DISP_E_EXCEPTION && ex.scode ? ex.scode : hr, text);
    }
    return result;
}

DISPID IdOf(IDispatch* obj, const char* name) {
    com::Bstr n(name);
    const com::OLECHAR* names[] = {n.Get()};
    DISPID id = com::DISPID_UNKNOWN;
    com::Check(obj->GetIDsOfNames(com::GUID_NULL, names, 1, 0, &id));
    return id;
}

VARIANT Call(IDispatch* obj, const char* name, const Args& args = {}) {
    return Invoke(obj, IdOf(obj, name), com::DISPATCH_METHOD, args);
}

void Discard(VARIANT v) { com::VariantClear(&v); }

ComPtr<IDispatch> GetObject(IDispatch* obj, const char* name) {
    VARIANT v = Invoke(obj, IdOf(obj, name), com::DISPATCH_PROPERTYGET);
    ComPtr<IDispatch> p;
    if (v.vt == com::VT_DISPATCH && v.pdispVal) p = ComPtr<IDispatch>::Attach(v.pdispVal);
    else com::VariantClear(&v);
    if (!p) throw com::ComError(com::E_FAIL, std::string("no ") + name);
    return p;
}

ComPtr<IDispatch> CallObject(IDispatch* obj, const char* name, const Args& args) {
    VARIANT v = Call(obj, name, args);
    ComPtr<IDispatch> p;
    if (v.vt == com::VT_DISPATCH && v.pdispVal) p = ComPtr<IDispatch>::Attach(v.pdispVal);
    else com::VariantClear(&v);
    if (!p) throw com::ComError(com::E_FAIL, std::string(name) + " gave no object");
    return p;
}

double GetDouble(IDispatch* obj, DISPID id) {
    VARIANT v = Invoke(obj, id, com::DISPATCH_PROPERTYGET);
    VARIANT d;
    HRESULT hr = com::VariantChangeType(&d, &v, com::VT_R8);
    com::VariantClear(&v);
    if (com::FAILED(hr)) throw com::ComError(hr);
    return d.dblVal;
}
double GetDouble(IDispatch* obj, const char* name) { return GetDouble(obj, IdOf(obj, name)); }

void Put(IDispatch* obj, DISPID id, const Args& value) { Invoke(obj, id, com::DISPATCH_PROPERTYPUT, value); }
void Put(IDispatch* obj, const char* name, const Args& value) { Put(obj, IdOf(obj, name), value); }

// The PDF document's lengths are 1/resolution inch, the applications'
// points: the two are converted where they meet.
struct Units {
    std::int32_t resolution = 96;
    double ToPoints(double units) const { return units * 72.0 / resolution; }
    double FromPoints(double points) const { return points * resolution / 72.0; }
};

// Page facts for the import: -1 where the PDF document keeps its own.
struct PageFacts {
    std::int32_t orientation = -1;
    double width = -1, height = -1;  // PDF document units
};

// The spreadsheet's page set-up is called by dispatch identifier.
enum : DISPID { kXlOrientation = 134, kXlLeftMargin = 999, kXlRightMargin = 1000, kXlTopMargin = 1001,
                kXlBottomMargin = 1002 };

// Steps 4 (open, page set-up) and 7 (print) of each application. The
// document is what the application has open afterwards.
struct Application {
    App app;
    ComPtr<IDispatch> object, document;
};

PageFacts OpenDocument(ConversionContext& ctx, Application& a, const std::string& source, const Units& u) {
    const PdfSettings& s = ctx.settings;
    const double bottom = s.MarginBottom + (s.PageNumbers ? 16 : 0);
    double paperWidth = 0, paperHeight = 0;
    PdfCheck(ctx.pdf->get_PaperWidth(&paperWidth));
    PdfCheck(ctx.pdf->get_PaperHeight(&paperHeight));
    PageFacts facts;
    switch (a.app) {
    case App::Word: {
        ComPtr<IDispatch> documents = GetObject(a.object.Get(), "Documents");
        Args open;
        open.Str(source).Bool(false).Omitted().Bool(false);
        a.document = CallObject(documents.Get(), "Open", open);
        ComPtr<IDispatch> setup = GetObject(a.document.Get(), "PageSetup");
        if (!s.ForceSizes) {
            facts.orientation = GetDouble(setup.Get(), "Orientation") == 1 ? 1 : 0;
            facts.width = u.FromPoints(GetDouble(setup.Get(), "PageWidth"));
            facts.height = u.FromPoints(GetDouble(setup.Get(), "PageHeight"));
            break;
        }
        Put(setup.Get(), "Orientation", Args().Int(s.Orientation == 1 ? 1 : 0));
        Put(setup.Get(), "LeftMargin", Args().Double(u.ToPoints(s.MarginLeft)));
        Put(setup.Get(), "TopMargin", Args().Double(u.ToPoints(s.MarginTop)));
        Put(setup.Get(), "RightMargin", Args().Double(u.ToPoints(s.MarginRight)));
        Put(setup.Get(), "BottomMargin", Args().Double(u.ToPoints(bottom)));
        Put(setup.Get(), "PageWidth", Args().Double(u.ToPoints(paperWidth)));
        Put(setup.Get(), "PageHeight", Args().Double(u.ToPoints(paperHeight)));
        VARIANT v;
        v.vt = com::VT_DISPATCH;
        v.pdispVal = setup.Get();
        setup->AddRef();
        Args back;
        back.v.push_back(v);
        Put(a.document.Get(), "PageSetup", back);
        break;
    }
    case App::Excel: {
        ComPtr<IDispatch> workbooks = GetObject(a.object.Get(), "Workbooks");
        a.document = CallObject(workbooks.Get(), "Open", Args().Str(source));
        ComPtr<IDispatch> sheet = GetObject(a.document.Get(), "ActiveSheet");
        ComPtr<IDispatch> setup = GetObject(sheet.Get(), "PageSetup");
        if (!s.ForceSizes) {
            facts.orientation = GetDouble(setup.Get(), kXlOrientation) == 2 ? 1 : 0;
            break;
        }
        Put(setup.Get(), kXlOrientation, Args().Int(s.Orientation == 1 ? 2 : 1));
        Put(setup.Get(), kXlLeftMargin, Args().Double(u.ToPoints(s.MarginLeft)));
        Put(setup.Get(), kXlTopMargin, Args().Double(u.ToPoints(s.MarginTop)));
        Put(setup.Get(), kXlRightMargin, Args().Double(u.ToPoints(s.MarginRight)));
        Put(setup.Get(), kXlBottomMargin, Args().Double(u.ToPoints(bottom)));
        break;
    }
    case App::PowerPoint: {
        ComPtr<IDispatch> presentations = GetObject(a.object.Get(), "Presentations");
        // Read-only, not untitled, without a window (tri-states: -1 true, 0 false).
        a.document = CallObject(presentations.Get(), "Open", Args().Str(source).Int(-1).Int(0).Int(0));
        ComPtr<IDispatch> setup = GetObject(a.document.Get(), "PageSetup");
        if (s.ForceSizes) {
            Put(setup.Get(), "SlideWidth", Args().Double(u.ToPoints(paperWidth)));
            Put(setup.Get(), "SlideHeight", Args().Double(u.ToPoints(paperHeight)));
        }
        facts.width = u.FromPoints(GetDouble(setup.Get(), "SlideWidth"));
        facts.height = u.FromPoints(GetDouble(setup.Get(), "SlideHeight"));
        break;
    }
    }
    return facts;
}

void PrintDocument(Application& a) {
    switch (a.app) {
    case App::Word: Discard(Call(a.object.Get(), "PrintOut")); break;
    case App::Excel: Discard(Call(a.document.Get(), "PrintOut")); break;
    case App::PowerPoint: Discard(Call(a.document.Get(), "PrintOut", Args().Int(0).Int(-1))); break;
    }
}

// The application a file goes to, as the router sends it.
std::optional<App> AppOfExtension(const std::string& ext) {
    if (IsWordExtension(ext)) return App::Word;
    if (IsExcelExtension(ext)) return App::Excel;
    if (IsPowerPointExtension(ext)) return App::PowerPoint;
    return std::nullopt;
}

// Names the run's next file to the application when an Office application
// opens it too, so that the office loads it while this document travels
// through the printing chain. A server without the interface, or any other
// file, goes without; what the announcement answers does not matter.
void AnnounceNextFile(ConversionContext& ctx, Application& a) {
    com::ComPtr<vmoffice::IOfficeLookahead> lookahead;
    if (ctx.nextSources.empty() || a.object.As(&lookahead) != com::S_OK) return;
    const std::string source = ResolveSource(ctx, ctx.nextSources.front());
    const std::optional<std::string> ext = source.empty() ? std::nullopt : LowerExtension(source);
    const std::optional<App> next = ext ? AppOfExtension(*ext) : std::nullopt;
    if (!next || !sys::CanOpenForReading(source)) return;
    const AppInfo& info = InfoOf(*next);
    com::Bstr name(source);
    lookahead->AnnounceDocument(name.Get(), info.kind, info.readOnly ? com::VARIANT_TRUE : com::VARIANT_FALSE);
}

// Quits without saving and lets go of the application; errors do not matter now.
void Quit(Application& a) {
    if (!a.object) return;
    try {
        if (a.document) {
            Discard(Call(a.document.Get(), "Close", a.app == App::PowerPoint ? Args() : Args().Bool(false)));
        }
    } catch (const com::ComError&) {
    }
    try {
        Discard(Call(a.object.Get(), "Quit", a.app == App::Word ? Args().Int(0) : Args()));
    } catch (const com::ComError&) {
    }
    a.document.Reset();
    a.object.Reset();
}

// A file that failed: its document is dropped unwritten, except in a merged
// run that holds other files' pages, whose last file still writes them.
std::int32_t Failed(ConversionContext& ctx, std::int32_t result) {
    if (ctx.addon) ctx.addon->UnloadAll();
    if (ctx.MakeOne && !ctx.queue.empty()) {
        if (ctx.lastFile) GeneratePages(ctx, 1);
        return result;
    }
    FinishPdfDocument(ctx, true);
    DeleteTemporaryFolder(ctx);
    return result;
}

std::int32_t ConvertOffice(ConversionContext& ctx, App app, const std::string& source, const std::string& output) {
    const AppInfo& info = InfoOf(app);
    platform::MarkHop("office document begins");
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, true, false)) return kCancelled;
    AddFileEntries(ctx, source);
    ctx.Step(1);

    Application a{app, {}, {}};
    try {
        com::Check(com::CoCreateInstance(info.clsid, nullptr, com::CLSCTX_ALL, com::IID_IDispatch,
                                         reinterpret_cast<void**>(a.object.ReleaseAndGetAddressOf())));
        Put(a.object.Get(), "Visible", Args().Bool(false));
        if (app == App::Excel) Put(a.object.Get(), "DisplayAlerts", Args().Bool(false));
    } catch (const com::ComError&) {
        Quit(a);
        ShowError(ctx, LoadString(info.loadFailedText));
        return Failed(ctx, info.loadFailed);
    }

    Units units;
    PrintHandoff handoff;
    PageFacts facts;
    JobWait waited = JobWait::Arrived;
    try {
        PdfCheck(ctx.pdf->get_Resolution(&units.resolution));
        if (units.resolution <= 0) units.resolution = 96;
        facts = OpenDocument(ctx, a, source, units);
        platform::MarkHop("document opened");
        if (std::int32_t r = SetUpPrintHandoff(ctx, &handoff)) {
            Quit(a);
            return Failed(ctx, r);
        }
        platform::MarkHop("PrintOut");
        PrintDocument(a);
        platform::MarkHop("PrintOut returned");
        AnnounceNextFile(ctx, a);
        waited = WaitForPrintJob(ctx, ctx.interactive && ctx.mainWindow ? std::chrono::milliseconds::max()
                                                                           : PrintWaitBound());
        RestorePrintHandoff(&handoff);
    } catch (const PdfComError& e) {
        RestorePrintHandoff(&handoff);
        Quit(a);
        ShowError(ctx, ComErrorText("Corvanth", e));
        return Failed(ctx, kPdfFailed);
    } catch (const com::ComError& e) {
        RestorePrintHandoff(&handoff);
        Quit(a);
        ShowError(ctx, ComErrorText(info.who, e));
        return Failed(ctx, info.exception);
    }
    if (waited != JobWait::Arrived) {
        Quit(a);
        return Failed(ctx, waited == JobWait::Cancelled ? kCancelled : kPrintJobFailed);
    }

    platform::MarkHop("ticket received");
    PageSource src;
    src.pageCount = TakePrintedPages(ctx);
    src.orientation = facts.orientation;
    src.width = static_cast<std::int32_t>(facts.width);
    src.height = static_cast<std::int32_t>(facts.height);
    src.resolution1 = src.resolution2 = units.resolution;
    src.placement = info.placement;
    QueuePageSource(ctx, src);

    Quit(a);
    if (ctx.Cancelled()) {
        if (ctx.addon) ctx.addon->UnloadAll();
        FinishPdfDocument(ctx, true);
        DeleteTemporaryFolder(ctx);
        return kCancelled;
    }
    if (ctx.MakeOne) ctx.mergedPageCount += src.pageCount;
    const std::int32_t generated = GeneratePages(ctx, 1);
    platform::MarkHop("pages imported");
    return generated;
}

bool OneOf(const std::string& ext, std::initializer_list<const char*> list) {
    for (const char* e : list)
        if (ext == e) return true;
    return false;
}

}  // namespace

bool IsWordExtension(const std::string& ext) {
    return OneOf(ext, {"doc", "dot", "rtf", "wps", "wri", "docx", "docm", "dotx", "odt", "ott"});
}

bool IsExcelExtension(const std::string& ext) {
    return OneOf(ext, {"xls", "xlt", "xlw", "xlsx", "xlsm", "xltx", "ods", "ots"});
}

bool IsPowerPointExtension(const std::string& ext) {
    return OneOf(ext, {"ppt", "pps", "pot", "pptx", "ppsx", "potx", "odp", "otp"});
}

std::int32_t ConvertWord(ConversionContext& ctx, const std::string& source, const std::string& output) {
    return ConvertOffice(ctx, App::Word, source, output);
}

std::int32_t ConvertExcel(ConversionContext& ctx, const std::string& source, const std::string& output) {
    return ConvertOffice(ctx, App::Excel, source, output);
}

std::int32_t ConvertPowerPoint(ConversionContext& ctx, const std::string& source, const std::string& output) {
    return ConvertOffice(ctx, App::PowerPoint, source, output);
}

}  // namespace vellumate
