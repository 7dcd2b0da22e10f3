#include "automation.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lookahead.h"
#include "office_document.h"
#include "office_session.h"
#include "platform/com_dispatch.h"
#include "platform/com_server.h"
#include "vmoffice/office_lookahead.h"

namespace vmoffice {

using namespace com;

namespace {

// The error an office failure becomes: a text of the office's.
constexpr HRESULT kOfficeFailed = static_cast<HRESULT>(0x800A03ECu);
// The application cannot be made: no office program could be started.
constexpr HRESULT kStartFailed = static_cast<HRESULT>(0x80080005u);

// What an application object holds: its session and open documents.
struct Document {
    std::unique_ptr<OfficeDocument> office;
    PageSetup setup;
    bool read = false;   // setup holds what the document says
    bool dirty = false;  // setup was changed and is not written yet

    PageSetup& Setup() {
        if (!read) {
            setup = office->ReadPageSetup();
            read = true;
        }
        return setup;
    }
    void Flush() {
        if (!dirty) return;
        office->WritePageSetup(setup);
        dirty = false;
    }
    void Print() {
        Flush();
        office->Print();
    }
};

struct Application {
    Kind kind;
    std::shared_ptr<OfficeSession> session;
    std::vector<std::shared_ptr<Document>> documents;  // in the order opened
    bool visible = false, alerts = true;

    OfficeSession& Session() {
        if (!session) throw ComError(kOfficeFailed, "the application has quit");
        return *session;
    }
    void Quit() {
        std::vector<std::shared_ptr<Document>> open;
        open.swap(documents);
        for (auto& d : open) lookahead::CloseInBackground(std::move(d->office));
        session.reset();
    }
};

using AppPtr = std::shared_ptr<Application>;
using DocPtr = std::shared_ptr<Document>;

// One automation object: a member table and what its members do.
class Node : public server::Object<Node, DispatchImpl<IDispatch>> {
public:
    using Handler = std::function<HRESULT(DISPID, std::uint16_t, const DispArgs&, VARIANT*)>;
    Node(std::shared_ptr<const DispatchTable> table, Handler handler)
        : table_(std::move(table)), handler_(std::move(handler)) {}

    static ComPtr<IDispatch> Make(std::shared_ptr<const DispatchTable> table, Handler handler) {
        ComPtr<IDispatch> p;
        Node* n = CreateOwned(std::move(table), std::move(handler));
        p = ComPtr<IDispatch>::Attach(static_cast<IDispatch*>(n));
        return p;
    }

protected:
    const DispatchTable& Table() const override { return *table_; }
    HRESULT InvokeMember(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) override {
        try {
            return handler_(id, flags, args, result);
        } catch (const OfficeError& e) {
            throw ComError(kOfficeFailed, e.text);
        }
    }

private:
    std::shared_ptr<const DispatchTable> table_;
    Handler handler_;
};

bool IsPut(std::uint16_t flags) { return (flags & DISPATCH_PROPERTYPUT) != 0; }

HRESULT PutDouble(const DispArgs& args, double* out) {
    if (HRESULT hr = args.Expect(1); FAILED(hr)) return hr;
    return args.Double(0, out);
}

HRESULT PutBool(const DispArgs& args, bool* out) {
    if (HRESULT hr = args.Expect(1); FAILED(hr)) return hr;
    return args.Bool(0, out);
}

void Result(VARIANT* result, const ComPtr<IDispatch>& p) {
    if (result) SetResult(result, p.Get());
}

std::shared_ptr<const DispatchTable> Table(std::vector<DispMember> members) {
    return std::make_shared<const DispatchTable>(std::move(members));
}

// ---- Page set-ups -------------------------------------------------------------------

enum : DISPID {
    kOrientation = 1, kPageWidth, kPageHeight, kLeftMargin, kTopMargin, kRightMargin, kBottomMargin,
    kSlideWidth, kSlideHeight,
    // The spreadsheet's page set-up is called by these ids.
    kXlOrientation = 134, kXlLeftMargin = 999, kXlRightMargin = 1000, kXlTopMargin = 1001, kXlBottomMargin = 1002,
};

double* MarginOf(PageSetup& s, DISPID id) {
    switch (id) {
    case kLeftMargin: case kXlLeftMargin: return &s.left;
    case kTopMargin: case kXlTopMargin: return &s.top;
    case kRightMargin: case kXlRightMargin: return &s.right;
    case kBottomMargin: case kXlBottomMargin: return &s.bottom;
    }
    return nullptr;
}

ComPtr<IDispatch> MakePageSetup(const DocPtr& doc, Kind kind) {
    static const auto word = Table({{"Orientation", kOrientation}, {"PageWidth", kPageWidth},
                                    {"PageHeight", kPageHeight}, {"LeftMargin", kLeftMargin},
                                    {"TopMargin", kTopMargin}, {"RightMargin", kRightMargin},
                                    {"BottomMargin", kBottomMargin}});
    static const auto excel = Table({{"Orientation", kXlOrientation}, {"LeftMargin", kXlLeftMargin},
                                     {"RightMargin", kXlRightMargin}, {"TopMargin", kXlTopMargin},
                                     {"BottomMargin", kXlBottomMargin}});
    static const auto slides = Table({{"SlideWidth", kSlideWidth}, {"SlideHeight", kSlideHeight}});
    const auto& table = kind == Kind::Text ? word : kind == Kind::Spreadsheet ? excel : slides;
    return Node::Make(table, [doc, kind](DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) {
        if (!doc->office) throw ComError(kOfficeFailed, "the document is closed");
        PageSetup& s = doc->Setup();
        double v = 0;
        if (IsPut(flags)) {
            if (HRESULT hr = PutDouble(args, &v); FAILED(hr)) return hr;
            doc->dirty = true;
        }
        switch (id) {
        case kOrientation:
        case kXlOrientation: {
            // Text: 0 portrait, 1 landscape; spreadsheet: 1 portrait, 2 landscape.
            const int landscapeValue = id == kOrientation ? 1 : 2;
            if (!IsPut(flags)) {
                SetResult(result, static_cast<std::int32_t>(s.landscape ? landscapeValue : landscapeValue - 1));
                return S_OK;
            }
            const bool landscape = static_cast<int>(v) == landscapeValue;
            // Turning the page turns its size, as the application does.
            if (landscape != s.landscape && kind == Kind::Text) std::swap(s.width, s.height);
            s.landscape = landscape;
            return S_OK;
        }
        case kPageWidth:
        case kSlideWidth:
            if (IsPut(flags)) s.width = v;
            else SetResult(result, s.width);
            return S_OK;
        case kPageHeight:
        case kSlideHeight:
            if (IsPut(flags)) s.height = v;
            else SetResult(result, s.height);
            return S_OK;
        }
        double* margin = MarginOf(s, id);
        if (!margin) return DISP_E_MEMBERNOTFOUND;
        if (IsPut(flags)) *margin = v;
        else SetResult(result, *margin);
        return S_OK;
    });
}

// ---- Documents ------------------------------------------------------------------------

enum : DISPID { kPageSetup = 1, kPrintOut, kClose, kActiveSheet, kName };

ComPtr<IDispatch> MakeDocument(const AppPtr& app, const DocPtr& doc) {
    static const auto table = Table({{"PageSetup", kPageSetup}, {"PrintOut", kPrintOut}, {"Close", kClose},
                                     {"ActiveSheet", kActiveSheet}, {"Name", kName}});
    const Kind kind = app->kind;
    return Node::Make(table, [app, doc, kind](DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) {
        if (id == kClose) {
            lookahead::CloseInBackground(std::move(doc->office));
            return S_OK;
        }
        if (!doc->office) throw ComError(kOfficeFailed, "the document is closed");
        switch (id) {
        case kPageSetup:
            if (kind == Kind::Spreadsheet) return DISP_E_MEMBERNOTFOUND;  // a sheet's, not the workbook's
            if (IsPut(flags)) {
                // Assigning a set-up back writes it.
                doc->Flush();
                return S_OK;
            }
            Result(result, MakePageSetup(doc, kind));
            return S_OK;
        case kActiveSheet: {
            if (kind != Kind::Spreadsheet) return DISP_E_MEMBERNOTFOUND;
            static const auto sheet = Table({{"PageSetup", kPageSetup}});
            Result(result, Node::Make(sheet, [doc](DISPID, std::uint16_t, const DispArgs&, VARIANT* r) {
                       Result(r, MakePageSetup(doc, Kind::Spreadsheet));
                       return S_OK;
                   }));
            return S_OK;
        }
        case kPrintOut: {
            // The whole document whatever the arguments ask (a range From..To
            // of the presentation is taken as "all" when To is -1).
            doc->Print();
            return S_OK;
        }
        case kName:
            SetResult(result, std::string_view("document"));
            return S_OK;
        }
        (void)args;
        return DISP_E_MEMBERNOTFOUND;
    });
}

enum : DISPID { kOpen = 1, kCount };

// Documents, Workbooks, Presentations.
ComPtr<IDispatch> MakeCollection(const AppPtr& app) {
    static const auto table = Table({{"Open", kOpen}, {"Count", kCount}});
    return Node::Make(table, [app](DISPID id, std::uint16_t, const DispArgs& args, VARIANT* result) {
        if (id == kCount) {
            SetResult(result, static_cast<std::int32_t>(app->documents.size()));
            return S_OK;
        }
        std::string file;
        if (HRESULT hr = args.String(0, &file); FAILED(hr)) return hr;
        // The read-only flag: the third argument of a text's Open, the second
        // of a presentation's (a tri-state: msoTrue is -1).
        bool readOnly = false;
        const std::uint32_t ro = app->kind == Kind::Text ? 2 : app->kind == Kind::Presentation ? 1 : 2;
        if (args.Has(ro)) {
            std::int32_t v = 0;
            if (SUCCEEDED(args.Int(ro, &v))) readOnly = v != 0;
        }
        app->Session();  // not after Quit
        auto doc = std::make_shared<Document>();
        doc->office = lookahead::Take(app->session, app->kind, file, readOnly);
        if (!doc->office) doc->office = std::make_unique<OfficeDocument>(app->session, app->kind, file, readOnly);
        app->documents.push_back(doc);
        Result(result, MakeDocument(app, doc));
        return S_OK;
    });
}

// ---- Applications ---------------------------------------------------------------------

enum : DISPID { kVisible = 1, kDisplayAlerts, kDocuments, kActiveDocument, kAppPrintOut, kQuit };

// Application objects alive: the last one to end after the run's end closes
// a document loaded ahead, which holds the office otherwise.
std::atomic<int> g_applications{0};

template <Kind K>
class ApplicationObject
    : public server::Object<ApplicationObject<K>, DispatchImpl<IDispatch>, IOfficeLookahead> {
public:
    ApplicationObject() : app_(std::make_shared<Application>()) {
        app_->kind = K;
        // An office that hung while closing is replaced rather than taken.
        lookahead::Settle();
        try {
            app_->session = OfficeSession::Acquire();
        } catch (const OfficeError& e) {
            throw ComError(kStartFailed, e.text);
        } catch (const css::uno::Exception& e) {
            throw ComError(kStartFailed, rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr());
        }
        ++g_applications;
    }
    ~ApplicationObject() override {
        app_->Quit();
        if (--g_applications == 0 && !OfficeSession::Kept()) lookahead::Drop();
    }

    HRESULT AnnounceDocument(BSTR fileName, std::int32_t kind, VARIANT_BOOL readOnly) override {
        return server::Trap([&] {
            if (!fileName || kind < kOfficeText || kind > kOfficePresentation) return E_INVALIDARG;
            if (!app_->session) return E_FAIL;
            lookahead::Announce(app_->session, static_cast<Kind>(kind), Utf8FromBstr(fileName), readOnly != 0);
            return S_OK;
        });
    }

protected:
    const DispatchTable& Table() const override {
        static const DispatchTable table({{"Visible", kVisible},
                                          {"DisplayAlerts", kDisplayAlerts},
                                          {K == Kind::Text ? "Documents" : K == Kind::Spreadsheet ? "Workbooks"
                                                                                                   : "Presentations",
                                           kDocuments},
                                          {K == Kind::Text ? "ActiveDocument" : K == Kind::Spreadsheet
                                                                                     ? "ActiveWorkbook"
                                                                                     : "ActivePresentation",
                                           kActiveDocument},
                                          {"PrintOut", kAppPrintOut},
                                          {"Quit", kQuit}});
        return table;
    }
    HRESULT InvokeMember(DISPID id, std::uint16_t flags, const DispArgs& args, VARIANT* result) override {
        try {
            switch (id) {
            case kVisible:
            case kDisplayAlerts: {
                bool& b = id == kVisible ? app_->visible : app_->alerts;
                if (IsPut(flags)) return PutBool(args, &b);
                SetResultBool(result, b);
                return S_OK;
            }
            case kDocuments:
                app_->Session();
                Result(result, MakeCollection(app_));
                return S_OK;
            case kActiveDocument:
            case kAppPrintOut: {
                app_->Session();
                DocPtr active;
                for (auto& d : app_->documents)
                    if (d->office) active = d;
                if (!active) throw ComError(kOfficeFailed, "no document is open");
                if (id == kAppPrintOut) active->Print();
                else Result(result, MakeDocument(app_, active));
                return S_OK;
            }
            case kQuit:
                app_->Quit();
                return S_OK;
            }
        } catch (const OfficeError& e) {
            throw ComError(kOfficeFailed, e.text);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    AppPtr app_;
};

}  // namespace

HRESULT GetApplicationClass(REFCLSID clsid, REFIID riid, void** ppv) {
    HRESULT hr = server::GetClassObject<ApplicationObject<Kind::Text>>(clsid, CLSID_WordApplication, riid, ppv);
    if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;
    hr = server::GetClassObject<ApplicationObject<Kind::Spreadsheet>>(clsid, CLSID_ExcelApplication, riid, ppv);
    if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;
    return server::GetClassObject<ApplicationObject<Kind::Presentation>>(clsid, CLSID_PowerPointApplication, riid,
                                                                         ppv);
}

}  // namespace vmoffice
