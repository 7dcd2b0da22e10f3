// Reporting an error: into the shared log first, then either broadcast as
// the notify message ("Message Mode" 1 and a nonzero code) or shown in a
// message box with the program's caption.
#pragma once

#include "platform/syserror.h"
#include "platform/windows.h"

#include <string>
#include <string_view>

namespace vmshared {

class SharedLog;

// Message codes (wParam of the notify message, keys of the language file).
enum MessageCode : unsigned {
    kMsgLogOpen = 0xF001,
    kMsgEvent0 = 0xF002,
    kMsgEvent1 = 0xF003,
    kMsgCreateThread = 0xF004,
    kMsgPrintJobInfo = 0xF005,
    kMsgRegistryKey = 0xF006,
    kMsgTargetInaccessible = 0xF007,
    kMsgSetClipboard = 0xF008,
    kMsgOpenClipboard = 0xF009,
    kMsgNoConverter = 0xF010,
    kMsgBadCommandLine = 0xF011,
    kMsgNoPages = 0xF012,
    kMsgDefaultsKey = 0xF013,
    kMsgUserKey = 0xF014,
    kMsgNotConfigured = 111,
    kMsgFileMissing = 112,
    kMsgNoDispatcher = 113,
};

// "Log" and "Message Mode" of HKLM "Software\Vellumate" (0 when the key
// or a value cannot be read).
struct ReportSettings {
    platform::DWORD log = 0;
    platform::DWORD messageMode = 0;
};
ReportSettings ReadReportSettings();

// "%s\nError # %d: %s": the text, the number and the platform's description.
std::string WithSystemError(std::string_view text, platform::DWORD error);

class Reporter {
public:
    // log may be null (the dispatcher has none); notifyMessage is the
    // registered "Vellumate_notify_message".
    Reporter(std::string caption, SharedLog* log, bool messageMode, platform::UINT notifyMessage);

    void Plain(std::string_view text, unsigned code);
    // error 0 takes the thread's last error; when that is 0 too, nothing is
    // reported.
    void System(std::string_view text, unsigned code, platform::DWORD error = 0);

private:
    void Deliver(const std::string& text, unsigned code, platform::LPARAM lParam);
    std::string caption_;
    SharedLog* log_;
    bool messageMode_;
    platform::UINT notifyMessage_;
};

}  // namespace vmshared
