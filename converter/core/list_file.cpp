#include "list_file.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace vellumate {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// A list names files; anything larger than this is not a list and would only
// exhaust memory.
constexpr off_t kMaxListBytes = 64L * 1024 * 1024;

}  // namespace

std::vector<std::string> SplitListText(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t lf = text.find('\n', start);
        std::string_view line = text.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
        size_t b = 0, e = line.size();
        while (b < e && IsSpace(line[b])) ++b;
        while (e > b && IsSpace(line[e - 1])) --e;
        if (e > b) lines.emplace_back(line.substr(b, e - b));
        if (lf == std::string_view::npos) break;
        start = lf + 1;
    }
    return lines;
}

bool ReadListFile(const std::string& path, std::vector<std::string>* lines) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxListBytes)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    if (text.empty()) return false;
    *lines = SplitListText(text);
    return true;
}

}  // namespace vellumate
