// The seam between the add-on object and the HTML engine. The object reads the
// settings of a load (the document values through the connected PDF document)
// and asks a DocumentLoader for one page image; the engine does the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addon/common/event_log.h"
#include "addon/common/page_image.h"

namespace tessaline {

struct LoadSettings {
    // The connected document's current page, in its page units, and its
    // resolution; all 0 when no document is connected.
    double pageWidth = 0;
    double pageHeight = 0;
    std::int32_t resolution = 0;
    // Page margins in page units (never negative).
    std::int32_t marginLeft = 0;
    std::int32_t marginTop = 0;
    std::int32_t marginRight = 0;
    std::int32_t marginBottom = 0;
    std::int32_t minimalWidth = 800;     // smallest layout width, screen pixels
    std::int32_t pageTimeoutMs = 80000;  // bound on the whole load (any value; <= 0 means at once)
    bool autoAdjustPageWidth = false;
    bool autoAdjustContentWidth = false;
    bool depCompatible = true;
    std::string debugFolder;  // may be empty
    std::string htmlEngine;   // "light", "browser", or "auto" (also "")
    // Called while the load waits for its document (at least every 50 ms);
    // false abandons the load. Empty: wait without calling anything.
    std::function<bool()> keepWaiting;

    double PrintableWidth() const { return pageWidth - marginRight - marginLeft; }
    double PrintableHeight() const { return pageHeight - marginTop - marginBottom; }
    // 2 fit the content to the printable width, 1 widen the page, 0 neither.
    int WidthAdjustMode() const { return autoAdjustContentWidth ? 2 : autoAdjustPageWidth ? 1 : 0; }
};

// The outcome of one load.
struct LoadResult {
    bool ok = false;
    PageImage image;  // meaningful only when ok
    // Every temporary file the load made or named, whatever the outcome; the
    // add-on object deletes them on UnloadAll.
    std::vector<std::string> tempFiles;
};

// A loader writes every log line of the load itself (under the source names
// "TessalineImpl", "CBrowserWindow", "ImageCreator", ...), including
// "Download complete", "Metafile created", "Metafile creation failed" and
// "Download failed"; the object adds none. It bounds everything it does by
// the settings (time-out, sizes), whatever values the client chose.
class DocumentLoader {
public:
    virtual ~DocumentLoader() = default;
    // A file path or URL (normalised by the loader), with a base URL that may
    // be empty. Never throws.
    virtual LoadResult LoadFile(const std::string& source, const std::string& baseUrl,
                                const LoadSettings& settings) = 0;
    // HTML text given as a string. Never throws.
    virtual LoadResult LoadString(const std::string& html, const std::string& baseUrl,
                                  const LoadSettings& settings) = 0;
    // A hint: LoadFile will soon be called with these arguments, and a loader
    // may start on it now. Whatever it does must leave that LoadFile's result
    // and log exactly as without the hint. Never throws.
    virtual void Announce(const std::string& /*source*/, const std::string& /*baseUrl*/,
                          const LoadSettings& /*settings*/) {}
};

// The HTML engines' loader; defined by the browser library (vm_browser, on
// the engine library vm_htmlengine, which announces it to the add-on object with
//   target_compile_definitions(vm_htmlengine INTERFACE TESSALINE_HAVE_HTMLENGINE)).
// Until then the object uses CreateUnavailableLoader. log is borrowed and
// outlives the loader.
std::unique_ptr<DocumentLoader> CreateDocumentLoader(EventLog& log);

// A loader for builds without an HTML engine: logs an error line and fails
// every load.
std::unique_ptr<DocumentLoader> CreateUnavailableLoader(EventLog& log);

}  // namespace tessaline
