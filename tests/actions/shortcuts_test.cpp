#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "actions/shortcuts.h"
#include "os/base/error.h"
#include "os/com/hresult.h"
#include "tests/actions/install_fixture.h"
#include "tests/support/shortcut_readers.h"

namespace pelisto {
namespace {
using testing::FakeRunContext;
using testing::IniSection;
using testing::ReadWithLnkinfo;
using Strings = std::vector<std::string>;

constexpr const char* kT = testing::kStamp;
constexpr char kDesktop[] = "C:\\Users\\user\\Desktop";

class ShortcutTest : public testing::InstallTest {
 protected:
  // Every file below the image's drives and the prefix, for proving nothing was written.
  std::vector<std::string> AllFiles() {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(prefix())) {
      if (e.is_regular_file()) files.push_back(e.path().string());
    }
    return files;
  }
};

TEST_F(ShortcutTest, CreateShellLinkAddsTheExtensionAndLnkinfoReadsItBack) {
  Context(5);
  PutFile("C:\\Program Files\\App\\app.exe", "program");
  EXPECT_EQ(CreateShellLink("C:\\Program Files\\App\\app.exe", std::string(kDesktop) + "\\My App", "My App",
                            "C:\\Program Files\\App\\app.ico", "/start"),
            os::S_OK);
  const auto info = ReadWithLnkinfo(Host(std::string(kDesktop) + "\\My App.lnk"));
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.fields.at("Local path"), "C:\\Program Files\\App\\app.exe");
  EXPECT_EQ(info.fields.at("Description"), "My App");
  EXPECT_EQ(info.fields.at("Command line arguments"), "/start");
  EXPECT_EQ(info.fields.at("Icon location"), "C:\\Program Files\\App\\app.ico");
  EXPECT_TRUE(ui().Boxes().empty());
}

// The save's failure is shown at once, whatever selfUi says.
TEST_F(ShortcutTest, CreateShellLinkShowsTheSaveFailure) {
  FakeRunContext& c = Context(5);
  c.settings.self_ui = os::FALSE;
  for (const std::string& link : {std::string("C:\\no such folder\\App"), std::string(kDesktop) + "\\" + std::string(300, 'n')}) {
    EXPECT_TRUE(os::FAILED(CreateShellLink("C:\\a.exe", link, "d", "", ""))) << link;
  }
  const auto boxes = ui().Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, "IPersistFile->Save() Error");
    EXPECT_EQ(box.caption, "Error");
  }
  EXPECT_FALSE(HostExists("C:\\no such folder"));
}

TEST_F(ShortcutTest, CreateInternetShortcutIsReadByAnIniReader) {
  Context(5);
  const std::string path = std::string(kDesktop) + "\\Site.url";
  EXPECT_EQ(CreateInternetShortcut("http://example.test/", path, "Site", "C:\\Windows\\site.ico", 0), os::S_OK);
  EXPECT_EQ(IniSection(GetFile(path), "InternetShortcut"),
            (std::map<std::string, std::string>{
                {"URL", "http://example.test/"}, {"IconFile", "C:\\Windows\\site.ico"}, {"IconIndex", "0"}}));
  EXPECT_TRUE(os::FAILED(CreateInternetShortcut("", path + "2", "Site", "", 0)));
}

struct NameCase {
  const char* label;
  const char* lnk_name;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class ShortcutRefusedName : public ShortcutTest,
                            public ::testing::WithParamInterface<std::tuple<int, NameCase>> {};

// A name that is not a plain file name never reaches the link writer: nothing is written
// anywhere, and the failure is reported as any failed shortcut.
TEST_P(ShortcutRefusedName, WritesNoShortcut) {
  const auto [os_major, name] = GetParam();
  FakeRunContext& c = Context(os_major);
  const auto before = AllFiles();
  ContentEntry entry;
  entry.lnkName = name.lnk_name;
  entry.url = "C:\\Windows\\notepad.exe";
  MakeProgramLink(c, entry);
  entry.url = "http://example.test/";
  MakeInternetLink(c, entry);
  EXPECT_EQ(AllFiles(), before);
  const std::string link = std::string(kDesktop) + "\\" + name.lnk_name;
  const std::string refused = std::string("2:") + kT + " Shortcut name is not a file name '" + name.lnk_name + "'";
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Start create shortcut - " + link, refused,
                               std::string("2:") + kT + " Do not creat desktop shortcut! '" + link + "'",
                               std::string("0:") + kT + " End create shortcut - " + link,
                               std::string("0:") + kT + " Start create internet shortcut - " + link + ".url", refused,
                               std::string("2:") + kT + " Do not creat desktop internet link! '" + link + ".url'",
                               std::string("0:") + kT + " End create internet shortcut - " + link + ".url"}));
  EXPECT_EQ(c.messages, (Strings{"Do not creat desktop shortcut!", "Do not creat desktop internet Link!"}));
}

INSTANTIATE_TEST_SUITE_P(
    Shortcut, ShortcutRefusedName,
    ::testing::Combine(::testing::Values(5, 6),
                       ::testing::Values(NameCase{"Empty", ""}, NameCase{"DotDot", ".."}, NameCase{"Dot", "."},
                                         NameCase{"Climbing", "..\\..\\..\\Windows\\evil"},
                                         NameCase{"SubFolder", "sub\\name"}, NameCase{"Slash", "../evil"},
                                         NameCase{"Drive", "C:evil"}, NameCase{"BadChar", "a|b"},
                                         NameCase{"LineBreak", "a\r\nb"})),
    [](const auto& i) {
      return "Windows" + std::to_string(std::get<0>(i.param)) + "_" + std::get<1>(i.param).label;
    });


class ShortcutMade : public ShortcutTest, public ::testing::WithParamInterface<int> {};

// Made directly before Windows 6 and by the broker from 6 on; both read back the same.
TEST_P(ShortcutMade, ProgramLinkOnTheDesktopWithOnlyWhatIsGiven) {
  FakeRunContext& c = Context(GetParam());
  const std::string link = std::string(kDesktop) + "\\My App";
  PutFile(link + ".lnk", "an older link");
  ContentEntry entry;
  entry.lnkName = "My App";
  entry.url = "C:\\Program Files\\App\\app.exe";
  MakeProgramLink(c, entry);
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Start create shortcut - " + link,
                               std::string("0:") + kT + " End create shortcut - " + link}));
  auto info = ReadWithLnkinfo(Host(link + ".lnk"));
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.fields.at("Local path"), entry.url);
  EXPECT_EQ(info.fields.at("Description"), "My App") << "the name, not the target";
  EXPECT_EQ(info.fields.count("Command line arguments"), 0u) << info.output;
  EXPECT_EQ(info.fields.count("Icon location"), 0u) << info.output;

  entry.target = "C:\\Program Files\\App\\app.ico";
  entry.argument = "-x 1";
  MakeProgramLink(c, entry);
  info = ReadWithLnkinfo(Host(link + ".lnk"));
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.fields.at("Command line arguments"), "-x 1");
  EXPECT_EQ(info.fields.at("Icon location"), entry.target);
  EXPECT_TRUE(c.messages.empty());
}

TEST_P(ShortcutMade, InternetShortcutTakesTheRunsIconSourceWhenItHasNone) {
  FakeRunContext& c = Context(GetParam());
  const std::string path = std::string(kDesktop) + "\\Site.url";
  ContentEntry entry;
  entry.lnkName = "Site";
  entry.url = "http://example.test/a?b=c";
  MakeInternetLink(c, entry);
  EXPECT_EQ(IniSection(GetFile(path), "InternetShortcut"),
            (std::map<std::string, std::string>{{"URL", entry.url}}))
      << "no icon lines without an icon";
  c.state.icon_source = "D:\\dl\\site.ico";
  MakeInternetLink(c, entry);
  EXPECT_EQ(IniSection(GetFile(path), "InternetShortcut").at("IconFile"), "D:\\dl\\site.ico");
  entry.target = "C:\\Windows\\own.ico";
  MakeInternetLink(c, entry);
  EXPECT_EQ(IniSection(GetFile(path), "InternetShortcut").at("IconFile"), "C:\\Windows\\own.ico");
  EXPECT_EQ(Lines(c)[0], std::string("0:") + kT + " Start create internet shortcut - " + path);
  EXPECT_EQ(Lines(c)[1], std::string("0:") + kT + " End create internet shortcut - " + path);
  EXPECT_TRUE(c.messages.empty());
}

// A failure is reported and the run goes on: here the desktop folder is a file.
TEST_P(ShortcutMade, AFailureIsReportedInTheLogAndABox) {
  FakeRunContext& c = Context(GetParam());
  std::filesystem::remove_all(Host(kDesktop));
  PutFile(kDesktop, "not a folder");
  ContentEntry entry;
  entry.lnkName = "App";
  entry.url = "C:\\a.exe";
  MakeProgramLink(c, entry);
  MakeInternetLink(c, entry);
  const std::string link = std::string(kDesktop) + "\\App";
  EXPECT_TRUE(c.Logged(" Do not creat desktop shortcut! '" + link + "'"));
  EXPECT_TRUE(c.Logged(" Do not creat desktop internet link! '" + link + ".url'"));
  EXPECT_EQ(c.messages, (Strings{"Do not creat desktop shortcut!", "Do not creat desktop internet Link!"}));
  EXPECT_EQ(GetFile(kDesktop), "not a folder");
}

INSTANTIATE_TEST_SUITE_P(Windows, ShortcutMade, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });

}  // namespace
}  // namespace pelisto
