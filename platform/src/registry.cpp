// The Win32-shaped registry calls over the hive files.
#include "platform/registry.h"

#include "registry_hive.h"
#include "vellumate_install_paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace platform {

struct RegKeyObject {
    std::shared_ptr<reg::Hive> hive;
    reg::KeyId id;
    REGSAM access;
};

namespace {

using reg::Hive;
using reg::KeyId;

std::mutex g_handlesMu;
std::unordered_set<HKEY> g_handles;  // open handles, so a stale or foreign handle is refused

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;

bool MakeFolders(const std::string& path) {
    std::string cur;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!cur.empty() && mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
        if (i < path.size()) cur += path[i];
    }
    return true;
}

std::shared_ptr<Hive> HiveFile(const char* file) {
    std::string folder = RegistryFolder();
    MakeFolders(folder);
    return Hive::At(folder + "/" + file);
}

// The resolved target of a handle: a hive, a key in it, and for the classes
// view the names still to walk from the hive's root.
struct Target {
    std::shared_ptr<Hive> hive;
    KeyId id = reg::kRootKey;
    REGSAM access = KEY_ALL_ACCESS;
    std::vector<std::string> prefix;
};

LSTATUS Resolve(HKEY key, Target* t) {
    if (key == HKEY_LOCAL_MACHINE) {
        t->hive = HiveFile("machine.db");
    } else if (key == HKEY_CURRENT_USER) {
        t->hive = HiveFile("user.db");
    } else if (key == HKEY_CLASSES_ROOT) {
        t->hive = HiveFile("machine.db");
        t->prefix = {"Software", "Classes"};
    } else {
        std::lock_guard lock(g_handlesMu);
        if (!key || !g_handles.count(key)) return ERROR_INVALID_HANDLE;
        t->hive = key->hive;
        t->id = key->id;
        t->access = key->access;
    }
    return ERROR_SUCCESS;
}

// The hive's open status, told apart for reading and writing: a hive that
// could not be opened at all has no keys to read and none may be written.
LSTATUS HiveStatus(const Hive& h, bool write) {
    LSTATUS s = h.OpenStatus();
    if (s == ERROR_CANTOPEN || (s == ERROR_FILE_NOT_FOUND && write)) return write ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    if (!s && write && h.ReadOnly()) return ERROR_ACCESS_DENIED;
    return s;
}

LSTATUS SplitPath(const char* subKey, std::vector<std::string>* names) {
    if (!subKey) return ERROR_SUCCESS;
    std::string_view s(subKey);
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t end = s.find('\\', start);
        if (end == std::string_view::npos) end = s.size();
        std::string_view part = s.substr(start, end - start);
        if (!part.empty()) {
            if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
            names->emplace_back(part);
        }
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// Walks to the key a handle with its prefix stands for, creating it when asked.
LSTATUS ReachTarget(Target& t, bool create) {
    if (t.prefix.empty()) return ERROR_SUCCESS;
    LSTATUS e = t.hive->WalkPath(t.id, t.prefix, create, &t.id, nullptr);
    t.prefix.clear();
    return e;
}

// Resolves a handle for a call on the key itself that needs `right`.
LSTATUS ForCall(HKEY key, REGSAM right, bool write, Target* t) {
    if (LSTATUS e = Resolve(key, t)) return e;
    if ((t->access & right) != right) return ERROR_ACCESS_DENIED;
    if (LSTATUS e = HiveStatus(*t->hive, write)) return e;
    return ReachTarget(*t, write);
}

LSTATUS NewHandle(const Target& t, KeyId id, REGSAM sam, HKEY* result) {
    auto* k = new (std::nothrow) RegKeyObject{t.hive, id, sam};
    if (!k) return ERROR_NOT_ENOUGH_MEMORY;
    std::lock_guard lock(g_handlesMu);
    g_handles.insert(k);
    *result = k;
    return ERROR_SUCCESS;
}

REGSAM Effective(REGSAM sam) {
    sam &= ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    return sam == 0 ? KEY_READ : sam;  // GENERIC rights are not used here
}

bool ValueNameOk(const char* name) { return !name || std::strlen(name) <= kMaxValueNameLength; }

// Copies a name into a caller's buffer with the Win32 size rules.
LSTATUS CopyName(const std::string& n, char* buf, DWORD* cch) {
    if (!cch) return ERROR_INVALID_PARAMETER;
    if (!buf || n.size() + 1 > *cch) {
        *cch = static_cast<DWORD>(n.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(buf, n.data(), n.size());
    buf[n.size()] = 0;
    *cch = static_cast<DWORD>(n.size());
    return ERROR_SUCCESS;
}

LSTATUS CopyData(const reg::Value& v, DWORD* type, BYTE* data, DWORD* cbData) {
    if (type) *type = v.type;
    if (!cbData) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    auto size = static_cast<DWORD>(v.data.size());
    if (!data) {
        *cbData = size;
        return ERROR_SUCCESS;
    }
    if (*cbData < size) {
        *cbData = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, v.data.data(), size);
    *cbData = size;
    return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryFolder() {
    const char* env = std::getenv("VELLUMATE_REGISTRY");
    if (env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    return base + "/vellumate/registry";
}

std::string SystemRegistryFolder() {
    const char* env = std::getenv("VELLUMATE_SYSTEM_REGISTRY");
    return env && *env ? env : VELLUMATE_SYSTEM_REGISTRY;
}

LSTATUS RegLoadAppKey(const char* file, HKEY* result, REGSAM sam, DWORD, DWORD) {
    if (!file || !*file || !result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Target t;
    t.hive = Hive::At(file);
    sam = Effective(sam);
    const bool write = (sam & kWriteRights) != 0;
    if (LSTATUS e = HiveStatus(*t.hive, write)) return e;
    return NewHandle(t, reg::kRootKey, sam, result);
}

LSTATUS RegCreateKeyEx(HKEY key, const char* subKey, DWORD, const char*, DWORD, REGSAM sam, const void*,
                       HKEY* result, DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Target t;
    if (LSTATUS e = Resolve(key, &t)) return e;
    std::vector<std::string> names = t.prefix;
    if (LSTATUS e = SplitPath(subKey, &names)) return e;
    bool exists = false;
    KeyId id;
    if (LSTATUS e = HiveStatus(*t.hive, false)) return e == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : e;
    // An existing key opens even in a read-only hive (for the rights asked).
    exists = t.hive->WalkPath(t.id, names, false, &id, nullptr) == ERROR_SUCCESS;
    sam = Effective(sam);
    bool created = false;
    if (!exists) {
        if (!(t.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        if (LSTATUS e = HiveStatus(*t.hive, true)) return e;
        if (LSTATUS e = t.hive->WalkPath(t.id, names, true, &id, &created)) return e;
    } else if ((sam & kWriteRights) && t.hive->ReadOnly()) {
        return ERROR_ACCESS_DENIED;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return NewHandle(t, id, sam, result);
}

LSTATUS RegOpenKeyEx(HKEY key, const char* subKey, DWORD, REGSAM sam, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Target t;
    if (LSTATUS e = Resolve(key, &t)) return e;
    std::vector<std::string> names = t.prefix;
    if (LSTATUS e = SplitPath(subKey, &names)) return e;
    if (LSTATUS e = HiveStatus(*t.hive, false)) return e;
    sam = Effective(sam);
    if ((sam & kWriteRights) && t.hive->ReadOnly()) return ERROR_ACCESS_DENIED;
    KeyId id;
    if (LSTATUS e = t.hive->WalkPath(t.id, names, false, &id, nullptr))
        return e == ERROR_KEY_DELETED && !names.empty() ? ERROR_FILE_NOT_FOUND : e;
    return NewHandle(t, id, sam, result);
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    {
        std::lock_guard lock(g_handlesMu);
        if (!key || !g_handles.erase(key)) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueEx(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* cbData) {
    if (!ValueNameOk(name)) return ERROR_INVALID_PARAMETER;
    Target t;
    if (LSTATUS e = ForCall(key, KEY_QUERY_VALUE, false, &t)) return e;
    reg::Value v;
    if (LSTATUS e = t.hive->GetValue(t.id, name ? name : "", &v)) return e;
    return CopyData(v, type, data, cbData);
}

LSTATUS RegSetValueEx(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    if (!ValueNameOk(name) || (!data && cbData)) return ERROR_INVALID_PARAMETER;
    if (cbData > 0x7FFFFFF0u) return ERROR_INVALID_PARAMETER;
    Target t;
    if (LSTATUS e = ForCall(key, KEY_SET_VALUE, true, &t)) return e;
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && (cbData == 0 || data[cbData - 1] != 0)) {
        // Strings are kept with their terminating zero, as readers expect.
        std::vector<BYTE> copy(data, data + cbData);
        copy.push_back(0);
        return t.hive->SetValue(t.id, name ? name : "", type, copy.data(), copy.size());
    }
    return t.hive->SetValue(t.id, name ? name : "", type, data, cbData);
}

LSTATUS RegChangeValues(HKEY root, std::string_view path, const std::vector<RegValueChange>& changes) {
    std::vector<reg::ValueChange> batch;
    batch.reserve(changes.size());
    for (const RegValueChange& c : changes) {
        if (c.name.size() > kMaxValueNameLength || c.data.size() > 0x7FFFFFF0u) return ERROR_INVALID_PARAMETER;
        // Strings are kept with their terminating zero, as readers expect.
        if (!c.remove && (c.type == REG_SZ || c.type == REG_EXPAND_SZ) && (c.data.empty() || c.data.back() != 0))
            return ERROR_INVALID_PARAMETER;
        batch.push_back({c.name, c.type, c.data, c.remove});
    }
    RegKeyHolder key;
    const std::string p(path);
    if (LSTATUS e = RegCreateKeyEx(root, p.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr))
        return e;
    Target t;
    if (LSTATUS e = ForCall(key.Get(), KEY_SET_VALUE, true, &t)) return e;
    return t.hive->SetValues(t.id, batch);
}

LSTATUS RegDeleteValue(HKEY key, const char* name) {
    if (!ValueNameOk(name)) return ERROR_INVALID_PARAMETER;
    Target t;
    if (LSTATUS e = ForCall(key, KEY_SET_VALUE, true, &t)) return e;
    return t.hive->DeleteValue(t.id, name ? name : "");
}

LSTATUS RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, char* cls, DWORD* cchClass, void*) {
    Target t;
    if (LSTATUS e = ForCall(key, KEY_ENUMERATE_SUB_KEYS, false, &t)) return e == ERROR_FILE_NOT_FOUND ? ERROR_NO_MORE_ITEMS : e;
    std::string n;
    if (LSTATUS e = t.hive->EnumKey(t.id, index, &n)) return e;
    if (cls && cchClass && *cchClass) *cls = 0;
    if (cchClass) *cchClass = 0;
    return CopyName(n, name, cchName);
}

LSTATUS RegEnumValue(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, DWORD* type, BYTE* data,
                     DWORD* cbData) {
    Target t;
    if (LSTATUS e = ForCall(key, KEY_QUERY_VALUE, false, &t)) return e == ERROR_FILE_NOT_FOUND ? ERROR_NO_MORE_ITEMS : e;
    reg::Value v;
    if (LSTATUS e = t.hive->EnumValue(t.id, index, &v)) return e;
    if (LSTATUS e = CopyName(v.name, name, cchName)) return e;
    return CopyData(v, type, data, cbData);
}

LSTATUS RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                        DWORD* maxValueLen) {
    Target t;
    if (LSTATUS e = ForCall(key, KEY_QUERY_VALUE, false, &t)) return e;
    return t.hive->Info(t.id, subKeys, maxSubKeyLen, values, maxValueNameLen, maxValueLen);
}

namespace {

LSTATUS DeleteBelow(HKEY key, const char* subKey, bool tree) {
    Target t;
    if (LSTATUS e = Resolve(key, &t)) return e;
    std::vector<std::string> names = t.prefix;
    if (LSTATUS e = SplitPath(subKey, &names)) return e;
    if (!tree && names.size() == t.prefix.size()) return ERROR_INVALID_PARAMETER;  // RegDeleteKey needs a name
    if (LSTATUS e = HiveStatus(*t.hive, true)) return e;
    KeyId id;
    if (LSTATUS e = t.hive->WalkPath(t.id, names, false, &id, nullptr)) return e;
    if (!tree) {
        DWORD n = 0;
        if (LSTATUS e = t.hive->CountSubKeys(id, &n)) return e;
        if (n) return ERROR_ACCESS_DENIED;
    }
    bool keepSelf = tree && names.size() == t.prefix.size() && (!subKey || !*subKey);
    return t.hive->DeleteTree(id, keepSelf);
}

}  // namespace

LSTATUS RegDeleteKey(HKEY key, const char* subKey) { return DeleteBelow(key, subKey, false); }

LSTATUS RegDeleteTree(HKEY key, const char* subKey) { return DeleteBelow(key, subKey, true); }

}  // namespace platform
