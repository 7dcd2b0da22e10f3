// dispatcher DOCUMENT NAME
//
// Run by the printing side once per printed document, after it has left the
// document's pages as "~emf*.tmp" metafiles in the spool folder. Gathers the
// pages of the last hour into a new job ticket, stores the ticket's path as
// "Print Job" and sets the event "Vellumate_printevent" for the agent.
// The exit status is always 0.
#include "page_files.h"

#include "printer/shared/names.h"
#include "printer/shared/report.h"
#include "printer/shared/ticket.h"

#include "platform/cmdline.h"
#include "platform/filetime.h"
#include "platform/printer.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/step_times.h"
#include "platform/sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>

using namespace platform;
namespace tk = vmshared::ticket;

namespace {

// GetTickCount: milliseconds since the machine started, in 32 bits.
std::uint32_t TickCount() {
    timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000);
}

// The ticket's name comes from the tick count. Two dispatchers started in the
// same millisecond would share it and the later would rewrite the earlier
// job's ticket; so the name is taken by creating the file, and a name in use
// passes on to the next tick.
std::string ReserveTicket(const std::string& folder) {
    std::uint32_t tick = TickCount();
    for (int i = 0; i < 1000; ++i, ++tick) {
        std::string path = vmshared::TicketPath(folder, tick);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST) break;
    }
    return vmshared::TicketPath(folder, TickCount());
}

std::string Num(long v) { return std::to_string(v); }

// The ticket is made in memory, key by key in the order of the steps, and
// written once when it is complete: the same file as writing each key, in a
// fraction of the time. Nobody reads it before its path is published.
class TicketText {
public:
    explicit TicketText(std::string path) : path_(std::move(path)), text_("") {}
    void Set(const char* section, const std::string& key, const std::string& value) { text_.Set(section, key, value); }
    bool Save() const {
        std::string tmp = path_ + ".new";
        std::string bytes = text_.Text();
        int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        close(fd);
        ok = ok && rename(tmp.c_str(), path_.c_str()) == 0;
        if (!ok) unlink(tmp.c_str());
        return ok;
    }

private:
    std::string path_;
    ProfileText text_;
};

// The paper's and bin's names and sizes as the printer lists them.
void WriteDeviceKeys(TicketText& ticket, const std::string& document, const DeviceMode& dm, Printer& printer) {
    ticket.Set(tk::kDevice, tk::kDeviceName, vmshared::kPrinterName);
    ticket.Set(tk::kDocument, tk::kName, document);
    ticket.Set(tk::kDocument, tk::kHorizontalResolution, Num(dm.printQuality));
    ticket.Set(tk::kDocument, tk::kVerticalResolution, Num(dm.yResolution));
    ticket.Set(tk::kDocument, tk::kOrientation, Num(dm.orientation));
    ticket.Set(tk::kDocument, tk::kPaperSize, Num(dm.paperSize));
    std::string paperName, width, length;
    for (const PaperInfo& p : printer.Papers()) {
        if (p.code != dm.paperSize) continue;
        paperName = p.name.substr(0, 64);
        width = Num(p.width);
        length = Num(p.length);
        break;
    }
    ticket.Set(tk::kDocument, tk::kPaperSizeName, paperName);
    ticket.Set(tk::kDocument, tk::kPaperWidth, width);
    ticket.Set(tk::kDocument, tk::kPaperLength, length);
    ticket.Set(tk::kDocument, tk::kPages, "0");
    ticket.Set(tk::kDocument, tk::kCopies, Num(dm.copies));
    ticket.Set(tk::kDocument, tk::kCollate, Num(dm.collate));
    ticket.Set(tk::kDocument, tk::kBin, Num(dm.defaultSource));
    std::string binName;
    for (const BinInfo& b : printer.Bins()) {
        if (b.code != dm.defaultSource) continue;
        binName = b.name.substr(0, 24);
        break;
    }
    ticket.Set(tk::kDocument, tk::kBinName, binName);
}

// The page file under its new name. The printing side only deletes its page
// files once they are taken, so a second name for the same file does as well
// as a copy, without writing its megabytes again; a copy where the file
// system has no such names.
bool CopyPage(const std::string& source, const std::string& copy) {
    std::error_code ec;
    if (copy == source) return false;
    if (unlink(copy.c_str()) != 0 && errno != ENOENT) return false;
    if (link(source.c_str(), copy.c_str()) == 0) return true;
    return std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing, ec);
}

// Copies each recent page to its ".emf" name and lists it; answers the count.
int TakePages(const std::string& folder, TicketText& ticket) {
    int k = 0;
    for (const std::string& name : dispatcher::RecentPageFiles(folder, FileTimeNow())) {
        std::string source = folder + name;
        std::string copy = dispatcher::CopyPathOf(source);
        ++k;
        ticket.Set(tk::kDocument, tk::kPages, Num(k));
        ticket.Set(tk::kEmf, tk::kCount, Num(k));
        bool copied = CopyPage(source, copy);
        ticket.Set(tk::kEmf, "File" + Num(k - 1), copied ? copy : tk::kInvalidMetafile);
    }
    return k;
}

int Run(const std::string& document) {
    platform::MarkHop("started");
    vmshared::Reporter dispatcherBox(vmshared::DispatcherCaption(), nullptr, false, 0);
    std::string why;
    std::string folder = vmshared::SpoolFolder(&why);
    if (folder.empty()) {
        dispatcherBox.System("Cannot use the spool folder: " + why, 0);
        return 0;
    }
    std::string ticket = ReserveTicket(folder);

    int pages = 0;
    if (auto printer = Printer::Open(vmshared::kPrinterName)) {
        DeviceMode dm;
        if (printer->DefaultDeviceMode(&dm)) {
            TicketText text(ticket);
            WriteDeviceKeys(text, document, dm, *printer);
            pages = TakePages(folder, text);
            if (pages > 0 && !text.Save()) {
                dispatcherBox.System("Cannot write the job ticket " + ticket, 0);
                pages = 0;
            }
        }
    } else {
        vmshared::Reporter(vmshared::kProduct, nullptr, false, 0).System("OpenPrinter() error!", 0);
    }
    if (pages == 0) {
        unlink(ticket.c_str());
        return 0;
    }

    RegKeyHolder key;
    LSTATUS e = RegCreateKeyEx(HKEY_LOCAL_MACHINE, vmshared::RegistryKey().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_WRITE, nullptr, key.Out(), nullptr);
    if (e != ERROR_SUCCESS) {
        dispatcherBox.System("Failed to open registry key\nHKLM\\" + vmshared::RegistryKey(), 0, static_cast<DWORD>(e));
        return 0;
    }
    e = RegSetValueEx(key.Get(), vmshared::kPrintJobValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(ticket.c_str()),
                      static_cast<DWORD>(ticket.size() + 1));
    if (e != ERROR_SUCCESS) {
        dispatcherBox.System(std::string("Failed to set the registry value \"") + vmshared::kPrintJobValue + "\".", 0,
                             static_cast<DWORD>(e));
        return 0;
    }
    key.Reset();

    bool existed = false;
    auto event = NamedEvent::Create(vmshared::DispatcherEventName(), true, false, &existed);
    if (!event) {
        dispatcherBox.System("Failed to create event object.", 0);
        return 0;
    }
    if (!existed)
        dispatcherBox.Plain(std::string("The ") + vmshared::kProduct +
                                " printing agent was not found.\nPlease reboot computer or re-install the application.",
                            0);
    event->Set();
    platform::MarkHop("event set");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The name is one line of the ticket: a line break in a job's title
    // would start keys or sections of its own there.
    std::string name = CommandLineTail(argc, argv);
    for (char& c : name)
        if (c == '\n' || c == '\r') c = ' ';
    Run(name);
    return 0;
}
