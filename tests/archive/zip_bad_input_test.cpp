// Archives that are odd or hostile, through the silent action on both Windows versions: each
// ends with the action's result and text, and nothing is written outside the folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/unzip_actions.h"
#include "tests/archive/zip_builder.h"
#include "tests/archive/zip_test_fixture.h"

namespace {
using namespace pelisto::testing;

constexpr char kArchive[] = "C:\\Temp\\bad\\a.zip";

struct BadCase {
  const char* name;
  std::function<std::string()> bytes;
  int result;
  const char* error;                  // the text after the path in "Failed UnZip " lines
  std::vector<std::string> present;   // files below C:\Temp\bad afterwards
  unsigned code_page = 65001;         // the image's
};

std::string Good(const ZipLayout& layout = {}) {
  return BuildZip({{.name = "one.txt", .data = "one"}, {.name = "two/two.txt", .data = std::string(5000, '2')}},
                  layout);
}

const BadCase kCases[] = {
    {"empty_file", [] { return std::string(); }, 0, "Not a valid zip file", {}},
    {"not_zip", [] { return std::string(1000, 'z'); }, 0, "Not a valid zip file", {}},
    {"truncated", [] { const std::string g = Good(); return g.substr(0, g.size() - 30); }, 0,
     "Not a valid zip file", {}},
    {"no_members", [] { return BuildZip({}); }, 0, "No Have File", {}},
    {"prefix", [] { return Good({.prefix = std::string(70000, 'M')}); }, 1, "", {"one.txt", "two\\two.txt"}},
    {"zip64", [] { return Good({.zip64 = true}); }, 1, "", {"one.txt", "two\\two.txt"}},
    {"data_descriptors",
     [] {
       return BuildZip({{.name = "one.txt", .data = "one", .data_descriptor = true},
                        {.name = "s.txt", .data = "stored", .method = kStored, .data_descriptor = true}});
     },
     1, "", {"one.txt", "s.txt"}},
    {"central_offset_shifted", [] { return Good({.cd_offset_shift = 5}); }, 0, "Not a valid zip file", {}},
    {"more_entries_declared", [] { return Good({.declared_entries = 60000}); }, 1, "", {"one.txt", "two\\two.txt"}},
    {"duplicate_names",
     [] { return BuildZip({{.name = "d.txt", .data = "first"}, {.name = "D.TXT", .data = "second"}}); }, 1, "",
     {"d.txt"}},
    {"unsupported_method",
     [] { return BuildZip({{.name = "one.txt", .data = "one"}, {.name = "bz.bin", .data = "BZh9", .method = 12}}); },
     0, "Failed UnZip :bz.bin", {"one.txt"}},
    {"huge_declared_size",
     [] {
       ZipMember m{.name = "huge.bin", .data = std::string(4096, 'h')};
       m.declared_size = 0xFFFFFFF0u;
       return BuildZip({m});
     },
     0, "Failed UnZip :huge.bin", {}},
    {"crc_mismatch", [] { return BuildZip({{.name = "c.txt", .data = "c", .bad_crc = true}}); }, 0,
     "Failed UnZip :c.txt", {}},
    {"escaping_names",
     [] {
       return BuildZip({{.name = "../../../Windows/system32/evil.dll", .data = "x"},
                        {.name = "C:/Windows/evil2.dll", .data = "x"},
                        {.name = "ok.txt", .data = "ok"}});
     },
     1, "", {"ok.txt"}},
    {"utf8_flag",
     [] { return BuildZip({{.name = "caf\xC3\xA9.txt", .data = "u", .flags = 0x800}}); }, 1, "", {"caf\xC3\xA9.txt"}},
    // A name in the Korean image's own code page, without the UTF-8 flag.
    {"code_page_name", [] { return BuildZip({{.name = "\xC7\xD1.txt", .data = "k"}}); }, 1, "", {"\xC7\xD1.txt"},
     949},
};

class ZipBadInput : public ZipTest, public ::testing::WithParamInterface<std::tuple<BadCase, int>> {};

TEST_P(ZipBadInput, EndsWithTheActionsResultAndText) {
  const auto& [c, os_major] = GetParam();
  os::ImageSettings s = machine().settings();
  s.code_page = c.code_page;
  Reconfigure(s);
  Context(os_major);
  PutZip(kArchive, c.bytes());
  const auto before = Tree();
  EXPECT_EQ(pelisto::UnZipWithoutDialog(context(), kArchive), c.result);
  if (c.result == 0) {
    EXPECT_TRUE(context().Logged(std::string("Failed UnZip ") + kArchive + c.error)) << c.name;
  } else {
    EXPECT_TRUE(context().Logged(std::string(" End unzip file - ") + kArchive)) << c.name;
  }
  for (const std::string& file : c.present) {
    EXPECT_TRUE(HostExists(std::string("C:\\Temp\\bad\\") + file)) << c.name << ": " << file;
  }
  EXPECT_EQ(NewOutside(before, {"C:\\Temp\\bad"}), std::vector<std::string>{}) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipBadInput, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Values(5, 6)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_Windows" +
                                  std::to_string(std::get<1>(info.param));
                         });

// The last of two members with one name wins, as a second extraction over the first would.
TEST_F(ZipTest, ZipDuplicateNamesLastWins) {
  Context(5);
  PutZip(kArchive, BuildZip({{.name = "d.txt", .data = "first"}, {.name = "d.txt", .data = "second"}}));
  EXPECT_EQ(pelisto::UnZipWithoutDialog(context(), kArchive), 1);
  EXPECT_EQ(GetFile("C:\\Temp\\bad\\d.txt"), "second");
}

// A link planted below the folder (members never make one) is not followed out of it.
TEST_F(ZipTest, ZipPlantedLinksAreNotFollowed) {
  for (int os_major : {5, 6}) {
    Context(os_major);
    PutFile("C:\\Temp\\elsewhere\\keep.txt", "keep");
    std::filesystem::create_directories(Host("C:\\Temp\\bad"));
    std::filesystem::remove(Host("C:\\Temp\\bad\\sub"));
    std::filesystem::remove(Host("C:\\Temp\\bad\\keep.txt"));
    std::filesystem::create_directory_symlink(Host("C:\\Temp\\elsewhere"), Host("C:\\Temp\\bad\\sub"));
    std::filesystem::create_symlink(Host("C:\\Temp\\elsewhere\\keep.txt"), Host("C:\\Temp\\bad\\keep.txt"));
    PutZip(kArchive, BuildZip({{.name = "sub/keep.txt", .data = "overwritten"},
                               {.name = "sub/new.txt", .data = "new"},
                               {.name = "keep.txt", .data = "overwritten"},
                               {.name = "ok.txt", .data = "ok"}}));
    EXPECT_EQ(pelisto::UnZipWithoutDialog(context(), kArchive), 1);
    EXPECT_EQ(GetFile("C:\\Temp\\elsewhere\\keep.txt"), "keep") << os_major;
    EXPECT_FALSE(HostExists("C:\\Temp\\elsewhere\\new.txt")) << os_major;
    EXPECT_EQ(GetFile("C:\\Temp\\bad\\ok.txt"), "ok");
    EXPECT_TRUE(context().Logged("sub\\new.txt (reaches through a link)")) << os_major;
  }
}

}  // namespace
