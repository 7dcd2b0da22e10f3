// The program's path and temporary names.
#include "platform/paths.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string ProgramPath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramFolder() { return FolderOf(ProgramPath()); }

std::string TempFolder() {
    const char* t = std::getenv("TMPDIR");
    struct stat sb;
    if (t && *t == '/' && stat(t, &sb) == 0 && S_ISDIR(sb.st_mode)) {
        std::string s = t;
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    }
    return "/tmp";
}

namespace {

std::string Base(std::string_view folder) {
    std::string f = folder.empty() ? TempFolder() : std::string(folder);
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    return f;
}

bool NameOk(std::string_view part) { return part.find('/') == std::string_view::npos && part.find('\0') == std::string_view::npos; }

}  // namespace

std::string MakeTempFile(std::string_view folder, std::string_view prefix, std::string_view suffix) {
    if (!NameOk(prefix) || !NameOk(suffix)) return {};
    std::string tmpl = Base(folder) + "/" + std::string(prefix) + "XXXXXX" + std::string(suffix);
    int fd = mkstemps(tmpl.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return {};
    close(fd);
    return tmpl;
}

std::string MakeTempFolder(std::string_view folder, std::string_view prefix) {
    if (!NameOk(prefix)) return {};
    std::string tmpl = Base(folder) + "/" + std::string(prefix) + "XXXXXX";
    if (!mkdtemp(tmpl.data())) return {};
    return tmpl;
}

std::string FolderOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string FileNameOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace platform
