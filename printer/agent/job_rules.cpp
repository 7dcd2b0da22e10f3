#include "job_rules.h"

#include "platform/text.h"

#include <sys/stat.h>

namespace agent {

std::string ClientCommand(std::string_view app) {
    if (app.find(' ') != std::string_view::npos && !app.starts_with('"')) return "\"" + std::string(app) + "\"";
    return std::string(app);
}

platform::UINT ClipboardMessageId(platform::DWORD id) { return id < 0x8000 || id > 0xBFFF ? 0x8000 : id; }

bool IsCancelled(std::string_view result) { return platform::FoldCase(result) == "cancel"; }

bool PathBlock(std::string_view path, std::string* block) {
    constexpr std::size_t kBlock = 260;
    if (path.size() + 1 > kBlock) return false;
    *block = std::string(path);
    block->resize(kBlock, '\0');
    return true;
}

bool IsTicketFile(const std::string& path) {
    struct stat sb;
    if (path.size() < 5 || platform::FoldCase(path.substr(path.size() - 4)) != ".ini") return false;
    return lstat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}

}  // namespace agent
