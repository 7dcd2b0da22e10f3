// The browser-grade HTML engine: Debian's Chromium, headless, driven over
// the DevTools protocol on a pipe. One browser per engine object, with a
// private profile, started on the first render or announcement and ended
// with the object; a new tab per document. The tab lays the document out at
// the request's width with screen media; the facts the page-image logic
// reads (sizes, element rectangles and computed page breaks, anchors and
// ids) are taken from the live document by script, and the whole document
// is printed as one tall page (or, past the printer's page-size limit, a
// few stacked pages) and turned back into drawing calls by the page
// converter, fonts included.
//
// The browser works on threads of its own, one per tab, two documents at
// once by default: a document announced with Prefetch (a file, at most two
// ahead) is loaded, measured and printed there while the caller converts
// the one before; Render takes that print
// when it asks for the same request and the file is unchanged, and loads
// anew otherwise. A document asked for never waits for one announced.
//
// Network: the tab reaches file: addresses and, for a web address, that
// address's own origin; every other request is refused. PageTimeout bounds
// the load; a crashed or hung browser fails its load and a new one is
// started for the next document.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "htmlengine/engine.h"

namespace browser {

struct BrowserOptions {
    // The browser program; "" looks for Debian's Chromium ($VELLUMATE_CHROMIUM
    // names another, and an empty $VELLUMATE_CHROMIUM means there is none).
    std::string program;
    // Documents loaded in the browser at once, each in a tab of its own;
    // 0 takes $VELLUMATE_BROWSER_TABS, else kDefaultTabs.
    std::size_t tabs = 0;
};
inline constexpr std::size_t kDefaultTabs = 2;

// The browser program that would be started, or "" when none is installed.
std::string FindBrowser();

std::unique_ptr<htmlengine::HtmlEngine> CreateBrowserEngine(BrowserOptions options = {});

// Tall pages the printer makes at most (inches), and the page image's layout
// for a document `height` pixels tall: the print scale (1 or less) and how
// many pages of `pageCss` document pixels each are stacked.
struct PrintPlan {
    double scale = 1;
    int pages = 1;
    double pageCss = 0;  // document pixels per printed page
};
PrintPlan PlanPrint(double height);

}  // namespace browser
