// Parsing and writing registry text files.
#include "regfile.h"

#include "platform/text.h"

#include <cstdio>

namespace regtool {

using namespace platform;

bool ParseKeyName(std::string_view text, HKEY* root, std::string* subKey) {
    std::size_t slash = text.find('\\');
    std::string hive = FoldCase(text.substr(0, slash));
    if (hive == "hklm" || hive == "hkey_local_machine")
        *root = HKEY_LOCAL_MACHINE;
    else if (hive == "hkcu" || hive == "hkey_current_user")
        *root = HKEY_CURRENT_USER;
    else if (hive == "hkcr" || hive == "hkey_classes_root")
        *root = HKEY_CLASSES_ROOT;
    else
        return false;
    std::string rest = slash == std::string_view::npos ? std::string() : std::string(text.substr(slash + 1));
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    *subKey = rest;
    return true;
}

std::string LongKeyName(HKEY root, std::string_view subKey) {
    std::string s = root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                    : root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER"
                                                : "HKEY_CLASSES_ROOT";
    if (!subKey.empty()) s += "\\" + std::string(subKey);
    return s;
}

namespace {

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string HexList(const std::vector<std::uint8_t>& data) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        if (i) out += ',';
        out += buf;
    }
    return out;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A quoted string at the start of s; its length (quotes included) in *used.
bool ReadQuoted(std::string_view s, std::string* out, std::size_t* used) {
    if (s.empty() || s[0] != '"') return false;
    out->clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out->push_back(s[++i]);
        } else if (s[i] == '"') {
            *used = i + 1;
            return true;
        } else {
            out->push_back(s[i]);
        }
    }
    return false;
}

bool ReadHexBytes(std::string_view s, std::vector<std::uint8_t>* out) {
    out->clear();
    s = Trim(s);
    if (s.empty()) return true;
    std::size_t i = 0;
    for (;;) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i + 2 > s.size()) return false;
        int hi = Hex(s[i]), lo = Hex(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        i += 2;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i == s.size()) return true;
        if (s[i] != ',') return false;
        ++i;
        if (i == s.size()) return true;  // a trailing comma
    }
}

bool ReadData(std::string_view d, ValueRecord* v, std::string* why) {
    d = Trim(d);
    if (d == "-") {
        v->remove = true;
        return true;
    }
    if (!d.empty() && d[0] == '"') {
        std::string s;
        std::size_t used = 0;
        if (!ReadQuoted(d, &s, &used) || !Trim(d.substr(used)).empty()) return *why = "bad string data", false;
        v->type = REG_SZ;
        v->data.assign(s.begin(), s.end());
        v->data.push_back(0);
        return true;
    }
    if (d.substr(0, 6) == "dword:") {
        std::string_view h = d.substr(6);
        if (h.empty() || h.size() > 8) return *why = "bad dword data", false;
        std::uint32_t n = 0;
        for (char c : h) {
            int x = Hex(c);
            if (x < 0) return *why = "bad dword data", false;
            n = n * 16 + static_cast<std::uint32_t>(x);
        }
        v->type = REG_DWORD;
        v->data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
                   static_cast<std::uint8_t>(n >> 24)};
        return true;
    }
    if (d.substr(0, 4) == "hex:") {
        v->type = REG_BINARY;
        if (!ReadHexBytes(d.substr(4), &v->data)) return *why = "bad hex data", false;
        return true;
    }
    if (d.substr(0, 4) == "hex(") {
        std::size_t close = d.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12) return *why = "bad hex type", false;
        std::uint32_t t = 0;
        for (char c : d.substr(4, close - 4)) {
            int x = Hex(c);
            if (x < 0) return *why = "bad hex type", false;
            t = t * 16 + static_cast<std::uint32_t>(x);
        }
        v->type = t;
        if (!ReadHexBytes(d.substr(close + 2), &v->data)) return *why = "bad hex data", false;
        return true;
    }
    return *why = "unknown data form", false;
}

// The file's text as UTF-8 lines with continuations joined; each with its first line number.
std::vector<std::pair<int, std::string>> Lines(std::string_view bytes) {
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string w;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            w.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        text = Utf8FromUtf16(w);
    } else {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        text = std::string(bytes);
    }
    std::vector<std::pair<int, std::string>> out;
    int lineNo = 0;
    bool continuing = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line = std::string_view(text).substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        ++lineNo;
        if (continuing)
            out.back().second += std::string(Trim(line));
        else
            out.emplace_back(lineNo, std::string(Trim(line)));
        // Only hex lists run on over several lines, each but the last ending in "\".
        std::string& cur = out.back().second;
        continuing = !cur.empty() && cur.back() == '\\' && cur.find("=hex") != std::string::npos;
        if (continuing) cur.pop_back();
    }
    return out;
}

}  // namespace

ParsedFile ParseRegFile(std::string_view bytes) {
    ParsedFile result;
    auto lines = Lines(bytes);
    std::size_t i = 0;
    while (i < lines.size() && lines[i].second.empty()) ++i;
    if (i == lines.size() ||
        (lines[i].second != "Windows Registry Editor Version 5.00" && lines[i].second != "REGEDIT4")) {
        result.errors.push_back("line 1: not a registry file (no \"Windows Registry Editor Version 5.00\" line)");
        return result;
    }
    for (++i; i < lines.size(); ++i) {
        const auto& [no, line] = lines[i];
        auto fail = [&, no = no](const std::string& why) {
            result.errors.push_back("line " + std::to_string(no) + ": " + why);
        };
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') {
                fail("a key line must end with \"]\"");
                continue;
            }
            KeyRecord k;
            k.line = no;
            std::string name = line.substr(1, line.size() - 2);
            if (!name.empty() && name[0] == '-') {
                k.remove = true;
                name.erase(0, 1);
            }
            HKEY root;
            std::string sub;
            if (!ParseKeyName(name, &root, &sub)) {
                fail("unknown key \"" + name + "\"");
                continue;
            }
            k.name = name;
            result.keys.push_back(std::move(k));
            continue;
        }
        ValueRecord v;
        std::size_t used = 0;
        std::string_view rest;
        if (line[0] == '@') {
            used = 1;
        } else if (!ReadQuoted(line, &v.name, &used)) {
            fail("expected \"name\"=data or @=data");
            continue;
        }
        rest = Trim(std::string_view(line).substr(used));
        if (rest.empty() || rest[0] != '=') {
            fail("expected \"=\" after the value name");
            continue;
        }
        std::string why;
        if (!ReadData(rest.substr(1), &v, &why)) {
            fail(why);
            continue;
        }
        if (result.keys.empty() || result.keys.back().remove) {
            fail("a value outside a key");
            continue;
        }
        result.keys.back().values.push_back(std::move(v));
    }
    return result;
}

std::string FormatHeader() { return "Windows Registry Editor Version 5.00\n\n"; }

std::string FormatKeyLine(std::string_view name) { return "[" + std::string(name) + "]\n"; }

std::string FormatValueLine(const ValueRecord& v) {
    std::string line = v.name.empty() ? "@" : Quote(v.name);
    line += '=';
    if (v.type == REG_SZ) {
        std::string s(v.data.begin(), v.data.end());
        if (!s.empty() && s.back() == '\0') s.pop_back();
        // Text that a quoted line cannot carry exactly (zeros, line breaks) is written as hex(1).
        if (s.find_first_of(std::string("\0\r\n", 3)) == std::string::npos) return line + Quote(s) + "\n";
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<std::uint32_t>(v.data[3]) << 24));
        return line + buf + "\n";
    } else if (v.type == REG_BINARY) {
        return line + "hex:" + HexList(v.data) + "\n";
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    return line + buf + HexList(v.data) + "\n";
}

}  // namespace regtool
