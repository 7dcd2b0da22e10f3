// The values of the three start lines: the system, the HTML engine, and the
// version of this library.
#include <sys/utsname.h>

#include <fstream>
#include <string>

#include "addon/core/tessaline_impl.h"
#include "vellumate_version.h"

#ifndef TESSALINE_ENGINE_VERSION
#define TESSALINE_ENGINE_VERSION ""
#endif

namespace tessaline {
namespace {

// PRETTY_NAME (else NAME and VERSION) of an os-release file; "" when absent.
std::string DistributionName(const char* path) {
    std::ifstream in(path);
    if (!in) return {};
    std::string pretty, name, version, line;
    int lines = 0;
    while (lines++ < 200 && std::getline(in, line)) {
        if (line.size() > 1024) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (key == "PRETTY_NAME") pretty = value;
        else if (key == "NAME") name = value;
        else if (key == "VERSION") version = value;
    }
    if (!pretty.empty()) return pretty;
    if (!name.empty() && !version.empty()) return name + " " + version;
    return name;
}

}  // namespace

std::string OperatingSystemText() {
    std::string distribution = DistributionName("/etc/os-release");
    if (distribution.empty()) distribution = DistributionName("/usr/lib/os-release");
    struct utsname u {};
    bool haveKernel = uname(&u) == 0;
    if (distribution.empty() && !haveKernel) return "Undefined";
    std::string text = distribution;
    if (haveKernel) {
        if (!text.empty()) text += ' ';
        text += std::string(u.sysname) + " " + u.release + " (" + u.version + "), " + u.machine;
    }
    return text;
}

std::string HtmlEngineText() {
    std::string version = TESSALINE_ENGINE_VERSION;
    return version.empty() ? std::string("litehtml") : "litehtml " + version;
}

std::string RunningVersionText() {
    return StrFormat("%d.%d.%d.%d.", VELLUMATE_VERSION_MAJOR, VELLUMATE_VERSION_MINOR, VELLUMATE_VERSION_PATCH,
                     VELLUMATE_VERSION_TWEAK + 0);
}

}  // namespace tessaline
