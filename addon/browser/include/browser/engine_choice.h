// Which engine draws a document: the light engine (litehtml) or the browser.
// "light" and "browser" choose one; "auto" (the default, also any other word)
// takes the light engine unless the document's own style sheets are built
// with what it cannot lay out, or its light layout comes out far wider than
// the page, and then the browser when one is installed. Web addresses go to
// the browser in "auto": their style sheets are not at hand before the load,
// and today's web pages are nearly all built that way.
//
// The render's warnings carry one line naming the engine used, which the
// loader writes into the add-on's log.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "htmlengine/engine.h"

namespace browser {

enum class EngineKind { Auto, Light, Browser };
EngineKind ParseEngineKind(std::string_view word);

// What a style text uses that the light engine cannot lay out.
struct StyleSignals {
    int flexGrid = 0;          // display: flex, inline-flex, grid, inline-grid
    int customProperties = 0;  // var(--name) uses
};
StyleSignals ScanStyle(std::string_view css);
// Why a document with these signals needs the browser; "" when it does not.
// Classic themes use flex or grid for a detail or two (a field list, the
// sidebar beside the body) that the light engine shows well enough; a modern
// theme is built on custom properties or lays out everything that way.
std::string BrowserReason(const StyleSignals&);

// The style text of a document on disk: the document itself (its style
// elements and attributes) and the style sheets it links that are files,
// with their imports one level deep. "" for web addresses and text files.
std::string DocumentStyleText(const htmlengine::RenderRequest&);

// The light layout is "far wider than the page" past this share of the
// layout width.
constexpr double kWideLayoutFactor = 1.5;

struct EngineChoiceOptions {
    std::function<std::unique_ptr<htmlengine::HtmlEngine>()> makeBrowser;  // called on first use
    std::function<bool()> browserInstalled;
};

std::unique_ptr<htmlengine::HtmlEngine> CreateChoosingEngine(std::unique_ptr<htmlengine::HtmlEngine> light,
                                                             EngineChoiceOptions options);

// The browser of the run, shared by the add-on objects that ask for it: it
// starts with the first document it draws or loads ahead (announced by any
// of them) and ends with EndRunBrowser.
std::unique_ptr<htmlengine::HtmlEngine> CreateRunBrowserEngine();
// Ends the run's browser (after the document it may be drawing) and lets
// the library unload again; the next document starts a new one.
void EndRunBrowser();

// The light engine in its layout process and Debian's Chromium, chosen per document.
std::unique_ptr<htmlengine::HtmlEngine> CreateAddonEngine();

}  // namespace browser
