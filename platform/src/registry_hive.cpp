// Hive files on SQLite. Keys are rows (id, parent, name, fold) where `fold`
// is the case-folded name that uniqueness and lookups use; values are rows
// (key, name, fold, type, data) kept in creation order by rowid.
#include "registry_hive.h"

#include "platform/text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace platform::reg {

namespace {

constexpr int kBusyTimeoutMs = 30000;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL,"
    " fold TEXT NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, name TEXT NOT NULL,"
    " fold TEXT NOT NULL, type INTEGER NOT NULL, data BLOB, UNIQUE(key, fold));";

// Statements (their text is also the cache key).
const char kFindChild[] = "SELECT id FROM keys WHERE parent=?1 AND fold=?2";
const char kKeyExists[] = "SELECT 1 FROM keys WHERE id=?1";
const char kInsertKey[] = "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)";
const char kGetValue[] = "SELECT name, type, data FROM vals WHERE key=?1 AND fold=?2";
const char kSetValue[] =
    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data";
const char kDeleteValue[] = "DELETE FROM vals WHERE key=?1 AND fold=?2";
const char kEnumKey[] = "SELECT name FROM keys WHERE parent=?1 ORDER BY fold LIMIT 1 OFFSET ?2";
const char kEnumValue[] = "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2";
const char kCountKeys[] = "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent=?1";
const char kCountVals[] =
    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0), coalesce(max(length(data)), 0)"
    " FROM vals WHERE key=?1";
const char kTreeVals[] =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent=sub.id)"
    " DELETE FROM vals WHERE key IN sub";
const char kTreeKeys[] =
    "WITH RECURSIVE sub(id) AS (SELECT id FROM keys WHERE parent=?1 UNION ALL"
    " SELECT k.id FROM keys k JOIN sub ON k.parent=sub.id) DELETE FROM keys WHERE id IN sub";
const char kDeleteKey[] = "DELETE FROM keys WHERE id=?1";

// Resets a cached statement when the scope ends.
struct StmtScope {
    sqlite3_stmt* st;
    ~StmtScope() {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};

void BindText(sqlite3_stmt* st, int i, std::string_view s) {
    sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* st, int i) {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_blob(st, i));
    int n = sqlite3_column_bytes(st, i);
    return p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

void ReadValueRow(sqlite3_stmt* st, Value* out) {
    out->name = ColumnText(st, 0);
    out->type = static_cast<DWORD>(sqlite3_column_int64(st, 1));
    auto* p = static_cast<const BYTE*>(sqlite3_column_blob(st, 2));
    int n = sqlite3_column_bytes(st, 2);
    out->data.assign(p, p + (p ? n : 0));
}

bool HasNoWriteBit(const std::string& path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 && (sb.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

LSTATUS ErrorFromSqlite(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return ERROR_SUCCESS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA: return ERROR_BADDB;
    case SQLITE_CANTOPEN: return ERROR_CANTOPEN;
    case SQLITE_FULL:
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_CANTWRITE;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
    case SQLITE_MISMATCH: return ERROR_INVALID_PARAMETER;
    case SQLITE_IOERR: return ERROR_CANTREAD;
    default: return ERROR_BADDB;
    }
}

std::shared_ptr<Hive> Hive::At(const std::string& path) {
    static std::mutex mu;
    static std::unordered_map<std::string, std::shared_ptr<Hive>> hives;
    std::lock_guard lock(mu);
    auto& slot = hives[path];
    if (!slot || slot->openStatus_ == ERROR_CANTOPEN) {
        // A hive that could not be opened is tried again (its folder may exist now).
        slot.reset(new Hive(path));
        slot->Open();
    }
    return slot;
}

Hive::Hive(std::string path) : path_(std::move(path)) {}

Hive::~Hive() {
    for (auto& [sql, st] : stmts_) sqlite3_finalize(st);
    if (db_) sqlite3_close_v2(db_);
}

void Hive::Open() {
    readOnly_ = (access(path_.c_str(), F_OK) == 0 && access(path_.c_str(), W_OK) != 0) || HasNoWriteBit(path_);
    int flags = (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK && !readOnly_) {
        // The folder may be read-only while the file exists: read what is there.
        sqlite3_close_v2(db_);
        db_ = nullptr;
        readOnly_ = true;
        rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    }
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        openStatus_ = ERROR_CANTOPEN;
        return;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 0);
    if (readOnly_) {
        // Reading needs the schema to be there; an empty read-only file has none.
        rc = sqlite3_exec(db_, "SELECT count(*) FROM keys", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            // A write-protected WAL hive may refuse to open its shared-memory
            // file; reading it as immutable still works.
            sqlite3_close_v2(db_);
            db_ = nullptr;
            std::string uri = "file:" + path_ + "?immutable=1";
            rc = sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
            if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "SELECT count(*) FROM keys", nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) {
                openStatus_ = rc == SQLITE_ERROR ? ERROR_FILE_NOT_FOUND : ErrorFromSqlite(rc);
                return;
            }
        }
        return;
    }
    // Several processes may open a fresh hive at once; the busy handler does
    // not cover every step of switching to WAL, so retry a while.
    for (int attempt = 0;; ++attempt) {
        // The log is emptied when the last connection closes: the next start
        // then has nothing to read back into its index and nothing to copy
        // into the hive again when it ends.
        rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=0",
                          nullptr, nullptr, nullptr);
        // A hive that has its tables needs no write to open (a reader starts faster).
        if (rc == SQLITE_OK && HasSchema()) break;
        if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
            rc = rc == SQLITE_OK ? sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) : rc;
            if (rc != SQLITE_OK) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || attempt > 200) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (rc != SQLITE_OK) {
        openStatus_ = ErrorFromSqlite(rc);
        return;
    }
    // The write-ahead log and its index stay beside the hive when the last
    // connection closes: every program start would otherwise create both
    // files and every end delete them again.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
}

bool Hive::HasSchema() {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN ('keys','vals')", -1,
                           &st, nullptr) != SQLITE_OK)
        return false;
    bool ok = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == 2;
    sqlite3_finalize(st);
    return ok;
}

LSTATUS Hive::Prepare(const char* sql, sqlite3_stmt** st) {
    auto it = stmts_.find(sql);
    if (it != stmts_.end()) {
        *st = it->second;
        return ERROR_SUCCESS;
    }
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, st, nullptr);
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
    stmts_[sql] = *st;
    return ERROR_SUCCESS;
}

LSTATUS Hive::Begin() {
    if (readOnly_) return ERROR_ACCESS_DENIED;
    int rc = SQLITE_BUSY;
    for (int attempt = 0; attempt < 100 && (rc == SQLITE_BUSY || rc == SQLITE_LOCKED); ++attempt)
        rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    return ErrorFromSqlite(rc);
}

LSTATUS Hive::Commit() {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        Rollback();
        return ErrorFromSqlite(rc);
    }
    return ERROR_SUCCESS;
}

void Hive::Rollback() {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

LSTATUS Hive::KeyExistsLocked(KeyId id) {
    if (id == kRootKey) return ERROR_SUCCESS;
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kKeyExists, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, id);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : ErrorFromSqlite(rc);
}

LSTATUS Hive::KeyExists(KeyId id) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    return KeyExistsLocked(id);
}

LSTATUS Hive::FindChildLocked(KeyId parent, std::string_view name, KeyId* child) {
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kFindChild, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, parent);
    BindText(st, 2, FoldCase(name));
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        *child = sqlite3_column_int64(st, 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ErrorFromSqlite(rc);
}

LSTATUS Hive::FindChild(KeyId parent, std::string_view name, KeyId* child) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    return FindChildLocked(parent, name, child);
}

LSTATUS Hive::WalkPath(KeyId from, const std::vector<std::string>& names, bool create, KeyId* out, bool* created) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    if (created) *created = false;
    KeyId id = from;
    if (!create) {
        if (LSTATUS e = KeyExistsLocked(id)) return e;
        for (const auto& n : names)
            if (LSTATUS e = FindChildLocked(id, n, &id)) return e;
        *out = id;
        return ERROR_SUCCESS;
    }
    // Try without writing first: opening an existing key needs no lock.
    bool all = KeyExistsLocked(id) == ERROR_SUCCESS;
    KeyId probe = id;
    for (std::size_t i = 0; all && i < names.size(); ++i) all = FindChildLocked(probe, names[i], &probe) == 0;
    if (all) {
        *out = probe;
        return ERROR_SUCCESS;
    }
    if (LSTATUS e = Begin()) return e;
    LSTATUS e = KeyExistsLocked(id);
    for (std::size_t i = 0; e == ERROR_SUCCESS && i < names.size(); ++i) {
        KeyId next;
        e = FindChildLocked(id, names[i], &next);
        if (e == ERROR_FILE_NOT_FOUND) {
            sqlite3_stmt* st;
            e = Prepare(kInsertKey, &st);
            if (e) break;
            StmtScope scope{st};
            sqlite3_bind_int64(st, 1, id);
            BindText(st, 2, names[i]);
            BindText(st, 3, FoldCase(names[i]));
            int rc = sqlite3_step(st);
            e = ErrorFromSqlite(rc);
            next = sqlite3_last_insert_rowid(db_);
            if (created && i + 1 == names.size()) *created = true;
        }
        id = next;
    }
    if (e) {
        Rollback();
        return e;
    }
    if ((e = Commit())) return e;
    *out = id;
    return ERROR_SUCCESS;
}

LSTATUS Hive::GetValue(KeyId key, std::string_view name, Value* out) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kGetValue, &st)) return e;
    {
        StmtScope scope{st};
        sqlite3_bind_int64(st, 1, key);
        BindText(st, 2, FoldCase(name));
        int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            ReadValueRow(st, out);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    LSTATUS e = KeyExistsLocked(key);
    return e ? e : ERROR_FILE_NOT_FOUND;
}

LSTATUS Hive::SetValueLocked(KeyId key, std::string_view name, DWORD type, const BYTE* data, std::size_t size) {
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kSetValue, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, key);
    BindText(st, 2, name);
    BindText(st, 3, FoldCase(name));
    sqlite3_bind_int64(st, 4, type);
    sqlite3_bind_blob(st, 5, size ? data : reinterpret_cast<const BYTE*>(""), static_cast<int>(size), SQLITE_STATIC);
    return ErrorFromSqlite(sqlite3_step(st));
}

LSTATUS Hive::DeleteValueLocked(KeyId key, std::string_view name) {
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kDeleteValue, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, key);
    BindText(st, 2, FoldCase(name));
    LSTATUS e = ErrorFromSqlite(sqlite3_step(st));
    if (!e && sqlite3_changes(db_) == 0) e = ERROR_FILE_NOT_FOUND;
    return e;
}

LSTATUS Hive::InTransaction(KeyId key, const std::function<LSTATUS()>& change) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    if (LSTATUS e = Begin()) return e;
    LSTATUS e = KeyExistsLocked(key);
    if (!e) e = change();
    if (e) {
        Rollback();
        return e;
    }
    return Commit();
}

LSTATUS Hive::SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, std::size_t size) {
    return InTransaction(key, [&] { return SetValueLocked(key, name, type, data, size); });
}

LSTATUS Hive::DeleteValue(KeyId key, std::string_view name) {
    return InTransaction(key, [&] { return DeleteValueLocked(key, name); });
}

LSTATUS Hive::SetValues(KeyId key, const std::vector<ValueChange>& changes) {
    return InTransaction(key, [&] {
        for (const ValueChange& c : changes) {
            LSTATUS e = c.remove ? DeleteValueLocked(key, c.name)
                                 : SetValueLocked(key, c.name, c.type, c.data.data(), c.data.size());
            if (e == ERROR_FILE_NOT_FOUND && c.remove) continue;  // already gone
            if (e) return e;
        }
        return LSTATUS(ERROR_SUCCESS);
    });
}

LSTATUS Hive::EnumKey(KeyId key, DWORD index, std::string* name) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kEnumKey, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, key);
    sqlite3_bind_int64(st, 2, index);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        *name = ColumnText(st, 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : ErrorFromSqlite(rc);
}

LSTATUS Hive::EnumValue(KeyId key, DWORD index, Value* out) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kEnumValue, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, key);
    sqlite3_bind_int64(st, 2, index);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        ReadValueRow(st, out);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : ErrorFromSqlite(rc);
}

LSTATUS Hive::Info(KeyId key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                   DWORD* maxValueLen) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    if (LSTATUS e = KeyExistsLocked(key)) return e;
    sqlite3_stmt* st;
    if (LSTATUS e = Prepare(kCountKeys, &st)) return e;
    {
        StmtScope scope{st};
        sqlite3_bind_int64(st, 1, key);
        int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
        if (subKeys) *subKeys = static_cast<DWORD>(sqlite3_column_int64(st, 0));
        if (maxSubKeyLen) *maxSubKeyLen = static_cast<DWORD>(sqlite3_column_int64(st, 1));
    }
    if (LSTATUS e = Prepare(kCountVals, &st)) return e;
    StmtScope scope{st};
    sqlite3_bind_int64(st, 1, key);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    if (values) *values = static_cast<DWORD>(sqlite3_column_int64(st, 0));
    if (maxValueNameLen) *maxValueNameLen = static_cast<DWORD>(sqlite3_column_int64(st, 1));
    if (maxValueLen) *maxValueLen = static_cast<DWORD>(sqlite3_column_int64(st, 2));
    return ERROR_SUCCESS;
}

LSTATUS Hive::CountSubKeys(KeyId key, DWORD* count) {
    return Info(key, count, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS Hive::DeleteTree(KeyId key, bool keepSelf) {
    std::lock_guard lock(mu_);
    if (openStatus_) return openStatus_;
    if (!keepSelf && key == kRootKey) return ERROR_ACCESS_DENIED;
    if (LSTATUS e = Begin()) return e;
    LSTATUS e = KeyExistsLocked(key);
    for (const char* sql : {kTreeVals, kTreeKeys, kDeleteKey}) {
        if (e) break;
        if (keepSelf && sql == kDeleteKey) break;
        sqlite3_stmt* st;
        if ((e = Prepare(sql, &st))) break;
        StmtScope scope{st};
        sqlite3_bind_int64(st, 1, key);
        e = ErrorFromSqlite(sqlite3_step(st));
    }
    if (e) {
        Rollback();
        return e;
    }
    return Commit();
}

}  // namespace platform::reg
