#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "actions/registry_ops.h"
#include "os/base/error.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::testing::FakeRunContext;

constexpr char kTime[] = "[2024-01-02_03:04:05]";
constexpr char kWriteFailed[] = " Registry Write Failed!! Check Regsity setting.";

class RegistryOpsTest : public pelisto::testing::UiTest {
 protected:
  void TearDown() override {
    pelisto::ReleaseBroker();
    UiTest::TearDown();
  }

  FakeRunContext& Context(int os_major, bool number_mode = false) {
    SetOsMajor(os_major);
    context_ = std::make_unique<FakeRunContext>();
    context_->state.number_mode = number_mode;
    return *context_;
  }

  struct Value {
    os::LONG rc = -1;
    os::DWORD type = 0;
    std::string data;
  };
  // The value as stored, read with the registry calls themselves.
  static Value Stored(os::HKEY root, const std::string& key_path, const std::string& name) {
    Value v;
    os::HKEY key = nullptr;
    v.rc = os::RegOpenKeyExA(root, key_path.c_str(), 0, os::KEY_READ, &key);
    if (v.rc != os::ERROR_SUCCESS) return v;
    os::DWORD size = 0;
    v.rc = os::RegQueryValueExA(key, name.c_str(), nullptr, &v.type, nullptr, &size);
    if (v.rc == os::ERROR_SUCCESS) {
      v.data.assign(size, '\0');
      v.rc = os::RegQueryValueExA(key, name.c_str(), nullptr, &v.type,
                                  reinterpret_cast<os::BYTE*>(v.data.data()), &size);
    }
    os::RegCloseKey(key);
    return v;
  }

  static void Put(os::HKEY root, const std::string& key_path, const std::string& name,
                  os::DWORD type, const std::string& bytes) {
    os::HKEY key = nullptr;
    ASSERT_EQ(os::RegCreateKeyExA(root, key_path.c_str(), 0, nullptr, 0, os::KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
              os::ERROR_SUCCESS);
    ASSERT_EQ(os::RegSetValueExA(key, name.c_str(), 0, type,
                                 reinterpret_cast<const os::BYTE*>(bytes.data()),
                                 static_cast<os::DWORD>(bytes.size())),
              os::ERROR_SUCCESS);
    os::RegCloseKey(key);
  }

  static std::string Dword(os::DWORD v) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &v, 4);
    return bytes;
  }

  std::unique_ptr<FakeRunContext> context_;
};

std::vector<std::string> Lines(const FakeRunContext& c) {
  std::vector<std::string> out;
  for (const auto& line : c.log) out.push_back(std::to_string(line.level) + ":" + line.text);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Names

struct RootCase {
  const char* name;
  os::HKEY write_root;
  os::HKEY read_root;
};

void PrintTo(const RootCase& c, std::ostream* out) { *out << '"' << c.name << '"'; }

class RegistryOpsRootNames : public ::testing::TestWithParam<RootCase> {};

TEST_P(RegistryOpsRootNames, WriteLookupFallsBackToLocalMachineReadLookupToNone) {
  EXPECT_EQ(pelisto::WriteRootFromName(GetParam().name), GetParam().write_root);
  EXPECT_EQ(pelisto::RootKeyFromName(GetParam().name), GetParam().read_root);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RegistryOpsRootNames,
    ::testing::Values(RootCase{"HKEY_CLASSES_ROOT", os::HKEY_CLASSES_ROOT, os::HKEY_CLASSES_ROOT},
                      RootCase{"hkey_current_user", os::HKEY_CURRENT_USER, os::HKEY_CURRENT_USER},
                      RootCase{"HKEY_LOCAL_MACHINE", os::HKEY_LOCAL_MACHINE, os::HKEY_LOCAL_MACHINE},
                      RootCase{"Hkey_Users", os::HKEY_USERS, os::HKEY_USERS},
                      RootCase{"HKEY_CURRENT_CONFIG", os::HKEY_CURRENT_CONFIG, os::HKEY_CURRENT_CONFIG},
                      RootCase{"HKCU", os::HKEY_LOCAL_MACHINE, nullptr},
                      RootCase{"HKEY_CURRENT_USER\\", os::HKEY_LOCAL_MACHINE, nullptr},
                      RootCase{" HKEY_USERS", os::HKEY_LOCAL_MACHINE, nullptr},
                      RootCase{"", os::HKEY_LOCAL_MACHINE, nullptr}));

TEST(RegistryOpsNames, ValueTypes) {
  EXPECT_EQ(pelisto::ValueTypeFromName("STRING"), 0);
  EXPECT_EQ(pelisto::ValueTypeFromName("string"), 0);
  EXPECT_EQ(pelisto::ValueTypeFromName("Number"), 1);
  EXPECT_EQ(pelisto::ValueTypeFromName("NUMBERS"), 2);
  EXPECT_EQ(pelisto::ValueTypeFromName("BINARY"), 2);
  EXPECT_EQ(pelisto::ValueTypeFromName(""), 2);
}

class RegistryOpsDecimal
    : public ::testing::TestWithParam<std::tuple<const char*, os::LONG>> {};

TEST_P(RegistryOpsDecimal, ReadsLeadingDigits) {
  EXPECT_EQ(pelisto::DecimalValue(std::get<0>(GetParam())), std::get<1>(GetParam()))
      << '"' << std::get<0>(GetParam()) << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RegistryOpsDecimal,
    ::testing::Values(std::make_tuple("12abc", 12), std::make_tuple("abc", 0),
                      std::make_tuple("", 0), std::make_tuple(" \t-7x", -7),
                      std::make_tuple("+5", 5), std::make_tuple("- 5", 0),
                      std::make_tuple("0x10", 0), std::make_tuple("007", 7),
                      std::make_tuple("2147483647", INT_MAX),
                      std::make_tuple("4294967295", INT_MAX),
                      std::make_tuple("-2147483648", INT_MIN),
                      std::make_tuple("-99999999999999999999999", INT_MIN)));

// ---------------------------------------------------------------------------------------------
// Writes

// Windows 5: the control writes itself and logs each write.
TEST_F(RegistryOpsTest, CreatesEveryLevelThenUpdates) {
  FakeRunContext& c = Context(5);
  const std::string key = "Software\\Vendor\\App\\Deep";
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", key, "ver", "1.0"), 1);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", key, "ver", "1.1"), 1);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:" + std::string(kTime) + " " + key + " ver 1.0 Registry Create Success.",
                          "0:" + std::string(kTime) + " " + key + " ver 1.1 Registry Update Success."}));
  const Value v = Stored(os::HKEY_CURRENT_USER, key, "ver");
  EXPECT_EQ(v.type, os::REG_SZ);
  EXPECT_EQ(v.data, std::string("1.1", 4)) << "stored with its terminating zero";
}

// regRoot is looked up without case, and an unknown name (an abbreviation) means the local
// machine, where reads by that name find nothing.
TEST_F(RegistryOpsTest, RootNamesOfWritesAndReads) {
  FakeRunContext& c = Context(5);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "hkey_current_user", "Software\\V", "a", "user"), 1);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKCU", "Software\\V", "a", "machine"), 1);
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\V", "a").data, std::string("user", 5));
  EXPECT_EQ(Stored(os::HKEY_LOCAL_MACHINE, "Software\\V", "a").data, std::string("machine", 8));
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKCU", "Software\\V", "a", "STRING"), "");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_LOCAL_MACHINE", "Software\\V", "a", "string"),
            "machine");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "Hkey_Current_User", "Software\\V", "a", "STRING"),
            "user");
}

struct NumberCase {
  bool number_mode;
  const char* data;
  os::DWORD type;
  std::string stored;
};

class RegistryOpsNumberMode : public RegistryOpsTest,
                              public ::testing::WithParamInterface<std::tuple<NumberCase, int>> {};

TEST_P(RegistryOpsNumberMode, DecidesTheValueType) {
  const auto& [k, version] = GetParam();
  FakeRunContext& c = Context(version, k.number_mode);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\V", "n", k.data), 1);
  const Value v = Stored(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "n");
  EXPECT_EQ(v.type, k.type) << k.data;
  EXPECT_EQ(v.data, k.stored) << k.data;
}

INSTANTIATE_TEST_SUITE_P(
    Data, RegistryOpsNumberMode,
    ::testing::Combine(
        ::testing::Values(NumberCase{true, "12abc", os::REG_DWORD, std::string("\x0c\0\0\0", 4)},
                          NumberCase{true, "abc", os::REG_DWORD, std::string(4, '\0')},
                          NumberCase{true, "-1", os::REG_DWORD, std::string(4, '\xff')},
                          NumberCase{false, "12abc", os::REG_SZ, std::string("12abc", 6)},
                          NumberCase{false, "", os::REG_SZ, std::string(1, '\0')}),
        ::testing::Values(5, 6)),
    [](const auto& info) {
      return "Case" + std::to_string(info.index) + "_Windows" +
             std::to_string(std::get<1>(info.param));
    });

TEST_F(RegistryOpsTest, NumberWriteLogsTheNumber) {
  FakeRunContext& c = Context(5, true);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE", "n", " -42 apples"), 1);
  EXPECT_EQ(Lines(c), std::vector<std::string>{"0:" + std::string(kTime) +
                                               " SOFTWARE n -42 Registry Update Success."});
}

// Key paths and value names the registry refuses: a failed write and its line, nothing made.
struct BadPath {
  const char* name;
  std::string key;
  std::string value_name;
};

void PrintTo(const BadPath& c, std::ostream* out) { *out << c.name; }

class RegistryOpsBadPath : public RegistryOpsTest,
                           public ::testing::WithParamInterface<std::tuple<BadPath, int>> {};

TEST_P(RegistryOpsBadPath, IsAFailedWrite) {
  const auto& [k, version] = GetParam();
  FakeRunContext& c = Context(version);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", k.key, k.value_name, "x"), 0)
      << k.name;
  if (version < 6) {
    EXPECT_EQ(Lines(c), std::vector<std::string>{"2:" + std::string(kTime) + " " + k.key + " " +
                                                 k.value_name + " x" + kWriteFailed});
  } else {
    EXPECT_TRUE(c.log.empty()) << "the caller logs a failed broker write";
  }
  EXPECT_NE(Stored(os::HKEY_CURRENT_USER, "Software\\Vendor", k.value_name).rc,
            os::ERROR_SUCCESS);
  os::HKEY key = nullptr;
  EXPECT_NE(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software\\Vendor\\App", 0, os::KEY_READ, &key),
            os::ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RegistryOpsBadPath,
    ::testing::Combine(
        ::testing::Values(BadPath{"leading_separator", "\\Software\\Vendor\\App", "v"},
                          BadPath{"empty_level", "Software\\\\Vendor\\App", "v"},
                          BadPath{"empty_level_at_the_end", "Software\\Vendor\\App\\\\\\x", "v"},
                          BadPath{"level_too_long", "Software\\Vendor\\App\\" + std::string(256, 'k'), "v"},
                          // The key opens; only the value is refused.
                          BadPath{"value_name_too_long", "Software", std::string(16384, 'n')}),
        ::testing::Values(5, 6)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_Windows" +
             std::to_string(std::get<1>(info.param));
    });

// Separators at the end are no level of their own, for the registry as on Windows.
TEST_F(RegistryOpsTest, TrailingSeparatorsNameTheKeyItself) {
  FakeRunContext& c = Context(5);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", "Software\\Vendor\\", "a", "1"), 1);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", "Software\\Vendor\\\\", "b", "2"), 1);
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\Vendor", "a").data, std::string("1", 2));
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\Vendor", "b").data, std::string("2", 2));
}

// From Windows 6 on the control may not write the local machine itself; the broker may.
TEST_F(RegistryOpsTest, Windows6WritesMachineValuesOnlyThroughTheBroker) {
  FakeRunContext& c = Context(6);
  EXPECT_EQ(pelisto::WriteRegistryString(c, os::HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a", "x"), 0);
  EXPECT_EQ(pelisto::WriteRegistryNumber(c, os::HKEY_LOCAL_MACHINE, "SOFTWARE", "b", 1), 0);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "2:" + std::string(kTime) + " SOFTWARE\\V a x" + kWriteFailed,
                          "2:" + std::string(kTime) + " SOFTWARE b 1" + kWriteFailed}));
  c.log.clear();
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\V", "a", "x"), 1);
  EXPECT_EQ(Stored(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a").data, std::string("x", 2));
  EXPECT_TRUE(c.log.empty());
}

TEST_F(RegistryOpsTest, Windows6WithoutABrokerWritesNothing) {
  FakeRunContext& c = Context(6, true);
  os::ImageSettings s = machine().settings();
  s.refuse_elevation = true;
  Reconfigure(s);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", "Software\\V", "n", "5"), 0);
  EXPECT_NE(Stored(os::HKEY_CURRENT_USER, "Software\\V", "n").rc, os::ERROR_SUCCESS);
  ASSERT_EQ(ui().Boxes().size(), 1u);
  EXPECT_EQ(ui().Boxes()[0].text, "Create Brokerprocess failed...[IFileManager]");
}

// ---------------------------------------------------------------------------------------------
// Reads

TEST_F(RegistryOpsTest, StringReadStopsAtTheZeroOrTheSize) {
  Context(5);
  Put(os::HKEY_CURRENT_USER, "Software\\R", "unterminated", os::REG_SZ, "abc");
  Put(os::HKEY_CURRENT_USER, "Software\\R", "terminated", os::REG_SZ, std::string("abc", 4));
  Put(os::HKEY_CURRENT_USER, "Software\\R", "inner_zero", os::REG_SZ, std::string("ab\0cd", 5));
  Put(os::HKEY_CURRENT_USER, "Software\\R", "empty", os::REG_SZ, "");
  Put(os::HKEY_CURRENT_USER, "Software\\R", "binary", os::REG_BINARY, "raw");
  Put(os::HKEY_CURRENT_USER, "Software\\R", "", os::REG_SZ, std::string("default", 8));
  const auto read = [](const char* name) {
    return pelisto::ReadRegistryString(os::HKEY_CURRENT_USER, "Software\\R", name);
  };
  EXPECT_EQ(read("unterminated"), "abc");
  EXPECT_EQ(read("terminated"), "abc");
  EXPECT_EQ(read("inner_zero"), "ab");
  EXPECT_EQ(read("empty"), "");
  EXPECT_EQ(read("binary"), "raw") << "the stored type is not looked at";
  EXPECT_EQ(read(""), "default");
  EXPECT_EQ(read("absent"), "");
  EXPECT_EQ(pelisto::ReadRegistryString(os::HKEY_CURRENT_USER, "Software\\None", "x"), "");
  EXPECT_EQ(pelisto::ReadRegistryString(nullptr, "Software\\R", "terminated"), "");
}

TEST_F(RegistryOpsTest, NumberReadsAndTheirLines) {
  FakeRunContext& c = Context(5);
  Put(os::HKEY_CURRENT_USER, "Software\\N", "twelve", os::REG_DWORD, Dword(12));
  Put(os::HKEY_CURRENT_USER, "Software\\N", "minus", os::REG_DWORD, Dword(0xFFFFFFFB));
  Put(os::HKEY_CURRENT_USER, "Software\\N", "wide", os::REG_BINARY, std::string(8, '\1'));
  const auto read = [&](const char* name, const char* type) {
    return pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\N", name, type);
  };
  EXPECT_EQ(read("twelve", "NUMBER"), "12");
  EXPECT_EQ(read("minus", "number"), "-5");
  EXPECT_EQ(read("wide", "Number"), "-1");
  EXPECT_EQ(read("absent", "NUMBER"), "-1");
  const std::string t(kTime);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:" + t + " Software\\N twelve 12 Registry long data read success.",
                          "0:" + t + " Software\\N minus -5 Registry long data read success.",
                          "2:" + t + " Software\\N wide Registry long data did not exist. ",
                          "2:" + t + " Software\\N absent Registry long data did not exist. "}));
  c.log.clear();
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\None", "x", "NUMBER"),
            "-1");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKCU", "Software\\N", "twelve", "NUMBER"), "-1");
  EXPECT_TRUE(c.log.empty()) << "a key that does not open gives no line";
}

// Any type other than STRING and NUMBER reads nothing: not the text of an existing value, and
// no line for a missing one.
TEST_F(RegistryOpsTest, OtherTypesReadEmptyWithoutALookup) {
  FakeRunContext& c = Context(5);
  Put(os::HKEY_CURRENT_USER, "Software\\B", "v", os::REG_SZ, std::string("text", 5));
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\B", "v", "STRING"), "text");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\B", "v", "BINARY"), "");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\B", "x", "DWORD"), "");
  EXPECT_TRUE(c.log.empty());
}

// A control that is not elevated still reads the local machine's numbers.
TEST_F(RegistryOpsTest, Windows6ReadsMachineNumbers) {
  FakeRunContext& c = Context(6, true);
  ASSERT_EQ(pelisto::WriteRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\V", "n", "77"), 1);
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\V", "n", "NUMBER"), "77");
  EXPECT_EQ(pelisto::ReadRegistryNumber(c, os::HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "n"), 77);
}

}  // namespace
