#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/machine.h"
#include "os/reg/key_path.h"
#include "os/reg/store.h"

namespace os {

reg::Store& Machine::registry() {
  std::lock_guard<std::mutex> lock(registry_mu_);
  if (!registry_) registry_ = reg::Store::Create(*this, prefix_ + "/registry.db");
  return *registry_;
}

namespace reg {
namespace {

constexpr int kSchemaVersion = 1;

// Names are kept as given and looked up by their ASCII-folded form; both are blobs so that
// narrow text of any code page is kept byte for byte.
constexpr char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name BLOB NOT NULL,
  folded BLOB NOT NULL,
  UNIQUE(parent, folded));
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  folded BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, folded));
PRAGMA user_version = 1;
)sql";

// Keys every Windows installation has, so that callers find them as they would there.
struct SeedKey {
  std::uint32_t root;
  std::vector<std::string> levels;
};
const std::vector<SeedKey>& SeedKeys() {
  static const std::vector<SeedKey> seeds = {
      {0x80000002, {"SOFTWARE"}},
      {0x80000001, {"Software", "AppDataLow"}},
  };
  return seeds;
}

constexpr const char* kSql[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    ("INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
     "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data"),
    "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES(?1, 0, ?2, ?3)",
};

// The elevated broker may run as root (elevation through sudo). A store it happens to create
// first must still be writable by the user's programs, so it goes to the owner of the image's
// folder. (SQLite itself does the same for the -wal and -shm files beside it.)
void GiveToImageOwner(const std::string& db_path) {
  if (geteuid() != 0) return;
  const std::string folder = db_path.substr(0, db_path.find_last_of('/') + 1);
  struct stat dir;
  struct stat file;
  if (stat(folder.c_str(), &dir) != 0 || stat(db_path.c_str(), &file) != 0) return;
  if (file.st_uid == dir.st_uid && file.st_gid == dir.st_gid) return;
  // On failure the store stays root's, and the user's programs report ERROR_REGISTRY_IO_FAILED.
  if (chown(db_path.c_str(), dir.st_uid, dir.st_gid) != 0) return;
}

DWORD ErrorFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_ERROR:  // a statement does not fit the file's schema
    case SQLITE_SCHEMA:
    case SQLITE_MISMATCH:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:  // busy or locked past the timeout, I/O, full disk, cannot open, read-only
      return ERROR_REGISTRY_IO_FAILED;
  }
}

void BindBytes(sqlite3_stmt* stmt, int index, std::string_view bytes) {
  // A null pointer would bind NULL, which the NOT NULL columns refuse; empty is a real value.
  static const char kEmpty = 0;
  sqlite3_bind_blob64(stmt, index, bytes.empty() ? &kEmpty : bytes.data(), bytes.size(),
                      SQLITE_STATIC);
}

std::string ColumnBytes(sqlite3_stmt* stmt, int column) {
  const void* p = sqlite3_column_blob(stmt, column);
  const int n = sqlite3_column_bytes(stmt, column);
  return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
}

// Resets and unbinds a cached statement when the scope ends, so it is ready for the next call
// and keeps no pointer to the caller's bytes.
class Scoped {
 public:
  explicit Scoped(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~Scoped() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  int Step() { return sqlite3_step(stmt_); }

 private:
  sqlite3_stmt* stmt_;
};

}  // namespace

enum class Store::Sql : int {
  kBegin,
  kBeginImmediate,
  kCommit,
  kRollback,
  kKeyExists,
  kFindChild,
  kInsertKey,
  kHasChild,
  kDeleteValuesOfKey,
  kDeleteKey,
  kUpsertValue,
  kQueryValue,
  kDeleteValue,
  kEnumKey,
  kEnumValue,
  kInsertRoot,
  kCount,
};

// One transaction on the store's connection; rolled back unless committed. Caller holds mu_.
class Store::Transaction {
 public:
  explicit Transaction(Store& store) : store_(store) {}
  ~Transaction() {
    if (active_) Run(Sql::kRollback);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // A write transaction takes the write lock at once (waiting up to the busy timeout), so it
  // never has to upgrade a read lock half way, which SQLite cannot wait for.
  int Begin(bool write) {
    int rc = Run(write ? Sql::kBeginImmediate : Sql::kBegin);
    active_ = rc == SQLITE_DONE;
    return active_ ? SQLITE_OK : rc;
  }
  int Commit() {
    int rc = Run(Sql::kCommit);
    if (rc != SQLITE_DONE) return rc;
    active_ = false;
    return SQLITE_OK;
  }

 private:
  int Run(Sql which) {
    if (store_.db_ == nullptr) return SQLITE_MISUSE;
    sqlite3_stmt* stmt = store_.Statement(which);
    if (stmt == nullptr) return sqlite3_errcode(store_.db_);
    Scoped s(stmt);
    return s.Step();
  }

  Store& store_;
  bool active_ = false;
};

std::shared_ptr<Store> Store::Create(const Machine& machine, std::string db_path) {
  return std::shared_ptr<Store>(new Store(machine, std::move(db_path)));
}

Store::Store(const Machine& machine, std::string db_path)
    : machine_(machine), path_(std::move(db_path)) {
  static_assert(static_cast<std::size_t>(Sql::kCount) == sizeof(kSql) / sizeof(kSql[0]));
  statements_.resize(static_cast<std::size_t>(Sql::kCount), nullptr);
}

Store::~Store() {
  std::lock_guard<std::mutex> lock(mu_);
  CloseLocked();
}

void Store::SetBusyTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(mu_);
  busy_timeout_ = timeout;
  if (db_ != nullptr) sqlite3_busy_timeout(db_, static_cast<int>(timeout.count()));
}

std::string Store::LastFailure() const {
  std::lock_guard<std::mutex> lock(mu_);
  return last_failure_;
}

void Store::CloseLocked() {
  for (sqlite3_stmt*& stmt : statements_) {
    if (stmt != nullptr) sqlite3_finalize(stmt);
    stmt = nullptr;
  }
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

sqlite3_stmt* Store::Statement(Sql which) {
  const auto index = static_cast<std::size_t>(which);
  if (statements_[index] == nullptr) {
    sqlite3_prepare_v3(db_, kSql[index], -1, SQLITE_PREPARE_PERSISTENT, &statements_[index],
                       nullptr);
  }
  return statements_[index];
}

DWORD Store::Fail(int rc, const char* what) {
  const DWORD code = ErrorFromSqlite(rc);
  std::string detail = sqlite3_errstr(rc);
  if (db_ != nullptr && sqlite3_extended_errcode(db_) == rc) detail = sqlite3_errmsg(db_);
  last_failure_ = "registry " + path_ + ": " + detail + " (SQLite " + std::to_string(rc) +
                  ") while " + what;
  // A damaged file is looked at afresh by the next call (it may have been restored meanwhile);
  // the connection cannot be closed here, under statements that are still in use.
  if (code == ERROR_REGISTRY_CORRUPT) reopen_ = true;
  return code == ERROR_SUCCESS ? ERROR_REGISTRY_IO_FAILED : code;
}

DWORD Store::EnsureOpenLocked() {
  if (db_ != nullptr && reopen_) CloseLocked();
  reopen_ = false;
  if (db_ != nullptr) return ERROR_SUCCESS;
  struct stat existing;
  const bool is_new = stat(path_.c_str(), &existing) != 0;
  int rc = sqlite3_open_v2(path_.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    DWORD code = Fail(rc, "opening");
    CloseLocked();
    return code;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, static_cast<int>(busy_timeout_.count()));

  // WAL lets the control read while the broker writes, and NORMAL sync keeps a single write
  // far below a millisecond; a crash can lose at most the last commits, never consistency.
  // Turning a fresh file to WAL needs the file to itself, and SQLite answers busy at once
  // rather than wait (waiting could deadlock two connections that both read first). Two
  // programs opening a new image together is normal, so the change is retried here, within
  // the same bound as any other wait.
  const auto deadline = std::chrono::steady_clock::now() + busy_timeout_;
  for (;;) {
    rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr,
                      nullptr, nullptr);
    if ((rc & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (rc != SQLITE_OK) {
    DWORD code = Fail(rc, "opening");
    CloseLocked();
    return code;
  }

  auto schema_version = [this](int* version) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        *version = sqlite3_column_int(stmt, 0);
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(stmt);
    return rc;
  };

  int version = 0;
  rc = schema_version(&version);
  if (rc == SQLITE_OK && version == 0) {
    // Another process may be creating the schema too: decide again under the write lock.
    Transaction txn(*this);
    rc = txn.Begin(true);
    if (rc == SQLITE_OK) rc = schema_version(&version);
    if (rc == SQLITE_OK && version == 0) {
      rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
      for (std::uint32_t root : KnownRoots()) {
        if (rc != SQLITE_OK) break;
        sqlite3_stmt* stmt = Statement(Sql::kInsertRoot);
        if (stmt == nullptr) {
          rc = sqlite3_errcode(db_);
          break;
        }
        Scoped s(stmt);
        const std::string name = RootName(root);
        const std::string folded = AsciiLower(name);
        sqlite3_bind_int64(stmt, 1, RootKeyId(root));
        BindBytes(stmt, 2, name);
        BindBytes(stmt, 3, folded);
        rc = s.Step() == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
      }
      for (const SeedKey& seed : SeedKeys()) {
        KeyId parent = RootKeyId(seed.root);
        for (const std::string& level : seed.levels) {
          if (rc != SQLITE_OK) break;
          rc = FindOrAddChildLocked(parent, level, &parent, nullptr);
        }
      }
      if (rc == SQLITE_OK) rc = SeedBrowserVersionLocked();
      version = kSchemaVersion;
    }
    if (rc == SQLITE_OK) rc = txn.Commit();
  }
  if (is_new) GiveToImageOwner(path_);
  if (rc != SQLITE_OK) {
    DWORD code = Fail(rc, "opening");
    CloseLocked();
    return code;
  }
  if (version != kSchemaVersion) {
    last_failure_ = "registry " + path_ + ": unknown format " + std::to_string(version) +
                    " (this program reads format " + std::to_string(kSchemaVersion) + ")";
    CloseLocked();
    return ERROR_REGISTRY_CORRUPT;
  }
  return ERROR_SUCCESS;
}

int Store::SeedBrowserVersionLocked() {
  const std::string& version = machine_.settings().browser_version;
  if (version.empty()) return SQLITE_OK;
  KeyId key = RootKeyId(0x80000002);
  for (const char* level : {"SOFTWARE", "Microsoft", "Internet Explorer", "Version Vector"}) {
    if (int rc = FindOrAddChildLocked(key, level, &key, nullptr)) return rc;
  }
  sqlite3_stmt* stmt = Statement(Sql::kUpsertValue);
  if (stmt == nullptr) return sqlite3_errcode(db_);
  Scoped s(stmt);
  sqlite3_bind_int64(stmt, 1, key);
  BindBytes(stmt, 2, "IE");
  BindBytes(stmt, 3, "ie");
  sqlite3_bind_int64(stmt, 4, 1);  // REG_SZ
  const std::string data = version + std::string(1, '\0');  // REG_SZ keeps its terminating zero
  BindBytes(stmt, 5, data);  // bound, not copied: `data` outlives the step
  return s.Step() == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
}

DWORD Store::ExistsLocked(KeyId key) {
  sqlite3_stmt* stmt = Statement(Sql::kKeyExists);
  if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "reading a key");
  Scoped s(stmt);
  sqlite3_bind_int64(stmt, 1, key);
  int rc = s.Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return Fail(rc, "reading a key");
}

DWORD Store::FindChildLocked(KeyId parent, std::string_view name, KeyId* child) {
  sqlite3_stmt* stmt = Statement(Sql::kFindChild);
  if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "reading a key");
  Scoped s(stmt);
  const std::string folded = AsciiLower(name);
  sqlite3_bind_int64(stmt, 1, parent);
  BindBytes(stmt, 2, folded);
  int rc = s.Step();
  if (rc == SQLITE_ROW) {
    *child = sqlite3_column_int64(stmt, 0);
    return ERROR_SUCCESS;
  }
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  return Fail(rc, "reading a key");
}

int Store::FindOrAddChildLocked(KeyId parent, std::string_view name, KeyId* child,
                                bool* created) {
  const std::string folded = AsciiLower(name);
  {
    sqlite3_stmt* stmt = Statement(Sql::kFindChild);
    if (stmt == nullptr) return sqlite3_errcode(db_);
    Scoped s(stmt);
    sqlite3_bind_int64(stmt, 1, parent);
    BindBytes(stmt, 2, folded);
    int rc = s.Step();
    if (rc == SQLITE_ROW) {
      *child = sqlite3_column_int64(stmt, 0);
      if (created != nullptr) *created = false;
      return SQLITE_OK;
    }
    if (rc != SQLITE_DONE) return rc;
  }
  sqlite3_stmt* stmt = Statement(Sql::kInsertKey);
  if (stmt == nullptr) return sqlite3_errcode(db_);
  Scoped s(stmt);
  sqlite3_bind_int64(stmt, 1, parent);
  BindBytes(stmt, 2, name);
  BindBytes(stmt, 3, folded);
  int rc = s.Step();
  if (rc != SQLITE_DONE) return rc;
  *child = sqlite3_last_insert_rowid(db_);
  if (created != nullptr) *created = true;
  return SQLITE_OK;
}

DWORD Store::FindKey(KeyId key, const std::vector<std::string>& levels, KeyId* found) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(false)) return Fail(rc, "reading a key");
  if (DWORD rc = ExistsLocked(key)) return rc;
  KeyId current = key;
  for (const std::string& level : levels) {
    if (DWORD rc = FindChildLocked(current, level, &current)) return rc;
  }
  if (int rc = txn.Commit()) return Fail(rc, "reading a key");
  *found = current;
  return ERROR_SUCCESS;
}

DWORD Store::CreateKey(KeyId key, const std::vector<std::string>& levels, KeyId* found,
                       bool* created) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(true)) return Fail(rc, "creating a key");
  if (DWORD rc = ExistsLocked(key)) return rc;
  KeyId current = key;
  bool last_created = false;
  for (const std::string& level : levels) {
    if (int rc = FindOrAddChildLocked(current, level, &current, &last_created)) {
      return Fail(rc, "creating a key");
    }
  }
  if (int rc = txn.Commit()) return Fail(rc, "creating a key");
  *found = current;
  if (created != nullptr) *created = last_created;
  return ERROR_SUCCESS;
}

DWORD Store::DeleteKey(KeyId key) {
  for (std::uint32_t root : KnownRoots()) {
    if (key == RootKeyId(root)) return ERROR_ACCESS_DENIED;
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(true)) return Fail(rc, "deleting a key");
  if (DWORD rc = ExistsLocked(key)) return rc;
  {
    sqlite3_stmt* stmt = Statement(Sql::kHasChild);
    if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "deleting a key");
    Scoped s(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    int rc = s.Step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // as Windows refuses a key with subkeys
    if (rc != SQLITE_DONE) return Fail(rc, "deleting a key");
  }
  for (Sql which : {Sql::kDeleteValuesOfKey, Sql::kDeleteKey}) {
    sqlite3_stmt* stmt = Statement(which);
    if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "deleting a key");
    Scoped s(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc, "deleting a key");
  }
  if (int rc = txn.Commit()) return Fail(rc, "deleting a key");
  return ERROR_SUCCESS;
}

DWORD Store::SetValue(KeyId key, std::string_view name, DWORD type, std::string_view data) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(true)) return Fail(rc, "writing a value");
  if (DWORD rc = ExistsLocked(key)) return rc;
  {
    sqlite3_stmt* stmt = Statement(Sql::kUpsertValue);
    if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "writing a value");
    Scoped s(stmt);
    const std::string folded = AsciiLower(name);
    sqlite3_bind_int64(stmt, 1, key);
    BindBytes(stmt, 2, name);
    BindBytes(stmt, 3, folded);
    sqlite3_bind_int64(stmt, 4, type);
    BindBytes(stmt, 5, data);
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc, "writing a value");
  }
  if (int rc = txn.Commit()) return Fail(rc, "writing a value");
  return ERROR_SUCCESS;
}

DWORD Store::QueryValue(KeyId key, std::string_view name, DWORD* type, std::string* data) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(false)) return Fail(rc, "reading a value");
  if (DWORD rc = ExistsLocked(key)) return rc;
  sqlite3_stmt* stmt = Statement(Sql::kQueryValue);
  if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "reading a value");
  Scoped s(stmt);
  const std::string folded = AsciiLower(name);
  sqlite3_bind_int64(stmt, 1, key);
  BindBytes(stmt, 2, folded);
  int rc = s.Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc, "reading a value");
  *type = static_cast<DWORD>(sqlite3_column_int64(stmt, 0));
  *data = ColumnBytes(stmt, 1);
  return ERROR_SUCCESS;
}

DWORD Store::DeleteValue(KeyId key, std::string_view name) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(true)) return Fail(rc, "deleting a value");
  if (DWORD rc = ExistsLocked(key)) return rc;
  {
    sqlite3_stmt* stmt = Statement(Sql::kDeleteValue);
    if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "deleting a value");
    Scoped s(stmt);
    const std::string folded = AsciiLower(name);
    sqlite3_bind_int64(stmt, 1, key);
    BindBytes(stmt, 2, folded);
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc, "deleting a value");
    if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
  }
  if (int rc = txn.Commit()) return Fail(rc, "deleting a value");
  return ERROR_SUCCESS;
}

DWORD Store::EnumKey(KeyId key, DWORD index, std::string* name) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(false)) return Fail(rc, "listing keys");
  if (DWORD rc = ExistsLocked(key)) return rc;
  sqlite3_stmt* stmt = Statement(Sql::kEnumKey);
  if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "listing keys");
  Scoped s(stmt);
  sqlite3_bind_int64(stmt, 1, key);
  sqlite3_bind_int64(stmt, 2, index);
  int rc = s.Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return Fail(rc, "listing keys");
  *name = ColumnBytes(stmt, 0);
  return ERROR_SUCCESS;
}

DWORD Store::EnumValue(KeyId key, DWORD index, ValueEntry* value) {
  std::lock_guard<std::mutex> lock(mu_);
  if (DWORD rc = EnsureOpenLocked()) return rc;
  Transaction txn(*this);
  if (int rc = txn.Begin(false)) return Fail(rc, "listing values");
  if (DWORD rc = ExistsLocked(key)) return rc;
  sqlite3_stmt* stmt = Statement(Sql::kEnumValue);
  if (stmt == nullptr) return Fail(sqlite3_errcode(db_), "listing values");
  Scoped s(stmt);
  sqlite3_bind_int64(stmt, 1, key);
  sqlite3_bind_int64(stmt, 2, index);
  int rc = s.Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return Fail(rc, "listing values");
  value->name = ColumnBytes(stmt, 0);
  value->type = static_cast<DWORD>(sqlite3_column_int64(stmt, 1));
  value->data = ColumnBytes(stmt, 2);
  return ERROR_SUCCESS;
}

}  // namespace reg
}  // namespace os
