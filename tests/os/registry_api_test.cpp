#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os/base/error.h"
#include "os/image/integrity.h"
#include "os/reg/key_helpers.h"
#include "os/reg/registry.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;
using os::DWORD;
using os::HKEY;
using os::LONG;

const os::BYTE* Bytes(const std::string& s) { return reinterpret_cast<const os::BYTE*>(s.data()); }
DWORD Size(const std::string& s) { return static_cast<DWORD>(s.size()); }

// Closes a key handle when the test ends, whatever it asserted.
using Key = os::ScopedHKEY;

class RegistryApi : public ImageTest {
 protected:
  LONG Create(HKEY root, const char* path, Key* key, DWORD* disposition = nullptr,
              os::REGSAM sam = os::KEY_ALL_ACCESS) {
    return os::RegCreateKeyExA(root, path, 0, nullptr, os::REG_OPTION_NON_VOLATILE, sam, nullptr,
                               key->Receive(), disposition);
  }
  LONG Open(HKEY root, const char* path, Key* key, os::REGSAM sam = os::KEY_READ) {
    return os::RegOpenKeyExA(root, path, 0, sam, key->Receive());
  }
  bool Exists(HKEY root, const char* path) {
    Key key;
    return Open(root, path, &key) == os::ERROR_SUCCESS;
  }
  LONG SetString(HKEY key, const char* name, const std::string& data) {
    return os::RegSetValueExA(key, name, 0, os::REG_SZ, Bytes(data), Size(data));
  }
  // The value's bytes, read the way callers do: size first, then the data.
  std::string Read(HKEY key, const char* name, DWORD* type = nullptr) {
    DWORD size = 0;
    EXPECT_EQ(os::RegQueryValueExA(key, name, nullptr, type, nullptr, &size), os::ERROR_SUCCESS)
        << name;
    std::string data(size, '\0');
    EXPECT_EQ(os::RegQueryValueExA(key, name, nullptr, type,
                                   reinterpret_cast<os::BYTE*>(data.data()), &size),
              os::ERROR_SUCCESS);
    data.resize(size);
    return data;
  }
  std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0; os::RegEnumKeyExA(key, i, &name) == os::ERROR_SUCCESS; ++i) {
      names.push_back(name);
    }
    return names;
  }
  std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0; os::RegEnumValueA(key, i, &name, nullptr, nullptr) == os::ERROR_SUCCESS;
         ++i) {
      names.push_back(name);
    }
    return names;
  }
};

TEST_F(RegistryApi, CreateMakesEveryMissingLevelAndTellsWhetherItWasNew) {
  os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
  Key key;
  DWORD disposition = 0;
  ASSERT_EQ(Create(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\1.0", &key, &disposition),
            os::ERROR_SUCCESS);
  EXPECT_EQ(disposition, os::REG_CREATED_NEW_KEY);
  EXPECT_TRUE(Exists(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor"));
  EXPECT_TRUE(Exists(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product"));
  EXPECT_TRUE(Exists(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\1.0"));

  Key again;
  ASSERT_EQ(Create(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\1.0", &again, &disposition),
            os::ERROR_SUCCESS);
  EXPECT_EQ(disposition, os::REG_OPENED_EXISTING_KEY);
  EXPECT_NE(again.get(), key.get()) << "every open gives its own handle";

  // A level below an opened key: only the new last level counts as created.
  Key child;
  ASSERT_EQ(Create(key.get(), "Sub\\Leaf", &child, &disposition), os::ERROR_SUCCESS);
  EXPECT_EQ(disposition, os::REG_CREATED_NEW_KEY);
  EXPECT_TRUE(Exists(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\1.0\\Sub\\Leaf"));
}

TEST_F(RegistryApi, AFreshImageHasTheKeysEveryWindowsHas) {
  Key software;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &software), os::ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(software.get()), std::vector<std::string>{"AppDataLow"});
  EXPECT_EQ(SubkeyNames(os::HKEY_LOCAL_MACHINE), std::vector<std::string>{"SOFTWARE"});
  EXPECT_TRUE(SubkeyNames(os::HKEY_CLASSES_ROOT).empty());
}

TEST_F(RegistryApi, NamesIgnoreCaseAndKeepTheCaseOfCreation) {
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\MixedCase\\Inner", &key), os::ERROR_SUCCESS);
  EXPECT_TRUE(Exists(os::HKEY_CURRENT_USER, "SOFTWARE\\mixedcase\\INNER"));
  Key same;
  DWORD disposition = 0;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "software\\MIXEDCASE", &same, &disposition),
            os::ERROR_SUCCESS);
  EXPECT_EQ(disposition, os::REG_OPENED_EXISTING_KEY);
  Key software;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &software), os::ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(software.get()), (std::vector<std::string>{"AppDataLow", "MixedCase"}));

  ASSERT_EQ(SetString(key.get(), "ValueName", "first"), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), "VALUENAME", "second"), os::ERROR_SUCCESS);
  EXPECT_EQ(Read(key.get(), "valuename"), "second");
  EXPECT_EQ(ValueNames(key.get()), std::vector<std::string>{"ValueName"});

  // Only ASCII letters fold: bytes of other scripts are kept and compared exactly.
  const std::string upper = "\xEA\xB0\x80" "A";  // a Hangul syllable, then A
  const std::string lower = "\xEA\xB0\x80" "a";
  ASSERT_EQ(SetString(key.get(), upper.c_str(), "hangul"), os::ERROR_SUCCESS);
  EXPECT_EQ(Read(key.get(), lower.c_str()), "hangul");
  const std::string not_utf8 = "\xB0\xA1\xFF";  // EUC-KR bytes and a byte valid in no text
  ASSERT_EQ(SetString(key.get(), not_utf8.c_str(), "raw"), os::ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key.get()), (std::vector<std::string>{"ValueName", upper, not_utf8}));
}

struct ValueCase {
  const char* label;
  DWORD type;
  std::string data;
};
void PrintTo(const ValueCase& c, std::ostream* out) { *out << c.label; }

class RegistryValueRoundTrip : public RegistryApi,
                               public ::testing::WithParamInterface<ValueCase> {};

TEST_P(RegistryValueRoundTrip, StoresTheBytesExactly) {
  const ValueCase& c = GetParam();
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\RoundTrip", &key), os::ERROR_SUCCESS);
  ASSERT_EQ(os::RegSetValueExA(key.get(), "v", 0, c.type, Bytes(c.data), Size(c.data)),
            os::ERROR_SUCCESS);
  DWORD type = 0xDEADBEEF;
  EXPECT_EQ(Read(key.get(), "v", &type), c.data);
  EXPECT_EQ(type, c.type);

  // Enumeration hands out the same bytes.
  std::string name, data;
  type = 0xDEADBEEF;
  ASSERT_EQ(os::RegEnumValueA(key.get(), 0, &name, &type, &data), os::ERROR_SUCCESS);
  EXPECT_EQ(name, "v");
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(data, c.data);
}

std::string Dword(std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryValueRoundTrip,
    ::testing::Values(ValueCase{"SzWithZero", os::REG_SZ, std::string("2.6.1.3\0", 8)},
                      ValueCase{"SzWithoutZero", os::REG_SZ, "2.6.1.3"},
                      ValueCase{"SzEmpty", os::REG_SZ, ""},
                      ValueCase{"SzEucKr", os::REG_SZ, "\xC7\xD1\xB1\xDB"},
                      ValueCase{"Dword", os::REG_DWORD, Dword(0x80000001u)},
                      ValueCase{"Binary", os::REG_BINARY, std::string("\x00\xFF\x00\x7F\x80", 5)},
                      ValueCase{"BinaryLarge", os::REG_BINARY, std::string(70000, '\xA5')},
                      ValueCase{"MultiSz", os::REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
                      ValueCase{"UnknownType", 0x1234, "any"}));

TEST_F(RegistryApi, SizeQueryThenReadNeverWritesBeyondTheValue) {
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Sizes", &key), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), "ver", "1.2.3"), os::ERROR_SUCCESS);  // no terminating zero

  DWORD type = 0, size = 0;
  ASSERT_EQ(os::RegQueryValueExA(key.get(), "ver", nullptr, &type, nullptr, &size),
            os::ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(type, os::REG_SZ);

  os::BYTE small[4];
  std::memset(small, 0xBD, sizeof small);
  size = sizeof small;
  EXPECT_EQ(os::RegQueryValueExA(key.get(), "ver", nullptr, &type, small, &size),
            os::ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u) << "the size needed";
  for (os::BYTE b : small) EXPECT_EQ(b, 0xBD) << "nothing written on ERROR_MORE_DATA";

  os::BYTE big[16];
  std::memset(big, 0xBD, sizeof big);
  size = sizeof big;
  ASSERT_EQ(os::RegQueryValueExA(key.get(), "ver", nullptr, &type, big, &size), os::ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(big), 5), "1.2.3");
  EXPECT_EQ(big[5], 0xBD) << "no terminating zero added past the stored bytes";

  size = 5;
  EXPECT_EQ(os::RegQueryValueExA(key.get(), "ver", nullptr, nullptr, big, &size), os::ERROR_SUCCESS)
      << "an exact buffer is enough";
  EXPECT_EQ(os::RegQueryValueExA(key.get(), "ver", nullptr, nullptr, big, nullptr),
            os::ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(os::RegQueryValueExA(key.get(), "ver", &reserved, nullptr, nullptr, &size),
            os::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(os::RegQueryValueExA(key.get(), "missing", nullptr, &type, nullptr, &size),
            os::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, NullAndEmptyNamesAreTheDefaultValue) {
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Default", &key), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(key.get(), nullptr, "default"), os::ERROR_SUCCESS);
  EXPECT_EQ(Read(key.get(), ""), "default");
  ASSERT_EQ(SetString(key.get(), "", "again"), os::ERROR_SUCCESS);
  EXPECT_EQ(Read(key.get(), nullptr), "again");
  EXPECT_EQ(ValueNames(key.get()), std::vector<std::string>{""});
  EXPECT_EQ(os::RegSetValueExA(key.get(), "x", 0, os::REG_BINARY, nullptr, 4), os::ERROR_NOACCESS);
  EXPECT_EQ(os::RegSetValueExA(key.get(), "x", 0, os::REG_BINARY, nullptr, 0), os::ERROR_SUCCESS);
  EXPECT_EQ(Read(key.get(), "x"), "");
}

TEST_F(RegistryApi, DeletesValuesAndKeysWithoutSubkeys) {
  Key parent, child;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Del\\Child", &child), os::ERROR_SUCCESS);
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software\\Del", &parent, os::KEY_ALL_ACCESS),
            os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(parent.get(), "a", "1"), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(parent.get(), "b", "2"), os::ERROR_SUCCESS);

  EXPECT_EQ(os::RegDeleteValueA(parent.get(), "A"), os::ERROR_SUCCESS);
  EXPECT_EQ(os::RegDeleteValueA(parent.get(), "a"), os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ValueNames(parent.get()), std::vector<std::string>{"b"});

  EXPECT_EQ(os::RegDeleteKeyA(os::HKEY_CURRENT_USER, "Software\\Del"), os::ERROR_ACCESS_DENIED)
      << "a key with subkeys stays";
  EXPECT_TRUE(Exists(os::HKEY_CURRENT_USER, "Software\\Del\\Child"));
  EXPECT_EQ(Read(parent.get(), "b"), "2");

  EXPECT_EQ(os::RegDeleteKeyA(parent.get(), "CHILD"), os::ERROR_SUCCESS);
  EXPECT_EQ(os::RegDeleteKeyA(parent.get(), "Child"), os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::RegDeleteKeyA(os::HKEY_CURRENT_USER, "Software\\Del"), os::ERROR_SUCCESS);
  EXPECT_FALSE(Exists(os::HKEY_CURRENT_USER, "Software\\Del"));

  // Its values went with it: a new key of that name starts empty.
  Key fresh;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Del", &fresh), os::ERROR_SUCCESS);
  EXPECT_TRUE(ValueNames(fresh.get()).empty());

  EXPECT_EQ(os::RegDeleteKeyA(os::HKEY_CURRENT_USER, nullptr), os::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(os::RegDeleteKeyA(os::HKEY_CURRENT_USER, ""), os::ERROR_ACCESS_DENIED)
      << "a root key cannot be deleted";
}

TEST_F(RegistryApi, DeletingTheHandlesOwnKeyNeedsTheDeleteRight) {
  Key read_only, full;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Self", &full), os::ERROR_SUCCESS);
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software\\Self", &read_only, os::KEY_READ),
            os::ERROR_SUCCESS);
  EXPECT_EQ(os::RegDeleteKeyA(read_only.get(), ""), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::RegDeleteKeyA(full.get(), ""), os::ERROR_SUCCESS);
  EXPECT_FALSE(Exists(os::HKEY_CURRENT_USER, "Software\\Self"));
}

TEST_F(RegistryApi, AReadHandleRefusesWritesAndAWriteHandleRefusesReads) {
  Key writer;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Rights", &writer), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(writer.get(), "v", "kept"), os::ERROR_SUCCESS);

  Key reader;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software\\Rights", &reader, os::KEY_READ),
            os::ERROR_SUCCESS);
  EXPECT_EQ(SetString(reader.get(), "v", "changed"), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::RegDeleteValueA(reader.get(), "v"), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read(reader.get(), "v"), "kept");

  Key set_only;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software\\Rights", &set_only, os::KEY_SET_VALUE),
            os::ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(os::RegQueryValueExA(set_only.get(), "v", nullptr, nullptr, nullptr, &size),
            os::ERROR_ACCESS_DENIED);
  std::string name;
  EXPECT_EQ(os::RegEnumKeyExA(set_only.get(), 0, &name), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetString(set_only.get(), "v", "changed"), os::ERROR_SUCCESS);
}

void ExpectInvalidEverywhere(HKEY bad) {
  const HKEY untouched = os::PredefinedKey(0x80000001);
  HKEY result = untouched;
  EXPECT_EQ(os::RegOpenKeyExA(bad, "x", 0, os::KEY_READ, &result), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(result, untouched);
  EXPECT_EQ(os::RegCreateKeyExA(bad, "x", 0, nullptr, 0, os::KEY_ALL_ACCESS, nullptr, &result,
                                nullptr),
            os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(result, untouched);
  const std::string data = "x";
  EXPECT_EQ(os::RegSetValueExA(bad, "v", 0, os::REG_SZ, Bytes(data), 1), os::ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(os::RegQueryValueExA(bad, "v", nullptr, nullptr, nullptr, &size),
            os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::RegDeleteValueA(bad, "v"), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::RegDeleteKeyA(bad, "x"), os::ERROR_INVALID_HANDLE);
  std::string name;
  EXPECT_EQ(os::RegEnumKeyExA(bad, 0, &name), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::RegEnumValueA(bad, 0, &name, nullptr, nullptr), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::RegCloseKey(bad), os::ERROR_INVALID_HANDLE);
}

struct BadHandleCase {
  const char* label;
  HKEY key;
};
void PrintTo(const BadHandleCase& c, std::ostream* out) { *out << c.label; }

class RegistryBadHandle : public RegistryApi,
                          public ::testing::WithParamInterface<BadHandleCase> {};

TEST_P(RegistryBadHandle, EveryCallSaysInvalidHandle) { ExpectInvalidEverywhere(GetParam().key); }

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryBadHandle,
    ::testing::Values(BadHandleCase{"Null", nullptr},
                      BadHandleCase{"MadeUp", reinterpret_cast<HKEY>(std::uintptr_t{0x4242})},
                      BadHandleCase{"Wild", reinterpret_cast<HKEY>(~std::uintptr_t{0})},
                      BadHandleCase{"PerformanceData", os::PredefinedKey(0x80000004)}));

TEST_F(RegistryApi, AClosedHandleIsInvalidEverywhere) {
  Key key;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &key), os::ERROR_SUCCESS);
  const HKEY closed = key.Release();
  ASSERT_EQ(os::RegCloseKey(closed), os::ERROR_SUCCESS);
  ExpectInvalidEverywhere(closed);
  // A handle opened later never takes the closed one's place.
  Key later;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &later), os::ERROR_SUCCESS);
  EXPECT_NE(later.get(), closed);
}

TEST_F(RegistryApi, ThePredefinedKeysNeedACurrentImage) {
  os::SetCurrentMachine(nullptr);
  Key key;
  EXPECT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &key), os::ERROR_PATH_NOT_FOUND);
  os::SetCurrentMachine(&machine());
  EXPECT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &key), os::ERROR_SUCCESS);
}

TEST_F(RegistryApi, HandlesOfAClosedImageAreInvalidAndPredefinedKeysCloseQuietly) {
  Key key;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &key), os::ERROR_SUCCESS);
  EXPECT_EQ(os::RegCloseKey(os::HKEY_LOCAL_MACHINE), os::ERROR_SUCCESS);
  SetOsMajor(6);  // reopens the image: the old machine and its store are gone
  std::string name;
  EXPECT_EQ(os::RegEnumKeyExA(key.get(), 0, &name), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::RegCloseKey(key.Release()), os::ERROR_SUCCESS);
}

TEST_F(RegistryApi, AKeyDeletedUnderAnOpenHandleIsReportedAsDeleted) {
  Key victim;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Victim", &victim), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(victim.get(), "v", "x"), os::ERROR_SUCCESS);
  ASSERT_EQ(os::RegDeleteKeyA(os::HKEY_CURRENT_USER, "Software\\Victim"), os::ERROR_SUCCESS);

  // A new key of the same name is another key: the old handle still sees its own deleted one.
  Key successor;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Victim", &successor), os::ERROR_SUCCESS);
  ASSERT_EQ(SetString(successor.get(), "v", "new"), os::ERROR_SUCCESS);

  const HKEY h = victim.get();
  EXPECT_EQ(SetString(h, "v", "y"), os::ERROR_KEY_DELETED);
  DWORD size = 0;
  EXPECT_EQ(os::RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size), os::ERROR_KEY_DELETED);
  EXPECT_EQ(os::RegDeleteValueA(h, "v"), os::ERROR_KEY_DELETED);
  std::string name;
  EXPECT_EQ(os::RegEnumKeyExA(h, 0, &name), os::ERROR_KEY_DELETED);
  EXPECT_EQ(os::RegEnumValueA(h, 0, &name, nullptr, nullptr), os::ERROR_KEY_DELETED);
  Key sub;
  EXPECT_EQ(Create(h, "Sub", &sub), os::ERROR_KEY_DELETED);
  EXPECT_EQ(sub.get(), nullptr);
  EXPECT_EQ(Open(h, "", &sub), os::ERROR_KEY_DELETED);
  EXPECT_EQ(os::RegDeleteKeyA(h, ""), os::ERROR_KEY_DELETED);
  EXPECT_EQ(Read(successor.get(), "v"), "new");
  EXPECT_EQ(os::RegCloseKey(victim.Release()), os::ERROR_SUCCESS);
}

TEST_F(RegistryApi, OpenGivesNullOnFailureAndThePredefinedKeyForAnEmptyPath) {
  HKEY result = os::HKEY_USERS;
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software\\Missing", 0, os::KEY_READ, &result),
            os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(result, nullptr);
  EXPECT_FALSE(Exists(os::HKEY_CURRENT_USER, "Software\\Missing")) << "opening creates nothing";
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, nullptr, 0, os::KEY_READ, &result),
            os::ERROR_SUCCESS);
  EXPECT_EQ(result, os::HKEY_CURRENT_USER);
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "", 0, os::KEY_READ, nullptr),
            os::ERROR_INVALID_PARAMETER);

  // An empty path on an opened key is a second handle to it.
  Key first, second;
  ASSERT_EQ(Open(os::HKEY_CURRENT_USER, "Software", &first), os::ERROR_SUCCESS);
  ASSERT_EQ(Open(first.get(), "", &second), os::ERROR_SUCCESS);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(SubkeyNames(second.get()), std::vector<std::string>{"AppDataLow"});

  // The classes root is reached through a full path on Windows and takes a leading "\".
  os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
  Key clsid;
  ASSERT_EQ(Create(os::HKEY_CLASSES_ROOT, "CLSID", &clsid), os::ERROR_SUCCESS);
  Key through_slash;
  EXPECT_EQ(Open(os::HKEY_CLASSES_ROOT, "\\clsid", &through_slash), os::ERROR_SUCCESS);
}

struct PathCase {
  const char* label;
  std::string subkey;
  DWORD error;
  std::string canonical;  // the key that exists afterwards, below the test's base key
};
void PrintTo(const PathCase& c, std::ostream* out) { *out << c.label; }

std::string Repeat(const std::string& unit, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += unit;
  return s;
}

class RegistryKeyPath : public RegistryApi, public ::testing::WithParamInterface<PathCase> {};

TEST_P(RegistryKeyPath, CreateAndOpenTreatThePathAsWindowsDoes) {
  const PathCase& c = GetParam();
  Key base;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Paths", &base), os::ERROR_SUCCESS);
  Key created;
  EXPECT_EQ(Create(base.get(), c.subkey.c_str(), &created), static_cast<LONG>(c.error));
  Key opened;
  EXPECT_EQ(Open(base.get(), c.subkey.c_str(), &opened), static_cast<LONG>(c.error));
  if (c.error == os::ERROR_SUCCESS) {
    EXPECT_TRUE(Exists(base.get(), c.canonical.c_str()));
    EXPECT_EQ(SubkeyNames(base.get()),
              std::vector<std::string>{c.canonical.substr(0, c.canonical.find('\\'))});
  } else {
    EXPECT_EQ(created.get(), nullptr);
    EXPECT_TRUE(SubkeyNames(base.get()).empty()) << "nothing created for a refused path";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryKeyPath,
    ::testing::Values(
        PathCase{"TwoLevels", "A\\B", os::ERROR_SUCCESS, "A\\B"},
        PathCase{"TrailingSeparator", "A\\B\\", os::ERROR_SUCCESS, "A\\B"},
        PathCase{"TrailingSeparators", "A\\B\\\\\\", os::ERROR_SUCCESS, "A\\B"},
        PathCase{"Spaces", " A b \\ c ", os::ERROR_SUCCESS, " A b \\ c "},
        PathCase{"ForwardSlashIsAName", "A/B", os::ERROR_SUCCESS, "A/B"},
        PathCase{"LeadingSeparator", "\\A", os::ERROR_BAD_PATHNAME, ""},
        PathCase{"OnlySeparator", "\\", os::ERROR_BAD_PATHNAME, ""},
        PathCase{"EmptyLevel", "A\\\\B", os::ERROR_INVALID_PARAMETER, ""},
        PathCase{"Longest", std::string(255, 'k'), os::ERROR_SUCCESS, std::string(255, 'k')},
        PathCase{"TooLong", "A\\" + std::string(256, 'k'), os::ERROR_INVALID_PARAMETER, ""},
        // 255 Hangul syllables: 765 bytes of UTF-8, but 255 characters as Windows counts them.
        PathCase{"LongestMultiByte", Repeat("\xED\x95\x9C", 255), os::ERROR_SUCCESS,
                 Repeat("\xED\x95\x9C", 255)},
        PathCase{"TooLongMultiByte", Repeat("\xED\x95\x9C", 256), os::ERROR_INVALID_PARAMETER,
                 ""}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.label); });

TEST_F(RegistryApi, ValueNamesUpToTheWindowsLimit) {
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\LongNames", &key), os::ERROR_SUCCESS);
  const std::string longest(16383, 'v');
  const std::string too_long(16384, 'v');
  EXPECT_EQ(SetString(key.get(), longest.c_str(), "ok"), os::ERROR_SUCCESS);
  EXPECT_EQ(Read(key.get(), longest.c_str()), "ok");
  EXPECT_EQ(SetString(key.get(), too_long.c_str(), "no"), os::ERROR_INVALID_PARAMETER);
  DWORD size = 0;
  EXPECT_EQ(os::RegQueryValueExA(key.get(), too_long.c_str(), nullptr, nullptr, nullptr, &size),
            os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::RegDeleteValueA(key.get(), too_long.c_str()), os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ValueNames(key.get()), std::vector<std::string>{longest});
}

TEST_F(RegistryApi, EnumerationFollowsCreationOrder) {
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\Order", &key), os::ERROR_SUCCESS);
  for (const char* name : {"zeta", "Alpha", "mid"}) {
    Key sub;
    ASSERT_EQ(Create(key.get(), name, &sub), os::ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), name, name), os::ERROR_SUCCESS);
  }
  ASSERT_EQ(SetString(key.get(), "ZETA", "set again"), os::ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(key.get()), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  EXPECT_EQ(ValueNames(key.get()), (std::vector<std::string>{"zeta", "Alpha", "mid"}))
      << "a value set again keeps its place";
  std::string name = "untouched";
  EXPECT_EQ(os::RegEnumKeyExA(key.get(), 3, &name), os::ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(name, "untouched");
  EXPECT_EQ(os::RegEnumValueA(key.get(), 3, &name, nullptr, nullptr), os::ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(os::RegEnumKeyExA(key.get(), 0, nullptr), os::ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, ValuesSurviveReopeningTheImage) {
  {
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    Key key;
    ASSERT_EQ(Create(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", &key), os::ERROR_SUCCESS);
    const std::string number = Dword(42);
    ASSERT_EQ(os::RegSetValueExA(key.get(), "n", 0, os::REG_DWORD, Bytes(number), 4),
              os::ERROR_SUCCESS);
  }
  SetOsMajor(5);
  Key key;
  ASSERT_EQ(Open(os::HKEY_LOCAL_MACHINE, "software\\kept", &key), os::ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Read(key.get(), "N", &type), Dword(42));
  EXPECT_EQ(type, os::REG_DWORD);
}

TEST_F(RegistryApi, CallsLeaveTheLastErrorAlone) {
  Key key;
  ASSERT_EQ(Create(os::HKEY_CURRENT_USER, "Software\\LastError", &key), os::ERROR_SUCCESS);
  os::SetLastError(0xDEADBEEF);
  // Long names are measured by converting them, which must not show through.
  Key sub;
  EXPECT_EQ(Create(key.get(), std::string(300, '\xFF').c_str(), &sub), os::ERROR_INVALID_PARAMETER);
  DWORD size = 0;
  EXPECT_EQ(os::RegQueryValueExA(key.get(), std::string(20000, 'n').c_str(), nullptr, nullptr,
                                 nullptr, &size),
            os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);
}

struct SplitCase {
  const char* text;
  bool ok;
  std::uint32_t root;
  const char* subkey;
};
// Test names must not hold "\": CTest takes the printed value into the name.
void PrintTo(const SplitCase& c, std::ostream* out) {
  std::string text = c.text;
  for (char& ch : text) {
    if (ch == '\\') ch = '/';
  }
  *out << '[' << text << ']';
}

class RegistryNames : public ::testing::TestWithParam<SplitCase> {};

TEST_P(RegistryNames, SplitKeyPathFindsTheRoot) {
  const SplitCase& c = GetParam();
  HKEY root = nullptr;
  std::string subkey = "untouched";
  ASSERT_EQ(os::SplitKeyPath(c.text, &root, &subkey), c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(root, os::PredefinedKey(c.root)) << c.text;
    EXPECT_EQ(subkey, c.subkey) << c.text;
  } else {
    EXPECT_EQ(subkey, "untouched");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryNames,
    ::testing::Values(SplitCase{"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", true, 0x80000002, "SOFTWARE\\X"},
                      SplitCase{"hkey_current_user\\Software", true, 0x80000001, "Software"},
                      SplitCase{"HKLM", true, 0x80000002, ""},
                      SplitCase{"hkcu\\", true, 0x80000001, ""},
                      SplitCase{"HKCR\\.zip", true, 0x80000000, ".zip"},
                      SplitCase{"HKU\\.DEFAULT", true, 0x80000003, ".DEFAULT"},
                      SplitCase{"HKCC\\System", true, 0x80000005, "System"},
                      SplitCase{"HKEY_CURRENT_CONFIG", true, 0x80000005, ""},
                      SplitCase{"HKEY_LOCAL_MACHINEX\\A", false, 0, ""},
                      SplitCase{"\\HKLM\\A", false, 0, ""},
                      SplitCase{"HKEY_PERFORMANCE_DATA", false, 0, ""},
                      SplitCase{"", false, 0, ""}));

TEST(RegistryRootNames, NamesThePredefinedKeysOnly) {
  EXPECT_EQ(os::RootKeyName(os::HKEY_CLASSES_ROOT), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(os::RootKeyName(os::HKEY_CURRENT_CONFIG), "HKEY_CURRENT_CONFIG");
  EXPECT_EQ(os::RootKeyName(os::PredefinedKey(0x80000004)), "");
  EXPECT_EQ(os::RootKeyName(nullptr), "");
}

// The one-call helpers: a read that keeps the bytes exactly as stored and refuses the types
// it was not asked for, and a write that creates every missing level.
TEST_F(RegistryApi, GetValueAndSetKeyValueInOneCall) {
  const std::string text("ab\0cd", 5);
  ASSERT_EQ(os::RegSetKeyValueA(os::HKEY_CURRENT_USER, "Software\\A\\B", "t", os::REG_SZ,
                                text.data(), Size(text)),
            os::ERROR_SUCCESS);
  const DWORD number = 7;
  ASSERT_EQ(os::RegSetKeyValueA(os::HKEY_CURRENT_USER, "Software\\A\\B", "n", os::REG_DWORD,
                                &number, sizeof number),
            os::ERROR_SUCCESS);
  std::string data = "untouched";
  DWORD type = 99;
  EXPECT_EQ(os::RegGetValueA(os::HKEY_CURRENT_USER, "Software\\A\\B", "t", os::RRF_RT_REG_SZ,
                             &type, &data),
            os::ERROR_SUCCESS);
  EXPECT_EQ(type, os::REG_SZ);
  EXPECT_EQ(data, text) << "no zero added, none removed";
  EXPECT_EQ(os::RegGetValueA(os::HKEY_CURRENT_USER, "Software\\A\\B", "n", os::RRF_RT_ANY,
                             nullptr, &data),
            os::ERROR_SUCCESS);
  EXPECT_EQ(data, std::string("\7\0\0\0", 4));
  data = "untouched";
  EXPECT_EQ(os::RegGetValueA(os::HKEY_CURRENT_USER, "Software\\A\\B", "n",
                             os::RRF_RT_REG_SZ | os::RRF_RT_REG_EXPAND_SZ, &type, &data),
            static_cast<LONG>(os::ERROR_UNSUPPORTED_TYPE));
  EXPECT_EQ(os::RegGetValueA(os::HKEY_CURRENT_USER, "Software\\A\\None", "n", os::RRF_RT_ANY,
                             &type, &data),
            os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::RegGetValueA(os::HKEY_CURRENT_USER, "Software\\A\\B", "none", os::RRF_RT_ANY,
                             &type, &data),
            os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(data, "untouched");
  EXPECT_EQ(os::RegSetKeyValueA(os::HKEY_CURRENT_USER, "Software\\\\Bad", "v", os::REG_SZ, "", 1),
            os::ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, AScopedKeyIsClosedWhenItGoesAndThePredefinedKeysNever) {
  HKEY raw = nullptr;
  {
    Key key;
    ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software", 0, os::KEY_READ, key.Receive()),
              os::ERROR_SUCCESS);
    raw = key.get();
    Key predefined(os::HKEY_CURRENT_USER);
  }
  DWORD size = 0;
  EXPECT_EQ(os::RegQueryValueExA(raw, "x", nullptr, nullptr, nullptr, &size),
            os::ERROR_INVALID_HANDLE);
  Key again;
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software", 0, os::KEY_READ, again.Receive()),
            os::ERROR_SUCCESS);
}

}  // namespace
