// Scanning CSS text without parsing it (css_scan.h).
#include "css_scan.h"

namespace htmlengine::css {

std::size_t SkipOpaque(std::string_view s, std::size_t i) {
    if (s.compare(i, 2, "/*") == 0) {
        std::size_t e = s.find("*/", i + 2);
        return e == std::string_view::npos ? s.size() : e + 2;
    }
    if (s[i] == '"' || s[i] == '\'') {
        char q = s[i];
        for (++i; i < s.size(); ++i) {
            if (s[i] == '\\') ++i;
            else if (s[i] == q) return i + 1;
        }
        return s.size();
    }
    return i;
}

std::size_t FindTopLevel(std::string_view s, std::size_t i, std::string_view stops) {
    int depth = 0;
    while (i < s.size()) {
        std::size_t j = SkipOpaque(s, i);
        if (j != i) {
            i = j;
            continue;
        }
        char c = s[i];
        if (depth == 0 && stops.find(c) != std::string_view::npos) return i;
        if (c == '\\') ++i;
        else if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        ++i;
    }
    return s.size();
}

std::size_t BlockEnd(std::string_view s, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < s.size();) {
        std::size_t j = SkipOpaque(s, i);
        if (j != i) {
            i = j;
            continue;
        }
        if (s[i] == '\\') i += 2;
        else {
            if (s[i] == '{') ++depth;
            else if (s[i] == '}' && --depth == 0) return i + 1;
            ++i;
        }
    }
    return s.size();
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace htmlengine::css
