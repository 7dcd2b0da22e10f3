#include "driver.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <limits>

#include "converters.h"
#include "paths.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

using com::Bstr;

constexpr double kPowerPointShiftX = -81.33333575725555;
constexpr double kPowerPointShiftY = -37.33333444595337;
constexpr std::int32_t kPageNumberBand = 16;  // room below the content for "Page n", in 1/96 inch

// The page-number band in the document's current page units: 16 units at 96
// dots per inch, the same 12 points at every resolution, so that the 8-point
// number fits in it whatever the resolution.
double PageNumberBand(std::int32_t resolution) {
    return resolution > 0 ? kPageNumberBand * static_cast<double>(resolution) / 96.0 : kPageNumberBand;
}

com::VARIANT_BOOL VBool(bool b) { return b ? com::VARIANT_TRUE : com::VARIANT_FALSE; }

std::string ProgramPathOf(const ConversionContext& ctx) {
    return ctx.programPath.empty() ? sys::ProgramPath() : ctx.programPath;
}

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    auto ca = std::filesystem::weakly_canonical(a, ec1);
    auto cb = std::filesystem::weakly_canonical(b, ec2);
    return !ec1 && !ec2 && ca == cb;
}

// Thrown by the page-number step, which has a result code of its own.
struct PageNumberFailed {};

void WritePageNumber(ConversionContext& ctx) {
    try {
        corvanth::IPdfDocument* pdf = ctx.pdf.Get();
        std::int32_t index = 0;
        PdfCheck(pdf->get_CurrentPage(&index));
        Bstr text(FormatString(LoadString(IDS_PAGE_NUMBER).c_str(), index + 1));
        double w = 0, h = 0, t = 0;
        std::int32_t resolution = 0;
        PdfCheck(pdf->get_PageWidth(&w));
        PdfCheck(pdf->get_PageHeight(&h));
        PdfCheck(pdf->get_Resolution(&resolution));
        // Measured before the font of this step is selected: the first page
        // measures in whatever font earlier drawing left selected.
        PdfCheck(pdf->GetTextWidth(text.Get(), &t));
        const auto x = static_cast<std::int64_t>(w) / 2 + static_cast<std::int64_t>(t * -0.5);
        const double y = h - ctx.settings.MarginBottom - PageNumberBand(resolution);
        Bstr face("Verdana");
        PdfCheck(pdf->SetFont(face.Get(), com::VARIANT_FALSE, com::VARIANT_FALSE, com::VARIANT_FALSE,
                              com::VARIANT_FALSE, 8, ctx.settings.Charset));
        PdfCheck(pdf->SetColor(0, 0, 0));
        PdfCheck(pdf->TextOut(text.Get(), static_cast<double>(x), y, 0));
    } catch (...) {
        ShowError(ctx, LoadString(IDS_PDF_FAILED));
        throw PageNumberFailed{};
    }
}

// The links and named anchors of one add-on page, in PDF page coordinates.
void CollectLinks(ConversionContext& ctx, const PageTableIndex& index, std::int32_t addonPage) {
    tessaline::ITessaline2* addon = ctx.addon.Get();
    const std::int32_t pdfPage = index.PdfPage(addonPage);
    int count = 0;
    AddonCheck(addon->GetLinkCount(addonPage, &count));
    for (int i = 0; i < count; ++i) {
        Bstr target;
        AddonCheck(addon->GetLinkText(addonPage, i, target.Out()));
        LinkEntry link;
        int top = 0, left = 0, bottom = 0, right = 0;
        AddonCheck(addon->GetLinkTop(addonPage, i, &top));
        AddonCheck(addon->GetLinkLeft(addonPage, i, &left));
        AddonCheck(addon->GetLinkBottom(addonPage, i, &bottom));
        AddonCheck(addon->GetLinkRight(addonPage, i, &right));
        // A named anchor is where links into the document go; it has no
        // extent of its own and is no link unless it has a target too.
        Bstr name;
        AddonCheck(addon->GetLinkName(addonPage, i, name.Out()));
        if (std::string n = name.Utf8(); !n.empty()) ctx.anchors.push_back({std::move(n), pdfPage, top});
        const std::string reported = target.Utf8();
        if (reported.empty()) continue;
        link.top = top;
        link.left = left;
        link.bottom = bottom;
        link.right = right;
        if (!(left < right && top < bottom)) continue;
        ResolveLinkTarget(index, reported, &link, pdfPage);
        link.page = pdfPage;
        ctx.links.push_back(std::move(link));
    }
}

void CreateLinks(ConversionContext& ctx, const PageTableIndex& index) {
    corvanth::IPdfDocument* pdf = ctx.pdf.Get();
    if (!ctx.links.empty() && ctx.interactive) ctx.SetStatus(LoadString(IDS_GENERATING_LINKS));
    const AnchorIndex anchors(ctx.anchors);
    for (LinkEntry link : ctx.links) {
        ResolveAnchor(index, anchors, &link);
        std::int32_t action = 0;
        if (link.url.empty()) {
            if (link.targetPage < 0) continue;
            PdfCheck(pdf->CreateGoToAction(link.targetPage, link.targetTop, &action));
        } else {
            Bstr url(link.url);
            PdfCheck(pdf->CreateUriAction(url.Get(), &action));
        }
        PdfCheck(pdf->put_CurrentPage(link.page));
        PdfCheck(pdf->AddLink(link.left, link.top, link.right, link.bottom, action));
    }
}

void CreateOutlines(ConversionContext& ctx) {
    corvanth::IPdfDocument* pdf = ctx.pdf.Get();
    if (!ctx.outlines.empty() && ctx.interactive) ctx.SetStatus(LoadString(IDS_GENERATING_OUTLINES));
    bool first = true;
    std::int32_t level = 0;
    for (const OutlineEntry& entry : ctx.outlines) {
        std::int32_t action = 0;
        if (!entry.url.empty()) {
            Bstr url(entry.url);
            PdfCheck(pdf->CreateUriAction(url.Get(), &action));
        } else if (entry.page >= 0) {
            PdfCheck(pdf->CreateGoToAction(entry.page, 0, &action));
        } else {
            Bstr script("return;");
            PdfCheck(pdf->CreateScriptAction(script.Get(), &action));
        }
        Bstr title(entry.title);
        std::int32_t id = -1;
        if (first || entry.level == level) {
            PdfCheck(pdf->AddOutlineSibling(title.Get(), action, ctx.settings.Charset, &id));
        } else if (entry.level > level) {
            PdfCheck(pdf->AddOutlineChild(title.Get(), action, ctx.settings.Charset, &id));
        } else {
            for (std::int32_t up = level; up > entry.level; --up) {
                std::int32_t parent = -1;
                PdfCheck(pdf->get_CurrentOutlineParent(&parent));
                if (parent < 0) break;  // already at the top
                PdfCheck(pdf->put_CurrentOutline(parent));
            }
            PdfCheck(pdf->AddOutlineSibling(title.Get(), action, ctx.settings.Charset, &id));
        }
        PdfCheck(pdf->put_CurrentOutline(id));
        PdfCheck(pdf->put_OutlineOpen(com::VARIANT_TRUE));
        first = false;
        level = entry.level;
    }
}

// Which kind of source was being drawn when something failed.
enum class Drawing { Addon, Picture, Printed, Other };

std::int32_t GenerateAll(ConversionContext& ctx, int step, Drawing* drawing) {
    corvanth::IPdfDocument* pdf = ctx.pdf.Get();
    tessaline::ITessaline2* addon = ctx.addon.Get();
    const PdfSettings& s = ctx.settings;

    std::int32_t addonPages = 0, pictures = 0;
    *drawing = Drawing::Addon;
    AddonCheck(addon->get_TotalPageCount(&addonPages));
    *drawing = Drawing::Other;
    PdfCheck(pdf->get_PictureCount(&pictures));
    const std::int32_t total = addonPages + pictures + static_cast<std::int32_t>(ctx.temporaryFiles.size());
    ctx.Step(step);

    // Every source is queued and in the page table by now.
    const PageTableIndex index(ctx);
    std::int32_t pageNumber = 1, addonUsed = 0, printedUsed = 0;
    for (const PageSource& src : ctx.queue) {
        for (std::int32_t i = 0; i < src.pageCount; ++i, ++pageNumber) {
            if (ctx.Cancelled()) {
                if (!src.pictureSource) addon->UnloadAll();
                FinishPdfDocument(ctx, true);
                DeleteTemporaryFolder(ctx);
                return kCancelled;
            }
            if (ctx.interactive)
                ctx.SetStatus(FormatString(LoadString(IDS_GENERATING_PAGES).c_str(), pageNumber, total));
            ctx.Count(Work::Pages, pageNumber, total);

            if (src.addonSource) {
                *drawing = Drawing::Addon;
                if (pageNumber > 1) {
                    PdfCheck(pdf->put_Resolution(96));
                    AddonCheck(addon->SafeNewPage());
                    PdfCheck(pdf->put_Orientation(s.Orientation));
                    PdfCheck(pdf->put_PaperSize(s.Size));
                }
                double paperWidth = 0;
                PdfCheck(pdf->get_PaperWidth(&paperWidth));
                AddonCheck(addon->put_MinimalWidth(
                    static_cast<std::int32_t>(paperWidth - (s.MarginRight + s.MarginLeft))));
                AddonCheck(addon->ConvertPage(addonUsed));
                if (s.PreserveLinks) CollectLinks(ctx, index, addonUsed);
                ++addonUsed;
            } else if (src.pictureSource) {
                *drawing = Drawing::Picture;
                if (pageNumber > 1) {
                    PdfCheck(pdf->put_Resolution(src.resolution2));
                    PdfCheck(pdf->NewPage());
                }
                std::int32_t resolution = 0;
                PdfCheck(pdf->get_Resolution(&resolution));
                PdfCheck(pdf->put_Resolution(src.resolution2));
                if (src.width > 0 && src.height > 0) {
                    PdfCheck(pdf->put_Orientation(src.orientation));
                    const double band = s.PageNumbers ? PageNumberBand(src.resolution2) : 0;
                    PdfCheck(pdf->put_PageHeight(s.MarginTop + src.height + s.MarginBottom + band));
                    PdfCheck(pdf->put_PageWidth(s.MarginLeft + src.width + s.MarginRight));
                }
                const std::int32_t picture = src.firstPicture + i;
                if (ctx.invertFlag) PdfCheck(pdf->InvertPicture(picture));
                PdfCheck(pdf->DrawPicture(picture, s.MarginLeft, s.MarginTop));
            } else {
                *drawing = Drawing::Printed;
                if (pageNumber > 1) {
                    PdfCheck(pdf->put_Resolution(96));
                    PdfCheck(pdf->NewPage());
                }
                std::int32_t resolution = 0;
                PdfCheck(pdf->get_Resolution(&resolution));
                const double scale = resolution / 300.0;
                if (src.orientation != -1) PdfCheck(pdf->put_Orientation(src.orientation));
                if (src.width > 0 && src.height > 0) {
                    PdfCheck(pdf->put_PageHeight(src.height));
                    PdfCheck(pdf->put_PageWidth(src.width));
                }
                const bool shifted = src.placement == 2;
                std::int32_t count = 0;
                PdfCheck(pdf->get_PageCount(&count));
                PdfCheck(pdf->put_CurrentPage(count - 1));
                if (printedUsed < static_cast<std::int32_t>(ctx.temporaryFiles.size())) {
                    const std::string& file = ctx.temporaryFiles[static_cast<size_t>(printedUsed)];
                    Bstr path(file);
                    PdfCheck(pdf->DrawEmfFile(path.Get(), shifted ? kPowerPointShiftX : 0,
                                              shifted ? kPowerPointShiftY : 0, scale, scale));
                    sys::DeleteFile(file);
                }
                ++printedUsed;
            }
            if (s.PageNumbers) WritePageNumber(ctx);
        }
    }

    *drawing = Drawing::Other;
    CreateLinks(ctx, index);
    CreateOutlines(ctx);
    ctx.Step(step);
    *drawing = Drawing::Addon;
    AddonCheck(addon->UnloadAll());
    // A document that could not be written is no success, whatever came before.
    const bool written = FinishPdfDocument(ctx, false);
    DeleteTemporaryFolder(ctx);
    return written ? kOk : kPdfFailed;
}

}  // namespace

void ConversionContext::Step(int steps) {
    if (!interactive) return;
    stepCounter += steps;
    if (progress) progress->Advance(steps);
}

void ConversionContext::SetStatus(const std::string& text) {
    if (interactive && progress) progress->SetStatus(text);
}

void ShowError(const ConversionContext& ctx, const std::string& text) {
    if (ctx.interactive) sys::MessageBox(text, LoadString(IDS_ERROR_CAPTION), sys::Icon::Error);
}

std::string ComErrorText(const char* who, const com::ComError& e) {
    return FormatString("%s has thrown an exception:\n\ncom error: %d - %s", who, static_cast<int>(e.Error()),
                        e.Description().c_str());
}

std::string ResolveSource(const ConversionContext& ctx, const std::string& source) {
    const std::string program = ProgramPathOf(ctx);
    return ResolvePath(source, program, program);
}

std::int32_t ConvertFile(ConversionContext& ctx, const std::string& source, const std::string& output) {
    if (ctx.Cancelled()) return kCancelled;
    const std::string program = ProgramPathOf(ctx);
    const std::string src = ResolvePath(source, program, program);
    const std::string out = src.empty() ? std::string() : ResolvePath(output, src, program);

    if (!sys::CanOpenForReading(src)) {
        ShowError(ctx, FormatString(LoadString(IDS_SOURCE_NOT_OPENED).c_str(), src.c_str()));
        return kSourceMissing;
    }
    // Writing the PDF over its own source would destroy the source.
    if (out.empty() || sys::IsFolder(out) || SamePath(src, out)) {
        ShowError(ctx, LoadString(IDS_OUTPUT_PATH_WRONG));
        return kOutputPathWrong;
    }
    const std::optional<std::string> extension = LowerExtension(src);
    if (!extension) return kNoExtension;
    const std::string& ext = *extension;

    std::int32_t result;
    auto is = [&](std::initializer_list<const char*> list) {
        for (const char* e : list)
            if (ext == e) return true;
        return false;
    };
    if (is({"html", "htm", "shtml", "shtm", "mht", "txt"})) result = ConvertHtmlFile(ctx, src, out);
    else if (is({"chm"})) result = ConvertChm(ctx, src, out);
    else if (is({"doc", "dot", "rtf", "wps", "wri"})) result = ConvertWord(ctx, src, out);
    else if (is({"xls", "xlt", "xlw"})) result = ConvertExcel(ctx, src, out);
    else if (is({"ppt", "pps", "pot"})) result = ConvertPowerPoint(ctx, src, out);
    else if (is({"jpg", "jpeg", "tif", "tiff", "gif", "emf", "bmp", "png"})) result = ConvertPicture(ctx, src, out);
    else return kUnsupportedExtension;

    if (ctx.openAfterFlag && (!ctx.MakeOne || ctx.lastFile)) {
        // The resolved path: the caller's relative text would be taken from
        // the opener's current folder, which is not where the file went.
        if (sys::ShellOpen(out) <= 32) result = kOpenAfterFailed;
    }
    return result;
}

namespace {

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
        PdfCheck(pdf->put_Compression(s.Compression));
        PdfCheck(pdf->put_JpegQuality(s.JPEGQuality));
        PdfCheck(pdf->put_PdfVersion(s.Version));
        PdfCheck(pdf->put_PageMode(s.PageMode));
        PdfCheck(pdf->put_PageLayout(s.PageLayout));
        PdfCheck(pdf->put_FontEmbedding(s.EmbedFonts ? 2 : 3));
        PdfCheck(pdf->put_Author(Bstr(s.Author).Get()));
        PdfCheck(pdf->put_Subject(Bstr(s.Subject).Get()));
        PdfCheck(pdf->put_Title(Bstr(s.Title).Get()));
        PdfCheck(pdf->put_Keywords(Bstr(s.Keywords).Get()));
        PdfCheck(pdf->put_CreationDate(sys::NowAsDate()));
        if (s.ProtectionEnabled) {
            PdfCheck(pdf->put_Encrypt(com::VARIANT_TRUE));
            PdfCheck(pdf->put_UserPassword(Bstr(s.UserPassword).Get()));
            PdfCheck(pdf->put_OwnerPassword(Bstr(s.OwnerPassword).Get()));
            PdfCheck(pdf->put_KeyLength(s.ProtectionKeyLength));
            PdfCheck(pdf->put_AllowCopy(VBool(s.AllowCopy)));
            PdfCheck(pdf->put_AllowModify(VBool(s.AllowModify)));
            PdfCheck(pdf->put_AllowPrint(VBool(s.AllowPrint)));
        }
        PdfCheck(pdf->put_HideToolBar(VBool(s.HideToolBar)));
        PdfCheck(pdf->put_HideMenuBar(VBool(s.HideMenuBar)));
        PdfCheck(pdf->put_HideWindowUI(VBool(s.HideWindowUI)));
        PdfCheck(pdf->put_FitWindow(VBool(s.FitWindow)));
        PdfCheck(pdf->put_CenterWindow(VBool(s.CenterWindow)));
        AddonCheck(addon->put_MarginTop(s.MarginTop));
        AddonCheck(addon->put_MarginLeft(s.MarginLeft));
        AddonCheck(addon->put_MarginRight(s.MarginRight));
        AddonCheck(addon->put_MarginBottom(s.MarginBottom + (s.PageNumbers ? kPageNumberBand : 0)));
        PdfCheck(pdf->put_Orientation(s.Orientation));
        PdfCheck(pdf->put_PaperSize(s.Size));
        AddonCheck(addon->put_AutoAdjustPageWidth(VBool(s.PageWidthAdjusting == 0)));
        AddonCheck(addon->put_AutoAdjustContentWidth(VBool(s.PageWidthAdjusting == 1)));
        AddonCheck(addon->put_PreserveLinks(com::VARIANT_FALSE));  // the driver makes the links
    } catch (...) {
        // A setting the objects refuse leaves their defaults; the run goes on.
    }
}

std::int32_t GeneratePages(ConversionContext& ctx, int step) {
    if (ctx.MakeOne && !ctx.lastFile) {
        ctx.Step(step);
        ctx.Step(step);
        return kOk;
    }
    if (!ctx.pdf || !ctx.addon) return kComponentsMissing;
    Drawing drawing = Drawing::Other;
    std::int32_t result;
    try {
        return GenerateAll(ctx, step, &drawing);
    } catch (const PageNumberFailed&) {
        result = kPageNumberFailed;
    } catch (const AddonComError& e) {
        ShowError(ctx, ComErrorText("Tessaline Addon", e));
        result = kAddonFailed;
    } catch (const com::ComError& e) {
        ShowError(ctx, ComErrorText("Corvanth", e));
        result = kPdfFailed;
    } catch (...) {
        if (drawing == Drawing::Addon) {
            ShowError(ctx, LoadString(IDS_ADDON_FAILED));
            result = kAddonFailed;
        } else {
            ShowError(ctx, LoadString(IDS_PICTURE_ADDON_FAILED));
            result = kPdfFailed;
        }
    }
    // Nothing half-made stays behind.
    FinishPdfDocument(ctx, true);
    DeleteTemporaryFolder(ctx);
    return result;
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

std::int32_t AddonToPdfPage(const std::vector<PageSource>& queue, std::int32_t addonPage) {
    std::int32_t addonSeen = 0, others = 0;
    for (const PageSource& src : queue) {
        if (src.addonSource) {
            if (addonPage < addonSeen + src.pageCount) break;
            addonSeen += src.pageCount;
        } else {
            others += src.pageCount;
        }
    }
    return addonPage + others;
}

namespace {

// "scheme:" of a URL (letters, digits, "+", "-", "." before the colon; a
// single letter is a drive, not a scheme).
bool HasScheme(std::string_view lower) {
    const size_t colon = lower.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = lower[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) return false;
    }
    return true;
}

}  // namespace

std::string AddressKey(std::string_view address) {
    std::string a(address.substr(0, address.find('#')));
    while (!a.empty() && a.back() == '/') a.pop_back();
    const size_t scheme = a.find("://");
    size_t hostEnd = scheme == std::string::npos ? 0 : a.find('/', scheme + 3);
    if (hostEnd == std::string::npos) hostEnd = a.size();
    for (size_t i = 0; i < hostEnd; ++i)
        if (a[i] >= 'A' && a[i] <= 'Z') a[i] = static_cast<char>(a[i] - 'A' + 'a');
    return a;
}

PageTableIndex::PageTableIndex(const ConversionContext& ctx) {
    std::int32_t addonSeen = 0;
    for (const PageSource& src : ctx.queue) {
        if (src.addonSource) {
            addonSeen += src.pageCount;
            addonEnd_.push_back(addonSeen);
            othersBefore_.push_back(othersTotal_);
        } else {
            othersTotal_ += src.pageCount;
        }
    }
    first_.reserve(ctx.pageTable.size());
    byFirst_.reserve(ctx.pageTable.size());
    for (size_t i = 0; i < ctx.pageTable.size(); ++i) {
        const PageTableEntry& e = ctx.pageTable[i];
        const auto index = static_cast<std::int32_t>(i);
        first_.push_back(e.addonIndex ? PdfPage(e.firstPage) : e.firstPage);
        byFirst_.emplace_back(first_.back(), index);
        names_.emplace(ToLowerAscii(FileNamePart(e.fileName)), index);
        if (!e.address.empty()) addresses_.emplace(AddressKey(e.address), index);
    }
    std::sort(byFirst_.begin(), byFirst_.end());
}

std::int32_t PageTableIndex::PdfPage(std::int32_t addonPage) const {
    // The first add-on source that ends after the page holds it (sources of
    // no pages hold none); past them all, every other page stands before it.
    const auto it = std::upper_bound(addonEnd_.begin(), addonEnd_.end(), addonPage);
    const std::int32_t others =
        it == addonEnd_.end() ? othersTotal_ : othersBefore_[static_cast<size_t>(it - addonEnd_.begin())];
    return addonPage + others;
}

std::int32_t PageTableIndex::ByFileName(const std::string& lowerName) const {
    if (lowerName.empty()) return -1;
    const auto it = names_.find(lowerName);
    return it == names_.end() ? -1 : it->second;
}

std::int32_t PageTableIndex::ByAddress(const std::string& key) const {
    const auto it = addresses_.find(key);
    return it == addresses_.end() ? -1 : it->second;
}

std::int32_t PageTableIndex::DocumentOf(std::int32_t pdfPage) const {
    const auto it = std::upper_bound(byFirst_.begin(), byFirst_.end(),
                                     std::pair(pdfPage, std::numeric_limits<std::int32_t>::max()));
    return it == byFirst_.begin() ? -1 : std::prev(it)->second;
}

std::int32_t PageTableIndex::NextFirstPage(std::int32_t page) const {
    const auto it = std::upper_bound(byFirst_.begin(), byFirst_.end(),
                                     std::pair(page, std::numeric_limits<std::int32_t>::max()));
    return it == byFirst_.end() ? std::numeric_limits<std::int32_t>::max() : it->first;
}

AnchorIndex::AnchorIndex(const std::vector<AnchorEntry>& anchors) {
    for (const AnchorEntry& a : anchors) {
        Named& named = byName_[ToLowerAscii(a.name)];
        if (!named.entries.empty() && named.entries.back()->page > a.page) named.pagesAscending = false;
        named.entries.push_back(&a);
    }
}

const AnchorEntry* AnchorIndex::Find(const std::string& lowerName, std::int32_t from, std::int32_t to) const {
    const auto it = byName_.find(lowerName);
    if (it == byName_.end()) return nullptr;
    const std::vector<const AnchorEntry*>& entries = it->second.entries;
    if (it->second.pagesAscending) {
        // Found page by page (the usual case): the first in range is the
        // first at or after `from`.
        const auto at = std::lower_bound(entries.begin(), entries.end(), from,
                                         [](const AnchorEntry* a, std::int32_t page) { return a->page < page; });
        return at != entries.end() && (*at)->page < to ? *at : nullptr;
    }
    for (const AnchorEntry* a : entries)
        if (a->page >= from && a->page < to) return a;
    return nullptr;
}

void ResolveLinkTarget(const ConversionContext& ctx, const std::string& reported, LinkEntry* link,
                       std::int32_t fromPage) {
    ResolveLinkTarget(PageTableIndex(ctx), reported, link, fromPage);
}

void ResolveLinkTarget(const PageTableIndex& index, const std::string& reported, LinkEntry* link,
                       std::int32_t fromPage) {
    // Compared in lower case; what is stored is the target as reported, since
    // the path of an address is case-sensitive.
    const std::string target = ToLowerAscii(reported);
    link->targetPage = -1;
    link->url.clear();
    link->anchor.clear();
    link->anchorDocument = -1;
    link->targetTop = 0;
    const size_t hash = reported.find('#');
    const std::string fragment = hash == std::string::npos ? std::string() : reported.substr(hash + 1);

    std::int32_t document = -1;
    if (HasScheme(target) && !target.starts_with("file:")) {
        // A web address is outside the PDF unless a converted page came from it.
        document = index.ByAddress(AddressKey(reported));
    } else if (hash == 0) {
        // "#name": an anchor of the document the link is on.
        document = index.DocumentOf(fromPage);
        if (document < 0) {
            link->url = reported;  // unless an anchor of the run has that name
            link->anchor = fragment;
            return;
        }
    } else {
        std::string path = target.substr(0, target.find('#'));
        for (char& c : path)
            if (c == '\\') c = '/';
        if (path.starts_with("../")) {
            for (size_t pos = path.find("../"); pos != std::string::npos; pos = path.find("../", pos))
                path.erase(pos, 3);
        }
        document = index.ByFileName(FileNamePart(path));
    }
    if (document < 0) {
        link->url = reported;
        return;
    }
    link->targetPage = index.FirstPdfPage(static_cast<size_t>(document));
    link->anchor = fragment;
    link->anchorDocument = document;
}

void ResolveAnchor(const ConversionContext& ctx, LinkEntry* link) {
    if (link->anchor.empty()) return;
    ResolveAnchor(PageTableIndex(ctx), AnchorIndex(ctx.anchors), link);
}

void ResolveAnchor(const PageTableIndex& index, const AnchorIndex& anchors, LinkEntry* link) {
    if (link->anchor.empty()) return;
    // The pages of the link's document: from its first page to the next
    // document's first page.
    std::int32_t from = 0, to = std::numeric_limits<std::int32_t>::max();
    if (link->anchorDocument >= 0 && static_cast<size_t>(link->anchorDocument) < index.size()) {
        from = index.FirstPdfPage(static_cast<size_t>(link->anchorDocument));
        to = index.NextFirstPage(from);
    }
    if (const AnchorEntry* a = anchors.Find(ToLowerAscii(link->anchor), from, to)) {
        link->targetPage = a->page;
        link->targetTop = a->top;
        link->url.clear();
    }
}

void AddDocumentEntry(ConversionContext& ctx, const std::string& source, const std::string& address) {
    if (ctx.MakeOne && address.empty()) return;  // AddFileEntries has made it
    PageTableEntry entry;
    if (address.empty()) {
        entry.displayName = DisplayName(source);
        entry.fileName = FileNamePart(source);
    }
    entry.firstPage = ctx.MakeOne ? ctx.mergedPageCount : 0;
    entry.address = address;
    ctx.pageTable.push_back(std::move(entry));
}

}  // namespace vellumate
