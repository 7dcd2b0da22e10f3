// Printing an Office document into the PDF: the virtual printer made the
// default printer, the pipeline's hand-off values pointed at this run, the
// wait for the finished job, and everything put back afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "context.h"

namespace vellumate {

// The pipeline's values under HKLM "SOFTWARE\Vellumate".
inline constexpr char kHandoffKey[] = "SOFTWARE\\Vellumate";

// What a hand-off changed, so that it can be put back: the four values as
// they were (none: the value did not exist) and the default printer.
struct PrintHandoff {
    std::optional<std::string> client, title;
    std::optional<std::uint32_t> messageId, mode;
    std::string previousPrinter;
    bool printerChanged = false;  // the default printer is ours until Restore
    bool valuesWritten = false;
};

// Makes the virtual printer the default printer (kPrinterFailed, message 145)
// and points the hand-off values at this run: pathprobe for a command-line
// run (kPrintJobFailed when it is missing beside the program), the main
// window for an interactive one. Returns 0 or the error; on an error
// nothing stays changed.
std::int32_t SetUpPrintHandoff(ConversionContext& ctx, PrintHandoff* handoff);

enum class JobWait { Arrived, Cancelled, TimedOut };

// Waits until the job's ticket path has arrived in ctx.receivedPrintJob:
// interactive runs through the main window's WM_COPYDATA (pumping the
// window's messages, ending on Cancel), command-line runs through
// "tmpIniPath", woken whenever the registry changes. A cancel of either is
// honoured. The wait ends after `bound` without a job.
JobWait WaitForPrintJob(ConversionContext& ctx, std::chrono::milliseconds bound);
// Writes the saved values back, empties "tmpIniPath" and makes the
// remembered printer the default again. Safe to call more than once.
void RestorePrintHandoff(PrintHandoff* handoff);

// How long a command-line run waits for its job: $VELLUMATE_PRINT_WAIT
// seconds, 300 by default.
std::chrono::milliseconds PrintWaitBound();

// Reads the job's ticket: its page files (only ".emf" files in the ticket's
// own folder are taken; others are skipped) appended to the temporary files,
// the ticket deleted and the received text cleared. Returns the page count.
std::int32_t TakePrintedPages(ConversionContext& ctx);

// The scale that draws printed page `index` of `files` at `resolution`: the
// page's metafile is recorded at the printer's resolution, read from its
// header (300 dpi when it cannot be read).
double PrintedPageScale(const std::vector<std::string>& files, std::int32_t index, std::int32_t resolution);

}  // namespace vellumate
