#include <gtest/gtest.h>

#include <string>

#include "os/base/text.h"
#include "os/com/apartment.h"
#include "os/com/global_interface_table.h"
#include "os/com/hresult.h"
#include "os/com/persist_file.h"
#include "os/shell/internet_shortcut.h"
#include "os/shell/folders.h"
#include "os/shell/shell_link.h"
#include "tests/support/image_test.h"
#include "tests/support/shortcut_readers.h"

namespace {
using pelisto::testing::IniSection;
using pelisto::testing::ReadWithLnkinfo;

class ShortcutFileTest : public pelisto::testing::ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    ASSERT_TRUE(os::SUCCEEDED(os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED)));
    // The desktop folder exists once the shell has been asked for it.
    std::string desktop;
    ASSERT_EQ(os::SHGetFolderPathA(nullptr, os::CSIDL_DESKTOP, nullptr, 0, &desktop), os::S_OK);
    ASSERT_EQ(desktop, "C:\\Users\\user\\Desktop");
  }
  void TearDown() override {
    os::CoUninitialize();
    ImageTest::TearDown();
  }

  template <class I>
  os::ComPtr<I> Make(const os::CLSID& clsid) {
    os::ComPtr<I> object;
    EXPECT_EQ(os::CoCreateInstance(clsid, nullptr, os::CLSCTX_INPROC_SERVER, I::kIid,
                                   object.ReleaseAndGetVoidAddressOf()),
              os::S_OK);
    return object;
  }

  static os::HRESULT Save(const os::ComPtr<os::IUnknown>& object, const std::string& path) {
    os::ComPtr<os::IPersistFile> file;
    if (os::HRESULT hr = object.As(&file); os::FAILED(hr)) return hr;
    return file->Save(os::AnsiToWide(path).c_str(), os::TRUE);
  }
};

struct LinkCase {
  const char* label;
  const char* target;      // as given to SetPath
  const char* stored;      // the Windows path the link keeps
  const char* description;
  const char* arguments;
  const char* icon;
};

class ShortcutLinkFile : public ShortcutFileTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(ShortcutLinkFile, LnkinfoReadsBackTheTargetAndTheStrings) {
  const LinkCase& c = GetParam();
  PutFile(c.stored, "program bytes");
  auto link = Make<os::IShellLinkA>(os::CLSID_ShellLink);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->SetPath(os::Utf8ToAnsi(c.target)), os::S_OK);
  EXPECT_EQ(link->SetDescription(os::Utf8ToAnsi(c.description)), os::S_OK);
  EXPECT_EQ(link->SetArguments(c.arguments), os::S_OK);
  EXPECT_EQ(link->SetIconLocation(c.icon, 0), os::S_OK);
  ASSERT_EQ(Save(os::ComPtr<os::IUnknown>(link.Get()), "C:\\Users\\user\\Desktop\\App.lnk"), os::S_OK);

  const auto info = ReadWithLnkinfo(Host("C:\\Users\\user\\Desktop\\App.lnk"));
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.fields.at("Local path"), c.stored) << info.output;
  EXPECT_EQ(info.fields.at("Description"), c.description);
  EXPECT_EQ(info.fields.at("File size"), "13 bytes");
  EXPECT_EQ(info.fields.at("Drive type"), "Fixed (3)");
  if (*c.arguments) {
    EXPECT_EQ(info.fields.at("Command line arguments"), c.arguments);
  } else {
    EXPECT_EQ(info.fields.count("Command line arguments"), 0u) << info.output;
  }
  if (*c.icon) {
    EXPECT_EQ(info.fields.at("Icon location"), c.icon);
  } else {
    EXPECT_EQ(info.fields.count("Icon location"), 0u) << info.output;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ShortcutLinks, ShortcutLinkFile,
    ::testing::Values(
        LinkCase{"Everything", "C:\\Program Files\\App\\app.exe", "C:\\Program Files\\App\\app.exe", "My App",
                 "/silent \"a b\"", "C:\\Program Files\\App\\app.ico"},
        LinkCase{"Normalised", "c:/Program Files//App/../App/./app.exe", "C:\\Program Files\\App\\app.exe", "d", "",
                 ""},
        LinkCase{"Unicode", "C:\\Program Files\\앱\\실행.exe", "C:\\Program Files\\앱\\실행.exe", "내 앱", "-a", ""}),
    [](const ::testing::TestParamInfo<LinkCase>& i) { return std::string(i.param.label); });

TEST_F(ShortcutFileTest, ShortcutLinkFileReplacesAnExistingLinkWhole) {
  const std::string path = "C:\\Users\\user\\Desktop\\App.lnk";
  PutFile(path, std::string(5000, 'x'));
  auto link = Make<os::IShellLinkA>(os::CLSID_ShellLink);
  ASSERT_EQ(link->SetPath("C:\\missing\\later.exe"), os::S_OK);  // a target that is not there yet
  ASSERT_EQ(Save(os::ComPtr<os::IUnknown>(link.Get()), path), os::S_OK);
  const auto info = ReadWithLnkinfo(Host(path));
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.fields.at("Local path"), "C:\\missing\\later.exe");
  EXPECT_EQ(info.fields.at("File size"), "0 bytes");
  EXPECT_LT(GetFile(path).size(), 5000u);
}

TEST_F(ShortcutFileTest, ShortcutLinkFileWithoutAUsableTargetIsNotSaved) {
  for (const char* target : {"relative\\app.exe", "C:\\bad|name.exe", "Q:\\unmapped.exe", ""}) {
    auto link = Make<os::IShellLinkA>(os::CLSID_ShellLink);
    EXPECT_TRUE(os::FAILED(link->SetPath(target))) << target;
    EXPECT_EQ(Save(os::ComPtr<os::IUnknown>(link.Get()), "C:\\x.lnk"), os::E_UNEXPECTED) << target;
    EXPECT_FALSE(HostExists("C:\\x.lnk")) << target;
  }
  auto link = Make<os::IShellLinkA>(os::CLSID_ShellLink);
  EXPECT_EQ(link->SetIconLocation(std::string(300, 'i'), 0), os::E_INVALIDARG);
  EXPECT_EQ(link->SetDescription(std::string(70000, 'd')), os::E_INVALIDARG);
}

TEST_F(ShortcutFileTest, ShortcutUrlFileIsReadByAnIniReader) {
  auto url = Make<os::IUniformResourceLocatorA>(os::CLSID_InternetShortcut);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->SetURL("http://example.test/start?a=1", 0), os::S_OK);
  os::ComPtr<os::IShellLinkA> link;
  ASSERT_EQ(url.As(&link), os::S_OK);
  EXPECT_EQ(link->SetIconLocation("C:\\Program Files\\App\\site.ico", 2), os::S_OK);
  EXPECT_EQ(link->SetDescription("Site"), os::S_OK);
  EXPECT_EQ(link->SetArguments("-x"), os::E_NOTIMPL);
  ASSERT_EQ(Save(os::ComPtr<os::IUnknown>(url.Get()), "C:\\Users\\user\\Desktop\\Site.url"), os::S_OK);

  const std::string text = GetFile("C:\\Users\\user\\Desktop\\Site.url");
  EXPECT_EQ(text.rfind("[InternetShortcut]\r\n", 0), 0u) << text;
  const auto values = IniSection(text, "InternetShortcut");
  EXPECT_EQ(values, (std::map<std::string, std::string>{{"URL", "http://example.test/start?a=1"},
                                                       {"IconFile", "C:\\Program Files\\App\\site.ico"},
                                                       {"IconIndex", "2"}}));
}

TEST_F(ShortcutFileTest, ShortcutUrlFileRefusesTextThatWouldAddLines) {
  auto url = Make<os::IUniformResourceLocatorA>(os::CLSID_InternetShortcut);
  EXPECT_EQ(url->SetURL("http://a/\r\nIconFile=\\\\evil\\x.ico", 0), os::E_INVALIDARG);
  os::ComPtr<os::IShellLinkA> link;
  ASSERT_EQ(url.As(&link), os::S_OK);
  EXPECT_EQ(link->SetIconLocation("C:\\a.ico\nURL=http://evil/", 0), os::E_INVALIDARG);
  // Nothing was accepted, so there is nothing to save.
  EXPECT_EQ(Save(os::ComPtr<os::IUnknown>(url.Get()), "C:\\Site.url"), os::E_UNEXPECTED);
  EXPECT_FALSE(HostExists("C:\\Site.url"));

  EXPECT_EQ(url->SetURL("http://a/", 0), os::S_OK);
  ASSERT_EQ(Save(os::ComPtr<os::IUnknown>(url.Get()), "C:\\Site.url"), os::S_OK);
  EXPECT_EQ(IniSection(GetFile("C:\\Site.url"), "InternetShortcut"),
            (std::map<std::string, std::string>{{"URL", "http://a/"}}));
}

TEST(ShortcutObjects, AreMadeOnlyOnAThreadWithCom) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(os::CoCreateInstance(os::CLSID_ShellLink, nullptr, os::CLSCTX_INPROC_SERVER, os::IID_IShellLinkA, &out),
            os::CO_E_NOTINITIALIZED);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
