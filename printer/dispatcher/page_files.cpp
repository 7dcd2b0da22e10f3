#include "page_files.h"

#include "platform/filetime.h"
#include "platform/text.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace dispatcher {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsPageFileName(std::string_view name) {
    std::string folded = platform::FoldCase(name);
    return folded.size() >= 8 && folded.starts_with("~emf") && folded.ends_with(".tmp");
}

bool PageNameLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && IsDigit(a[ie])) ++ie;
            while (je < b.size() && IsDigit(b[je])) ++je;
            std::string_view x = a.substr(i, ie - i), y = b.substr(j, je - j);
            while (x.size() > 1 && x[0] == '0') x.remove_prefix(1);
            while (y.size() > 1 && y[0] == '0') y.remove_prefix(1);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            i = ie;
            j = je;
            continue;
        }
        char ca = platform::ToLowerAscii(a[i]), cb = platform::ToLowerAscii(b[j]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;  // same page order: fall back to the bytes, so the order is total
}

std::vector<std::string> RecentPageFiles(const std::string& folder, std::uint64_t now) {
    std::vector<std::string> names;
    DIR* d = opendir(folder.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (!IsPageFileName(name)) continue;
        std::string path = folder + (folder.ends_with("/") ? "" : "/") + name;
        struct stat sb;
        std::uint64_t created = 0;
        if (stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) continue;
        if (!platform::FileCreationTime(path, &created) || !IsRecent(now, created)) continue;
        names.push_back(std::move(name));
    }
    closedir(d);
    std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) { return PageNameLess(x, y); });
    return names;
}

std::string CopyPathOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot + 1) + "emf";
}

}  // namespace dispatcher
