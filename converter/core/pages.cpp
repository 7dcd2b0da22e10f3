// Page generation: every queued source drawn page by page, then the links
// and outlines, and the document's end.
#include <exception>

#include "com_checks.h"
#include "frame.h"
#include "links.h"
#include "print_handoff.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

using com::Bstr;

constexpr double kPowerPointShiftX = -81.33333575725555;
constexpr double kPowerPointShiftY = -37.33333444595337;

// The page-number band in the document's current page units: 16 units at 96
// dots per inch, the same 12 points at every resolution, so that the 8-point
// number fits in it whatever the resolution.
double PageNumberBand(std::int32_t resolution) {
    return resolution > 0 ? kPageNumberBand * static_cast<double>(resolution) / 96.0 : kPageNumberBand;
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
                const double scale = PrintedPageScale(ctx.temporaryFiles, printedUsed, resolution);
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


}  // namespace vellumate
