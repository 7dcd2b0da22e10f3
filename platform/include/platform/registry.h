// The registry: hives HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, each an
// SQLite database in the registry folder, and HKEY_CLASSES_ROOT, a view of
// HKEY_LOCAL_MACHINE\Software\Classes. The calls mirror the Win32 ones and
// answer Win32 error numbers. Key and value names are case-insensitive and
// case-preserving; strings are UTF-8 ("ANSI") with their terminating zero.
//
// Several processes may read and write the same hive at once: every write is
// one transaction, so a value is never lost or torn. A hive file without
// write permission (or without any write bit) is read-only: writes answer
// ERROR_ACCESS_DENIED. A damaged hive answers ERROR_BADDB.
//
// Ownership: every HKEY a call hands out is owned by the caller and closed
// with RegCloseKey (or held in a RegKeyHolder). The predefined handles need
// no closing.
#pragma once

#include "platform/syserror.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

struct RegKeyObject;
using HKEY = RegKeyObject*;
using LSTATUS = long;
using REGSAM = std::uint32_t;
using BYTE = std::uint8_t;

// Predefined handles (the Win32 numbers).
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM DELETE = 0x00010000;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Limits: a key name component of at most 255 characters, a value name of at
// most 16383; longer names answer ERROR_INVALID_PARAMETER.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// The folder of the hive files: $VELLUMATE_REGISTRY, else
// ${XDG_CONFIG_HOME:-~/.config}/vellumate/registry. Read at every call on a
// predefined handle, so tests may switch it.
std::string RegistryFolder();

// The registry an installation keeps for every user: $VELLUMATE_SYSTEM_REGISTRY,
// else the folder the build was configured with (/var/lib/vellumate/registry).
// Its machine.db holds the in-process servers the package registered; the
// component runtime finds classes there that the user's own hive lacks.
std::string SystemRegistryFolder();

// Opens the hive file `file` as a registry of its own and hands out its root
// key (Win32's RegLoadAppKey): created when it is missing and can be written,
// read-only when it cannot (write rights then answer ERROR_ACCESS_DENIED).
LSTATUS RegLoadAppKey(const char* file, HKEY* result, REGSAM sam, DWORD options, DWORD reserved);

// subKey is a path of names separated by "\"; null or "" names the key itself.
LSTATUS RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, const char* cls, DWORD options, REGSAM sam,
                       const void* security, HKEY* result, DWORD* disposition);
LSTATUS RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM sam, HKEY* result);
LSTATUS RegCloseKey(HKEY key);

// name null or "" is the key's default value. With data null, *cbData gets
// the size; with a buffer too small, ERROR_MORE_DATA and *cbData the size.
LSTATUS RegQueryValueEx(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData);
LSTATUS RegSetValueEx(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
LSTATUS RegDeleteValue(HKEY key, const char* name);

// Subkeys in name order, values in the order they were created.
// *cchName: buffer size in characters on entry, name length without the zero on return.
LSTATUS RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* cls, DWORD* cchClass,
                     void* lastWriteTime);
LSTATUS RegEnumValue(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* cbData);
// Counts and largest sizes (names in characters without the zero, data in bytes); any pointer may be null.
LSTATUS RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                        DWORD* maxValueLen);

// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some).
LSTATUS RegDeleteKey(HKEY key, const char* subKey);
// Deletes subKey with everything below it; with subKey null, empties the key itself.
LSTATUS RegDeleteTree(HKEY key, const char* subKey);

// ---- Convenience: one value of KEY\path, opened and closed around the call.
// A value of another type answers ERROR_UNSUPPORTED_TYPE.

LSTATUS RegGetString(HKEY root, std::string_view path, std::string_view name, std::string* out);
LSTATUS RegGetDword(HKEY root, std::string_view path, std::string_view name, DWORD* out);
LSTATUS RegGetBinary(HKEY root, std::string_view path, std::string_view name, std::vector<BYTE>* out);
// Creates the key when it is missing.
LSTATUS RegSetString(HKEY root, std::string_view path, std::string_view name, std::string_view value);
LSTATUS RegSetDword(HKEY root, std::string_view path, std::string_view name, DWORD value);
LSTATUS RegSetBinary(HKEY root, std::string_view path, std::string_view name, const void* data, std::size_t size);
LSTATUS RegRemoveValue(HKEY root, std::string_view path, std::string_view name);

// Several values of KEY\path changed in one transaction, so that a reader
// sees either all of them as they were or all as they are now. The key is
// created when it is missing; removing a value that does not exist is no
// error. When one change fails, none is made.
struct RegValueChange {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;  // strings with their terminating zero
    bool remove = false;

    static RegValueChange String(std::string_view name, std::string_view value);
    static RegValueChange Dword(std::string_view name, DWORD value);
    static RegValueChange Removed(std::string_view name);
};
LSTATUS RegChangeValues(HKEY root, std::string_view path, const std::vector<RegValueChange>& changes);

// Owns one open key.
class RegKeyHolder {
public:
    RegKeyHolder() = default;
    explicit RegKeyHolder(HKEY k) : k_(k) {}
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;
    RegKeyHolder(RegKeyHolder&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
    RegKeyHolder& operator=(RegKeyHolder&& o) noexcept {
        std::swap(k_, o.k_);
        return *this;
    }
    ~RegKeyHolder() { Reset(); }
    HKEY Get() const { return k_; }
    HKEY* Out() {
        Reset();
        return &k_;
    }
    void Reset() {
        if (k_) RegCloseKey(std::exchange(k_, nullptr));
    }
    explicit operator bool() const { return k_ != nullptr; }

private:
    HKEY k_ = nullptr;
};

}  // namespace platform
