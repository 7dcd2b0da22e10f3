#include "print_handoff.h"

#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "com_checks.h"
#include "frame.h"
#include "paths.h"
#include "platform/printer.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/registry_watch.h"
#include "platform/text.h"
#include "printer/shared/names.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

namespace fs = std::filesystem;
using platform::HKEY_LOCAL_MACHINE;

constexpr char kClient[] = "Client application";
constexpr char kTitle[] = "Target window title";
constexpr char kMessageId[] = "Message ID";
constexpr char kMode[] = "Transfer mode";
constexpr char kTicketValue[] = "tmpIniPath";
constexpr std::uint32_t kInteractiveJobId = 32768;

std::optional<std::string> ReadString(const char* name) {
    std::string v;
    if (platform::RegGetString(HKEY_LOCAL_MACHINE, kHandoffKey, name, &v) != platform::ERROR_SUCCESS) return {};
    return v;
}

std::optional<std::uint32_t> ReadDword(const char* name) {
    platform::DWORD v = 0;
    if (platform::RegGetDword(HKEY_LOCAL_MACHINE, kHandoffKey, name, &v) != platform::ERROR_SUCCESS) return {};
    return v;
}

platform::RegValueChange PutBack(const char* name, const std::optional<std::string>& v) {
    return v ? platform::RegValueChange::String(name, *v) : platform::RegValueChange::Removed(name);
}

platform::RegValueChange PutBack(const char* name, const std::optional<std::uint32_t>& v) {
    return v ? platform::RegValueChange::Dword(name, *v) : platform::RegValueChange::Removed(name);
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

}  // namespace

std::chrono::milliseconds PrintWaitBound() {
    const char* v = std::getenv("VELLUMATE_PRINT_WAIT");
    const long s = v && *v ? std::strtol(v, nullptr, 10) : 0;
    return std::chrono::seconds(s > 0 ? s : 300);
}

std::int32_t SetUpPrintHandoff(ConversionContext& ctx, PrintHandoff* h) {
    h->previousPrinter = platform::GetDefaultPrinter();
    if (!platform::SetDefaultPrinter(ctx.editionWord)) {
        ShowError(ctx, FormatString(LoadString(IDS_PRINTER_NOT_FOUND).c_str(), ctx.editionWord.c_str()));
        return kPrinterFailed;
    }
    h->printerChanged = true;
    h->client = ReadString(kClient);
    h->title = ReadString(kTitle);
    h->messageId = ReadDword(kMessageId);
    h->mode = ReadDword(kMode);

    std::string client, title;
    std::uint32_t mode;
    if (!ctx.interactive || !ctx.mainWindow) {
        client = (fs::path(ProgramPathOf(ctx)).parent_path() / "pathprobe").string();
        if (!sys::Exists(client)) {
            RestorePrintHandoff(h);
            return kPrintJobFailed;
        }
        ctx.printJobId = -1;
        mode = 0;
    } else {
        client = ProgramPathOf(ctx);
        title = ctx.mainWindowTitle.substr(0, 260);
        ctx.printJobId = static_cast<std::int32_t>(kInteractiveJobId);
        mode = 1;
    }
    h->valuesWritten = true;
    // In one transaction: the pipeline never reads half of them.
    platform::RegChangeValues(HKEY_LOCAL_MACHINE, kHandoffKey,
                              {platform::RegValueChange::String(kClient, client),
                               platform::RegValueChange::String(kTitle, title),
                               platform::RegValueChange::Dword(kMessageId, static_cast<std::uint32_t>(ctx.printJobId)),
                               platform::RegValueChange::Dword(kMode, mode),
                               // A path left from a run that never finished is not this run's job.
                               platform::RegValueChange::String(kTicketValue, "")});
    ctx.receivedPrintJob.clear();
    ctx.SetStatus(LoadString(IDS_PRINTING));
    return kOk;
}

JobWait WaitForPrintJob(ConversionContext& ctx, std::chrono::milliseconds bound) {
    ctx.Step(1);
    const bool windowed = ctx.interactive && ctx.mainWindow;
    const auto until = std::chrono::steady_clock::now() + bound;
    platform::RegistryWatch watch;
    while (ctx.receivedPrintJob.empty()) {
        if (ctx.Cancelled()) return JobWait::Cancelled;
        if (windowed) {
            // The path arrives as WM_COPYDATA on this thread's window: the
            // window's messages run here while we wait.
            if (ctx.progress) ctx.progress->ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        std::string value;
        platform::RegGetString(HKEY_LOCAL_MACHINE, kHandoffKey, kTicketValue, &value);
        value = Trim(value);
        if (!value.empty()) {
            ctx.receivedPrintJob = value;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return JobWait::TimedOut;
        watch.Wait(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(until - now),
                            std::chrono::milliseconds(500)));
    }
    return JobWait::Arrived;
}

void RestorePrintHandoff(PrintHandoff* h) {
    if (h->valuesWritten) {
        platform::RegChangeValues(HKEY_LOCAL_MACHINE, kHandoffKey,
                                  {PutBack(kClient, h->client), PutBack(kTitle, h->title),
                                   PutBack(kMessageId, h->messageId), PutBack(kMode, h->mode),
                                   platform::RegValueChange::String(kTicketValue, "")});
        h->valuesWritten = false;
    }
    if (h->printerChanged) {
        platform::SetDefaultPrinter(h->previousPrinter);
        h->printerChanged = false;
    }
}

std::int32_t TakePrintedPages(ConversionContext& ctx) {
    ctx.SetStatus(LoadString(IDS_IMPORTING_PRINTED));
    const std::string ticket = ctx.receivedPrintJob;
    ctx.receivedPrintJob.clear();
    // The path came from outside: only a ticket of the pipeline's spool folder
    // is read and deleted, and only its own page files are taken.
    const std::string spool = vmshared::SpoolFolder();
    const fs::path folder = fs::path(ticket).parent_path();
    std::error_code ec;
    if (spool.empty() || !platform::EndsWithNoCaseAscii(ticket, ".ini") || !fs::is_regular_file(ticket, ec) ||
        !fs::equivalent(folder, spool, ec))
        return 0;
    const int count = platform::ProfileGetInt(ticket, "EMF", "Count", 0);
    std::int32_t pages = 0;
    for (int i = 0; i < count && i < 100000; ++i) {
        std::string file = platform::ProfileGetString(ticket, "EMF", "File" + std::to_string(i), "");
        if (file.size() > 260) file.resize(260);
        if (!platform::EndsWithNoCaseAscii(file, ".emf") || !fs::equivalent(fs::path(file).parent_path(), folder, ec) ||
            !fs::is_regular_file(file, ec))
            continue;
        ctx.temporaryFiles.push_back(file);
        ++pages;
    }
    sys::DeleteFile(ticket);
    ctx.Step(1);
    return pages;
}

double PrintedPageScale(const std::vector<std::string>& files, std::int32_t index, std::int32_t resolution) {
    double dpi = 300;
    if (index >= 0 && static_cast<size_t>(index) < files.size()) {
        // EMR_HEADER: the device's size in pixels at 72, in millimetres at 80.
        unsigned char h[88];
        FILE* f = std::fopen(files[static_cast<size_t>(index)].c_str(), "rb");
        if (f) {
            if (std::fread(h, 1, sizeof h, f) == sizeof h) {
                auto word = [&](int at) {
                    return static_cast<std::int32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16 |
                                                     static_cast<std::uint32_t>(h[at + 3]) << 24);
                };
                const std::int32_t pixels = word(72), millimetres = word(80);
                if (word(0) == 1 && pixels > 0 && millimetres > 0) dpi = pixels * 25.4 / millimetres;
            }
            std::fclose(f);
        }
    }
    return resolution / dpi;
}

}  // namespace vellumate
