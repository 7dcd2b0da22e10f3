#include "command_line.h"

namespace vellumate {
namespace {

bool EraseAll(std::string* text, std::string_view what) {
    bool found = false;
    for (size_t pos = text->find(what); pos != std::string::npos; pos = text->find(what, pos)) {
        text->erase(pos, what.size());
        found = true;
    }
    return found;
}

std::string TrimSet(std::string_view s, std::string_view set) {
    size_t b = s.find_first_not_of(set);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(set);
    return std::string(s.substr(b, e - b + 1));
}

}  // namespace

RunFlags RemoveRunFlags(std::string* text) {
    RunFlags f;
    f.addLog = EraseAll(text, "/addlog");
    f.invertAll = EraseAll(text, "/invertall");
    f.autoLaunch = EraseAll(text, "/autolaunch");
    return f;
}

std::vector<std::string> Tokenize(std::string_view text) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < text.size()) {
        size_t end;
        size_t next;
        if (text[i] == '"') {
            size_t close = text.find('"', i + 1);
            end = close == std::string_view::npos ? text.size() : close + 1;  // keep the closing quote
            next = end;
        } else {
            size_t blank = text.find(' ', i);
            end = blank == std::string_view::npos ? text.size() : blank;
            next = blank == std::string_view::npos ? text.size() : blank + 1;
        }
        if (end > i) tokens.emplace_back(text.substr(i, end - i));
        // The quote that closed a token ended it; the blank behind it starts an
        // empty token, which is dropped by the next round.
        i = next > i ? next : i + 1;
    }
    return tokens;
}

std::string StripBlanksAndQuotes(std::string_view s) { return TrimSet(s, " \""); }

std::string StripQuotes(std::string_view s) { return TrimSet(s, "\""); }

}  // namespace vellumate
