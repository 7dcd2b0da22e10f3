// vmrelay TICKET PATH
//
// Run by the agent for every job before the client gets the ticket. Checks
// that the ticket is this printer's and lists pages, and applies "EMF:
// Enabled": with keeping metafiles off, deletes the job's page files and the
// ticket's [EMF] section. Exit status 0, or 1 for another printer's ticket
// and for settings keys that cannot be opened.
#include "page_list.h"

#include "printer/shared/names.h"
#include "printer/shared/report.h"
#include "printer/shared/shared_log.h"
#include "printer/shared/ticket.h"

#include "platform/cmdline.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/windows.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

using namespace platform;
namespace tk = vmshared::ticket;

namespace {

constexpr std::size_t kMaxPath = 260;

// The key's "EMF: Enabled" when the key is open and holds it.
bool ReadEmfEnabled(HKEY key, DWORD* value) {
    if (!key) return false;
    DWORD type = 0, v = 0, size = sizeof v;
    if (RegQueryValueEx(key, vmshared::kEmfEnabledValue, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    *value = v;
    return true;
}

int Run(std::string ticket) {
    vmshared::ReportSettings settings = vmshared::ReadReportSettings();
    UINT notify = RegisterWindowMessage(vmshared::NotifyMessageName());
    vmshared::SharedLog log;
    vmshared::Reporter report(vmshared::ConverterCaption(), &log, settings.messageMode == 1, notify);

    // The path is taken as it is (up to 260 characters): a quoted path names no file.
    if (ticket.size() > kMaxPath - 1) ticket.resize(kMaxPath - 1);
    struct stat sb;
    if (ticket.empty() || stat(ticket.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) {
        report.Plain("Invalid command line parameter.", vmshared::kMsgBadCommandLine);
        return 0;
    }
    if (ProfileGetString(ticket, tk::kDevice, tk::kDeviceName).substr(0, kMaxPath - 1) != vmshared::kPrinterName)
        return 1;

    if (settings.log) {
        std::string path = vmshared::LogPath();
        if (!log.Open(path)) {
            report.System("Failed to open the log file:\n" + path, vmshared::kMsgLogOpen);
            return 0;
        }
        log.Append("Converter started.");
    }
    int count = ProfileGetInt(ticket, tk::kEmf, tk::kCount, 0);
    if (count == 0) {
        report.Plain("No pages to process.", vmshared::kMsgNoPages);
        return 0;
    }

    RegKeyHolder defaults, user;
    LSTATUS e = RegOpenKeyEx(HKEY_LOCAL_MACHINE, vmshared::DefaultsKey().c_str(), 0, KEY_READ, defaults.Out());
    if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) {
        report.System("Failed to open registry key\nHKLM\\Software\\" + std::string(vmshared::kProduct) + "\\Defaults",
                      vmshared::kMsgDefaultsKey, static_cast<DWORD>(e));
        return 1;
    }
    e = RegOpenKeyEx(HKEY_CURRENT_USER, vmshared::RegistryKey().c_str(), 0, KEY_READ, user.Out());
    if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) {
        report.System("Failed to open registry key\nHKCU\\Software\\" + std::string(vmshared::kProduct),
                      vmshared::kMsgUserKey, static_cast<DWORD>(e));
        return 1;
    }
    DWORD keep = 0;
    if (!ReadEmfEnabled(user.Get(), &keep)) ReadEmfEnabled(defaults.Get(), &keep);

    if (keep == 0) {
        log.Append("Delete EMF files.");
        for (const std::string& page : relay::JobPageFiles(ticket, count)) unlink(page.c_str());
        ProfileDeleteSection(ticket, tk::kEmf);
    }
    WritePrivateProfileString(nullptr, nullptr, nullptr, ticket.c_str());
    if (log.IsOpen()) {
        log.Append("Converter exits.");
        log.Close();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return Run(CommandLineTail(argc, argv)); }
