// The registry store of one machine image: registry.db below the prefix, an SQLite database in
// WAL mode shared by every process that uses the image (the control and the broker).
//
// Keys form a tree of rows; a key is named by its id, which is never reused, so a handle kept
// across the deletion of its key sees ERROR_KEY_DELETED instead of a newer key of that name.
// The predefined keys are rows whose ids are their numbers (0x80000000 ...). Names compare
// without regard to ASCII case and keep the case of creation; names and data are kept as bytes.
//
// Every change is one transaction, so a crash or a failure leaves no half-written key or value,
// and another process writing at the same time loses nothing: a writer waits for the other's
// transaction up to the busy timeout. Failures of the database itself map to
// ERROR_REGISTRY_CORRUPT (not a database, damaged, or a schema this program does not know) or
// ERROR_REGISTRY_IO_FAILED (locked past the timeout, unreadable, disk full); the text of the
// last such failure is kept for logs. A store that cannot be opened is retried on each call and
// never rewritten: whatever was committed stays in the file.
//
// Thread safety: all members may be called from any thread; one connection per store, guarded
// by a mutex, with its prepared statements cached.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/base/types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace os {
class Machine;
}

namespace os::reg {

using KeyId = std::int64_t;

// A key's number in the store for a predefined root number.
inline KeyId RootKeyId(std::uint32_t root) { return static_cast<KeyId>(root); }

struct ValueEntry {
  std::string name;
  DWORD type = 0;
  std::string data;
};

class Store : public std::enable_shared_from_this<Store> {
 public:
  static constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};

  // Makes the store of `machine` kept at `db_path`; nothing is opened until the first call.
  // The machine must outlive every call made on the store.
  static std::shared_ptr<Store> Create(const Machine& machine, std::string db_path);
  ~Store();

  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const Machine& machine() const { return machine_; }
  const std::string& path() const { return path_; }

  // How long a call waits for another connection's write lock before it fails with
  // ERROR_REGISTRY_IO_FAILED.
  void SetBusyTimeout(std::chrono::milliseconds timeout);

  // Calls below: ERROR_SUCCESS, or the code of the failure with nothing changed.
  // ERROR_KEY_DELETED when `key` no longer exists.

  // Finds `levels` below `key`; ERROR_FILE_NOT_FOUND when a level is missing.
  DWORD FindKey(KeyId key, const std::vector<std::string>& levels, KeyId* found);
  // Finds or creates every level below `key`; `created` tells whether the last level was new.
  DWORD CreateKey(KeyId key, const std::vector<std::string>& levels, KeyId* found, bool* created);
  // Deletes `key` and its values. ERROR_ACCESS_DENIED for a key with subkeys or a root.
  DWORD DeleteKey(KeyId key);

  DWORD SetValue(KeyId key, std::string_view name, DWORD type, std::string_view data);
  // ERROR_FILE_NOT_FOUND for a missing value.
  DWORD QueryValue(KeyId key, std::string_view name, DWORD* type, std::string* data);
  DWORD DeleteValue(KeyId key, std::string_view name);

  // The `index`th subkey or value in creation order; ERROR_NO_MORE_ITEMS past the end.
  DWORD EnumKey(KeyId key, DWORD index, std::string* name);
  DWORD EnumValue(KeyId key, DWORD index, ValueEntry* value);

  // A readable account of the last failure of the database ("registry.db at ...: file is not
  // a database (26) while opening"), empty when none happened yet.
  std::string LastFailure() const;

 private:
  enum class Sql : int;
  class Transaction;

  Store(const Machine& machine, std::string db_path);

  // Opens the connection (and creates the schema) when it is not open yet. Caller holds mu_.
  DWORD EnsureOpenLocked();
  void CloseLocked();
  sqlite3_stmt* Statement(Sql which);
  // Records a failure of SQLite result `rc` during `what` and returns its Windows code.
  DWORD Fail(int rc, const char* what);
  DWORD ExistsLocked(KeyId key);
  DWORD FindChildLocked(KeyId parent, std::string_view name, KeyId* child);
  // Writes the browser version of image.conf as a new registry records it; an SQLite result.
  int SeedBrowserVersionLocked();
  // Finds or adds one level; returns an SQLite result code.
  int FindOrAddChildLocked(KeyId parent, std::string_view name, KeyId* child, bool* created);

  const Machine& machine_;
  const std::string path_;
  mutable std::mutex mu_;
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
  bool reopen_ = false;  // the connection saw a damaged file; reopen before the next use
  std::chrono::milliseconds busy_timeout_ = kDefaultBusyTimeout;
  std::string last_failure_;
};

}  // namespace os::reg
