#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "os/base/error.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/reg/registry.h"
#include "os/reg/store.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;
using os::DWORD;
using os::HKEY;
using os::LONG;
using Clock = std::chrono::steady_clock;

constexpr auto kShortTimeout = std::chrono::milliseconds(100);

LONG SetString(HKEY key, const std::string& name, const std::string& data) {
  return os::RegSetValueExA(key, name.c_str(), 0, os::REG_SZ,
                            reinterpret_cast<const os::BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
}

LONG GetString(HKEY key, const std::string& name, std::string* data) {
  DWORD size = 0;
  LONG rc = os::RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size);
  if (rc != os::ERROR_SUCCESS) return rc;
  data->assign(size, '\0');
  rc = os::RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                            reinterpret_cast<os::BYTE*>(data->data()), &size);
  data->resize(size);
  return rc;
}

LONG OpenForReading(const char* path, HKEY* key) {
  return os::RegOpenKeyExA(os::HKEY_CURRENT_USER, path, 0, os::KEY_READ, key);
}

LONG CreateKey(HKEY root, const char* path, HKEY* key) {
  return os::RegCreateKeyExA(root, path, 0, nullptr, 0, os::KEY_ALL_ACCESS, nullptr, key, nullptr);
}

// Writes `count` values named `<tag>-<i>`, each through its own create, set and close, as two
// programs updating the same image do.
bool WriteMany(const std::string& tag, int count, std::string* failure) {
  for (int i = 0; i < count; ++i) {
    HKEY key = nullptr;
    LONG rc = CreateKey(os::HKEY_CURRENT_USER, "Software\\Race\\Shared", &key);
    const std::string name = tag + "-" + std::to_string(i);
    if (rc == os::ERROR_SUCCESS) rc = SetString(key, name, std::to_string(i));
    if (key != nullptr) os::RegCloseKey(key);
    if (rc != os::ERROR_SUCCESS) {
      *failure = tag + " write " + std::to_string(i) + ": " + os::RegErrorText(rc);
      return false;
    }
  }
  return true;
}

class RegistryStore : public ImageTest {
 protected:
  std::string DbPath() const { return prefix() + "/registry.db"; }
  // Closes the store by reopening the image, so that the file can be handled from outside.
  void CloseStore() { SetOsMajor(machine().settings().os_major); }
};

TEST_F(RegistryStore, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 500;
  // The child opens the image on its own connection; the parent has not opened the store yet,
  // so no SQLite connection or lock crosses the fork.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(go[1]);
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(3);
    std::string error;
    auto own = os::Machine::Open(prefix(), &error);
    if (!own) _exit(4);
    os::SetCurrentMachine(own.get());
    std::string failure;
    if (!WriteMany("child", kEach, &failure)) {
      std::fprintf(stderr, "%s\n", failure.c_str());
      _exit(1);
    }
    _exit(0);
  }
  close(go[0]);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  std::string failure;
  const bool parent_ok = WriteMany("parent", kEach, &failure);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(parent_ok) << failure;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  HKEY key = nullptr;
  ASSERT_EQ(OpenForReading("Software\\Race\\Shared", &key), os::ERROR_SUCCESS);
  for (const char* tag : {"parent", "child"}) {
    for (int i = 0; i < kEach; ++i) {
      std::string data;
      const std::string name = std::string(tag) + "-" + std::to_string(i);
      ASSERT_EQ(GetString(key, name, &data), os::ERROR_SUCCESS) << name;
      EXPECT_EQ(data, std::to_string(i));
    }
  }
  std::string name;
  EXPECT_EQ(os::RegEnumValueA(key, 2 * kEach, &name, nullptr, nullptr), os::ERROR_NO_MORE_ITEMS);
  // Both made the same key: it exists once.
  HKEY race = nullptr;
  ASSERT_EQ(OpenForReading("Software\\Race", &race),
            os::ERROR_SUCCESS);
  EXPECT_EQ(os::RegEnumKeyExA(race, 1, &name), os::ERROR_NO_MORE_ITEMS);
  os::RegCloseKey(race);
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, ThreadsShareOneConnection) {
  constexpr int kThreads = 4, kEach = 100;
  std::vector<std::thread> threads;
  std::vector<std::string> failures(kThreads);
  std::vector<char> ok(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures, &ok] {
      ok[t] = WriteMany("thread" + std::to_string(t), kEach, &failures[t]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(ok[t]) << failures[t];
  HKEY key = nullptr;
  ASSERT_EQ(OpenForReading("Software\\Race\\Shared", &key), os::ERROR_SUCCESS);
  std::string name;
  EXPECT_EQ(os::RegEnumValueA(key, kThreads * kEach - 1, &name, nullptr, nullptr),
            os::ERROR_SUCCESS);
  EXPECT_EQ(os::RegEnumValueA(key, kThreads * kEach, &name, nullptr, nullptr),
            os::ERROR_NO_MORE_ITEMS);
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, ASingleWriteTakesWellUnderAMillisecond) {
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\Speed", &key), os::ERROR_SUCCESS);
  constexpr int kWrites = 2000;
  const auto start = Clock::now();
  for (int i = 0; i < kWrites; ++i) {
    ASSERT_EQ(SetString(key, "v" + std::to_string(i % 50), std::to_string(i)), os::ERROR_SUCCESS);
  }
  const auto elapsed = Clock::now() - start;
  // Generous for a loaded machine and the sanitizer build; a synced journal takes ten times this.
  EXPECT_LT(elapsed, std::chrono::milliseconds(kWrites)) << "each write is its own transaction";
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, GarbageInsteadOfADatabaseIsReportedAndLeftAlone) {
  std::string garbage;
  for (int i = 0; i < 8192; ++i) garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
  pelisto::testing::WriteHostFile(DbPath(), garbage);

  HKEY key = os::HKEY_USERS;
  EXPECT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(OpenForReading("Software", &key),
            os::ERROR_REGISTRY_CORRUPT);
  std::string name;
  EXPECT_EQ(os::RegEnumKeyExA(os::HKEY_LOCAL_MACHINE, 0, &name), os::ERROR_REGISTRY_CORRUPT);

  const std::string detail = machine().registry().LastFailure();
  EXPECT_NE(detail.find(DbPath()), std::string::npos) << detail;
  EXPECT_NE(detail.find("not a database"), std::string::npos) << detail;
  const std::string logged = os::RegErrorText(os::ERROR_REGISTRY_CORRUPT);
  EXPECT_NE(logged.find("corrupted"), std::string::npos) << logged;
  EXPECT_NE(logged.find("not a database"), std::string::npos) << logged;
  EXPECT_EQ(pelisto::testing::ReadHostFile(DbPath()), garbage)
      << "a damaged store is not rewritten";

  // Once the file is put right (here: taken away), the next call works without a restart.
  std::filesystem::remove(DbPath());
  EXPECT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, ADamagedTableIsReportedWithoutACrash) {
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\Kept", &key), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "v", "x"), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
  CloseStore();

  // Overwrite the page that holds the keys table with garbage.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(DbPath().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = 'keys'", -1,
                               &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  const long page = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
  {
    std::FILE* f = std::fopen(DbPath().c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, (page - 1) * 4096, SEEK_SET);
    std::string noise(4096, '\xA7');
    std::fwrite(noise.data(), 1, noise.size(), f);
    std::fclose(f);
  }

  EXPECT_EQ(OpenForReading("Software\\Kept", &key),
            os::ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\Other", &key), os::ERROR_REGISTRY_CORRUPT);
  EXPECT_NE(machine().registry().LastFailure().find("malformed"), std::string::npos)
      << machine().registry().LastFailure();
}

TEST_F(RegistryStore, AWriterHoldingTheLockMakesWritesFailInBoundedTimeAndReadsGoOn) {
  machine().registry().SetBusyTimeout(kShortTimeout);
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\Locked", &key), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "v", "committed"), os::ERROR_SUCCESS);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DbPath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  const auto start = Clock::now();
  EXPECT_EQ(SetString(key, "v", "blocked"), os::ERROR_REGISTRY_IO_FAILED);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, kShortTimeout * 9 / 10);
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_NE(machine().registry().LastFailure().find("locked"), std::string::npos)
      << machine().registry().LastFailure();
  HKEY sub = nullptr;
  EXPECT_EQ(CreateKey(key, "Sub", &sub), os::ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(os::RegDeleteValueA(key, "v"), os::ERROR_REGISTRY_IO_FAILED);

  std::string data;
  EXPECT_EQ(GetString(key, "v", &data), os::ERROR_SUCCESS) << "readers do not wait for a writer";
  EXPECT_EQ(data, "committed");

  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(SetString(key, "v", "after"), os::ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, "v", &data), os::ERROR_SUCCESS);
  EXPECT_EQ(data, "after");
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, AStoreLockedWhenFirstOpenedIsRetriedLater) {
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\Early", &key), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "v", "committed"), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
  CloseStore();
  machine().registry().SetBusyTimeout(kShortTimeout);

  // Exclusive locking mode keeps every other connection out, readers included.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DbPath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other,
                         "PRAGMA locking_mode=EXCLUSIVE; BEGIN IMMEDIATE; "
                         "CREATE TABLE IF NOT EXISTS scratch(x); COMMIT;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::string data;
  ASSERT_EQ(OpenForReading("Software\\Early", &key),
            os::ERROR_REGISTRY_IO_FAILED);
  EXPECT_FALSE(machine().registry().LastFailure().empty());
  sqlite3_close(other);

  ASSERT_EQ(OpenForReading("Software\\Early", &key),
            os::ERROR_SUCCESS);
  EXPECT_EQ(GetString(key, "v", &data), os::ERROR_SUCCESS);
  EXPECT_EQ(data, "committed");
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, AStoreOfANewerFormatIsRefused) {
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\Format", &key), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
  CloseStore();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DbPath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA user_version = 7", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);

  EXPECT_EQ(OpenForReading("Software\\Format", &key),
            os::ERROR_REGISTRY_CORRUPT);
  EXPECT_NE(machine().registry().LastFailure().find("format 7"), std::string::npos)
      << machine().registry().LastFailure();
}

TEST_F(RegistryStore, AStoreThatCannotBeOpenedGivesAnIoFailure) {
  std::filesystem::create_directory(DbPath());  // in the way of the file, even for root
  HKEY key = nullptr;
  EXPECT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_REGISTRY_IO_FAILED);
  EXPECT_NE(machine().registry().LastFailure().find(DbPath()), std::string::npos)
      << machine().registry().LastFailure();
  std::filesystem::remove(DbPath());
  EXPECT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
}

TEST_F(RegistryStore, AStoreMadeByRootBelongsToTheImagesOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "only root makes files for other users";
  constexpr uid_t kUser = 4242;
  constexpr gid_t kGroup = 4343;
  ASSERT_EQ(chown(prefix().c_str(), kUser, kGroup), 0);
  HKEY key = nullptr;
  ASSERT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
  struct stat st;
  ASSERT_EQ(stat(DbPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kUser);
  EXPECT_EQ(st.st_gid, kGroup);
}

// The store and its journal are opened without following a link: one planted in their place
// (pointing at a file still to be made) fails the call and makes nothing where it points.
TEST_F(RegistryStore, AStoreOrJournalPlantedAsALinkIsRefusedAndNothingIsMadeWhereItPoints) {
  pelisto::testing::TempDir outside;
  for (const char* planted : {"registry.db", "registry.db-wal", "registry.db-shm"}) {
    CloseStore();
    std::filesystem::remove(DbPath());
    std::filesystem::remove(DbPath() + "-wal");
    std::filesystem::remove(DbPath() + "-shm");
    const std::string target = outside.path() + "/" + planted;
    std::filesystem::create_symlink(target, prefix() + "/" + planted);
    HKEY key = nullptr;
    EXPECT_EQ(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_REGISTRY_IO_FAILED)
        << planted;
    if (key != nullptr) os::RegCloseKey(key);
    EXPECT_FALSE(std::filesystem::exists(target)) << planted << " was followed";
    std::filesystem::remove(prefix() + "/" + planted);
  }
}

// As root on another user's image, a store planted as a link into a folder of root's is never
// made there, nor handed to that user.
TEST_F(RegistryStore, RootNeverMakesOrGivesAwayTheFileAPlantedStoreLinkPointsAt) {
  if (geteuid() != 0) GTEST_SKIP() << "only root makes files for other users";
  pelisto::testing::TempDir roots;
  ASSERT_EQ(chown(prefix().c_str(), 4242, 4343), 0);
  const std::string target = roots.path() + "/preload";
  std::filesystem::create_symlink(target, DbPath());
  HKEY key = nullptr;
  EXPECT_NE(CreateKey(os::HKEY_CURRENT_USER, "Software\\X", &key), os::ERROR_SUCCESS);
  if (key != nullptr) os::RegCloseKey(key);
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
