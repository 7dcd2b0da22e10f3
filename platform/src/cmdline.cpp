// Rebuilding and splitting command-line text.
#include "platform/cmdline.h"

namespace platform {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string JoinCommandLine(const std::vector<std::string>& args) {
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) out += ' ';
        const std::string& a = args[i];
        if (a.empty() || a.find_first_of(" \t") != std::string::npos)
            out += '"' + a + '"';
        else
            out += a;
    }
    return out;
}

std::string CommandLineTail(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return JoinCommandLine(args);
}

std::string CommandLineText(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return JoinCommandLine(args);
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> out;
    std::string cur;
    bool inArg = false, quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inArg = true;
        } else if (IsBlank(c) && !quoted) {
            if (inArg) out.push_back(std::move(cur));
            cur.clear();
            inArg = false;
        } else if (c == '\0') {
            break;  // a text ends at its first zero, as a C string would
        } else {
            cur += c;
            inArg = true;
        }
    }
    if (inArg) out.push_back(std::move(cur));
    return out;
}

}  // namespace platform
