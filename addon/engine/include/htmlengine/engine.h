// The HTML engine behind the add-on's loading and page-image logic. The
// loader asks an engine to load one document (an address or a string), lay
// it out for a given minimal width and draw it; the engine answers with the
// facts the page-image logic reads from a document (sizes, every element's
// rectangles and page-break styles, anchors) and the drawing itself.
//
// A second engine can be added by implementing HtmlEngine; the loader does
// not know which one it talks to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "htmlengine/display_list.h"

namespace htmlengine {

struct IntRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const IntRect&, const IntRect&) = default;
};

struct RenderRequest {
    enum class Kind { Address, String } kind = Kind::Address;
    std::string address;   // Address: normalised address ("file://...", "http://...", "about:blank")
    std::string html;      // String: the document text
    std::string baseUrl;   // String: base for relative references; may be empty
    int minimalWidth = 800;
    int timeoutMs = 30000;          // bounds fetching the document and its resources
    int layoutGraceMs = 15000;      // time the layout and drawing may take on top
    int maxDepth = 96;              // elements nested deeper are dropped
    int maxTableDepth = 8;          // tables nested deeper are laid out as blocks
    std::size_t maxDocumentBytes = 128u << 20;  // longer documents (and resources) are cut
    std::size_t memoryLimitBytes = std::size_t(2) << 30;  // layout process's data limit
    // A longer document is laid out in parts of about this much markup, one
    // after the other, so the layout's memory follows the part; 0: whole.
    std::size_t layoutPartBytes = 256u << 10;
    std::string engine;    // which engine draws it: "light", "browser", "auto" (also "")
    std::string userAgent = "Mozilla/5.0 (X11; Linux x86_64) Tessaline/1.0";
    // Set by the isolated engine in its layout process: the laid-out document
    // is kept rather than taken apart element by element before the answer
    // goes out; ReleaseDeferred() (after the answer) or the process's end
    // frees it.
    bool deferTeardown = false;

    friend bool operator==(const RenderRequest&, const RenderRequest&) = default;
};

// One navigation event of a frame, in the order they happened.
struct FrameEvent {
    bool error = false;   // NavigateError (else DocumentComplete)
    bool topLevel = true;
    std::string url;
    int status = 0;       // HTTP status or an error number for errors
};

struct ElementFacts {
    std::string tag;            // upper-case ("DIV", "IMG", "A")
    bool breakBefore = false;   // computed page-break-before is "always"
    bool breakAfter = false;    // computed page-break-after is "always"
    bool containsTd = false;    // has a TD among its descendants
    std::vector<IntRect> rects; // client rectangles (border boxes of its boxes), document pixels
};

struct AnchorFacts {
    std::string href;      // resolved address, empty when the element has no href
    std::string hrefAttr;  // href as written
    std::string protocol;  // "http:", "file:", ... of the resolved address
    std::string name;
    std::vector<IntRect> rects;
};

struct RenderResult {
    bool documentAvailable = false;  // false: nothing could be loaded
    bool timedOut = false;           // the time-out cut fetching short
    bool crashed = false;            // the layout process died or was stopped
    std::vector<FrameEvent> events;
    std::string finalUrl;            // after redirects
    std::string compatMode;          // "CSS1Compat" or "BackCompat"
    bool frameset = false;
    int layoutWidth = 0;             // width the document was laid out at
    int scrollWidth = 0, scrollHeight = 0;  // of the root element at that width
    int bodyScrollWidth = 0;
    std::vector<ElementFacts> elements;     // document order, root first
    std::vector<AnchorFacts> anchors;       // document order
    DisplayList drawing;                    // the whole document
    std::vector<std::string> warnings;      // truncations and skipped resources
};

class HtmlEngine {
public:
    virtual ~HtmlEngine() = default;
    virtual RenderResult Render(const RenderRequest&) = 0;
    // Loads what every render needs (font configuration, default fonts, the
    // default style sheet) ahead of time; layout processes started afterwards
    // inherit it.
    virtual void WarmUp() {}
    // A render that will soon be asked for with this very request: an engine
    // may start on it now, so that the Render call finds it done or under way.
    // The result is the same as without the hint.
    virtual void Prefetch(const RenderRequest&) {}
    // Frees what renders with deferTeardown kept.
    virtual void ReleaseDeferred() {}
    // Called by Render while it waits (at least every 50 ms) until it is
    // replaced; false abandons that render, which then fails as crashed.
    // An engine that never waits ignores it.
    virtual void SetWaitHook(std::function<bool()> /*hook*/) {}
};

// litehtml with our container, run in this process. Only the layout process
// (and tests of the container) use it directly.
std::unique_ptr<HtmlEngine> CreateLitehtmlEngine();

// Runs `inner` in layout processes: hostile documents (deep trees, huge
// tables, runaway memory) end such a process, never the caller. A process
// lays out one document after another until one fails or it is retired.
std::unique_ptr<HtmlEngine> CreateIsolatedEngine(std::unique_ptr<HtmlEngine> inner);

// The engine the add-on uses: litehtml in a child process.
std::unique_ptr<HtmlEngine> CreateDefaultEngine();

// Wire form of a result (the layout process writes it, the loader reads it).
void SerializeResult(const RenderResult&, std::string& out);
bool DeserializeResult(std::string_view bytes, RenderResult& out);

}  // namespace htmlengine
