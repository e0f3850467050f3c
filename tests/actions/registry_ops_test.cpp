#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "actions/registry_ops.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::testing::FakeRunContext;

const std::string kTime = "[2024-01-02_03:04:05]";

class RegistryOpsTest : public pelisto::testing::UiTest {
 protected:
  void TearDown() override {
    pelisto::ReleaseBroker();
    UiTest::TearDown();
  }

  // The context after the image's version is set; it replaces the previous one.
  FakeRunContext& Context(int os_major, bool refuse_elevation = false) {
    os::ImageSettings s = machine().settings();
    s.os_major = os_major;
    s.refuse_elevation = refuse_elevation;
    Reconfigure(s);
    context_ = std::make_unique<FakeRunContext>();
    return *context_;
  }

  // The stored type and bytes, "<none>" when there is no such value.
  static std::string Stored(os::HKEY root, const std::string& key_path, const std::string& name) {
    os::HKEY key = nullptr;
    if (os::RegOpenKeyExA(root, key_path.c_str(), 0, os::KEY_READ, &key) != 0) return "<none>";
    os::DWORD type = 0, size = 0;
    std::string data;
    os::LONG rc = os::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == 0) {
      data.assign(size, '\0');
      rc = os::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                reinterpret_cast<os::BYTE*>(data.data()), &size);
    }
    os::RegCloseKey(key);
    return rc != 0 ? "<none>" : std::to_string(type) + ":" + data;
  }

  static void Put(const std::string& name, os::DWORD type, const std::string& bytes) {
    os::HKEY key = nullptr;
    ASSERT_EQ(os::RegCreateKeyExA(os::HKEY_CURRENT_USER, "Software\\R", 0, nullptr, 0,
                                  os::KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    ASSERT_EQ(os::RegSetValueExA(key, name.c_str(), 0, type,
                                 reinterpret_cast<const os::BYTE*>(bytes.data()),
                                 static_cast<os::DWORD>(bytes.size())), 0);
    os::RegCloseKey(key);
  }

  std::unique_ptr<FakeRunContext> context_;
};

std::vector<std::string> Lines(const FakeRunContext& c) {
  std::vector<std::string> out;
  for (const auto& line : c.log) out.push_back(std::to_string(line.level) + ":" + line.text);
  return out;
}

// Before Windows 6 the control writes itself and logs each write. Separators at the end name
// the key itself, as on Windows.
TEST_F(RegistryOpsTest, CreatesEveryLevelThenUpdates) {
  FakeRunContext& c = Context(5);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", "Software\\V\\App\\Deep", "ver", "1.0", false), 1);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", "Software\\V\\App\\Deep\\", "ver", "1.1", false), 1);
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:" + kTime + " Software\\V\\App\\Deep ver 1.0 Registry Create Success.",
                          "0:" + kTime + " Software\\V\\App\\Deep\\ ver 1.1 Registry Update Success."}));
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\V\\App\\Deep", "ver"), std::string("1:1.1", 6))
      << "stored with its terminating zero";
}

// regRoot ignores case; an abbreviation writes the local machine, and reads by that name
// find nothing.
TEST_F(RegistryOpsTest, RootNamesOfWritesAndReads) {
  FakeRunContext& c = Context(5);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "hkey_current_user", "Software\\V", "a", "user", false), 1);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKCU", "Software\\V", "a", "machine", false), 1);
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\V", "a"), std::string("1:user", 7));
  EXPECT_EQ(Stored(os::HKEY_LOCAL_MACHINE, "Software\\V", "a"), std::string("1:machine", 10));
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKCU", "Software\\V", "a", "STRING"), "");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "Hkey_Current_User", "Software\\V", "a", "string"), "user");
  EXPECT_EQ(pelisto::RootKeyFromName("HKEY_CURRENT_CONFIG"), os::HKEY_CURRENT_CONFIG);
  EXPECT_EQ(pelisto::WriteRootFromName("HKEY_CLASSES_ROOT\\"), os::HKEY_LOCAL_MACHINE);
}

// numberMode decides the type; the same on both paths.
class RegistryOpsNumberMode
    : public RegistryOpsTest,
      public ::testing::WithParamInterface<
          std::tuple<std::tuple<bool, const char*, const char*>, int>> {};

TEST_P(RegistryOpsNumberMode, DecidesTheValueType) {
  const auto& [write, version] = GetParam();
  const auto& [number_mode, data, stored] = write;
  FakeRunContext& c = Context(version);
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\V", "n", data, number_mode), 1);
  const std::string expected(stored, number_mode ? 6 : std::string(stored).size() + 1);
  EXPECT_EQ(Stored(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "n"), expected) << data;
}

INSTANTIATE_TEST_SUITE_P(
    Data, RegistryOpsNumberMode,
    ::testing::Combine(::testing::Values(std::make_tuple(true, "12abc", "4:\x0c\0\0\0"),
                                         std::make_tuple(true, "abc", "4:\0\0\0\0"),
                                         std::make_tuple(true, " -1x", "4:\xff\xff\xff\xff"),
                                         std::make_tuple(true, "99999999999", "4:\xff\xff\xff\x7f"),
                                         std::make_tuple(false, "12abc", "1:12abc")),
                       ::testing::Values(5, 6)),
    [](const auto& info) {
      return "Case" + std::to_string(info.index / 2) + "_Windows" + std::to_string(std::get<1>(info.param));
    });

// Only the exact "number" makes a number: "Number" writes the text as a string.
TEST(RegistryOpsNumberModeName, IsExactlyNumber) {
  EXPECT_TRUE(pelisto::NumberModeFromRegMode("number"));
  for (const char* other : {"Number", "NUMBER", "", "number ", "string"}) {
    EXPECT_FALSE(pelisto::NumberModeFromRegMode(other)) << '"' << other << '"';
  }
}

// Key paths and value names the registry refuses are failed writes, never a crash; the key
// that opened for an unwritable value is a failure too. The broker path leaves the line to
// its caller.
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
  EXPECT_EQ(pelisto::WriteRegistryValue(c, "HKEY_CURRENT_USER", k.key, k.value_name, "x", false), 0);
  if (version == 5) {
    EXPECT_EQ(Lines(c), std::vector<std::string>{"2:" + kTime + " " + k.key + " " + k.value_name +
                                                 " x Registry Write Failed!! Check Regsity setting."});
  } else {
    EXPECT_TRUE(c.log.empty());
  }
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\V", k.value_name), "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RegistryOpsBadPath,
    ::testing::Combine(::testing::Values(BadPath{"leading_separator", "\\Software\\V", "v"},
                                         BadPath{"empty_level", "Software\\\\V", "v"},
                                         BadPath{"empty_levels_inside", "Software\\V\\\\\\x", "v"},
                                         BadPath{"long_level", "Software\\V\\" + std::string(256, 'k'), "v"},
                                         BadPath{"long_value_name", "Software", std::string(16384, 'n')}),
                       ::testing::Values(5, 6)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_Windows" +
             std::to_string(std::get<1>(info.param));
    });

// From Windows 6 on only the broker writes: without one, nothing is written.
TEST_F(RegistryOpsTest, Windows6WithoutABrokerWritesNothing) {
  FakeRunContext& refused = Context(6, /*refuse_elevation=*/true);
  EXPECT_EQ(pelisto::WriteRegistryValue(refused, "HKEY_CURRENT_USER", "Software\\V", "n", "5", true), 0);
  EXPECT_EQ(Stored(os::HKEY_CURRENT_USER, "Software\\V", "n"), "<none>");
  EXPECT_EQ(ui().Boxes().size(), 1u);
}

TEST_F(RegistryOpsTest, StringReadStopsAtTheZeroOrTheSize) {
  Context(5);
  Put("unterminated", os::REG_SZ, "abc");
  Put("inner_zero", os::REG_SZ, std::string("ab\0cd", 5));
  Put("empty", os::REG_SZ, "");
  Put("binary", os::REG_BINARY, "raw");
  const auto read = [](const char* name) {
    return pelisto::ReadRegistryString(os::HKEY_CURRENT_USER, "Software\\R", name);
  };
  EXPECT_EQ(read("unterminated"), "abc");
  EXPECT_EQ(read("inner_zero"), "ab");
  EXPECT_EQ(read("empty"), "");
  EXPECT_EQ(read("binary"), "raw") << "the stored type is not looked at";
  EXPECT_EQ(read("absent"), "");
  EXPECT_EQ(pelisto::ReadRegistryString(nullptr, "Software\\R", "binary"), "");
}

// Numbers read on Windows 6 too, where the control may not open a machine key for writing.
TEST_F(RegistryOpsTest, NumberReadsAndTheirLines) {
  FakeRunContext& c = Context(6);
  ASSERT_EQ(pelisto::WriteRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\N", "minus", "-5", true), 1);
  Put("wide", os::REG_BINARY, std::string(8, '\1'));
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\N", "minus", "number"), "-5");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_LOCAL_MACHINE", "SOFTWARE\\N", "absent", "NUMBER"), "-1");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\R", "wide", "Number"), "-1");
  EXPECT_EQ(Lines(c), (std::vector<std::string>{
                          "0:" + kTime + " SOFTWARE\\N minus -5 Registry long data read success.",
                          "2:" + kTime + " SOFTWARE\\N absent Registry long data did not exist. ",
                          "2:" + kTime + " Software\\R wide Registry long data did not exist. "}));
  c.log.clear();
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKCU", "Software\\R", "wide", "NUMBER"), "-1");
  EXPECT_EQ(pelisto::ReadRegistryValue(c, "HKEY_CURRENT_USER", "Software\\R", "wide", "BINARY"), "");
  EXPECT_TRUE(c.log.empty()) << "a key that does not open, and other types, give no line";
}

}  // namespace
