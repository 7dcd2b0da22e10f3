// One hive file: the SQLite connection, its schema and the key/value
// operations the registry calls are built from. Private to the platform.
#pragma once

#include "platform/registry.h"

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::reg {

using KeyId = std::int64_t;
constexpr KeyId kRootKey = 0;  // the hive's root has no row of its own

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One value set (data as stored) or removed, of several changed at once.
struct ValueChange {
    std::string_view name;
    DWORD type = REG_NONE;
    std::span<const BYTE> data;
    bool remove = false;
};

class Hive {
public:
    // The hive at `path`, opened once per process and kept.
    static std::shared_ptr<Hive> At(const std::string& path);
    ~Hive();

    bool ReadOnly() const { return readOnly_; }
    // ERROR_SUCCESS when the hive could be opened, else the error every call answers.
    LSTATUS OpenStatus() const { return openStatus_; }

    LSTATUS KeyExists(KeyId id);
    LSTATUS FindChild(KeyId parent, std::string_view name, KeyId* child);
    // Walks (and with create, makes) a path of names below `from`.
    LSTATUS WalkPath(KeyId from, const std::vector<std::string>& names, bool create, KeyId* out, bool* created);
    LSTATUS GetValue(KeyId key, std::string_view name, Value* out);
    LSTATUS SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, std::size_t size);
    LSTATUS DeleteValue(KeyId key, std::string_view name);
    // All of `changes` in one transaction, in their order; removing a value
    // that does not exist is no error. Nothing changes when one fails.
    LSTATUS SetValues(KeyId key, const std::vector<ValueChange>& changes);
    LSTATUS EnumKey(KeyId key, DWORD index, std::string* name);
    LSTATUS EnumValue(KeyId key, DWORD index, Value* out);
    LSTATUS Info(KeyId key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                 DWORD* maxValueLen);
    LSTATUS CountSubKeys(KeyId key, DWORD* count);
    // Deletes the key and all below it; with keepSelf, only its subkeys and values.
    LSTATUS DeleteTree(KeyId key, bool keepSelf);

private:
    explicit Hive(std::string path);
    void Open();
    bool HasSchema();
    LSTATUS Prepare(const char* sql, sqlite3_stmt** st);
    LSTATUS Begin();
    LSTATUS Commit();
    void Rollback();
    // Runs `change` in a write transaction on the existing key `key`; rolled back when it fails.
    LSTATUS InTransaction(KeyId key, const std::function<LSTATUS()>& change);
    LSTATUS SetValueLocked(KeyId key, std::string_view name, DWORD type, const BYTE* data, std::size_t size);
    LSTATUS DeleteValueLocked(KeyId key, std::string_view name);
    LSTATUS FindChildLocked(KeyId parent, std::string_view name, KeyId* child);
    LSTATUS KeyExistsLocked(KeyId id);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    LSTATUS openStatus_ = ERROR_SUCCESS;
    std::mutex mu_;  // one statement sequence at a time on the connection
    std::unordered_map<const char*, sqlite3_stmt*> stmts_;
};

// Maps an SQLite result code to a Win32 error number.
LSTATUS ErrorFromSqlite(int rc);

}  // namespace platform::reg
