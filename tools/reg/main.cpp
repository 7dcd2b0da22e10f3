// reg: query, add, delete, export and import registry values.
//
//   reg query KEY [/v NAME | /ve] [/s]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg export KEY FILE [/y]
//   reg import FILE
//
// Exit status 0 on success; 1 with a message on standard error otherwise.
#include "platform/registry.h"
#include "platform/text.h"
#include "regfile.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace platform;
using namespace regtool;

namespace {

constexpr const char* kDone = "The operation completed successfully.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

std::string ErrorText(LSTATUS e) {
    switch (e) {
    case ERROR_FILE_NOT_FOUND: return "The system was unable to find the specified registry key or value.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect (a name may be too long).";
    case ERROR_BADDB: return "The registry database is damaged.";
    case ERROR_CANTOPEN: return "The registry database could not be opened.";
    case ERROR_CANTREAD: return "The registry database could not be read.";
    case ERROR_CANTWRITE: return "The registry database could not be written.";
    case ERROR_KEY_DELETED: return "The key was deleted while it was in use.";
    default: return "Registry error " + std::to_string(e) + ".";
    }
}

struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                // /va
    std::optional<std::string> type, data;
    bool force = false, recursive = false, overwriteFile = false;
};

bool IsSwitch(const std::string& a, const char* name) {
    return a.size() > 1 && (a[0] == '/' || a[0] == '-') && EqualsNoCase(std::string_view(a).substr(1), name);
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* why) {
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::optional<std::string>* slot) {
            if (i + 1 >= argc) return *why = "Missing data after " + a + ".", false;
            *slot = argv[++i];
            return true;
        };
        if (IsSwitch(a, "v")) {
            if (!next(&o->valueName)) return false;
        } else if (IsSwitch(a, "ve")) {
            o->valueName = "";
        } else if (IsSwitch(a, "va")) {
            o->allValues = true;
        } else if (IsSwitch(a, "t")) {
            if (!next(&o->type)) return false;
        } else if (IsSwitch(a, "d")) {
            if (!next(&o->data)) return false;
        } else if (IsSwitch(a, "f")) {
            o->force = true;
        } else if (IsSwitch(a, "s")) {
            o->recursive = true;
        } else if (IsSwitch(a, "y")) {
            o->overwriteFile = true;
        } else if (IsSwitch(a, "reg:32") || IsSwitch(a, "reg:64")) {
            // One registry view only: nothing to choose.
        } else if (a.size() > 1 && a[0] == '/' && a.find('/', 1) == std::string::npos && a.find('\\') == std::string::npos &&
                   a.size() <= 4) {
            return *why = "Invalid syntax: unknown switch " + a + ".", false;
        } else {
            o->positional.push_back(a);
        }
    }
    return true;
}

// Asks on the terminal; without one (a script, a test) the answer is no.
bool Confirm(const std::string& question) {
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::printf("\n");
        return false;
    }
    std::string a = FoldCase(answer);
    return a == "y" || a == "yes";
}

std::string TypeName(DWORD t) {
    switch (t) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_UNKNOWN(" + std::to_string(t) + ")";
    }
}

std::string ShowData(DWORD type, const std::vector<BYTE>& d) {
    char buf[32];
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string s(d.begin(), d.end());
        return s.substr(0, s.find('\0'));
    }
    case REG_MULTI_SZ: {
        std::string s(d.begin(), d.end()), out;
        std::size_t pos = 0;
        while (pos < s.size() && s[pos]) {
            std::size_t z = s.find('\0', pos);
            if (z == std::string::npos) z = s.size();
            if (!out.empty()) out += "\\0";
            out += s.substr(pos, z - pos);
            pos = z + 1;
        }
        return out;
    }
    case REG_DWORD:
        if (d.size() == 4) {
            std::snprintf(buf, sizeof buf, "0x%x", d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<DWORD>(d[3]) << 24));
            return buf;
        }
        break;
    case REG_QWORD:
        if (d.size() == 8) {
            unsigned long long q = 0;
            for (int i = 7; i >= 0; --i) q = (q << 8) | d[static_cast<std::size_t>(i)];
            std::snprintf(buf, sizeof buf, "0x%llx", q);
            return buf;
        }
        break;
    }
    std::string out;
    for (BYTE b : d) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

void PrintValue(const ValueRecord& v) {
    std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), TypeName(v.type).c_str(),
                ShowData(v.type, v.data).c_str());
}

LSTATUS ReadValues(HKEY key, std::vector<ValueRecord>* out) {
    DWORD count = 0, maxName = 0, maxData = 0;
    if (LSTATUS e = RegQueryInfoKey(key, nullptr, nullptr, &count, &maxName, &maxData)) return e;
    for (DWORD i = 0;; ++i) {
        std::vector<char> name(maxName + 1);
        ValueRecord v;
        v.data.resize(maxData);
        DWORD cch = static_cast<DWORD>(name.size()), cb = static_cast<DWORD>(v.data.size());
        LSTATUS e = RegEnumValue(key, i, name.data(), &cch, nullptr, &v.type, v.data.data(), &cb);
        if (e == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (e == ERROR_MORE_DATA) {  // grew meanwhile: read the sizes again
            RegQueryInfoKey(key, nullptr, nullptr, &count, &maxName, &maxData);
            --i;
            continue;
        }
        if (e) return e;
        v.name.assign(name.data(), cch);
        v.data.resize(cb);
        out->push_back(std::move(v));
    }
}

LSTATUS ReadSubKeys(HKEY key, std::vector<std::string>* out) {
    DWORD maxLen = 0;
    if (LSTATUS e = RegQueryInfoKey(key, nullptr, &maxLen, nullptr, nullptr, nullptr)) return e;
    for (DWORD i = 0;; ++i) {
        std::vector<char> name(maxLen + 1 > 256 ? maxLen + 1 : 256);
        DWORD cch = static_cast<DWORD>(name.size());
        LSTATUS e = RegEnumKeyEx(key, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (e) return e;
        out->emplace_back(name.data(), cch);
    }
}

std::string Join(const std::string& a, const std::string& b) { return a.empty() ? b : a + "\\" + b; }

LSTATUS QueryTree(HKEY root, const std::string& sub, const Options& o, bool* found) {
    RegKeyHolder key;
    if (LSTATUS e = RegOpenKeyEx(root, sub.c_str(), 0, KEY_READ, key.Out())) return e;
    std::vector<ValueRecord> values;
    std::vector<std::string> subKeys;
    if (LSTATUS e = ReadValues(key.Get(), &values)) return e;
    if (LSTATUS e = ReadSubKeys(key.Get(), &subKeys)) return e;
    std::vector<const ValueRecord*> shown;
    for (const auto& v : values)
        if (!o.valueName || EqualsNoCase(v.name, *o.valueName)) shown.push_back(&v);
    if (!o.valueName || !shown.empty()) {
        std::printf("\n%s\n", LongKeyName(root, sub).c_str());
        for (const ValueRecord* v : shown) PrintValue(*v);
        *found = *found || !shown.empty() || !o.valueName;
    }
    if (o.recursive) {
        for (const auto& s : subKeys)
            if (LSTATUS e = QueryTree(root, Join(sub, s), o, found)) return e;
    } else if (!o.valueName) {
        if (!subKeys.empty()) std::printf("\n");
        for (const auto& s : subKeys) std::printf("%s\n", LongKeyName(root, Join(sub, s)).c_str());
    }
    return ERROR_SUCCESS;
}

int Query(HKEY root, const std::string& sub, const Options& o) {
    bool found = false;
    if (LSTATUS e = QueryTree(root, sub, o, &found)) return Fail(ErrorText(e));
    if (!found) return Fail(ErrorText(ERROR_FILE_NOT_FOUND));
    std::printf("\n");
    return 0;
}

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty()) return false;
    std::size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, i = 2;
    unsigned long long n = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d = c >= '0' && c <= '9' ? c - '0' : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        if (n > (max - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) return false;
        n = n * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    *out = n;
    return true;
}

bool EncodeData(const std::string& typeName, const std::string& text, DWORD* type, std::vector<BYTE>* out,
                std::string* why) {
    std::string t = FoldCase(typeName);
    out->clear();
    if (t == "reg_sz" || t == "reg_expand_sz") {
        *type = t == "reg_sz" ? REG_SZ : REG_EXPAND_SZ;
        out->assign(text.begin(), text.end());
        out->push_back(0);
    } else if (t == "reg_multi_sz") {
        *type = REG_MULTI_SZ;
        std::size_t pos = 0;
        while (pos <= text.size() && !text.empty()) {
            std::size_t sep = text.find("\\0", pos);
            std::string part = text.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
            out->insert(out->end(), part.begin(), part.end());
            out->push_back(0);
            if (sep == std::string::npos) break;
            pos = sep + 2;
        }
        out->push_back(0);
    } else if (t == "reg_dword" || t == "reg_qword") {
        bool q = t == "reg_qword";
        unsigned long long n;
        if (!ParseNumber(text, q ? ~0ULL : 0xFFFFFFFFULL, &n))
            return *why = "Invalid value for " + typeName + ": \"" + text + "\".", false;
        *type = q ? REG_QWORD : REG_DWORD;
        for (int i = 0; i < (q ? 8 : 4); ++i) out->push_back(static_cast<BYTE>(n >> (8 * i)));
    } else if (t == "reg_binary" || t == "reg_none") {
        *type = t == "reg_binary" ? REG_BINARY : REG_NONE;
        if (text.size() % 2) return *why = "Invalid binary data: an odd number of hex digits.", false;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            unsigned long long b;
            if (!ParseNumber("0x" + text.substr(i, 2), 0xFF, &b)) return *why = "Invalid binary data.", false;
            out->push_back(static_cast<BYTE>(b));
        }
    } else {
        return *why = "Invalid type \"" + typeName + "\" (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE).", false;
    }
    return true;
}

int Add(HKEY root, const std::string& sub, const Options& o) {
    RegKeyHolder key;
    if (!o.valueName && !o.type && !o.data) {
        if (LSTATUS e = RegCreateKeyEx(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr))
            return Fail(ErrorText(e));
        std::printf("%s", kDone);
        return 0;
    }
    DWORD type;
    std::vector<BYTE> data;
    std::string why;
    if (!EncodeData(o.type.value_or("REG_SZ"), o.data.value_or(""), &type, &data, &why)) return Fail(why);
    std::string name = o.valueName.value_or("");
    if (LSTATUS e = RegCreateKeyEx(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr))
        return Fail(ErrorText(e));
    DWORD size = 0;
    if (!o.force && RegQueryValueEx(key.Get(), name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        !Confirm("Value " + (name.empty() ? std::string("(Default)") : name) + " exists, overwrite"))
        return Fail("The operation was canceled by the user.");
    if (LSTATUS e = RegSetValueEx(key.Get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())))
        return Fail(ErrorText(e));
    std::printf("%s", kDone);
    return 0;
}

int Delete(HKEY root, const std::string& sub, const Options& o) {
    std::string longName = LongKeyName(root, sub);
    if (!o.valueName && !o.allValues) {
        if (sub.empty()) return Fail("A whole hive cannot be deleted.");
        RegKeyHolder probe;
        if (LSTATUS e = RegOpenKeyEx(root, sub.c_str(), 0, KEY_READ, probe.Out())) return Fail(ErrorText(e));
        if (!o.force && !Confirm("Permanently delete the registry key " + longName))
            return Fail("The operation was canceled by the user.");
        if (LSTATUS e = RegDeleteTree(root, sub.c_str())) return Fail(ErrorText(e));
        std::printf("%s", kDone);
        return 0;
    }
    RegKeyHolder key;
    if (LSTATUS e = RegOpenKeyEx(root, sub.c_str(), 0, KEY_ALL_ACCESS, key.Out())) return Fail(ErrorText(e));
    std::vector<std::string> names;
    if (o.allValues) {
        std::vector<ValueRecord> values;
        if (LSTATUS e = ReadValues(key.Get(), &values)) return Fail(ErrorText(e));
        for (auto& v : values) names.push_back(v.name);
    } else {
        DWORD size = 0;
        if (LSTATUS e = RegQueryValueEx(key.Get(), o.valueName->c_str(), nullptr, nullptr, nullptr, &size))
            return Fail(ErrorText(e));
        names.push_back(*o.valueName);
    }
    std::string what = o.allValues ? "all values under the registry key " + longName
                                   : "the registry value " + (names[0].empty() ? std::string("(Default)") : names[0]);
    if (!o.force && !Confirm("Delete " + what)) return Fail("The operation was canceled by the user.");
    for (const auto& n : names)
        if (LSTATUS e = RegDeleteValue(key.Get(), n.c_str())) return Fail(ErrorText(e));
    std::printf("%s", kDone);
    return 0;
}

LSTATUS ExportTree(HKEY root, const std::string& sub, std::string* out) {
    RegKeyHolder key;
    if (LSTATUS e = RegOpenKeyEx(root, sub.c_str(), 0, KEY_READ, key.Out())) return e;
    std::vector<ValueRecord> values;
    std::vector<std::string> subKeys;
    if (LSTATUS e = ReadValues(key.Get(), &values)) return e;
    if (LSTATUS e = ReadSubKeys(key.Get(), &subKeys)) return e;
    *out += FormatKeyLine(LongKeyName(root, sub));
    for (const auto& v : values) *out += FormatValueLine(v);
    *out += "\n";
    for (const auto& s : subKeys)
        if (LSTATUS e = ExportTree(root, Join(sub, s), out)) return e;
    return ERROR_SUCCESS;
}

int Export(HKEY root, const std::string& sub, const std::string& file, const Options& o) {
    std::string text = FormatHeader();
    if (LSTATUS e = ExportTree(root, sub, &text)) return Fail(ErrorText(e));
    if (!o.overwriteFile && access(file.c_str(), F_OK) == 0 && !Confirm("File " + file + " already exists. Overwrite it"))
        return Fail("The operation was canceled by the user.");
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    if (!(f << text) || !f.flush()) return Fail("Cannot write the file \"" + file + "\".");
    std::printf("%s", kDone);
    return 0;
}

int Import(const std::string& file) {
    std::ifstream f(file, std::ios::binary);
    if (!f) return Fail("Cannot read the file \"" + file + "\".");
    std::stringstream ss;
    ss << f.rdbuf();
    ParsedFile parsed = ParseRegFile(ss.str());
    if (!parsed.errors.empty()) {
        for (const auto& e : parsed.errors) std::fprintf(stderr, "%s: %s\n", file.c_str(), e.c_str());
        return Fail("The file is not a valid registry file; nothing was imported.");
    }
    for (const KeyRecord& k : parsed.keys) {
        HKEY root;
        std::string sub;
        ParseKeyName(k.name, &root, &sub);
        if (k.remove) {
            LSTATUS e = sub.empty() ? ERROR_ACCESS_DENIED : RegDeleteTree(root, sub.c_str());
            if (e && e != ERROR_FILE_NOT_FOUND) return Fail(ErrorText(e) + " (" + k.name + ")");
            continue;
        }
        RegKeyHolder key;
        if (LSTATUS e = RegCreateKeyEx(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr))
            return Fail(ErrorText(e) + " (" + k.name + ")");
        for (const ValueRecord& v : k.values) {
            LSTATUS e = v.remove ? RegDeleteValue(key.Get(), v.name.c_str())
                                 : RegSetValueEx(key.Get(), v.name.c_str(), 0, v.type, v.data.data(),
                                                 static_cast<DWORD>(v.data.size()));
            if (e && !(v.remove && e == ERROR_FILE_NOT_FOUND)) return Fail(ErrorText(e) + " (" + k.name + ")");
        }
    }
    std::printf("%s", kDone);
    return 0;
}

int Usage(FILE* to) {
    std::fprintf(to,
                 "usage: reg query KEY [/v NAME | /ve] [/s]\n"
                 "       reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
                 "       reg delete KEY [/v NAME | /ve | /va] [/f]\n"
                 "       reg export KEY FILE [/y]\n"
                 "       reg import FILE\n"
                 "KEY is HKLM\\..., HKCU\\... or HKCR\\... (or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT).\n");
    return to == stdout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(stderr);
    std::string op = FoldCase(argv[1]);
    if (op == "/?" || op == "-h" || op == "--help" || op == "help") return Usage(stdout);
    Options o;
    std::string why;
    if (!ParseOptions(argc, argv, &o, &why)) return Fail(why);
    if (op == "import") {
        if (o.positional.size() != 1) return Fail("Invalid syntax: reg import FILE");
        return Import(o.positional[0]);
    }
    std::size_t wanted = op == "export" ? 2 : 1;
    if (op != "query" && op != "add" && op != "delete" && op != "export")
        return Fail("Invalid operation \"" + std::string(argv[1]) + "\" (query, add, delete, export, import).");
    if (o.positional.size() != wanted) return Fail("Invalid syntax. Type \"reg /?\" for usage.");
    HKEY root;
    std::string sub;
    if (!ParseKeyName(o.positional[0], &root, &sub))
        return Fail("Invalid key name \"" + o.positional[0] + "\" (HKLM\\..., HKCU\\..., HKCR\\...).");
    if (op == "query") return Query(root, sub, o);
    if (op == "add") return Add(root, sub, o);
    if (op == "delete") return Delete(root, sub, o);
    return Export(root, sub, o.positional[1], o);
}
