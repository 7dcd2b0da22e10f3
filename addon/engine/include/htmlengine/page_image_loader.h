// The add-on's document loader on an HtmlEngine: one load turns a file, an
// address or an HTML string into one page image (a metafile of the whole
// document at 96 pixels per inch), with the document's links, its forced
// page breaks and the render scale, and writes the add-on log's lines of the
// load, of the browser window ("CBrowserWindow") and of the image creator
// ("ImageCreator") as they happen.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addon/common/document_loader.h"
#include "htmlengine/engine.h"

namespace htmlengine {

struct LoaderOptions {
    // Time the layout may take on top of PageTimeout before its process is stopped.
    int layoutGraceMs = 15000;
    // Folder of the page-image files; "" is the temporary folder.
    std::string tempFolder;
    // The current folder for relative sources; "" is the process's.
    std::string currentFolder;
};

// Forced page breaks of a document (the engine's element facts) for a page
// height of `pageHeight` page-image pixels. Writes its log lines to `log`.
std::vector<std::int32_t> ExplorePageBreaks(const std::vector<ElementFacts>& elements, std::int32_t pageHeight,
                                            const tessaline::LogSource& log);

// Adds a break at `a` to a sorted list: an existing position changes nothing,
// else the first later break is replaced, else `a` is appended.
void AddPageBreak(std::vector<std::int32_t>& breaks, std::int32_t a, std::int32_t pageHeight);

// Whether a picture at `top` with `height` fits into the rest of its page.
bool PictureFits(const std::vector<std::int32_t>& breaks, std::int32_t top, std::int32_t height,
                 std::int32_t pageHeight);

// Link records of the document's anchors; `baseUrl` is the creator's base
// address (with its trailing "/"), used for "file:" links.
std::vector<tessaline::LinkRecord> CollectLinks(const std::vector<AnchorFacts>& anchors, const std::string& baseUrl);

// The render scale for a width-adjust mode (0, 1, 2).
float RenderScale(int mode, double contentWidth, double printableWidth, double zoom);

std::unique_ptr<tessaline::DocumentLoader> CreatePageImageLoader(tessaline::EventLog& log,
                                                                 std::unique_ptr<HtmlEngine> engine,
                                                                 LoaderOptions options = {});

}  // namespace htmlengine
