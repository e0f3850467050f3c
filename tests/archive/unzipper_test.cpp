// CUnzipper on a machine image, before Windows 6 (direct writes) and from 6 on (the per-user
// work file and the broker).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include "archive/unzipper.h"
#include "control/privileged_ops.h"
#include "os/base/handle.h"
#include "os/base/text.h"
#include "os/fs/file_api.h"
#include "tests/archive/zip_builder.h"
#include "tests/archive/zip_test_fixture.h"
#include "tests/fixtures/fixture_ids.h"

namespace {
namespace fx = pelisto::fixtures;
using pelisto::CUnzipper;
using pelisto::UnzipFileInfo;
using namespace pelisto::testing;

constexpr char kArchive[] = "C:\\Temp\\pkg\\a.zip";
constexpr char kOut[] = "C:\\Temp\\pkg\\";
constexpr char kVendor[] = "C:\\Program Files\\Vendor\\";

// The host's seconds for a DOS date and time read as local time.
std::time_t LocalSeconds(std::uint32_t dos) {
  std::tm tm{};
  tm.tm_year = static_cast<int>((dos >> 25) + 80);
  tm.tm_mon = static_cast<int>(((dos >> 21) & 0xF) - 1);
  tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::time_t ModifiedSeconds(const std::string& host) {
  struct stat st {};
  if (stat(host.c_str(), &st) != 0) return -1;
  return st.st_mtime;
}

class ZipUnzipper : public ZipTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    Context(GetParam());
  }
  // Every box text shown so far.
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> out;
    for (const auto& box : ui().Boxes()) out.push_back(box.text);
    return out;
  }
  std::string Component(const char* fixture) {
    return ReadHostFile(std::string(PELISTO_FIXTURE_DIR) + "/" + fixture);
  }
};

INSTANTIATE_TEST_SUITE_P(Windows, ZipUnzipper, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_P(ZipUnzipper, WritesMembersWithTheirFoldersAndTimes) {
  const std::uint32_t when = DosDateTime(2019, 3, 4, 5, 6, 8);
  ZipMember deep{.name = "sub/dir/file.txt", .data = "deep", .dos_date = when};
  ZipMember top{.name = "top.bin", .data = std::string(100000, '\x01'), .method = kStored};
  PutZip(kArchive, BuildZip({deep, Folder("empty/"), top}));
  const auto before = Tree();

  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  EXPECT_EQ(unzipper.OutputFolder(), kOut);
  EXPECT_EQ(unzipper.GetFileCount(), 3);
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  EXPECT_EQ(GetFile("C:\\Temp\\pkg\\sub\\dir\\file.txt"), "deep");
  EXPECT_TRUE(GetFile("C:\\Temp\\pkg\\top.bin") == top.data);
  EXPECT_TRUE(os::IsDirectory("C:\\Temp\\pkg\\empty"));
  EXPECT_EQ(ModifiedSeconds(Host("C:\\Temp\\pkg\\sub\\dir\\file.txt")), LocalSeconds(when));
  EXPECT_TRUE(unzipper.CloseZip());
  EXPECT_EQ(unzipper.OutputFolder(), "");
  // No work file stays behind, beside the members or in the per-user folder.
  EXPECT_EQ(NewOutside(before, {kOut}), std::vector<std::string>{});
  const auto after = Tree();
  for (const std::string& entry : after) {
    EXPECT_EQ(entry.find(".tmp"), std::string::npos) << entry;
  }
  EXPECT_TRUE(ui().Boxes().empty());
}

TEST_P(ZipUnzipper, ProtectedFoldersAreWrittenThroughThePrivilegedSteps) {
  const std::uint32_t when = DosDateTime(2020, 1, 2, 3, 4, 6);
  ZipMember member{.name = "bin/app.dat", .data = "payload", .dos_date = when};
  PutZip(std::string(kVendor) + "a.zip", BuildZip({member}));
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(std::string(kVendor) + "a.zip"));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  EXPECT_EQ(GetFile(std::string(kVendor) + "bin\\app.dat"), "payload");
  // The broker's copy keeps the time the work file was given.
  EXPECT_EQ(ModifiedSeconds(Host(std::string(kVendor) + "bin\\app.dat")), LocalSeconds(when));
}

TEST_P(ZipUnzipper, WalksAndFiltersByExtension) {
  PutZip(kArchive, BuildZip({{.name = "a.txt", .data = "a"},
                             {.name = "b.DLL", .data = "b"},
                             {.name = "dir.dll/c", .data = "c"},
                             {.name = "d.dll", .data = "d"}}));
  CUnzipper unzipper(context());
  EXPECT_FALSE(unzipper.GotoFirstFile());
  EXPECT_EQ(unzipper.GetFileCount(), 0);
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  UnzipFileInfo info;
  ASSERT_TRUE(unzipper.GotoFirstFile("dll"));
  ASSERT_TRUE(unzipper.GetFileInfo(&info));
  EXPECT_EQ(info.name, "b.DLL");
  ASSERT_TRUE(unzipper.GotoNextFile(".dll"));
  ASSERT_TRUE(unzipper.GetFileInfo(&info));
  EXPECT_EQ(info.name, "d.dll");
  EXPECT_FALSE(unzipper.GotoNextFile("dll"));

  EXPECT_FALSE(unzipper.GotoFile(-1));
  EXPECT_FALSE(unzipper.GotoFile(4));
  ASSERT_TRUE(unzipper.GotoFile(2));
  ASSERT_TRUE(unzipper.GetFileInfo(&info));
  EXPECT_EQ(info.name, "dir.dll\\c");
  EXPECT_FALSE(info.directory);
}

TEST_P(ZipUnzipper, RegistersComponentsButNeverTheViewerControl) {
  const std::string component = Component("selfreg.ocx");
  PutZip(kArchive, BuildZip({{.name = "x.DLL", .data = component, .method = kStored},
                             {.name = "viewer/BRINDLE.OCX", .data = component, .method = kStored},
                             {.name = "x.dll.bak", .data = component, .method = kStored}}));
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  EXPECT_EQ(GetFile(std::string(kOut) + "x.DLL" + fx::kMarkSuffix), "DllRegisterServer\n");
  EXPECT_FALSE(HostExists(std::string(kOut) + "viewer\\BRINDLE.OCX" + fx::kMarkSuffix));
  EXPECT_FALSE(HostExists(std::string(kOut) + "x.dll.bak" + fx::kMarkSuffix));
  EXPECT_TRUE(ui().Boxes().empty());
}

TEST_P(ZipUnzipper, AFailedRegistrationIsReportedOnlyInTheControlsProcess) {
  PutZip(kArchive, BuildZip({{.name = "plain.ocx", .data = "not a component", .method = kStored}}));
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  const auto boxes = ui().Boxes();
  if (GetParam() < 6) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, os::Utf8ToAnsi("압축을 푸는 동안 ocx파일을 등록하지 못했습니다."));
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, 0x50000u);
  } else {
    EXPECT_TRUE(boxes.empty());
  }
}

// Names that would put a member anywhere but below the folder are skipped, one line each.
TEST_P(ZipUnzipper, UnsafeNamesAreSkippedAndLogged) {
  const std::vector<std::string> unsafe = {
      "../escape.txt",  "..\\escape2.txt", "sub/../../escape3.txt", "/abs.txt",
      "\\abs2.txt",     "C:x.txt",         "C:\\Windows\\evil.dll", "a/.../b.txt",
      std::string(300, 'n'),
  };
  std::vector<ZipMember> members;
  for (const std::string& name : unsafe) members.push_back({.name = name, .data = "evil"});
  members.push_back({.name = "good.txt", .data = "good"});
  PutZip("C:\\Temp\\deep\\pkg\\a.zip", BuildZip(members));
  const auto before = Tree();

  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip("C:\\Temp\\deep\\pkg\\a.zip"));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  EXPECT_EQ(GetFile("C:\\Temp\\deep\\pkg\\good.txt"), "good");
  EXPECT_EQ(NewOutside(before, {"C:\\Temp\\deep\\pkg"}), std::vector<std::string>{});
  int skipped = 0;
  for (const auto& line : context().log) {
    if (line.text.find("member skipped") != std::string::npos) {
      ++skipped;
      EXPECT_EQ(line.level, 1u) << line.text;
    }
  }
  EXPECT_EQ(skipped, static_cast<int>(unsafe.size()));
}

TEST_P(ZipUnzipper, LinksAreWrittenAsPlainFiles) {
  PutZip(kArchive, BuildZip({Symlink("link", "/etc/passwd"), Symlink("up", "../../..")}));
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  ASSERT_TRUE(unzipper.Unzip(unzipper.OutputFolder()));
  for (const char* name : {"link", "up"}) {
    struct stat st {};
    ASSERT_EQ(lstat(Host(std::string(kOut) + name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
  }
  EXPECT_EQ(GetFile(std::string(kOut) + "link"), "/etc/passwd");
}

// A member whose data does not check out fails, and what its target held stays.
TEST_P(ZipUnzipper, BadDataFailsTheMemberAndKeepsTheTarget) {
  PutFile(std::string(kOut) + "keep.txt", "old content");
  ZipMember crc{.name = "keep.txt", .data = "new content", .bad_crc = true};
  ZipMember method{.name = "method.txt", .data = "xx", .method = 14};
  PutZip(kArchive, BuildZip({crc, method}));
  const auto before = Tree();
  CUnzipper unzipper(context());
  ASSERT_TRUE(unzipper.OpenZip(kArchive));
  ASSERT_TRUE(unzipper.GotoFirstFile());
  EXPECT_FALSE(unzipper.UnzipFile());
  EXPECT_EQ(GetFile(std::string(kOut) + "keep.txt"), "old content");
  ASSERT_TRUE(unzipper.GotoNextFile());
  EXPECT_FALSE(unzipper.UnzipFile());
  EXPECT_FALSE(HostExists(std::string(kOut) + "method.txt"));
  EXPECT_EQ(NewOutside(before, {}), std::vector<std::string>{});
}

TEST_P(ZipUnzipper, FolderCreation) {
  CUnzipper unzipper(context());
  EXPECT_FALSE(unzipper.CreateFolder(""));
  EXPECT_TRUE(unzipper.CreateFolder("C:\\Temp\\a\\b\\c\\"));
  EXPECT_TRUE(os::IsDirectory("C:\\Temp\\a\\b\\c"));
  EXPECT_TRUE(unzipper.CreateFolder("C:\\Temp\\a\\b"));
  PutFile("C:\\Temp\\file", "x");
  EXPECT_FALSE(unzipper.CreateFolder("C:\\Temp\\file"));
  EXPECT_FALSE(unzipper.CreateFolder("C:\\Temp\\file\\below"));
  EXPECT_TRUE(unzipper.CreateFilePath("C:\\Temp\\x\\y\\z.txt"));
  EXPECT_TRUE(os::IsDirectory("C:\\Temp\\x\\y"));
  EXPECT_FALSE(os::FileExists("C:\\Temp\\x\\y\\z.txt"));
}

TEST_P(ZipUnzipper, SetsTheModificationTime) {
  PutFile("C:\\Temp\\t.txt", "t");
  CUnzipper unzipper(context());
  const std::uint32_t when = DosDateTime(2001, 12, 31, 23, 59, 58);
  EXPECT_TRUE(unzipper.SetFileModTime("C:\\Temp\\t.txt", when));
  EXPECT_EQ(ModifiedSeconds(Host("C:\\Temp\\t.txt")), LocalSeconds(when));
  EXPECT_FALSE(unzipper.SetFileModTime("C:\\Temp\\missing.txt", when));
  EXPECT_FALSE(unzipper.SetFileModTime("C:\\Temp\\t.txt", 0));  // month 0 is no date
}

TEST_P(ZipUnzipper, OpenRefusesWhatItCannotRead) {
  CUnzipper unzipper(context());
  EXPECT_FALSE(unzipper.OpenZip(""));
  EXPECT_FALSE(unzipper.OpenZip("relative\\a.zip"));
  EXPECT_FALSE(unzipper.OpenZip("C:\\Temp\\missing.zip"));
  PutFile("C:\\Temp\\text.zip", "just text");
  EXPECT_FALSE(unzipper.OpenZip("C:\\Temp\\text.zip"));
  EXPECT_FALSE(unzipper.IsOpen());
  EXPECT_FALSE(unzipper.UnzipFile());
  EXPECT_FALSE(unzipper.CloseZip());
}

}  // namespace
