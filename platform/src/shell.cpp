// Shell "open" and the documents folder.
#include "platform/shell.h"

#include "platform/cmdline.h"
#include "platform/process.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace platform {

namespace {

constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;
constexpr int kOpenerWaitMs = 10000;

bool MakeFolders(const std::string& path) {
    std::string cur;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if ((i == path.size() || path[i] == '/') && !cur.empty()) {
            if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
        if (i < path.size()) cur += path[i];
    }
    return true;
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" in user-dirs.dirs.
std::string FromUserDirs(const std::string& home) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string file = (xdg && *xdg == '/' ? std::string(xdg) : home + "/.config") + "/user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string v = line.substr(key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
        if (!v.empty() && v[0] == '/' && v != home && v != home + "/") return v;
    }
    return {};
}

}  // namespace

int ShellOpen(std::string_view target) {
    if (target.empty()) return kFileNotFound;
    std::string t(target);
    bool isAddress = t.find("://") != std::string::npos || t.compare(0, 7, "mailto:") == 0;
    struct stat sb;
    if (!isAddress && stat(t.c_str(), &sb) != 0) return kFileNotFound;
    std::vector<std::string> argv;
    const char* opener = std::getenv("VELLUMATE_OPEN");
    if (opener && *opener)
        argv = SplitCommandLine(opener);
    else
        argv = {"xdg-open"};
    argv.push_back(t);
    ChildProcess child;
    if (!child.Start(argv)) return kNoAssociation;
    // An opener normally hands the document over and ends at once; one that
    // stays (a viewer run in its place) counts as opened.
    if (!child.Wait(kOpenerWaitMs)) return kOpened;
    switch (child.ExitStatus()) {
    case 0: return kOpened;
    case 2: return kFileNotFound;
    default: return kNoAssociation;
    }
}

std::string DocumentsFolder() {
    std::string folder;
    if (const char* d = std::getenv("XDG_DOCUMENTS_DIR"); d && *d == '/') folder = d;
    const char* home = std::getenv("HOME");
    if (folder.empty()) {
        if (!home || *home != '/') return {};
        folder = FromUserDirs(home);
        if (folder.empty()) folder = std::string(home) + "/Documents";
    }
    if (!MakeFolders(folder)) return {};
    return folder;
}

}  // namespace platform
