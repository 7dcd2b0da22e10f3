#include "host_manifests.h"

#include "navlet/navlet.h"
#include "platform/msgbox.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace navlet {

namespace fs = std::filesystem;

namespace {

std::string Home() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "";
}

std::string ConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return xdg;
    std::string home = Home();
    return home.empty() ? "" : home + "/.config";
}

std::string Manifest(const std::string& hostPath, const std::string& allowKey, const std::string& allowed) {
    using platform::JsonQuote;
    return "{\n  \"name\": " + JsonQuote(kNativeHostName) +
           ",\n  \"description\": \"Vellumate: converts the page on display to PDF\",\n  \"path\": " +
           JsonQuote(hostPath) + ",\n  \"type\": \"stdio\",\n  " + JsonQuote(allowKey) + ": [" + JsonQuote(allowed) +
           "]\n}\n";
}

}  // namespace

std::vector<HostManifest> HostManifests(const std::string& hostPath) {
    std::vector<HostManifest> list;
    const std::string file = std::string("/") + kNativeHostName + ".json";
    const std::string chromium =
        Manifest(hostPath, "allowed_origins", std::string("chrome-extension://") + kChromiumExtensionId + "/");
    if (std::string config = ConfigFolder(); !config.empty()) {
        list.push_back({config + "/chromium/NativeMessagingHosts" + file, chromium});
        std::error_code ec;
        if (fs::is_directory(config + "/google-chrome", ec))
            list.push_back({config + "/google-chrome/NativeMessagingHosts" + file, chromium});
    }
    if (std::string home = Home(); !home.empty())
        list.push_back({home + "/.mozilla/native-messaging-hosts" + file,
                        Manifest(hostPath, "allowed_extensions", kGeckoExtensionId)});
    return list;
}

bool WriteHostManifests(const std::vector<HostManifest>& manifests) {
    for (const HostManifest& m : manifests) {
        std::error_code ec;
        fs::create_directories(fs::path(m.path).parent_path(), ec);
        const std::string temp = m.path + ".tmp" + std::to_string(getpid());
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << m.text;
            if (!out.flush()) {
                fs::remove(temp, ec);
                return false;
            }
        }
        fs::rename(temp, m.path, ec);
        if (ec) {
            fs::remove(temp, ec);
            return false;
        }
    }
    return true;
}

bool RemoveHostManifests(const std::vector<HostManifest>& manifests) {
    bool ok = true;
    for (const HostManifest& m : manifests) {
        std::error_code ec;
        fs::remove(m.path, ec);
        if (ec && ec != std::errc::no_such_file_or_directory) ok = false;
    }
    return ok;
}

}  // namespace navlet
