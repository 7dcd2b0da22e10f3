#include "report.h"

#include "shared_log.h"

#include "names.h"

#include "platform/msgbox.h"
#include "platform/registry.h"

namespace vmshared {

ReportSettings ReadReportSettings() {
    using namespace platform;
    ReportSettings s;
    RegKeyHolder key;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, RegistryKey().c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return s;
    for (auto [name, out] : {std::pair{kLogValue, &s.log}, std::pair{kMessageModeValue, &s.messageMode}}) {
        DWORD type = 0, value = 0, size = sizeof value;
        if (RegQueryValueEx(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
            type == REG_DWORD)
            *out = value;
    }
    return s;
}

std::string WithSystemError(std::string_view text, platform::DWORD error) {
    std::string description = platform::FormatSystemMessage(error);
    if (description.size() > 511) description.resize(511);
    return std::string(text) + "\nError # " + std::to_string(static_cast<int>(error)) + ": " + description;
}

Reporter::Reporter(std::string caption, SharedLog* log, bool messageMode, platform::UINT notifyMessage)
    : caption_(std::move(caption)), log_(log), messageMode_(messageMode), notifyMessage_(notifyMessage) {}

void Reporter::Plain(std::string_view text, unsigned code) { Deliver(std::string(text), code, 0); }

void Reporter::System(std::string_view text, unsigned code, platform::DWORD error) {
    if (error == 0) error = platform::GetLastError();
    if (error == 0) return;
    Deliver(WithSystemError(text, error), code, static_cast<platform::LPARAM>(error));
}

void Reporter::Deliver(const std::string& text, unsigned code, platform::LPARAM lParam) {
    if (log_) log_->Append(text);
    if (messageMode_ && code != 0) {
        platform::BroadcastMessage(notifyMessage_, code, lParam);
        return;
    }
    platform::MessageBox(caption_, text, platform::MsgIcon::Error, platform::MsgButtons::Ok);
}

}  // namespace vmshared
