#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/content_check.h"
#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/reg/registry.h"
#include "os/ui/message_queue.h"
#include "os/ui/messages.h"
#include "os/ui/thread_id.h"
#include "tests/actions/install_fixture.h"

namespace pelisto {
namespace {
using testing::FakeRunContext;
using Strings = std::vector<std::string>;

constexpr char kConfig[] = "http://h/dir/config.xml";

class ContentEntryTest : public testing::InstallTest {
 protected:
  FakeRunContext& Context(int os_major) {
    FakeRunContext& c = InstallTest::Context(os_major);
    c.state.config_url = kConfig;
    return c;
  }

  // CheckContentEntry on the first element of `element`, against a stored document made of
  // `stored_elements`.
  int Check(FakeRunContext& c, const std::string& element, bool stored_exists, bool check_local,
            bool check_version, const std::string& stored_elements = "") {
    stored_ = Document(stored_elements, "new.xml.old");
    fresh_ = Document(element);
    node_ = FirstContent(fresh_);
    entry = ContentEntry{};
    return CheckContentEntry(c, stored_, node_, stored_exists, &entry, check_local, check_version);
  }

  ContentEntry entry;
  IXMLDocumentWrapper stored_, fresh_;
  IXMLNodeWrapper node_;
};

constexpr const char* kT = testing::kStamp;

// The name test for the XML library is case-sensitive; the registry entry's name is not.
TEST_F(ContentEntryTest, Msxml4InCapitalsIsAPlainFileAndAlwaysSetRegInAnyCaseIsARegistryEntry) {
  FakeRunContext& c = Context(5);
  EXPECT_EQ(Check(c, R"(<content name="msxml4.dll" url="http://h/msxml4.dll" target="D:\x"/>)", true, true, true),
            1);
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Not Installed msxml .. download "}));
  EXPECT_EQ(c.events, (Strings{"IsDownload(0,msxml4.dll)"}));

  c.log.clear();
  c.events.clear();
  PutFile("D:\\x\\MSXML4.dll", "x");
  EXPECT_EQ(Check(c, R"(<content name="MSXML4.dll" url="http://h/MSXML4.dll" target="D:\x" ver="1"/>)", true,
                  true, false),
            0);
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Exist Local 1 MSXML4.dll"}));

  c.log.clear();
  c.events.clear();
  EXPECT_EQ(Check(c,
                  R"(<content name="alwaysSETreg" type="zip" url="http://h/never.zip" regRoot="hkey_current_user"
                     regTo="Software\V" attrName="Count" toSetVer="12abc" regMode="number"/>)",
                  false, true, true),
            0);
  EXPECT_EQ(c.events, (Strings{"IsDownload(2,alwaysSETreg)"}));
  EXPECT_TRUE(c.Logged(" Success Registry Write "));
  os::DWORD value = 0, size = sizeof value, type = 0;
  os::HKEY key = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_CURRENT_USER, "Software\\V", 0, os::KEY_READ, &key), 0);
  EXPECT_EQ(os::RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<os::BYTE*>(&value), &size), 0);
  os::RegCloseKey(key);
  EXPECT_EQ(type, os::REG_DWORD);
  EXPECT_EQ(value, 12u);
}

// Registry, unregister and delete entries are actions of their own: never downloaded, and
// done on both paths.
class ContentEntryActions : public ContentEntryTest, public ::testing::WithParamInterface<int> {};

TEST_P(ContentEntryActions, RegistryEntryWritesTheExpandedDataAsText) {
  FakeRunContext& c = Context(GetParam());
  EXPECT_EQ(Check(c,
                  R"(<content name="AlwaysSetREG" regRoot="HKEY_LOCAL_MACHINE" regTo="SOFTWARE\Vendor"
                     attrName="Path" toSetVer="{program}\App" regMode="Number"/>)",
                  true, true, true),
            0);
  EXPECT_TRUE(c.Logged(" Success Registry Write "));
  os::HKEY key = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, os::KEY_READ, &key), 0);
  char data[64] = {};
  os::DWORD size = sizeof data, type = 0;
  EXPECT_EQ(os::RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<os::BYTE*>(data), &size), 0);
  os::RegCloseKey(key);
  EXPECT_EQ(type, os::REG_SZ);
  EXPECT_STREQ(data, "C:\\Program Files\\App");
}

TEST_P(ContentEntryActions, UnregisterEntryUnregistersTargetAndName) {
  FakeRunContext& c = Context(GetParam());
  EXPECT_EQ(Check(c, R"(<content name="gone.ocx" type="UnReg" url="http://h/gone.ocx" target="D:\app"/>)", false,
                  false, false),
            0);
  EXPECT_EQ(c.events, (Strings{"IsDownload(6,gone.ocx)"}));
  EXPECT_TRUE(c.Logged(" Start Unregsvr32 - D:\\app\\gone.ocx"));
  EXPECT_TRUE(c.Logged("D:\\app\\gone.ocx dll/ocx delete registry failed !!!"));
  EXPECT_TRUE(c.Logged(" End Unregsvr32 - D:\\app\\gone.ocx"));
}

TEST_P(ContentEntryActions, DeleteEntryDeletesOnlyWhatItCan) {
  FakeRunContext& c = Context(GetParam());
  PutFile("C:\\Program Files\\App\\old.dll", "old");
  EXPECT_EQ(Check(c, R"(<content name="old.dll" type="delete" target="{program}\App"/>)", true, false, false), 0);
  EXPECT_FALSE(HostExists("C:\\Program Files\\App\\old.dll"));
  EXPECT_EQ(c.events, (Strings{"IsDownload(7,old.dll)"}));
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Success delete file"}));

  const std::string failed = std::string("0:") + kT + " Failed Delete File.. The file does not exist or is in use";
  // Missing, and on a drive the image does not have.
  for (const char* element : {R"(<content name="old.dll" type="DELETE" target="D:\App"/>)",
                              R"(<content name="x" type="delete" target="Q:\outside"/>)"}) {
    c.log.clear();
    EXPECT_EQ(Check(c, element, true, false, false), 0) << element;
    EXPECT_EQ(Lines(c), (Strings{failed})) << element;
  }
}

// In use by the control's own process: the image keeps share modes within one process, so
// only the direct path meets the open handle.
TEST_F(ContentEntryTest, DeleteEntryOfAFileInUseFails) {
  FakeRunContext& c = Context(5);
  PutFile("D:\\App\\busy.dll", "busy");
  os::HANDLE held = os::CreateFileA("D:\\App\\busy.dll", os::GENERIC_READ, 0, nullptr, os::OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(os::IsValidHandle(held));
  EXPECT_EQ(Check(c, R"(<content name="busy.dll" type="delete" target="D:\App"/>)", true, false, false), 0);
  EXPECT_TRUE(c.Logged(" Failed Delete File.. The file does not exist or is in use"));
  os::CloseHandle(held);
  EXPECT_TRUE(HostExists("D:\\App\\busy.dll"));
}

INSTANTIATE_TEST_SUITE_P(Windows, ContentEntryActions, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });

TEST_F(ContentEntryTest, NoStoredCopyInstallsEveryFileEntryLinksIncludedWithoutComparing) {
  FakeRunContext& c = Context(5);
  const std::string same = R"(<content name="a.dll" ver="1" url="http://h/a.dll" target="D:\x"/>)";
  PutFile("D:\\x\\a.dll", "present");
  for (const std::string& element :
       {same, std::string(R"(<content name="l" type="makeprogramlnk" lnkName="App" url="C:\a.exe"/>)"),
        std::string(R"(<content name="u" type="MakeInternetLnk" lnkName="Site" url="http://h/"/>)"),
        std::string("<content/>")}) {
    c.log.clear();
    EXPECT_EQ(Check(c, element, false, true, true, same), 1) << element;
    EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Not Exist old config Flle"})) << element;
  }
  EXPECT_EQ(c.events, (Strings{"IsDownload(0,a.dll)", "IsDownload(0,l)", "IsDownload(0,u)", "IsDownload(0,)"}));
}

TEST_F(ContentEntryTest, LinksAreAlwaysMadeAgain) {
  FakeRunContext& c = Context(5);
  const std::string link = R"(<content name="l" ver="1" type="MAKEPROGRAMLNK" lnkName="App" url="C:\a.exe"/>)";
  EXPECT_EQ(Check(c, link, true, true, true, link), 1);
  EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " MAKEPROGRAMLNK"}));
  EXPECT_EQ(c.events, (Strings{"IsDownload(3,l)"}));
}

struct SwitchCase {
  const char* label;
  bool local_present;
  bool check_local;
  bool check_version;
  const char* stored_ver;
  int result;
  const char* line;  // level:text after the stamp; empty for none
  const char* event;
};
void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.label; }

class ContentEntrySwitches : public ContentEntryTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(ContentEntrySwitches, DecideFromTheLocalFileAndTheVersion) {
  const SwitchCase& s = GetParam();
  FakeRunContext& c = Context(5);
  if (s.local_present) PutFile("D:\\x\\a.dll", "present");
  const std::string stored = std::string(R"(<content name="a.dll" url="http://h/a.dll" ver=")") + s.stored_ver + "\"/>";
  EXPECT_EQ(Check(c, R"(<content name="a.dll" ver="2.0" url="http://h/a.dll" target="D:\x"/>)", true,
                  s.check_local, s.check_version, stored),
            s.result);
  if (*s.line) {
    const std::string line(s.line);
    EXPECT_EQ(Lines(c), (Strings{line.substr(0, 2) + kT + line.substr(2)}));
  } else {
    EXPECT_TRUE(c.log.empty());
  }
  EXPECT_EQ(c.events, *s.event ? Strings{s.event} : Strings{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ContentEntrySwitches,
    ::testing::Values(
        SwitchCase{"LocalPresentNoVersion", true, true, false, "2.0", 0, "0: Exist Local 2.0 a.dll",
                   "IsDownload(5,a.dll)"},
        SwitchCase{"LocalMissing", false, true, true, "2.0", 1, "1: Not Exist Loccal File D:\\x\\a.dll",
                   "IsDownload(0,a.dll)"},
        SwitchCase{"EqualVersion", true, true, true, "2.0", 0, "0: Equal Version 2.0 a.dll", "IsDownload(4,a.dll)"},
        SwitchCase{"DifferentVersion", true, true, true, "1.0", 1, "0: Differnt Version 2.0 a.dll",
                   "IsDownload(0,a.dll)"},
        SwitchCase{"VersionWithoutLocalTest", false, false, true, "1.0", 1, "0: Differnt Version 2.0 a.dll",
                   "IsDownload(0,a.dll)"},
        SwitchCase{"NeitherSwitch", false, false, false, "1.0", 0, "", ""}),
    [](const ::testing::TestParamInfo<SwitchCase>& i) { return std::string(i.param.label); });

struct UrlCase {
  const char* label;
  const char* url;
  const char* resolved;
  bool box;
};
void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.label; }

class ContentEntryUrls : public ContentEntryTest, public ::testing::WithParamInterface<UrlCase> {};

// Relative addresses are taken from the configuration's folder; the bad dot forms show their
// box whatever selfUi says.
TEST_P(ContentEntryUrls, ResolveAgainstTheConfigurationFolder) {
  const UrlCase& u = GetParam();
  FakeRunContext& c = Context(5);
  c.settings.self_ui = os::FALSE;
  Check(c, std::string("<content name=\"a\" url=\"") + u.url + "\" target=\"D:\\x\"/>", false, false, false);
  EXPECT_EQ(entry.url, u.resolved);
  EXPECT_EQ(ui().Boxes().size(), u.box ? 1u : 0u);
  if (u.box) {
    EXPECT_EQ(ui().Boxes()[0].text, "URL error!");
  }
  EXPECT_TRUE(c.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContentEntryUrls,
    ::testing::Values(UrlCase{"Slash", "/files/a.zip", "http://h/dir/files/a.zip", false},
                      UrlCase{"DotSlash", "./files/a.zip", "http://h/dir/files/a.zip", false},
                      UrlCase{"DotDotSlash", "../a.zip", "http://h/dir/a.zip", false},
                      UrlCase{"DotTwoSlashes", ".//a.zip", "http://h/dir/", true},
                      UrlCase{"DotOther", ".a.zip", "http://h/dir/", true},
                      UrlCase{"DotDotOther", "..a.zip", "http://h/dir/", true},
                      UrlCase{"LoneDot", ".", "http://h/dir/", true},
                      UrlCase{"FullAddress", "http://other/a.zip", "http://other/a.zip", false},
                      UrlCase{"BareName", "a.zip", "a.zip", false},
                      UrlCase{"Empty", "", "", false},
                      UrlCase{"FolderSymbol", "{win}/x.txt", "C:\\Windows/x.txt", false}),
    [](const ::testing::TestParamInfo<UrlCase>& i) { return std::string(i.param.label); });

TEST_F(ContentEntryTest, VersionCheckUsesTheAddressAsWritten) {
  FakeRunContext& c = Context(5);
  const std::string element = R"(<content name="a.zip" ver="1" url="./a.zip" target="{program}/App"/>)";
  EXPECT_EQ(Check(c, element, true, false, true, element), 0);
  EXPECT_EQ(entry.url, "http://h/dir/a.zip");
  EXPECT_EQ(entry.target, "C:\\Program Files\\App");
}

TEST_F(ContentEntryTest, ACancelAtTheWorkItemEndsTheRun) {
  FakeRunContext& c = Context(5);
  c.dialog_cancel = 1;
  try {
    Check(c, R"(<content name="a.dll" url="http://h/a.dll"/>)", false, false, false);
    FAIL() << "no cancel";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(), "Canceled By User Status is 0");
  }
  // A page value of 2 OR-ed with the dialog's 1 is 3: no cancel.
  c.page_cancel = 2;
  EXPECT_EQ(Check(c, R"(<content name="a.dll" url="http://h/a.dll"/>)", false, false, false), 1);
}

TEST_F(ContentEntryTest, WithTheStatusDialogQueuedMessagesAreServedFirst) {
  FakeRunContext& c = Context(5);
  c.settings.self_ui = os::TRUE;
  c.settings.dlg_not_close = os::TRUE;
  ASSERT_TRUE(os::PostThreadMessageA(os::GetCurrentThreadId(), os::WM_APP, 0, 0));
  Check(c, R"(<content name="a.dll"/>)", false, false, false);
  os::MSG msg;
  EXPECT_FALSE(os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE));
}

}  // namespace
}  // namespace pelisto
