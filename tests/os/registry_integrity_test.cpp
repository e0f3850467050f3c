#include <gtest/gtest.h>

#include <string>

#include "os/base/error.h"
#include "os/image/integrity.h"
#include "os/reg/registry.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;
using os::DWORD;
using os::HKEY;
using os::IntegrityLevel;
using os::LONG;

const os::Token kHigh{IntegrityLevel::kHigh};

LONG Create(HKEY root, const char* path, HKEY* key, os::REGSAM sam = os::KEY_ALL_ACCESS) {
  return os::RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, key, nullptr);
}

LONG SetNumber(HKEY key, const char* name, DWORD number) {
  return os::RegSetValueExA(key, name, 0, os::REG_DWORD, reinterpret_cast<const os::BYTE*>(&number),
                            sizeof number);
}

std::string Below(const char* path, const char* name) {
  return path[0] == '\0' ? std::string(name) : std::string(path) + "\\" + name;
}

const char* LevelName(IntegrityLevel level) {
  switch (level) {
    case IntegrityLevel::kLow: return "Low";
    case IntegrityLevel::kMedium: return "Medium";
    case IntegrityLevel::kHigh: return "High";
  }
  return "?";
}

struct IntegrityCase {
  int os_major;
  IntegrityLevel level;
  std::uint32_t root;
  const char* path;
  bool may_write;
};
// Test names must not hold "\": CTest takes the printed value into the name.
void PrintTo(const IntegrityCase& c, std::ostream* out) {
  std::string where = os::RootKeyName(os::PredefinedKey(c.root));
  if (c.path[0] != '\0') where += "/" + std::string(c.path);
  for (char& ch : where) {
    if (ch == '\\') ch = '/';
  }
  *out << "Windows " << c.os_major << " " << LevelName(c.level) << " " << where;
}

class RegistryIntegrity : public ImageTest, public ::testing::WithParamInterface<IntegrityCase> {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    SetOsMajor(GetParam().os_major);
  }
  HKEY Root() const { return os::PredefinedKey(GetParam().root); }
  bool ExistsForAnyone(const char* path) {
    HKEY key = nullptr;
    LONG rc = os::RegOpenKeyExA(Root(), path, 0, os::KEY_READ, &key);
    if (rc == os::ERROR_SUCCESS) os::RegCloseKey(key);
    return rc == os::ERROR_SUCCESS;
  }
};

TEST_P(RegistryIntegrity, WritesFollowTheCallersIntegrity) {
  const IntegrityCase& c = GetParam();
  const LONG expected = c.may_write ? os::ERROR_SUCCESS : os::ERROR_ACCESS_DENIED;
  const std::string existing = Below(c.path, "Existing");
  {
    os::ImpersonationScope broker(kHigh);  // what the broker put there beforehand
    HKEY key = nullptr;
    ASSERT_EQ(Create(Root(), existing.c_str(), &key), os::ERROR_SUCCESS);
    ASSERT_EQ(SetNumber(key, "n", 1), os::ERROR_SUCCESS);
    os::RegCloseKey(key);
  }

  os::ImpersonationScope caller(os::Token{c.level});
  const std::string fresh = Below(c.path, "Fresh");
  HKEY key = os::HKEY_USERS;
  EXPECT_EQ(Create(Root(), fresh.c_str(), &key), expected);
  if (key != nullptr) os::RegCloseKey(key);
  EXPECT_EQ(ExistsForAnyone(fresh.c_str()), c.may_write) << "a refused create leaves nothing";

  // Asking only to read does not make creating a key any less of a write.
  const std::string fresh_read = Below(c.path, "FreshRead");
  EXPECT_EQ(Create(Root(), fresh_read.c_str(), &key, os::KEY_READ), expected);
  if (key != nullptr) os::RegCloseKey(key);

  // Reading is always allowed.
  ASSERT_EQ(os::RegOpenKeyExA(Root(), existing.c_str(), 0, os::KEY_READ, &key), os::ERROR_SUCCESS);
  DWORD number = 0, size = sizeof number;
  EXPECT_EQ(os::RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<os::BYTE*>(&number),
                                 &size),
            os::ERROR_SUCCESS);
  EXPECT_EQ(number, 1u);
  os::RegCloseKey(key);

  // Opening an existing key for writing, the way every registry write of the control starts.
  key = os::HKEY_USERS;
  EXPECT_EQ(os::RegOpenKeyExA(Root(), existing.c_str(), 0, os::KEY_ALL_ACCESS, &key), expected);
  if (key != nullptr) {
    EXPECT_EQ(SetNumber(key, "n", 2), os::ERROR_SUCCESS);
    os::RegCloseKey(key);
  }
  EXPECT_EQ(os::RegOpenKeyExA(Root(), existing.c_str(), 0, os::KEY_SET_VALUE, &key), expected);
  if (key != nullptr) os::RegCloseKey(key);
  EXPECT_EQ(os::RegOpenKeyExA(Root(), existing.c_str(), 0, os::KEY_WRITE, &key), expected);
  if (key != nullptr) os::RegCloseKey(key);

  EXPECT_EQ(os::RegDeleteKeyA(Root(), existing.c_str()), expected);
  EXPECT_EQ(ExistsForAnyone(existing.c_str()), !c.may_write);

  // Nobody opens a predefined key, so a write straight into one is checked when it is made.
  if (c.path[0] == '\0') {
    EXPECT_EQ(SetNumber(Root(), "n", 3), expected);
    EXPECT_EQ(os::RegDeleteValueA(Root(), "n"), c.may_write ? os::ERROR_SUCCESS : expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryIntegrity,
    ::testing::Values(
        // Windows 6: below high integrity only the user's own keys are writable ...
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000002, "SOFTWARE\\Vendor", false},
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000002, "", false},
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000000, "CLSID", false},
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000003, ".DEFAULT\\Software", false},
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000005, "Software", false},
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000001, "Software\\Vendor", true},
        IntegrityCase{6, IntegrityLevel::kMedium, 0x80000001, "", true},
        // ... and at low integrity only those below AppDataLow.
        IntegrityCase{6, IntegrityLevel::kLow, 0x80000001, "Software\\Vendor", false},
        IntegrityCase{6, IntegrityLevel::kLow, 0x80000001, "Software\\AppDataLowX", false},
        IntegrityCase{6, IntegrityLevel::kLow, 0x80000001, "software\\appdatalow\\Vendor", true},
        IntegrityCase{6, IntegrityLevel::kLow, 0x80000002, "SOFTWARE\\Vendor", false},
        // The elevated broker writes anywhere.
        IntegrityCase{6, IntegrityLevel::kHigh, 0x80000002, "SOFTWARE\\Vendor", true},
        IntegrityCase{6, IntegrityLevel::kHigh, 0x80000000, "CLSID", true},
        IntegrityCase{6, IntegrityLevel::kHigh, 0x80000002, "", true},
        // Windows 5 knows no integrity levels.
        IntegrityCase{5, IntegrityLevel::kMedium, 0x80000002, "SOFTWARE\\Vendor", true},
        IntegrityCase{5, IntegrityLevel::kMedium, 0x80000000, "CLSID", true},
        IntegrityCase{5, IntegrityLevel::kLow, 0x80000002, "", true},
        IntegrityCase{5, IntegrityLevel::kLow, 0x80000001, "Software\\Vendor", true}));

class RegistryIntegrityHandles : public ImageTest {};

TEST_F(RegistryIntegrityHandles, AHandleKeepsTheRightsItWasOpenedWith) {
  HKEY broker_key = nullptr;
  {
    os::ImpersonationScope broker(kHigh);
    ASSERT_EQ(Create(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", &broker_key), os::ERROR_SUCCESS);
  }
  // Used later by a medium thread, the elevated handle still writes, as on Windows.
  EXPECT_EQ(SetNumber(broker_key, "n", 1), os::ERROR_SUCCESS);

  HKEY reader = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, os::KEY_READ, &reader),
            os::ERROR_SUCCESS);
  {
    os::ImpersonationScope broker(kHigh);
    EXPECT_EQ(SetNumber(reader, "n", 2), os::ERROR_ACCESS_DENIED)
        << "rights come from the open, not from whoever uses the handle";
  }
  os::RegCloseKey(reader);
  os::RegCloseKey(broker_key);
}

TEST_F(RegistryIntegrityHandles, MaximumAllowedGivesWhatTheTokenMayHave) {
  constexpr os::REGSAM kMaximumAllowed = 0x02000000;
  HKEY key = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "SOFTWARE", 0, kMaximumAllowed, &key),
            os::ERROR_SUCCESS);
  EXPECT_EQ(SetNumber(key, "n", 1), os::ERROR_ACCESS_DENIED);
  std::string name;
  // Reading stays allowed: a new image's SOFTWARE holds the browser's key.
  EXPECT_EQ(os::RegEnumKeyExA(key, 0, &name), os::ERROR_SUCCESS);
  EXPECT_EQ(name, "Microsoft");
  EXPECT_EQ(os::RegEnumKeyExA(key, 1, &name), os::ERROR_NO_MORE_ITEMS);
  os::RegCloseKey(key);

  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software", 0, kMaximumAllowed, &key),
            os::ERROR_SUCCESS);
  EXPECT_EQ(SetNumber(key, "n", 1), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
}

TEST_F(RegistryIntegrityHandles, ProtectedModeMakesTheProcessALowIntegrityCaller) {
  os::ImageSettings settings = machine().settings();
  settings.protected_mode = true;
  Reconfigure(settings);
  HKEY key = nullptr;
  EXPECT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Vendor", &key), os::ERROR_ACCESS_DENIED);
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\AppDataLow\\Vendor", &key), os::ERROR_SUCCESS);
  os::RegCloseKey(key);
}

}  // namespace
