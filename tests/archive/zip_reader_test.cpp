// The pieces without a machine image: the target folder rule, the member name check and the
// archive reader over archives held in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/member_name.h"
#include "archive/target_folder.h"
#include "archive/zip_archive.h"
#include "tests/archive/zip_builder.h"

namespace {
using pelisto::MemberNameProblem;
using pelisto::ZipArchive;
using pelisto::ZipEntry;
using namespace pelisto::testing;

struct FolderCase {
  const char* output;
  const char* target;
  const char* expected;
};

class ZipTargetFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ZipTargetFolder, PicksTheFolder) {
  const FolderCase& c = GetParam();
  EXPECT_EQ(pelisto::ApplyTargetFolderRule(c.output, c.target), c.expected)
      << c.output << " with " << c.target;
}

INSTANTIATE_TEST_SUITE_P(
    Rule, ZipTargetFolder,
    ::testing::Values(
        FolderCase{"D:\\Windows\\system32\\pkg\\", "D:\\Windows\\system32", "D:\\Windows\\system32"},
        FolderCase{"D:\\Windows\\system32\\", "D:\\Windows\\system32", "D:\\Windows\\system32"},
        FolderCase{"D:\\Temp\\", "D:\\Windows\\system32", "D:\\Temp\\"},
        // The search is case-sensitive: another spelling of the system folder is not it.
        FolderCase{"D:\\WINDOWS\\SYSTEM32\\pkg\\", "D:\\Windows\\system32", "D:\\WINDOWS\\SYSTEM32\\pkg\\"},
        FolderCase{"D:\\Program Files\\App\\patch\\", "C:\\Windows\\system32", "D:\\Program Files\\App\\"},
        FolderCase{"D:\\Program Files\\App\\patch\\v2\\patch\\", "C:\\Windows\\system32", "D:\\Program Files\\App\\"},
        FolderCase{"D:\\Program Files\\App\\Patch\\", "C:\\Windows\\system32", "D:\\Program Files\\App\\Patch\\"},
        FolderCase{"C:\\Windows\\system32\\patch\\", "C:\\Windows\\system32", "C:\\Windows\\system32"},
        FolderCase{"D:\\Temp\\", "", "D:\\Temp\\"}));

struct NameCase {
  const char* name;
  MemberNameProblem problem;
};

class ZipMemberName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ZipMemberName, Checks) {
  EXPECT_EQ(pelisto::CheckMemberName(GetParam().name), GetParam().problem) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ZipMemberName,
    ::testing::Values(NameCase{"a.txt", MemberNameProblem::kNone},
                      NameCase{"sub\\dir\\file.txt", MemberNameProblem::kNone},
                      NameCase{"sub/dir/", MemberNameProblem::kNone},
                      NameCase{"a..b\\c", MemberNameProblem::kNone},
                      NameCase{".\\a", MemberNameProblem::kNone},
                      NameCase{"..a\\b..", MemberNameProblem::kNone},
                      NameCase{"a?b", MemberNameProblem::kNone},
                      NameCase{"", MemberNameProblem::kEmpty},
                      NameCase{"\\x", MemberNameProblem::kAbsolute},
                      NameCase{"/etc/passwd", MemberNameProblem::kAbsolute},
                      NameCase{"\\\\server\\share\\x", MemberNameProblem::kAbsolute},
                      NameCase{"C:x", MemberNameProblem::kDrive},
                      NameCase{"C:\\x", MemberNameProblem::kDrive},
                      NameCase{"a:stream", MemberNameProblem::kDrive},
                      NameCase{"..", MemberNameProblem::kParent},
                      NameCase{"..\\x", MemberNameProblem::kParent},
                      NameCase{"a\\..\\..\\x", MemberNameProblem::kParent},
                      NameCase{"a/../b", MemberNameProblem::kParent},
                      NameCase{"a\\...\\b", MemberNameProblem::kParent},
                      NameCase{"a\\.. \\b", MemberNameProblem::kParent},
                      NameCase{"a\\. .\\b", MemberNameProblem::kParent}));

TEST(ZipMemberNameLength, LongerThanAPathIsRefused) {
  EXPECT_EQ(pelisto::CheckMemberName(std::string(260, 'a')), MemberNameProblem::kNone);
  EXPECT_EQ(pelisto::CheckMemberName(std::string(261, 'a')), MemberNameProblem::kTooLong);
}

TEST(ZipLeavesFolder, JudgesTheNormalisedPath) {
  EXPECT_FALSE(pelisto::LeavesFolder("C:\\out\\\\a.txt", "C:\\out\\"));
  EXPECT_FALSE(pelisto::LeavesFolder("c:\\OUT\\sub\\a", "C:\\out"));
  EXPECT_TRUE(pelisto::LeavesFolder("C:\\out\\..\\a.txt", "C:\\out\\"));
  EXPECT_TRUE(pelisto::LeavesFolder("C:\\outer\\a.txt", "C:\\out"));
  EXPECT_TRUE(pelisto::LeavesFolder("D:\\out\\a.txt", "C:\\out"));
  EXPECT_TRUE(pelisto::LeavesFolder("C:\\out\\.", "C:\\out"));
  EXPECT_FALSE(pelisto::LeavesFolder("C:\\out\\.\\", "C:\\out", true));
  EXPECT_TRUE(pelisto::LeavesFolder("C:\\out\\a", "relative"));
  // Not a path the file layer can make at all: creating it fails later.
  EXPECT_FALSE(pelisto::LeavesFolder("C:\\out\\a|b", "C:\\out"));
}

// Reads every member's data; "" when a member fails.
std::vector<std::string> ReadAll(ZipArchive& zip, std::vector<ZipArchive::ReadEnd>* ends) {
  std::vector<std::string> out;
  if (!zip.First()) return out;
  do {
    std::string data;
    if (zip.OpenData()) {
      char block[2048];
      int n;
      while ((n = zip.Read(block, sizeof block)) > 0) data.append(block, n);
      ends->push_back(zip.CloseData());
    } else {
      ends->push_back(ZipArchive::ReadEnd::kReadError);
    }
    out.push_back(data);
  } while (zip.Next());
  return out;
}

TEST(ZipArchiveReader, WalksMembersWithTheirRecords) {
  ZipMember a{.name = "a.txt", .data = std::string(5000, 'a')};
  a.comment = "first";
  ZipMember b{.name = "sub/b.bin", .data = std::string("bytes\0here", 10), .method = kStored};
  b.external = 0x20;
  const std::string bytes = BuildZip({a, b, Folder("sub/")});
  ZipArchive zip;
  ASSERT_TRUE(zip.OpenMemory(bytes));
  EXPECT_EQ(zip.EntryCount(), 3u);
  ASSERT_TRUE(zip.First());
  ZipEntry entry;
  ASSERT_TRUE(zip.Info(&entry));
  EXPECT_EQ(entry.name, "a.txt");
  EXPECT_EQ(entry.comment, "first");
  EXPECT_EQ(entry.compression_method, kDeflated);
  EXPECT_EQ(entry.uncompressed_size, 5000u);
  EXPECT_EQ(entry.dos_date, DosDateTime(2021, 6, 15, 10, 20, 30));
  ASSERT_TRUE(zip.Next());
  ASSERT_TRUE(zip.Info(&entry));
  EXPECT_EQ(entry.name, "sub/b.bin");
  EXPECT_EQ(entry.external_attributes, 0x20u);
  ASSERT_TRUE(zip.Next());
  EXPECT_FALSE(zip.Next());

  std::vector<ZipArchive::ReadEnd> ends;
  const std::vector<std::string> data = ReadAll(zip, &ends);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_TRUE(data[0] == a.data) << data[0].size();
  EXPECT_EQ(data[1], b.data);
  EXPECT_EQ(ends, std::vector<ZipArchive::ReadEnd>(3, ZipArchive::ReadEnd::kComplete));
  EXPECT_TRUE(zip.Close());
  EXPECT_FALSE(zip.Close());
}

TEST(ZipArchiveReader, LayoutsRealToolsWrite) {
  const std::vector<ZipMember> members = {{.name = "x", .data = std::string(70000, 'x')},
                                          {.name = "y", .data = "why", .data_descriptor = true}};
  for (const ZipLayout& layout :
       {ZipLayout{.prefix = std::string(4096, '\x7f')}, ZipLayout{.zip64 = true}}) {
    const std::string bytes = BuildZip(members, layout);
    ZipArchive zip;
    ASSERT_TRUE(zip.OpenMemory(bytes)) << layout.zip64;
    std::vector<ZipArchive::ReadEnd> ends;
    const std::vector<std::string> data = ReadAll(zip, &ends);
    EXPECT_TRUE(data == (std::vector<std::string>{members[0].data, "why"})) << data.size() << " members";
    EXPECT_EQ(ends, std::vector<ZipArchive::ReadEnd>(2, ZipArchive::ReadEnd::kComplete));
  }
}

TEST(ZipArchiveReader, DataThatDoesNotMatchItsRecordFails) {
  ZipMember crc{.name = "crc", .data = "some data", .bad_crc = true};
  ZipMember longer{.name = "short", .data = "short data"};
  longer.declared_size = 100;  // the stream ends before the declared size
  ZipMember method{.name = "m", .data = "raw", .method = 12};
  const std::string bytes = BuildZip({crc, longer, method});
  ZipArchive zip;
  ASSERT_TRUE(zip.OpenMemory(bytes));
  std::vector<ZipArchive::ReadEnd> ends;
  ReadAll(zip, &ends);
  EXPECT_EQ(ends, (std::vector<ZipArchive::ReadEnd>{ZipArchive::ReadEnd::kCrcMismatch,
                                                    ZipArchive::ReadEnd::kReadError,
                                                    ZipArchive::ReadEnd::kReadError}));
}

TEST(ZipArchiveReader, HugeDeclaredSizesAllocateNothing) {
  ZipMember m{.name = "big", .data = std::string(1000, 'b')};
  m.declared_size = 0x7FFFFFFFFFFFull;
  m.declared_compressed = 0x7FFFFFFFFFFFull;
  const std::string bytes = BuildZip({m}, {.zip64 = true});
  ZipArchive zip;
  ASSERT_TRUE(zip.OpenMemory(bytes));
  std::vector<ZipArchive::ReadEnd> ends;
  ReadAll(zip, &ends);
  EXPECT_EQ(ends, std::vector<ZipArchive::ReadEnd>{ZipArchive::ReadEnd::kReadError});
}

TEST(ZipArchiveReader, RefusesWhatIsNotAnArchive) {
  const std::string good = BuildZip({{.name = "a", .data = "a"}});
  const std::vector<std::string> bad = {
      "",
      "not a zip archive at all",
      std::string(22, '\0'),
      good.substr(0, good.size() - 10),  // the end record cut off
      good.substr(0, 30),                // nothing but a piece of the first member
  };
  for (const std::string& bytes : bad) {
    ZipArchive zip;
    EXPECT_FALSE(zip.OpenMemory(bytes)) << bytes.size() << " bytes";
    EXPECT_EQ(zip.EntryCount(), 0u);
    EXPECT_FALSE(zip.First());
  }
}

// A directory that lies about itself is walked no further than what it really holds, nor
// further than the count it declares: an archive that claims no members offers none.
TEST(ZipArchiveReader, LyingDirectoriesEndTheWalk) {
  const std::vector<ZipMember> members = {{.name = "a", .data = "a"}, {.name = "b", .data = "b"}};
  struct Case {
    ZipLayout layout;
    int most;
  };
  for (const auto& [layout, most] : {Case{{.cd_offset_shift = 7}, 2}, Case{{.cd_offset_shift = -7}, 2},
                                     Case{{.declared_entries = 9}, 2}, Case{{.declared_entries = 1}, 1},
                                     Case{{.declared_entries = 0}, 0}}) {
    const std::string bytes = BuildZip(members, layout);
    ZipArchive zip;
    if (!zip.OpenMemory(bytes)) continue;
    int walked = 0;
    if (zip.First()) {
      do {
        ZipEntry entry;
        if (zip.Info(&entry)) ++walked;
      } while (zip.Next() && walked < 100);
    }
    EXPECT_LE(walked, most) << layout.cd_offset_shift << " " << layout.declared_entries.value_or(2);
  }
}

TEST(ZipArchiveReader, EmptyArchiveHasNoMembers) {
  const std::string bytes = BuildZip({});
  ZipArchive zip;
  ASSERT_TRUE(zip.OpenMemory(bytes));
  EXPECT_EQ(zip.EntryCount(), 0u);
  EXPECT_FALSE(zip.First());
}

}  // namespace
