// Parsing and editing the text of a profile file.
#include "platform/profile.h"

#include "platform/text.h"

namespace platform {

namespace {

constexpr std::size_t npos = std::string::npos;

std::string_view Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
    bool ascii = true;
    for (unsigned char c : a) ascii = ascii && c < 0x80;
    for (unsigned char c : b) ascii = ascii && c < 0x80;
    return ascii ? EqualsNoCaseAscii(a, b) : FoldCase(a) == FoldCase(b);
}

}  // namespace

ProfileText::ProfileText(std::string_view text) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view raw = text.substr(pos, nl == npos ? npos : nl - pos);
        pos = nl == npos ? text.size() : nl + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        Line line;
        // A zero byte would cut the line short for C callers: drop it.
        for (char c : raw)
            if (c != '\0') line.raw += c;
        std::string_view t = Trim(line.raw);
        if (!t.empty() && t[0] == '[') {
            std::size_t close = t.find(']');
            line.isSection = true;
            line.section = std::string(Trim(t.substr(1, close == npos ? npos : close - 1)));
        } else if (!t.empty() && t[0] != ';') {
            line.isEntry = true;
            std::size_t eq = t.find('=');
            line.key = std::string(Trim(t.substr(0, eq)));
        }
        lines_.push_back(std::move(line));
    }
}

std::size_t ProfileText::FindSection(std::string_view section) const {
    std::string_view want = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].isSection && SameName(lines_[i].section, want)) return i;
    return npos;
}

std::size_t ProfileText::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && !lines_[i].isSection) ++i;
    return i;
}

bool ProfileText::Get(std::string_view section, std::string_view key, std::string* value) const {
    std::size_t h = FindSection(section);
    if (h == npos) return false;
    std::string_view want = Trim(key);
    for (std::size_t i = h + 1, end = SectionEnd(h); i < end; ++i) {
        const Line& l = lines_[i];
        if (!l.isEntry || !SameName(l.key, want)) continue;
        std::string_view t = Trim(l.raw);
        std::size_t eq = t.find('=');
        std::string_view v = eq == npos ? std::string_view() : Trim(t.substr(eq + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        if (value) *value = std::string(v);
        return true;
    }
    return false;
}

std::vector<std::string> ProfileText::Sections() const {
    std::vector<std::string> out;
    for (const Line& l : lines_)
        if (l.isSection) out.push_back(l.section);
    return out;
}

std::vector<std::string> ProfileText::Keys(std::string_view section) const {
    std::vector<std::string> out;
    std::size_t h = FindSection(section);
    if (h == npos) return out;
    for (std::size_t i = h + 1, end = SectionEnd(h); i < end; ++i)
        if (lines_[i].isEntry) out.push_back(lines_[i].key);
    return out;
}

void ProfileText::Set(std::string_view section, std::string_view key, std::string_view value) {
    Line entry;
    entry.isEntry = true;
    entry.key = std::string(Trim(key));
    entry.raw = entry.key + "=" + std::string(value);
    std::size_t h = FindSection(section);
    if (h == npos) {
        if (!lines_.empty() && !Trim(lines_.back().raw).empty()) lines_.push_back(Line{});  // a blank line between
        Line header;
        header.isSection = true;
        header.section = std::string(Trim(section));
        header.raw = "[" + header.section + "]";
        lines_.push_back(std::move(header));
        lines_.push_back(std::move(entry));
        return;
    }
    std::size_t end = SectionEnd(h);
    for (std::size_t i = h + 1; i < end; ++i) {
        if (lines_[i].isEntry && SameName(lines_[i].key, entry.key)) {
            entry.key = lines_[i].key;  // the key keeps its spelling
            entry.raw = entry.key + "=" + std::string(value);
            lines_[i] = std::move(entry);
            return;
        }
    }
    // New keys go after the section's last entry, before trailing blank lines.
    std::size_t at = end;
    while (at > h + 1 && Trim(lines_[at - 1].raw).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

bool ProfileText::DeleteKey(std::string_view section, std::string_view key) {
    std::size_t h = FindSection(section);
    if (h == npos) return false;
    std::string_view want = Trim(key);
    for (std::size_t i = h + 1, end = SectionEnd(h); i < end; ++i) {
        if (lines_[i].isEntry && SameName(lines_[i].key, want)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

bool ProfileText::DeleteSection(std::string_view section) {
    std::size_t h = FindSection(section);
    if (h == npos) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(h), lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(h)));
    return true;
}

std::string ProfileText::Text() const {
    std::string out;
    for (const Line& l : lines_) out += l.raw + "\n";
    return out;
}

}  // namespace platform
