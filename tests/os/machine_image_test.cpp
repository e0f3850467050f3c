#include <gtest/gtest.h>

#include <filesystem>

#include "os/base/error.h"
#include "os/image/machine.h"
#include "os/image/win_path.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::testing::ImageTest;

struct ParseCase {
  const char* text;
  os::DWORD error;
  const char* normalised;
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class MachineImageParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MachineImageParse, NormalisesOrRefuses) {
  const ParseCase& c = GetParam();
  os::WinPath p;
  p.parts = {"untouched"};
  EXPECT_EQ(os::ParseWinPath(c.text, &p), c.error) << c.text;
  if (c.error == os::ERROR_SUCCESS) {
    EXPECT_EQ(p.ToString(), c.normalised) << c.text;
  } else {
    EXPECT_EQ(p.parts, std::vector<std::string>{"untouched"}) << "output changed for " << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, MachineImageParse,
    ::testing::Values(ParseCase{"C:\\Windows\\system32", 0, "C:\\Windows\\system32"},
                      ParseCase{"c:/a//b\\.\\c", 0, "C:\\a\\b\\c"},
                      ParseCase{"c:", 0, "C:\\"},
                      ParseCase{"c:\\a\\..\\..\\..\\b", 0, "C:\\b"},
                      ParseCase{"C:\\dir\\name. ", 0, "C:\\dir\\name"},
                      ParseCase{"", os::ERROR_PATH_NOT_FOUND, ""},
                      ParseCase{"relative\\file.txt", os::ERROR_PATH_NOT_FOUND, ""},
                      ParseCase{"\\rooted\\file.txt", os::ERROR_PATH_NOT_FOUND, ""},
                      ParseCase{"\\\\server\\share\\x", os::ERROR_INVALID_NAME, ""},
                      ParseCase{"C:\\a\\b?c", os::ERROR_INVALID_NAME, ""},
                      ParseCase{"C:\\a\\b:c", os::ERROR_INVALID_NAME, ""}));

TEST(MachineImageParseLength, TooLongPathsAreRefused) {
  os::WinPath p;
  EXPECT_EQ(os::ParseWinPath("C:\\" + std::string(256, 'a'), &p), os::ERROR_FILENAME_EXCED_RANGE);
  std::string deep = "C:";
  while (deep.size() < 300) deep += "\\abcdefgh";
  EXPECT_EQ(os::ParseWinPath(deep, &p), os::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(os::ParseWinPath("C:\\" + std::string(200, 'a'), &p), os::ERROR_SUCCESS);
}

class MachineImageTest : public ImageTest {};

TEST_F(MachineImageTest, DriveCMapsBelowThePrefixAndOtherLettersOnlyWhenAsked) {
  EXPECT_EQ(Host("C:\\Windows"), prefix() + "/drive_c/Windows");
  std::string host;
  EXPECT_EQ(machine().ToHostPath("Q:\\x", &host), os::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(machine().ToHostPath("Z:\\etc\\hostname", &host), os::ERROR_PATH_NOT_FOUND)
      << "the host's root is mapped without being asked for";
  os::ImageSettings s = machine().settings();
  s.drives['Z'] = "/";
  Reconfigure(s);
  EXPECT_EQ(Host("z:\\etc\\hostname"), "/etc/hostname");
}

TEST_F(MachineImageTest, ExistingComponentsAreFoundWithoutRegardToCase) {
  PutFile("C:\\Program Files\\Vendor\\App.EXE", "x");
  EXPECT_EQ(Host("c:\\PROGRAM FILES\\vendor\\app.exe"), prefix() + "/drive_c/Program Files/Vendor/App.EXE");
  // A missing component keeps the case it was given, below an existing one found without case.
  EXPECT_EQ(Host("C:\\program files\\NewDir\\File.txt"), prefix() + "/drive_c/Program Files/NewDir/File.txt");
}

TEST_F(MachineImageTest, DotDotNeverLeavesTheDriveFolder) {
  std::string host;
  ASSERT_EQ(machine().ToHostPath("C:\\..\\..\\..\\etc\\passwd", &host), os::ERROR_SUCCESS);
  EXPECT_EQ(host, prefix() + "/drive_c/etc/passwd");
}

TEST_F(MachineImageTest, LinkOutOfTheDriveIsRefused) {
  std::filesystem::create_directory_symlink("/etc", prefix() + "/drive_c/escape");
  std::string host;
  EXPECT_EQ(machine().ToHostPath("C:\\escape\\hostname", &host), os::ERROR_ACCESS_DENIED);
}

TEST_F(MachineImageTest, KnownFoldersAreCreatedOnFirstUse) {
  EXPECT_FALSE(HostExists("C:\\Users\\user\\AppData\\LocalLow"));
  EXPECT_EQ(machine().FolderPath(os::KnownFolder::kLocalAppDataLow), "C:\\Users\\user\\AppData\\LocalLow");
  EXPECT_TRUE(HostExists("C:\\Users\\user\\AppData\\LocalLow"));
  EXPECT_EQ(machine().FolderPath(os::KnownFolder::kSystem), "C:\\Windows\\system32");
}

TEST_F(MachineImageTest, SettingsPersistAcrossOpens) {
  os::ImageSettings s = machine().settings();
  s.os_major = 5;
  s.drives['D'] = prefix() + "/data";
  s.drives['Z'] = "/";
  Reconfigure(s);
  EXPECT_EQ(machine().settings().os_major, 5);
  EXPECT_EQ(machine().DriveRoot('d'), prefix() + "/data");
  EXPECT_EQ(machine().ToWinPath(prefix() + "/drive_c/Windows/x.dll"), "C:\\Windows\\x.dll");
  EXPECT_EQ(machine().ToWinPath("/etc/hosts"), "Z:\\etc\\hosts");
}

}  // namespace
