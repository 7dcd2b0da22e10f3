#include "page_list.h"

#include "printer/shared/ticket.h"

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

#include <algorithm>

namespace relay {

namespace tk = vmshared::ticket;

std::vector<std::string> JobPageFiles(const std::string& ticket, int count) {
    std::vector<std::string> pages;
    if (count <= 0) return pages;
    std::string folder = platform::FolderOf(ticket);
    // Only the entries the ticket holds are read, however large the count.
    std::vector<std::pair<long, std::string>> entries;
    for (const std::string& key : platform::ProfileKeys(ticket, tk::kEmf)) {
        std::string folded = platform::FoldCase(key);
        if (!folded.starts_with("file") || folded.size() < 5 || folded.size() > 13) continue;
        std::string digits = folded.substr(4);
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        long n = std::stol(digits);
        if (n < count && std::to_string(n) == digits) entries.emplace_back(n, key);
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [n, key] : entries) {
        std::string path = platform::ProfileGetString(ticket, tk::kEmf, key);
        if (path.size() > 259) continue;  // longer than a dispatcher writes
        std::string name = platform::FileNameOf(path);
        std::string folded = platform::FoldCase(name);
        if (path.empty() || platform::FolderOf(path) != folder || !folded.starts_with("~emf") ||
            !folded.ends_with(".emf") || name.find("..") != std::string::npos)
            continue;
        pages.push_back(path);
    }
    return pages;
}

}  // namespace relay
