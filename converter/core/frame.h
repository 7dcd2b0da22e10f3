// The frame every format converter runs in: the two objects, the
// document's start (with the settings), the queue of page sources, page
// generation with page numbers, links and outlines, and the document's end.
// A converter calls BeginFileFrame, loads its source and queues a
// PageSource, then calls EndFileFrame; the steps in between are here for
// the converters that need one on its own.
#pragma once

#include <cstdint>
#include <string>

#include "context.h"

namespace vellumate {

// The running program's path: the context's, or this process's when unset.
std::string ProgramPathOf(const RunSetup& setup);

// Room below the content for "Page n", in 1/96 inch.
constexpr std::int32_t kPageNumberBand = 16;

// ---- Steps ----------------------------------------------------------------------------

// Creates the PDF document and the add-on (messages 2029/2030 when interactive).
bool CreateComObjects(ConversionContext& ctx);
// Starts the document on `output` at `resolution`, prepares the add-on and
// applies the settings; empties the page table, links, outlines, temporary
// files and queue. 0, kPdfBeginFailed or kAddonFailed.
std::int32_t BeginPdfDocument(ConversionContext& ctx, const std::string& output, std::int32_t resolution);
// Copies the settings to both objects; a failure skips the remaining steps.
void ApplySettings(ConversionContext& ctx);
// Draws every queued page (unless a MakeOne run is before its last file),
// then the links and outlines, and finishes the document. 0, 1 (cancelled,
// output deleted) or an error code (output deleted).
std::int32_t GeneratePages(ConversionContext& ctx, int step);
// Ends the document (writing the file) and releases both objects; deletes the
// temporary page files; with `discard` deletes the output as well. False when
// a step of the document's end failed (message 2046 when interactive and not
// discarding); the clean-up is done all the same.
bool FinishPdfDocument(ConversionContext& ctx, bool discard);
// Releases both objects without writing anything (a run abandoned after a failure).
void ReleaseComObjects(ConversionContext& ctx);
void DeleteTemporaryFolder(ConversionContext& ctx);

// ---- The frame ----------------------------------------------------------------------------

// Step 1: unless a MakeOne run is past its first file, creates the objects
// (kComponentsMissing) and begins the document on `output` at 96 dpi.
std::int32_t BeginFileFrame(ConversionContext& ctx, const std::string& output);
// When interactive and cancelled: UnloadAll (with `unload`), finish with
// discard, delete the temporary folder (with `deleteTemporaryFolder`); true then.
bool CancelledAndDiscarded(ConversionContext& ctx, bool unload, bool deleteTemporaryFolder);
// With MakeOne: a level-0 outline and a page-table entry for the file at the
// merged page count.
void AddFileEntries(ConversionContext& ctx, const std::string& source);
void QueuePageSource(ConversionContext& ctx, const PageSource& source);
// Steps after a source was queued: progress (2 steps), cancellation, the
// merged page count, GeneratePages(step) and the last progress step.
std::int32_t EndFileFrame(ConversionContext& ctx, std::int32_t pageCount, bool unloadOnCancel, int step = 1);

}  // namespace vellumate
