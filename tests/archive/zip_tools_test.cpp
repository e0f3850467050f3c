// Archives made by the tools a user has (this machine's zip, Python's zipfile, bsdtar), made
// here at test time, are extracted byte for byte on both Windows versions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "archive/unzip_actions.h"
#include "os/base/text.h"
#include "tests/archive/zip_test_fixture.h"

namespace {
namespace fs = std::filesystem;
using namespace pelisto::testing;

// Relative path ("/" separated) to content; folders end in "/" and map to "".
using TreeMap = std::map<std::string, std::string>;

TreeMap ReadTree(const fs::path& root) {
  TreeMap out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(entry.path(), root).generic_string();
    out[entry.is_directory() ? rel + "/" : rel] = entry.is_directory() ? "" : ReadHostFile(entry.path().string());
  }
  return out;
}

// A tree with what archives hold: nested folders, an empty folder, empty, small, text-like
// and random files, a file larger than one copy block, a non-ASCII name.
void MakeSource(const fs::path& root) {
  std::mt19937 rng(42);
  auto random_bytes = [&](std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  };
  fs::create_directories(root / "sub" / "deeper" / "deepest");
  fs::create_directories(root / "empty");
  WriteHostFile((root / "empty.txt").string(), "");
  WriteHostFile((root / "readme.txt").string(), "Read me.\r\nLine two.\n");
  WriteHostFile((root / "sub" / "random.bin").string(), random_bytes(300000));
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  WriteHostFile((root / "sub" / "deeper" / "text.log").string(), text);
  WriteHostFile((root / "sub" / "deeper" / "deepest" / "one").string(), "1");
  WriteHostFile((root / "\xED\x95\x9C\xEA\xB8\x80.txt").string(), "hangul name");
}

struct Tool {
  const char* name;
  // Makes `zip` from the folder `source`; %S and %Z are replaced by the two paths.
  const char* command;
};

const Tool kTools[] = {
    {"zip", "cd %S && zip -q -r -X %Z ."},
    {"zip_store_descriptors", "cd %S && zip -q -r -0 -fd %Z ."},
    {"zip_zip64", "cd %S && zip -q -r -fz %Z ."},
    {"python", "python3 -c \"import os,sys,zipfile\n"
               "z=zipfile.ZipFile(sys.argv[2],'w',zipfile.ZIP_DEFLATED)\n"
               "for d,ds,fs in os.walk(sys.argv[1]):\n"
               "  for n in ds+fs:\n"
               "    p=os.path.join(d,n); z.write(p,os.path.relpath(p,sys.argv[1]),"
               "zipfile.ZIP_STORED if n.endswith('.bin') else zipfile.ZIP_DEFLATED)\n"
               "z.close()\" %S %Z"},
    {"bsdtar", "cd %S && bsdtar --format zip -cf %Z $(ls -A)"},
    {"bsdtar_store", "cd %S && bsdtar --format zip --options zip:compression=store -cf %Z $(ls -A)"},
};

std::string Expand(std::string command, const std::string& source, const std::string& zip) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"%S", "'" + source + "'"},
                            std::pair<std::string, std::string>{"%Z", "'" + zip + "'"}}) {
    for (std::size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, 2, value);
  }
  return command;
}

class ZipTools : public ZipTest, public ::testing::WithParamInterface<std::tuple<Tool, int, int>> {};

TEST_P(ZipTools, ExtractsByteForByte) {
  const auto& [tool, os_major, code_page] = GetParam();
  os::ImageSettings s = machine().settings();
  s.code_page = static_cast<os::UINT>(code_page);
  Reconfigure(s);
  Context(os_major);
  TempDir work;
  const fs::path source = fs::path(work.path()) / "source";
  MakeSource(source);
  const std::string zip = (fs::path(work.path()) / "made.zip").string();
  const std::string command = Expand(tool.command, source.string(), zip);
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  const std::string archive = "C:\\Temp\\tools\\made.zip";
  PutZip(archive, ReadHostFile(zip));
  const auto before = Tree();
  ASSERT_EQ(pelisto::UnZipWithoutDialog(context(), archive), 1) << tool.name;
  fs::remove(Host(archive));
  // Host names are the image's narrow text as it is: in the Korean image, its code page.
  TreeMap expected;
  for (const auto& [path, content] : ReadTree(source)) expected[os::Utf8ToAnsi(path)] = content;
  TreeMap got = ReadTree(Host("C:\\Temp\\tools"));
  // Not every tool stores folders that hold files.
  for (auto it = expected.begin(); it != expected.end();) {
    it = it->first.back() == '/' && got.count(it->first) == 0 && it->first != "empty/" ? expected.erase(it) : ++it;
  }
  EXPECT_EQ(got.size(), expected.size()) << tool.name;
  for (const auto& [path, content] : expected) {
    auto found = got.find(path);
    ASSERT_NE(found, got.end()) << tool.name << ": " << path;
    EXPECT_TRUE(found->second == content) << tool.name << ": " << path;
  }
  EXPECT_EQ(NewOutside(before, {"C:\\Temp\\tools"}), std::vector<std::string>{});
  EXPECT_TRUE(ui().Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Made, ZipTools,
    ::testing::Combine(::testing::ValuesIn(kTools), ::testing::Values(5, 6), ::testing::Values(65001)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_Windows" + std::to_string(std::get<1>(info.param));
    });

// In an image whose code page is the Korean one, names flagged as UTF-8 arrive in it.
INSTANTIATE_TEST_SUITE_P(
    KoreanImage, ZipTools,
    ::testing::Combine(::testing::Values(kTools[3]), ::testing::Values(5), ::testing::Values(949)),
    [](const auto& info) { return std::string(std::get<0>(info.param).name) + "_cp949"; });

}  // namespace
