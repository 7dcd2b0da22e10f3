#include "names.h"

#include "platform/runtime_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vmshared {

namespace {

std::string Product() { return kProduct; }

}  // namespace

std::string RegistryKey() { return "Software\\" + Product(); }
std::string DefaultsKey() { return RegistryKey() + "\\Defaults"; }

int PlatformMajorVersion() {
    const char* v = std::getenv("VELLUMATE_OS_MAJOR");
    if (v && *v) return std::atoi(v);
    return 4;
}

int SessionNumber() {
    const char* id = std::getenv("XDG_SESSION_ID");
    if (!id) return 0;
    std::string digits;
    for (const char* p = id; *p; ++p)
        if (*p >= '0' && *p <= '9' && digits.size() < 9) digits += *p;
    return digits.empty() ? 0 : std::atoi(digits.c_str());
}

std::string UserName() {
    std::string name;
    if (passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) name = pw->pw_name;
    else if (const char* u = std::getenv("USER")) name = u;
    if (name.size() > 63) name.resize(63);
    return name;
}

AgentEventNames EventNames(int majorVersion, std::string_view user, int session) {
    if (majorVersion == 4)
        return {Product() + "_printevent", Product() + "_shared_printing_event", Product() + "_killevent"};
    return {"Global\\" + std::string(user) + "_" + Product() + "_printevent_SESSION" + std::to_string(session),
            "Global\\" + Product() + "_shared_printing_event", "Global\\" + Product() + "_killevent"};
}

std::string DispatcherEventName() { return Product() + "_printevent"; }
std::string NotifyMessageName() { return Product() + "_notify_message"; }
std::string ProgressClassName() { return Product() + " progress indicator"; }
std::string DispatcherCaption() { return Product() + " dispatcher"; }
std::string AgentCaption() { return Product() + " agent"; }
std::string ConverterCaption() { return Product() + " converter"; }

std::string SpoolFolder(std::string* error) {
    std::string f = platform::RuntimeSubfolder("spool", error);
    return f.empty() ? f : f + "/";
}

std::string TicketPath(std::string_view folder, std::uint32_t tick) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", tick);
    return std::string(folder) + hex + ".INI";
}

std::string LogPath() {
    std::string base = platform::RuntimeFolder();
    return base.empty() ? base : base + "/vp_log.txt";
}

}  // namespace vmshared
