#include <gtest/gtest.h>

#include <string>

#include "engine/content_entry.h"
#include "engine/folder_symbols.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/image_test.h"

namespace pelisto {
namespace {

class FolderSymbolsTest : public testing::ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    context_ = std::make_unique<testing::FakeRunContext>();
  }
  testing::FakeRunContext& context() { return *context_; }
  const FolderValues& folders() { return context_->folders; }

  std::string Expand(std::string text) {
    ExpandFolderSymbols(context(), &text);
    return text;
  }

 private:
  std::unique_ptr<testing::FakeRunContext> context_;
};

struct ExpandCase {
  const char* name;
  const char* text;
  const char* expected;  // with $ % & # standing for the system, Windows, program and desktop folders
};
void PrintTo(const ExpandCase& c, std::ostream* os) { *os << c.name; }

class FolderSymbolsBuiltIn : public FolderSymbolsTest,
                             public ::testing::WithParamInterface<ExpandCase> {
 protected:
  std::string Resolve(const std::string& pattern) {
    std::string out;
    for (char c : pattern) {
      switch (c) {
        case '$': out += folders().system; break;
        case '%': out += folders().windows; break;
        case '&': out += folders().program_files; break;
        case '#': out += folders().desktop; break;
        default: out += c;
      }
    }
    return out;
  }
};

TEST_P(FolderSymbolsBuiltIn, FirstSymbolOfTheTableReplacesAllItsOccurrences) {
  EXPECT_EQ(Expand(GetParam().text), Resolve(GetParam().expected)) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FolderSymbolsBuiltIn,
    ::testing::Values(ExpandCase{"System", "{system}\\x.dll", "$\\x.dll"},
                      ExpandCase{"UpperCaseIsNoSymbol", "{SYSTEM}\\x.dll", "{SYSTEM}\\x.dll"},
                      ExpandCase{"WinTwice", "{win}\\a;{win}\\b", "%\\a;%\\b"},
                      ExpandCase{"Window", "{window}\\x", "%\\x"},
                      ExpandCase{"WinBeforeWindow", "{window}{win}", "{window}%"},
                      ExpandCase{"DesktopBeforeProgram", "{desktop}\\a {program}\\b", "{desktop}\\a &\\b"},
                      ExpandCase{"SystemStopsTheRest", "{program}{system}", "{program}$"},
                      ExpandCase{"Desktop", "{desktop}\\l.lnk", "#\\l.lnk"},
                      ExpandCase{"Unknown", "{temp}\\x", "{temp}\\x"},
                      ExpandCase{"Empty", "", ""}),
    [](const ::testing::TestParamInfo<ExpandCase>& info) { return std::string(info.param.name); });

TEST_F(FolderSymbolsTest, FailedFolderExpandsToEmpty) {
  context().folders.program_files.clear();
  EXPECT_EQ(Expand("{program}\\V"), "\\V");
}

TEST_F(FolderSymbolsTest, CustomKeysAreReplacedAfterTheBuiltInSymbol) {
  context().custom_dirs["{data}"] = "D:\\Data";
  EXPECT_EQ(Expand("{data}\\x"), "D:\\Data\\x");
  EXPECT_EQ(Expand("{program}\\{data}"), folders().program_files + "\\D:\\Data");
  EXPECT_EQ(Expand("{data}{data}"), "D:\\DataD:\\Data");
  EXPECT_EQ(Expand("{Data}"), "{Data}") << "keys match with case";
}

TEST_F(FolderSymbolsTest, CustomKeyEqualToABuiltInSymbolSeesOnlyWhatRemains) {
  context().custom_dirs["{win}"] = "X:\\custom";
  EXPECT_EQ(Expand("{win}\\a"), folders().windows + "\\a");
  EXPECT_EQ(Expand("{system}\\{win}"), folders().system + "\\X:\\custom");
}

TEST_F(FolderSymbolsTest, KeysNeedNoBracesAndAreTriedInAFixedOrder) {
  // "app" sorts before "data": the value it inserts is matched by "data".
  context().custom_dirs["data"] = "D:\\Data";
  context().custom_dirs["app"] = "data\\app";
  EXPECT_EQ(Expand("app"), "D:\\Data\\app");
}

TEST_F(FolderSymbolsTest, EmptyOrSelfContainingKeysDoNotLoop) {
  context().custom_dirs[""] = "never";
  context().custom_dirs["{a}"] = "<{a}>";
  EXPECT_EQ(Expand("x{a}y{a}"), "x<{a}>y<{a}>");
}

TEST_F(FolderSymbolsTest, EntryLocationsTurnSlashesInTargetOnly) {
  context().custom_dirs["{data}"] = "D:\\Data";
  ContentEntry entry;
  entry.target = "{program}/Vendor/App";
  entry.argument = "{program}/Vendor/App {data}/x";
  entry.url = "{program}/u";
  ExpandEntryLocations(context(), &entry);
  EXPECT_EQ(entry.target, folders().program_files + "\\Vendor\\App");
  EXPECT_EQ(entry.argument, folders().program_files + "/Vendor/App D:\\Data/x");
  EXPECT_EQ(entry.url, "{program}/u") << "the address is expanded elsewhere";
}

TEST_F(FolderSymbolsTest, EntryLocationsApplyFirstMatchToEachTextSeparately) {
  ContentEntry entry;
  entry.target = "{desktop}\\{program}";
  entry.argument = "{desktop}";
  ExpandEntryLocations(context(), &entry);
  EXPECT_EQ(entry.target, "{desktop}\\" + folders().program_files);
  EXPECT_EQ(entry.argument, folders().desktop);
}

TEST_F(FolderSymbolsTest, ReplaceFirstFolderSymbolTellsWhichSymbolItReplaced) {
  std::string text = "{program}\\{win}";
  const FolderSymbol* replaced = ReplaceFirstFolderSymbol(&text, folders());
  ASSERT_NE(replaced, nullptr);
  EXPECT_STREQ(replaced->symbol, "{win}");
  std::string plain = "C:\\x";
  EXPECT_EQ(ReplaceFirstFolderSymbol(&plain, folders()), nullptr);
}

}  // namespace
}  // namespace pelisto
