// The seam between the add-on object and the page code: how many PDF pages a
// page image makes, which links fall on which page, and the drawing of pages
// onto the connected document. The object keeps the page numbering across
// page images, the page link lists and the anchors; the page code works on one
// image at a time and reaches the object only through PageHost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addon/common/event_log.h"
#include "addon/common/page_image.h"
#include "addon/common/pdf_target.h"

namespace tessaline {

// The object's settings as they stand at the call.
struct PageSettings {
    std::int32_t marginLeft = 0;
    std::int32_t marginTop = 0;
    std::int32_t marginRight = 0;
    std::int32_t marginBottom = 0;
    bool preserveLinks = true;
    bool autoAdjustPageWidth = false;
    bool autoAdjustContentWidth = false;
    float renderScale = 1.0f;  // of the page image worked on
    std::string debugFolder;   // may be empty
};

// What the page code may use of the add-on object during one call. Borrowed:
// valid for the length of the call only.
class PageHost {
public:
    virtual EventLog& Log() = 0;
    // Long steps (cutting a tall image into pages) call this now and then,
    // so that a client with windows on this thread can run them.
    virtual void LetClientRun() {}
    virtual PdfTarget& Pdf() = 0;
    // The link queries of the object (margins included), by add-on page.
    virtual int LinkCount(int page) const = 0;
    virtual bool GetLink(int page, int index, LinkRecord* out) const = 0;

protected:
    ~PageHost() = default;
};

class PageConverter {
public:
    virtual ~PageConverter() = default;
    // Number of PDF pages the image makes (at load time; with
    // AutoAdjustPageWidth it may widen the document's current page).
    virtual int CountPages(PageHost& host, const PageImage& image, const PageSettings& settings) = 0;
    // The link list of each page of the image, in page order; rectangles in
    // page units without the margins.
    virtual std::vector<std::vector<LinkRecord>> MapLinks(PageHost& host, const PageImage& image,
                                                          const PageSettings& settings) = 0;
    // Both of the above at load time, in that order. A converter that can do
    // it with one pass over the image overrides this.
    struct Layout {
        int pageCount = 0;
        std::vector<std::vector<LinkRecord>> pageLinks;
    };
    virtual Layout LayOut(PageHost& host, const PageImage& image, const PageSettings& settings) {
        Layout l;
        l.pageCount = CountPages(host, image, settings);
        l.pageLinks = MapLinks(host, image, settings);
        return l;
    }
    // Sets the document's page width for the image (AutoAdjustPageWidth);
    // false when the document refused it.
    virtual bool AdjustPageWidth(PageHost& host, const PageImage& image, const PageSettings& settings) = 0;
    // Draws page `page` of the image (0-based within it) onto the current
    // page, or, for -1, every page, adding a page before each but the first.
    // firstPage is the add-on page number of the image's first page (for its
    // links). False when the image cannot be read or the document refused a
    // page, a drawing or a link.
    virtual bool Convert(PageHost& host, const PageImage& image, int firstPage, int page,
                         const PageSettings& settings) = 0;
};

// The page code's converter; defined by the page library (vm_addon_pages),
// which announces it with
//   target_compile_definitions(vm_addon_pages INTERFACE TESSALINE_HAVE_PAGES)
std::unique_ptr<PageConverter> CreatePageConverter();

// For builds without the page library: counts pages by the printable height,
// maps no links, and fails every drawing with an error line.
std::unique_ptr<PageConverter> CreateBasicPageConverter();

}  // namespace tessaline
