// ConversionContext: the one conversion object of the process. It owns the
// PDF document and the HTML add-on for the length of a run (one file, or a
// whole list with MakeOne), the queue of page sources the format converters
// fill, and the page table, links and outlines generated at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "corvanth/pdfdocument.h"
#include "pdf_settings.h"
#include "platform/com.h"
#include "progress.h"
#include "run_subject.h"
#include "tessaline/itessaline.h"

namespace vellumate {

// One queued source of pages.
struct PageSource {
    std::int32_t pageCount = 0;
    bool addonSource = false;    // pages come from the add-on (HTML, text, URL, CHM)
    bool pictureSource = false;  // pages are pictures held by the PDF document
    // Pictures: 1 when wider than high. Printed pages: orientation to set, -1 none.
    std::int32_t orientation = -1;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t resolution1 = 0;
    std::int32_t resolution2 = 0;  // the one set on the document for picture pages
    // Printed pages: 0 Word and 1 Excel draw at the origin, 2 PowerPoint is shifted.
    std::int32_t placement = 0;
    std::int32_t firstPicture = 0;  // index into the document's picture list
    // Neither flag: a printed-page source, whose pages are the temporary files.
    bool IsPrinted() const { return !addonSource && !pictureSource; }
};

struct PageTableEntry {
    std::string displayName;  // file name without folder and extension
    std::string fileName;     // after the last "/"
    std::int32_t firstPage = 0;
    // firstPage counts add-on pages only (the CHM contents keep the add-on's
    // running index); otherwise it is a PDF page index.
    bool addonIndex = false;
    // A page loaded from a web address: the address, so that links to it
    // (and to its anchors) stay inside the PDF. Empty for files.
    std::string address;
};

// A named anchor of a converted document, found while links are collected.
struct AnchorEntry {
    std::string name;
    std::int32_t page = 0;  // PDF page index
    std::int32_t top = 0;   // from the page's top, page units
};

struct LinkEntry {
    std::int32_t left = 0, right = 0, top = 0, bottom = 0;
    std::int32_t page = 0;
    std::int32_t targetPage = -1;  // -1: none (URL link)
    std::string url;
    // A link to an anchor of a converted document: the anchor's name and the
    // page-table entry of that document (-1: any document of the run). It is
    // resolved once every page is drawn; targetTop is the anchor's position.
    std::string anchor;
    std::int32_t anchorDocument = -1;
    std::int32_t targetTop = 0;
};

struct OutlineEntry {
    std::string title;
    std::int32_t level = 0;
    std::int32_t page = -1;  // -1: none
    std::string url;
};

// Result codes of ConvertFile and the format converters.
enum ConvertResult : std::int32_t {
    kOk = 0,
    kCancelled = 1,
    kSourceMissing = -6,
    kNoExtension = -7,
    kUnsupportedExtension = -8,
    kComponentsMissing = -9,
    kHtmlLoadFailed = -10,
    kChmViewerFailed = -11,
    kChmContentsFailed = -13,
    kChmTopicFailed = -14,
    kPdfBeginFailed = -15,
    kAddonFailed = -17,
    kPageNumberFailed = -18,
    kWordLoadFailed = -19,
    kExcelLoadFailed = -20,
    kPowerPointLoadFailed = -21,
    kPrinterFailed = -22,
    kPdfFailed = -23,
    kPictureLoadFailed = -24,
    kWordException = -25,
    kExcelException = -26,
    kPowerPointException = -27,
    kPrintJobFailed = -28,
    kOpenAfterFailed = -29,
    kOutputPathWrong = -30,
};

struct ConversionContext;

// ---- The parts of a run, each with its owner ------------------------------------------
// ConversionContext is made of these; a function that needs one part can take
// only that part (a ConversionContext converts to each).

// How a run is to go: set by its caller (the main dialog, the command line,
// a test) before ConvertFile; the frame and the converters only read it.
struct RunSetup {
    bool MakeOne = false;
    bool firstFile = false;  // read only with MakeOne
    bool lastFile = false;
    bool logFlag = false;        // "/addlog"
    bool openAfterFlag = false;  // "/autolaunch"
    bool invertFlag = false;     // "/invertall"
    PdfSettings settings;
    bool interactive = true;
    // Not owned; set by the main dialog, or by a command-line run on a terminal.
    IProgress* progress = nullptr;
    void* mainWindow = nullptr;     // not owned; the main dialog's window
    std::string mainWindowTitle;    // its title, which print jobs are sent to
    std::string outputExtension = "pdf";
    std::string editionWord = "Vellumate";
    // The running program's path, read once at start (tests set their own).
    std::string programPath;
    // Makes `pdf` and `addon` instead of the component runtime when set
    // (tests put stand-ins here).
    std::function<bool(ConversionContext&)> createObjects;
    // What a command-line run works on, for the message when it fails.
    RunSubject subject;
    // The next few sources (at most kNextSources) the caller converts after
    // this one, in order, as it will pass them to ConvertFile: the HTML
    // converter announces the next HTML files to the add-on, which may start
    // on them meanwhile.
    static constexpr std::size_t kNextSources = 4;
    std::vector<std::string> nextSources;
};

// The two objects of a run: made by the frame (CreateComObjects), released by
// it (FinishPdfDocument, ReleaseComObjects). Converters call them in between.
struct RunObjects {
    com::ComPtr<corvanth::IPdfDocument> pdf;
    com::ComPtr<tessaline::ITessaline2> addon;
};

// What the document is made of: the converters fill it through the frame
// (QueuePageSource, AddFileEntries, AddDocumentEntry) and page generation adds
// the links and anchors it finds; BeginPdfDocument empties it and
// FinishPdfDocument deletes the temporary files.
struct RunPages {
    std::int32_t mergedPageCount = 0;  // MakeOne: pages of the files before this one
    std::vector<PageSource> queue;
    std::vector<PageTableEntry> pageTable;
    std::vector<LinkEntry> links;
    std::vector<AnchorEntry> anchors;
    std::vector<OutlineEntry> outlines;
    // Printed pages waiting to be drawn, and the folder a converter unpacked
    // or printed into (deleted by DeleteTemporaryFolder).
    std::vector<std::string> temporaryFiles;
    std::string temporaryFolder;
};

// A print job the virtual printer handed to the main dialog while an Office
// document was printed: written by the dialog, read by the Office converter.
struct RunPrintJob {
    std::string receivedPrintJob;
    std::int32_t printJobId = -1;
};

// The one conversion object of the process (see the top of this file).
struct ConversionContext : RunSetup, RunObjects, RunPages, RunPrintJob {
    // Step counter shared with the main dialog: every step the progress
    // window advances is counted here too.
    std::int64_t stepCounter = 0;

    // The dialog's Cancel button, or an interrupt (Ctrl-C) of a command-line run.
    bool Cancelled() const { return progress && progress->Cancelled(); }
    // Tells the progress display (any, interactive or not) how far a file is.
    void Count(Work work, int done, int total) {
        if (progress) progress->Counted(work, done, total);
    }
    // When interactive: counts `steps` and advances the progress window.
    void Step(int steps);
    void SetStatus(const std::string& text);
};

}  // namespace vellumate
