// What the pipeline programs agree on: the product word, the printer's
// name, the registry key and its values, the names of events, window
// messages and window classes, message-box captions, and where tickets,
// pages and the log live.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vmshared {

inline constexpr char kProduct[] = "Vellumate";
inline constexpr char kPrinterName[] = "Vellumate";

// Registry: HKLM and HKCU "Software\Vellumate", HKLM "Software\Vellumate\Defaults".
std::string RegistryKey();
std::string DefaultsKey();
inline constexpr char kPrintJobValue[] = "Print Job";
inline constexpr char kSharedValue[] = "Shared";
inline constexpr char kSystemValue[] = "SYSTEM";
inline constexpr char kLogValue[] = "Log";
inline constexpr char kMessageModeValue[] = "Message Mode";
inline constexpr char kClientApplicationValue[] = "Client Application";
inline constexpr char kTransferModeValue[] = "Transfer Mode";
inline constexpr char kTargetWindowClassValue[] = "Target Window Class";
inline constexpr char kTargetWindowTitleValue[] = "Target Window Title";
inline constexpr char kClipboardFormatValue[] = "Clipboard Format";
inline constexpr char kMessageIdValue[] = "Message ID";
inline constexpr char kTmpIniPathValue[] = "tmpIniPath";
inline constexpr char kLanguageValue[] = "Language";
inline constexpr char kEmfEnabledValue[] = "EMF: Enabled";

// The platform family: major version 4 (short names, "Print Job") unless
// VELLUMATE_OS_MAJOR names another (tests of the later family).
int PlatformMajorVersion();
// The login session's number (digits of XDG_SESSION_ID), else 0.
int SessionNumber();
// The user's logon name (at most 63 characters, as GetUserNameW into 64).
std::string UserName();

struct AgentEventNames {
    std::string print, shared, kill;
};
// "Vellumate_printevent", "Vellumate_shared_printing_event", "Vellumate_killevent"
// on major version 4; "Global\<user>_Vellumate_printevent_SESSION<n>",
// "Global\Vellumate_shared_printing_event", "Global\Vellumate_killevent" else.
AgentEventNames EventNames(int majorVersion, std::string_view user, int session);
// The dispatcher's event: always the short name.
std::string DispatcherEventName();

std::string NotifyMessageName();   // "Vellumate_notify_message"
std::string ProgressClassName();   // "Vellumate progress indicator"
std::string DispatcherCaption();   // "Vellumate dispatcher"
std::string AgentCaption();        // "Vellumate agent"
std::string ConverterCaption();    // "Vellumate converter"

// The pipeline's temporary folder: "<runtime folder>/spool/", with its
// slash, created 0700; "" with *error when the runtime folder is refused.
std::string SpoolFolder(std::string* error = nullptr);
// A ticket's path: "%s%08x.INI" with the folder and the tick count.
std::string TicketPath(std::string_view folder, std::uint32_t tick);
// The shared log "<runtime folder>/vp_log.txt".
std::string LogPath();

}  // namespace vmshared
