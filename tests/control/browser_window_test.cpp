// The window methods through the control embedded in the browser stand-in: the taskbar
// placement with the version steps, the option grammar, resizing, the system-menu guard, the
// posted window states, and hosts that lack a link of the chain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/browser_version.h"
#include "control/dispatch_table.h"
#include "control/style_options.h"
#include "os/image/integrity.h"
#include "os/reg/registry.h"
#include "os/ui/window.h"
#include "tests/control/browser_window_fixture.h"

namespace {
using CallList = std::vector<std::string>;
using BrowserWindowVersion = pelisto::testing::BrowserWindowFixture;
using BrowserWindowCalls = pelisto::testing::BrowserWindowFixture;
using BrowserWindowGuard = pelisto::testing::BrowserWindowFixture;
using BrowserWindowStates = pelisto::testing::BrowserWindowFixture;
using pelisto::testing::BrowserWindowFixture;

const CallList kBarsOff = {"put_ToolBar(0)", "put_AddressBar(0)", "put_MenuBar(0)",
                        "put_StatusBar(0)", "get_HWND()"};

CallList Placed(int left, int top, int width, int height) {
  CallList calls = {"put_Left(" + std::to_string(left) + ")", "put_Top(" + std::to_string(top) + ")",
                 "put_Width(" + std::to_string(width) + ")",
                 "put_Height(" + std::to_string(height) + ")"};
  calls.insert(calls.end(), kBarsOff.begin(), kBarsOff.end());
  return calls;
}

void StoreBrowserVersion(const std::string& text) {
  os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
  os::HKEY key = nullptr;
  ASSERT_EQ(os::RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, pelisto::kBrowserVersionKey, 0, nullptr, 0,
                                os::KEY_ALL_ACCESS, nullptr, &key, nullptr),
            0);
  os::RegSetValueExA(key, pelisto::kBrowserVersionValue, 0, os::REG_SZ,
                     reinterpret_cast<const os::BYTE*>(text.c_str()),
                     static_cast<os::DWORD>(text.size() + 1));
  os::RegCloseKey(key);
}

// --- setStyle ---------------------------------------------------------------------------------

struct TaskbarCase {
  const char* name;
  int desktop_width, desktop_height;
  os::UINT edge;
  int size;
  bool auto_hide;
  CallList expected;
};

void PrintTo(const TaskbarCase& c, std::ostream* out) { *out << c.name; }

class BrowserWindowStyle : public BrowserWindowFixture,
                           public ::testing::WithParamInterface<TaskbarCase> {};

TEST_P(BrowserWindowStyle, PlacesTheBrowserBesideTheTaskbar) {
  const TaskbarCase& c = GetParam();
  os::ImageSettings settings = machine().settings();
  settings.display.desktop_width = c.desktop_width;
  settings.display.desktop_height = c.desktop_height;
  settings.display.taskbar_edge = c.edge;
  settings.display.taskbar_size = c.size;
  settings.display.taskbar_autohide = c.auto_hide;
  Reconfigure(settings);
  Embed();
  control().setStyle();
  EXPECT_EQ(Calls(), c.expected);
  if (c.expected.size() > kBarsOff.size()) {
    os::RECT r;
    ASSERT_TRUE(os::GetWindowRect(browser().Frame(), &r));
    EXPECT_EQ(c.expected[0], "put_Left(" + std::to_string(r.left) + ")") << "the frame moved";
    EXPECT_EQ(c.expected[3], "put_Height(" + std::to_string(r.bottom - r.top) + ")");
  }
  const os::ui::WebBrowserState s = browser().State();
  EXPECT_EQ(s.tool_bar, 0);
  EXPECT_EQ(s.address_bar, os::VARIANT_FALSE);
  EXPECT_EQ(s.menu_bar, os::VARIANT_FALSE);
  EXPECT_EQ(s.status_bar, os::VARIANT_FALSE);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, BrowserWindowStyle,
    ::testing::Values(
        TaskbarCase{"Bottom40", 1024, 768, 3, 40, false, Placed(0, 0, 1024, 731)},
        TaskbarCase{"Top40", 1024, 768, 1, 40, false, Placed(0, 40, 1024, 728)},
        TaskbarCase{"Left60", 1024, 768, 0, 60, false, Placed(60, 0, 964, 768)},
        TaskbarCase{"Right60", 1024, 768, 2, 60, false, Placed(0, 0, 964, 768)},
        TaskbarCase{"AutoHideBottom", 1024, 768, 3, 40, true, Placed(0, 0, 1024, 768)},
        TaskbarCase{"AutoHideLeft", 1280, 1024, 0, 60, true, Placed(0, 0, 1280, 1024)},
        TaskbarCase{"AutoHideUnknownEdge", 1024, 768, 9, 40, true, Placed(0, 0, 1024, 768)},
        TaskbarCase{"UnknownEdgeLeavesThePlacement", 1024, 768, 4, 40, false, kBarsOff},
        TaskbarCase{"Bottom30On1280x1024", 1280, 1024, 3, 30, false, Placed(0, 0, 1280, 997)},
        TaskbarCase{"NoTaskbarThickness", 800, 600, 3, 0, false, Placed(0, 0, 800, 603)}),
    [](const ::testing::TestParamInfo<TaskbarCase>& info) { return info.param.name; });

TEST_F(BrowserWindowVersion, Version7HidesAndShowsAroundTheBars) {
  StoreBrowserVersion("7.0000");
  Embed();
  control().setStyle();
  EXPECT_EQ(Calls(), (CallList{"put_Left(0)", "put_Top(0)", "put_Width(1024)", "put_Height(731)",
                            "put_Visible(0)", "put_ToolBar(0)", "put_AddressBar(0)",
                            "put_MenuBar(0)", "put_StatusBar(0)", "get_HWND()", "WM_SIZE(0,0)",
                            "put_Visible(-1)"}));
  EXPECT_TRUE(os::IsWindowVisible(browser().Frame()));
}

TEST_F(BrowserWindowVersion, Before7KeepsTheBrowserShown) {
  StoreBrowserVersion("6.0.2900");
  Embed();
  control().setStyle();
  EXPECT_EQ(Calls(), Placed(0, 0, 1024, 731));
}

TEST_F(BrowserWindowCalls, ThroughDispatchTheyAnswerNothing) {
  StoreBrowserVersion("8.0");
  Embed();
  os::LONG id = 0;
  ASSERT_EQ(pelisto::GetIDsOfNames("SETSTYLE", &id), os::S_OK);
  os::Variant result = os::Variant::Long(7);
  EXPECT_EQ(control().Invoke(id, pelisto::DISPATCH_METHOD, {}, &result), os::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(Calls().size(), 12u);
  for (const char* name : {"setStyle", "setIEResizable", "setStyle2", "protectSystemMenu",
                           "ChangeWindowState"}) {
    ASSERT_EQ(pelisto::GetIDsOfNames(name, &id), os::S_OK);
    EXPECT_EQ(pelisto::FindMember(id)->type, pelisto::ValueType::kVoid) << name;
  }
}

// --- setStyle2 --------------------------------------------------------------------------------

struct OptionCase {
  const char* name;
  std::string status;
  CallList expected;
};

void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }

class BrowserWindowStyle2 : public BrowserWindowFixture,
                            public ::testing::WithParamInterface<OptionCase> {};

TEST_P(BrowserWindowStyle2, AppliesTheOptionsInMapOrder) {
  Embed();
  control().setStyle2(GetParam().status);
  EXPECT_EQ(Calls(), GetParam().expected) << GetParam().status;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, BrowserWindowStyle2,
    ::testing::Values(
        OptionCase{"UpperCaseSortsFirst", "width=800,WIDTH=900", {"put_Width(900)", "put_Width(800)"}},
        OptionCase{"FirstOccurrenceWins", "width=800,width=900", {"put_Width(800)"}},
        OptionCase{"OnlyLowerYesIsTrue", "toolbar=YES,status=yes", {"put_StatusBar(-1)", "put_ToolBar(0)"}},
        OptionCase{"EmptyNameOrValueIgnored", "width=,=5, = ,height=  ", {}},
        OptionCase{"PiecesWithoutEqualsIgnored", "width,height600,,", {}},
        OptionCase{"TrailingComma", "left=5,", {"put_Left(5)"}},
        OptionCase{"Example",
                   "width=800, height=600,Top=0,left=0,toolbar=no,resizable=yes",
                   {"put_Top(0)", "put_Height(600)", "put_Left(0)", "put_Resizable(-1)",
                    "put_ToolBar(0)", "put_Width(800)"}},
        OptionCase{"BlanksTrimmed", " \t width \t=\t 12px \r\n", {"put_Width(12)"}},
        OptionCase{"FirstEqualsSplits", "left=1=2,top==3", {"put_Left(1)", "put_Top(0)"}},
        OptionCase{"NoLeadingDigitsIsZero", "height=-5,width=px10", {"put_Height(0)", "put_Width(0)"}},
        OptionCase{"HugeNumberSaturates", "width=99999999999999999999999",
                   {"put_Width(2147483647)"}},
        OptionCase{"AllTheBars", "menubar=yes,location=no,fullscreen=yes,status=no",
                   {"put_FullScreen(-1)", "put_AddressBar(0)", "put_MenuBar(-1)",
                    "put_StatusBar(0)"}},
        OptionCase{"UnknownNamesIgnored", "colour=red,widths=5,scrollbars=yes", {}},
        OptionCase{"NonAsciiBytes", "\xB0\xA1=yes,width=\xFF" "1,\xC7\xD1top=4,left=\xEA\xB0\x80",
                   {"put_Left(0)", "put_Width(0)"}},
        OptionCase{"EmptyString", "", {}}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return info.param.name; });

TEST_F(BrowserWindowCalls, Style2HundredThousandPieces) {
  Embed();
  std::string status;
  for (int i = 0; i < 100000; ++i) status += "k" + std::to_string(i) + "=" + std::to_string(i) + ",";
  status += "width=7,,=,x";
  control().setStyle2(status);
  EXPECT_EQ(Calls(), (CallList{"put_Width(7)"}));
  EXPECT_EQ(pelisto::ParseStyleOptions(status).size(), 100001u);
}

TEST_F(BrowserWindowCalls, WhoKeepsTheBrowserObject) {
  Embed();
  os::IWebBrowser2* object = browser().WebBrowser();
  object->AddRef();
  const os::ULONG before = object->Release();
  control().setStyle2("width=10");
  object->AddRef();
  EXPECT_EQ(object->Release(), before) << "setStyle2 releases the browser object it used";
  control().setIEResizable(1);
  object->AddRef();
  EXPECT_EQ(object->Release(), before + 1) << "setIEResizable keeps the one it obtained";
  control().setStyle();
  object->AddRef();
  EXPECT_EQ(object->Release(), before + 1) << "setStyle replaces it";
}

// --- setIEResizable ---------------------------------------------------------------------------

TEST_F(BrowserWindowCalls, ResizableNonZeroIsTrue) {
  Embed();
  for (os::LONG value : {0, 1, -1, 5, 0}) control().setIEResizable(value);
  EXPECT_EQ(Calls(), (CallList{"put_Resizable(0)", "put_Resizable(-1)", "put_Resizable(-1)",
                            "put_Resizable(-1)", "put_Resizable(0)"}));
  EXPECT_EQ(browser().State().resizable, os::VARIANT_FALSE);
}

// --- protectSystemMenu ------------------------------------------------------------------------

// Close last: passed on, it ends the frame. 0xF021 and 0xF121 only look like minimise and
// restore: the guard compares exactly.
constexpr os::WPARAM kCommands[] = {0xF122, os::SC_MINIMIZE, os::SC_RESTORE, os::SC_MAXIMIZE,
                                    0xF021, 0xF121, os::SC_CLOSE};

// The commands that reached the frame's own procedure, of those above, sent in order.
std::vector<os::WPARAM> Passed(os::ui::HostBrowser& browser) {
  std::vector<os::WPARAM> passed;
  for (os::WPARAM command : kCommands) {
    const int before = browser.SysCommandsReceived();
    os::SendMessageA(browser.Frame(), os::WM_SYSCOMMAND, command, 0);
    if (browser.SysCommandsReceived() != before) passed.push_back(command);
    if (!os::IsWindow(browser.Frame())) break;
  }
  return passed;
}

class BrowserWindowSystemMenu : public BrowserWindowFixture,
                                public ::testing::WithParamInterface<bool> {};

TEST_P(BrowserWindowSystemMenu, CloseThenMinimiseBlocksBothAndNothingElse) {
  os::ui::HostBrowserOptions options;
  options.unicode_frame = GetParam();
  Embed(options);
  control().protectSystemMenu(4);
  const os::LONG_PTR guard = os::GetWindowLongPtrA(browser().Frame(), os::GWLP_WNDPROC);
  control().protectSystemMenu(2);
  EXPECT_EQ(os::GetWindowLongPtrA(browser().Frame(), os::GWLP_WNDPROC), guard)
      << "the procedure is replaced once";
  EXPECT_EQ(pelisto::BlockedCommandsMask(), 6u);
  EXPECT_EQ(pelisto::GuardedFrame(), browser().Frame());
  EXPECT_EQ(os::IsWindowUnicode(browser().Frame()) != os::FALSE, GetParam())
      << "replaced with the call that matches the window";
  EXPECT_TRUE(browser().FrameProcedureReplaced());
  // Everything else reaches the frame: restore, maximise, commands that only look alike.
  EXPECT_EQ(Passed(browser()), (std::vector<os::WPARAM>{0xF122, os::SC_RESTORE, os::SC_MAXIMIZE,
                                                        0xF021, 0xF121}));
  os::SendMessageA(browser().Frame(), os::WM_SIZE, 0, 0);
  EXPECT_EQ(Calls().back(), "WM_SIZE(0,0)") << "other messages go to the previous procedure";
  EXPECT_TRUE(os::IsWindow(browser().Frame())) << "close was swallowed";
}

INSTANTIATE_TEST_SUITE_P(Frames, BrowserWindowSystemMenu, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "WideFrame" : "NarrowFrame";
                         });

TEST_F(BrowserWindowGuard, ACloseWithLowBitsIsNotTheBlockedClose) {
  Embed();
  control().protectSystemMenu(4);
  os::SendMessageA(browser().Frame(), os::WM_SYSCOMMAND, os::SC_CLOSE, 0);
  EXPECT_TRUE(os::IsWindow(browser().Frame()));
  os::SendMessageA(browser().Frame(), os::WM_SYSCOMMAND, os::SC_CLOSE | 3, 0);
  EXPECT_FALSE(os::IsWindow(browser().Frame())) << "exact match: 0xF063 reaches the frame";
}

TEST_F(BrowserWindowGuard, UnknownBitsBlockNothing) {
  Embed();
  control().protectSystemMenu(static_cast<os::LONG>(0xFFFFFFF0));
  EXPECT_EQ(pelisto::BlockedCommandsMask(), 0xFFFFFFF0u);
  EXPECT_EQ(Passed(browser()).size(), std::size(kCommands));
  EXPECT_FALSE(os::IsWindow(browser().Frame())) << "close passed on closes the frame";
}

TEST_F(BrowserWindowGuard, CaptionRestoreAndRestore) {
  Embed();
  control().protectSystemMenu(1);
  control().protectSystemMenu(8);
  control().protectSystemMenu(1);
  EXPECT_EQ(pelisto::BlockedCommandsMask(), 9u);
  EXPECT_EQ(Passed(browser()), (std::vector<os::WPARAM>{os::SC_MINIMIZE, os::SC_MAXIMIZE, 0xF021,
                                                        0xF121, os::SC_CLOSE}));
}

TEST_F(BrowserWindowGuard, WithoutAFrameLogsAndTriesAgain) {
  PutFile("C:\\work\\keep", "");
  Embed({}, true, false);
  control().CreateLogFile("C:\\work");
  control().protectSystemMenu(4);
  EXPECT_EQ(pelisto::GuardedFrame(), nullptr);
  EXPECT_EQ(pelisto::BlockedCommandsMask(), 4u) << "the mask is kept";
  const std::string log = GetFile(control().LogFilePath());
  EXPECT_NE(log.find("Failed Get IEFrame\r\n"), std::string::npos) << log;

  ASSERT_NE(control().CreateControlWindow(browser().ControlParent(), os::RECT{0, 0, 10, 10}),
            nullptr);
  control().protectSystemMenu(2);
  EXPECT_EQ(pelisto::GuardedFrame(), browser().Frame()) << "the next call installs the guard";
  EXPECT_EQ(Passed(browser()), (std::vector<os::WPARAM>{0xF122, os::SC_RESTORE, os::SC_MAXIMIZE,
                                                        0xF021, 0xF121}));
  const std::string after = GetFile(control().LogFilePath());
  EXPECT_EQ(after.find("Failed Get IEFrame"), after.rfind("Failed Get IEFrame"))
      << "logged once: " << after;
}

// --- ChangeWindowState ------------------------------------------------------------------------

struct StateCase {
  os::LONG param;
  const char* posted;  // the frame's record; null: nothing posted
};

class BrowserWindowState : public BrowserWindowFixture,
                           public ::testing::WithParamInterface<StateCase> {};

TEST_P(BrowserWindowState, PostsTheCommandOfTheTable) {
  Embed();
  os::ShowWindow(browser().Frame(), os::SW_SHOWNORMAL);
  control().ChangeWindowState(GetParam().param);
  EXPECT_TRUE(Calls().empty()) << "posted, not sent";
  Pump();
  const CallList calls = Calls();
  if (GetParam().posted == nullptr) {
    EXPECT_TRUE(calls.empty()) << calls.front();
    EXPECT_TRUE(os::IsWindow(browser().Frame()));
    EXPECT_FALSE(os::IsZoomed(browser().Frame()));
    EXPECT_FALSE(os::IsIconic(browser().Frame()));
    return;
  }
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), GetParam().posted);
}

INSTANTIATE_TEST_SUITE_P(Values, BrowserWindowState,
                         ::testing::Values(StateCase{2, "WM_SYSCOMMAND(0xF020,0)"},
                                           StateCase{4, "WM_SYSCOMMAND(0xF060,0)"},
                                           StateCase{8, "WM_SYSCOMMAND(0xF120,0)"},
                                           StateCase{16, "WM_SYSCOMMAND(0xF030,0)"},
                                           StateCase{1, nullptr}, StateCase{0, nullptr},
                                           StateCase{3, nullptr}, StateCase{32, nullptr},
                                           StateCase{-1, nullptr},
                                           StateCase{0x7FFFFFFF, nullptr}));

TEST_F(BrowserWindowStates, MaximisesMinimisesRestoresAndCloses) {
  Embed();
  control().ChangeWindowState(16);
  Pump();
  EXPECT_TRUE(os::IsZoomed(browser().Frame()));
  control().ChangeWindowState(2);
  Pump();
  EXPECT_TRUE(os::IsIconic(browser().Frame()));
  control().ChangeWindowState(8);
  Pump();
  EXPECT_FALSE(os::IsIconic(browser().Frame()));
  EXPECT_FALSE(os::IsZoomed(browser().Frame()));
  control().protectSystemMenu(4);
  control().ChangeWindowState(4);
  Pump();
  EXPECT_TRUE(os::IsWindow(browser().Frame())) << "a guarded close is swallowed";
  control().ChangeWindowState(16);
  Pump();
  EXPECT_TRUE(os::IsZoomed(browser().Frame()));
}

// --- Hosts without a link of the chain --------------------------------------------------------

struct HostCase {
  const char* name;
  bool container, service_provider, browser_service, site, window;
};

void PrintTo(const HostCase& c, std::ostream* out) { *out << c.name; }

class BrowserWindowNoBrowser : public BrowserWindowFixture,
                               public ::testing::WithParamInterface<HostCase> {};

TEST_P(BrowserWindowNoBrowser, EveryMethodDoesNothingAndReleasesWhatItTook) {
  const HostCase& c = GetParam();
  os::ui::HostBrowserOptions options;
  options.links.container = c.container;
  options.links.service_provider = c.service_provider;
  options.links.browser_service = c.browser_service;
  Embed(options, c.site, c.window);
  os::IOleClientSite* site = browser().ClientSite();
  site->AddRef();
  const os::ULONG site_refs = site->Release();
  os::IWebBrowser2* object = browser().WebBrowser();
  object->AddRef();
  const os::ULONG object_refs = object->Release();

  control().setStyle();
  control().setStyle2("width=800,toolbar=yes");
  control().setIEResizable(1);
  control().protectSystemMenu(4);
  control().ChangeWindowState(16);
  Pump();

  const bool reaches_browser =
      c.site && c.container && c.service_provider && c.browser_service;
  const bool reaches_frame = c.window;
  CallList expected;
  if (reaches_browser) {
    expected = Placed(0, 0, 1024, 731);
    expected.insert(expected.end(), {"put_ToolBar(-1)", "put_Width(800)", "put_Resizable(-1)"});
  }
  if (reaches_frame) expected.push_back("WM_SYSCOMMAND(0xF030,0)");
  EXPECT_EQ(Calls(), expected);
  EXPECT_EQ(pelisto::GuardedFrame(), reaches_frame ? browser().Frame() : nullptr);
  site->AddRef();
  EXPECT_EQ(site->Release(), site_refs + 0) << "site, container and service provider released";
  object->AddRef();
  EXPECT_EQ(object->Release(), object_refs + (reaches_browser ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, BrowserWindowNoBrowser,
    ::testing::Values(HostCase{"Full", true, true, true, true, true},
                      HostCase{"NoContainer", false, true, true, true, true},
                      HostCase{"NoServiceProvider", true, false, true, true, true},
                      HostCase{"NoWebBrowserService", true, true, false, true, true},
                      HostCase{"NoClientSite", true, true, true, false, true},
                      HostCase{"NoWindow", true, true, true, true, false},
                      HostCase{"NothingAtAll", true, true, true, false, false}),
    [](const ::testing::TestParamInfo<HostCase>& info) { return info.param.name; });

}  // namespace
