#include "frame.h"

#include "com_checks.h"
#include "paths.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

using com::Bstr;

com::VARIANT_BOOL VBool(bool b) { return b ? com::VARIANT_TRUE : com::VARIANT_FALSE; }

// The add-on's site in interactive runs: while a load waits, the progress
// window's messages run, and a press on its Cancel button abandons the load.
class ProgressWaitSite final : public tessaline::ITessalineWaitSite {
public:
    explicit ProgressWaitSite(const ConversionContext& ctx) : ctx_(ctx) {}
    com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (!ppv) return com::E_POINTER;
        *ppv = nullptr;
        if (riid != com::IID_IUnknown && riid != tessaline::IID_ITessalineWaitSite) return com::E_NOINTERFACE;
        *ppv = static_cast<tessaline::ITessalineWaitSite*>(this);
        AddRef();
        return com::S_OK;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    com::HRESULT KeepWaiting() override {
        if (ctx_.progress) ctx_.progress->ProcessMessages();
        return ctx_.Cancelled() ? com::S_FALSE : com::S_OK;
    }

private:
    const ConversionContext& ctx_;  // outlives the add-on, which holds this site
    std::uint32_t refs_ = 0;
};

void AttachWaitSite(ConversionContext& ctx) {
    if (!ctx.interactive || !ctx.progress || !ctx.addon) return;
    com::ComPtr<com::IObjectWithSite> withSite;
    if (com::FAILED(ctx.addon->QueryInterface(com::IID_IObjectWithSite,
                                              reinterpret_cast<void**>(withSite.ReleaseAndGetAddressOf()))) ||
        !withSite)
        return;
    com::ComPtr<tessaline::ITessalineWaitSite> site(new ProgressWaitSite(ctx));
    withSite->SetSite(site.Get());
}

}  // namespace

std::string ProgramPathOf(const RunSetup& setup) {
    return setup.programPath.empty() ? sys::ProgramPath() : setup.programPath;
}

void ConversionContext::Step(int steps) {
    if (!interactive) return;
    stepCounter += steps;
    if (progress) progress->Advance(steps);
}

void ConversionContext::SetStatus(const std::string& text) {
    if (interactive && progress) progress->SetStatus(text);
}
bool CreateComObjects(ConversionContext& ctx) {
    if (ctx.createObjects) return ctx.createObjects(ctx);
    struct Component {
        const char* progId;
        const char* name;
    };
    auto create = [&](const Component& c, auto* out) {
        com::CLSID clsid;
        if (com::FAILED(com::CLSIDFromProgID(c.progId, &clsid))) {
            ShowError(ctx, FormatString(LoadString(IDS_COMPONENT_NOT_FOUND).c_str(), c.name));
            return false;
        }
        using T = std::remove_pointer_t<decltype(out->Get())>;
        if (com::FAILED(com::CoCreateInstance(clsid, nullptr, com::CLSCTX_ALL, com::iid_of<T>,
                                              reinterpret_cast<void**>(out->ReleaseAndGetAddressOf()))) ||
            !*out) {
            ShowError(ctx, FormatString(LoadString(IDS_COMPONENT_NOT_CREATED).c_str(), c.name));
            return false;
        }
        return true;
    };
    return create({corvanth::kProgId, "Corvanth"}, &ctx.pdf) &&
           create({tessaline::kProgIdTessaline2, "Tessaline"}, &ctx.addon);
}

std::int32_t BeginPdfDocument(ConversionContext& ctx, const std::string& output, std::int32_t resolution) {
    if (!ctx.pdf || !ctx.addon) return kComponentsMissing;
    try {
        Bstr name(output);
        PdfCheck(ctx.pdf->put_FileName(name.Get()));
        PdfCheck(ctx.pdf->put_ViewAfterEnd(com::VARIANT_FALSE));
        PdfCheck(ctx.pdf->put_Resolution(resolution));
        PdfCheck(ctx.pdf->BeginDoc());
    } catch (...) {
        ShowError(ctx, FormatString(LoadString(IDS_OUTPUT_NOT_OPENED).c_str(), output.c_str()));
        return kPdfBeginFailed;
    }
    try {
        if (ctx.logFlag) {
            const std::string program = ProgramPathOf(ctx);
            Bstr log(program + "_addon.log");
            AddonCheck(ctx.addon->SetLogFile(log.Get()));
            const std::string folder = FolderPart(program) + "/DebugEMFs";
            sys::DeleteTree(folder);
            sys::CreateFolder(folder);
            Bstr debug(folder);
            AddonCheck(ctx.addon->CreateDebugImages(debug.Get()));
        }
        Bstr a(HtmlEngineWord(ctx.settings.HtmlEngine)), b("");
        AddonCheck(ctx.addon->StartHTMLEngine(a.Get(), b.Get()));
        AddonCheck(ctx.addon->ConnectToPDFLibrary(ctx.pdf.Get()));
    } catch (...) {
        ShowError(ctx, LoadString(IDS_ADDON_FAILED));
        return kAddonFailed;
    }
    AttachWaitSite(ctx);
    ApplySettings(ctx);
    ctx.pageTable.clear();
    ctx.links.clear();
    ctx.anchors.clear();
    ctx.outlines.clear();
    ctx.temporaryFiles.clear();
    ctx.queue.clear();
    return kOk;
}

void ApplySettings(ConversionContext& ctx) {
    const PdfSettings& s = ctx.settings;
    corvanth::IPdfDocument* pdf = ctx.pdf.Get();
    tessaline::ITessaline2* addon = ctx.addon.Get();
    if (!pdf || !addon) return;
    try {
        PdfCheck(pdf->put_CreationDate(sys::NowAsDate()));
        // Each setting's call, as the settings table (pdf_settings.h) has it.
#define VM_APPLY_PDF_SETTING(type, field, value, stored, switchName, read, choices, protectionOnly, ...) \
    {                                                                                                  \
        __VA_ARGS__;                                                                                   \
    }
        VM_PDF_SETTINGS(VM_APPLY_PDF_SETTING)
#undef VM_APPLY_PDF_SETTING
    } catch (...) {
        // A setting the objects refuse leaves their defaults; the run goes on.
    }
}


bool FinishPdfDocument(ConversionContext& ctx, bool discard) {
    std::string output;
    bool failed = false;
    if (ctx.pdf) {
        Bstr name;
        if (com::SUCCEEDED(ctx.pdf->get_FileName(name.Out()))) output = name.Utf8();
        else failed = true;
    }
    if (ctx.addon) {
        if (com::FAILED(ctx.addon->DisconnectFromPDFLibrary())) failed = true;
        ctx.addon.Reset();
    }
    if (ctx.pdf) {
        if (com::FAILED(ctx.pdf->EndDoc())) failed = true;
        ctx.pdf.Reset();
    }
    ctx.mergedPageCount = 0;
    for (const std::string& file : ctx.temporaryFiles) sys::DeleteFile(file);
    ctx.temporaryFiles.clear();
    com::CoFreeUnusedLibraries();
    if (discard && !output.empty()) sys::DeleteFile(output);
    if (failed && !discard) ShowError(ctx, LoadString(IDS_FINISH_FAILED));
    return !failed;
}

void ReleaseComObjects(ConversionContext& ctx) {
    if (ctx.addon) {
        ctx.addon->DisconnectFromPDFLibrary();
        ctx.addon.Reset();
    }
    ctx.pdf.Reset();
    ctx.mergedPageCount = 0;
    for (const std::string& file : ctx.temporaryFiles) sys::DeleteFile(file);
    ctx.temporaryFiles.clear();
    com::CoFreeUnusedLibraries();
}

void DeleteTemporaryFolder(ConversionContext& ctx) {
    if (!ctx.temporaryFolder.empty()) sys::DeleteTree(ctx.temporaryFolder);
    ctx.temporaryFolder.clear();
}

std::int32_t BeginFileFrame(ConversionContext& ctx, const std::string& output) {
    if (ctx.MakeOne && !ctx.firstFile && ctx.pdf && ctx.addon) return kOk;
    if (!CreateComObjects(ctx)) return kComponentsMissing;
    return BeginPdfDocument(ctx, output, 96);
}

bool CancelledAndDiscarded(ConversionContext& ctx, bool unload, bool deleteTemporaryFolder) {
    if (!ctx.Cancelled()) return false;
    if (unload && ctx.addon) ctx.addon->UnloadAll();
    FinishPdfDocument(ctx, true);
    if (deleteTemporaryFolder) DeleteTemporaryFolder(ctx);
    return true;
}

void AddFileEntries(ConversionContext& ctx, const std::string& source) {
    if (!ctx.MakeOne) return;
    OutlineEntry outline;
    outline.title = DisplayName(source);
    outline.level = 0;
    outline.page = ctx.mergedPageCount;
    ctx.outlines.push_back(outline);
    PageTableEntry entry;
    entry.displayName = DisplayName(source);
    entry.fileName = FileNamePart(source);
    entry.firstPage = ctx.mergedPageCount;
    ctx.pageTable.push_back(entry);
}

void QueuePageSource(ConversionContext& ctx, const PageSource& source) { ctx.queue.push_back(source); }

std::int32_t EndFileFrame(ConversionContext& ctx, std::int32_t pageCount, bool unloadOnCancel, int step) {
    if (ctx.interactive) {
        ctx.Step(2);
        if (CancelledAndDiscarded(ctx, unloadOnCancel, true)) return kCancelled;
    }
    if (ctx.MakeOne) ctx.mergedPageCount += pageCount;
    if (std::int32_t r = GeneratePages(ctx, step)) return r;
    ctx.Step(1);
    return kOk;
}

}  // namespace vellumate
