// The screen the browser stands on (desktop and taskbar from image.conf, SHAppBarMessage) and
// the browser stand-in itself: its window tree, its client site chain, its recording object,
// and the window calls it leans on (Unicode classes, coordinates kept in range).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "os/image/machine.h"
#include "os/shell/app_bar.h"
#include "os/ui/browser/host_browser.h"
#include "os/ui/message_queue.h"
#include "os/ui/screen.h"
#include "os/ui/window.h"
#include "tests/support/ui_script.h"

namespace {
using BrowserWindowScreen = pelisto::testing::UiTest;
using BrowserWindowStandIn = pelisto::testing::UiTest;

bool SameRect(const os::RECT& a, const os::RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const os::RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

TEST_F(BrowserWindowScreen, DefaultsAre1024x768WithA40PixelTaskbarAtTheBottom) {
  os::RECT desktop;
  ASSERT_TRUE(os::GetWindowRect(os::GetDesktopWindow(), &desktop));
  EXPECT_EQ(Show(desktop), "0,0,1024,768");
  const os::HWND tray = os::FindWindowA("shell_traywnd", "");
  ASSERT_NE(tray, nullptr) << "found without regard to case, like any class";
  os::RECT taskbar;
  ASSERT_TRUE(os::GetWindowRect(tray, &taskbar));
  EXPECT_EQ(Show(taskbar), "0,728,1024,768");

  os::APPBARDATA data;
  EXPECT_EQ(os::SHAppBarMessage(os::ABM_GETSTATE, &data), os::ABS_ALWAYSONTOP);
  EXPECT_EQ(os::SHAppBarMessage(os::ABM_GETSTATE, nullptr), os::ABS_ALWAYSONTOP);
  data.cbSize = os::kAppBarData32Size;
  ASSERT_EQ(os::SHAppBarMessage(os::ABM_GETTASKBARPOS, &data), os::TRUE);
  EXPECT_EQ(data.uEdge, os::ABE_BOTTOM);
  EXPECT_EQ(data.hWnd, tray);
  EXPECT_TRUE(SameRect(data.rc, taskbar));
  std::vector<os::HWND> mine = os::ui::TopLevelWindows();
  EXPECT_EQ(std::count(mine.begin(), mine.end(), tray), 0) << "the shell's, not this process's";
}

TEST_F(BrowserWindowScreen, TaskbarPositionNeedsAKnownStructureSize) {
  os::APPBARDATA data;
  data.uEdge = 77;
  for (os::DWORD size : {0u, 35u, 37u, 0xFFFFFFFFu}) {
    data.cbSize = size;
    EXPECT_EQ(os::SHAppBarMessage(os::ABM_GETTASKBARPOS, &data), 0u) << size;
    EXPECT_EQ(data.uEdge, 77u) << "untouched";
  }
  data.cbSize = sizeof(os::APPBARDATA);
  EXPECT_EQ(os::SHAppBarMessage(os::ABM_GETTASKBARPOS, &data), os::TRUE);
  EXPECT_EQ(os::SHAppBarMessage(os::ABM_GETTASKBARPOS, nullptr), 0u);
  EXPECT_EQ(os::SHAppBarMessage(0x1234, &data), 0u);
}

struct LayoutCase {
  const char* conf;  // lines appended to image.conf
  const char* desktop;
  const char* taskbar;
  os::UINT edge;
  bool auto_hide;
};

class BrowserWindowScreenLayout : public pelisto::testing::UiTest,
                                  public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(BrowserWindowScreenLayout, FromImageConf) {
  const LayoutCase& c = GetParam();
  std::ofstream(prefix() + "/image.conf", std::ios::app) << c.conf;
  std::string error;
  auto image = os::Machine::Open(prefix(), &error);
  ASSERT_TRUE(image) << error;
  Reconfigure(image->settings());
  os::RECT desktop, taskbar;
  os::GetWindowRect(os::GetDesktopWindow(), &desktop);
  os::GetWindowRect(os::FindWindowA(os::ui::kTaskbarClass, ""), &taskbar);
  EXPECT_EQ(Show(desktop), c.desktop);
  EXPECT_EQ(Show(taskbar), c.taskbar);
  os::APPBARDATA data;
  data.cbSize = os::kAppBarData32Size;
  EXPECT_EQ((os::SHAppBarMessage(os::ABM_GETSTATE, &data) & os::ABS_AUTOHIDE) != 0, c.auto_hide);
  os::SHAppBarMessage(os::ABM_GETTASKBARPOS, &data);
  EXPECT_EQ(data.uEdge, c.edge);
  // Saved and read again, the settings stay.
  ASSERT_TRUE(machine().Save(&error)) << error;
  auto again = os::Machine::Open(prefix(), &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->settings().display.taskbar_edge, c.edge);
  EXPECT_EQ(again->settings().display.taskbar_autohide, c.auto_hide);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, BrowserWindowScreenLayout,
    ::testing::Values(
        LayoutCase{"taskbar_edge=left\ntaskbar_size=60\n", "0,0,1024,768", "0,0,60,768", 0, false},
        LayoutCase{"taskbar_edge=TOP\n", "0,0,1024,768", "0,0,1024,40", 1, false},
        LayoutCase{"taskbar_edge=2\ntaskbar_size=100\n", "0,0,1024,768", "924,0,1024,768", 2, false},
        LayoutCase{"desktop_width=1920\ndesktop_height=1080\ntaskbar_autohide=yes\n",
                   "0,0,1920,1080", "0,1040,1920,1080", 3, true},
        LayoutCase{"taskbar_edge=7\n", "0,0,1024,768", "0,728,1024,768", 7, false},
        LayoutCase{"desktop_width=300\ndesktop_height=200\ntaskbar_size=5000\n", "0,0,300,200",
                   "0,0,300,200", 3, false},
        LayoutCase{"taskbar_size=0\ntaskbar_autohide=1\n", "0,0,1024,768", "0,768,1024,768", 3,
                   true}));

class BrowserWindowScreenBadConf : public pelisto::testing::UiTest,
                                   public ::testing::WithParamInterface<const char*> {};

TEST_P(BrowserWindowScreenBadConf, RefusedWithTheKeyNamed) {
  std::ofstream(prefix() + "/image.conf", std::ios::app) << GetParam() << "\n";
  std::string error;
  EXPECT_FALSE(os::Machine::Open(prefix(), &error)) << GetParam();
  const std::string key = std::string(GetParam()).substr(0, std::string(GetParam()).find('='));
  EXPECT_NE(error.find("bad value for " + key), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Values, BrowserWindowScreenBadConf,
                         ::testing::Values("desktop_width=0", "desktop_height=32768",
                                           "desktop_width=99999999999999999999",
                                           "desktop_width=1024px", "taskbar_size=-1",
                                           "taskbar_edge=middle", "taskbar_edge=-3",
                                           "taskbar_edge=4294967296", "taskbar_autohide=maybe",
                                           "desktop_height="));

// --- The stand-in ------------------------------------------------------------------------------

TEST_F(BrowserWindowStandIn, ClimbingFromThePageReachesTheFrame) {
  os::ui::HostBrowserOptions options;
  options.page_url = "http://example.test/page.html";
  os::ui::HostBrowser browser(options);
  ASSERT_NE(browser.Frame(), nullptr);
  int hops = 0;
  os::HWND h = browser.ControlParent();
  for (os::HWND p = os::GetParent(h); p != nullptr; p = os::GetParent(h), ++hops) h = p;
  EXPECT_EQ(h, browser.Frame());
  EXPECT_GE(hops, 3) << "windows lie between the page and the frame";
  EXPECT_EQ(os::GetAncestor(browser.AddressField(), os::GA_ROOT), browser.Frame());
  std::string text;
  os::GetWindowTextA(browser.AddressField(), &text, 1000);
  EXPECT_EQ(text, options.page_url);
  std::string cls;
  os::GetClassNameA(browser.AddressField(), &cls, 100);
  EXPECT_EQ(cls, "EDIT");
  EXPECT_TRUE(os::IsWindowUnicode(browser.Frame()));
  EXPECT_FALSE(browser.FrameProcedureReplaced());
  EXPECT_EQ(os::FindWindowA("", "Pelisto host"), browser.Frame()) << "a top-level window";
}

TEST_F(BrowserWindowStandIn, TheClientSiteChainLeadsToTheBrowserObject) {
  os::ui::HostBrowser browser;
  os::ComPtr<os::IOleClientSite> site(browser.ClientSite());
  os::ComPtr<os::IOleContainer> container;
  EXPECT_EQ(site->GetContainer(container.ReleaseAndGetAddressOf()), os::S_OK);
  EXPECT_TRUE(container);
  os::ComPtr<os::IServiceProvider> services;
  ASSERT_EQ(site.As(&services), os::S_OK);
  os::ComPtr<os::IWebBrowser2> object;
  EXPECT_EQ(services->QueryService(os::SID_SWebBrowserApp, os::IWebBrowser2::kIid,
                                   object.ReleaseAndGetVoidAddressOf()),
            os::S_OK);
  EXPECT_EQ(object.Get(), browser.WebBrowser());
  void* out = &out;
  EXPECT_EQ(services->QueryService(os::IWebBrowser2::kIid, os::IWebBrowser2::kIid, &out),
            os::E_NOINTERFACE) << "an unknown service";
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(services->QueryService(os::SID_SWebBrowserApp, os::IOleClientSite::kIid, &out),
            os::E_NOINTERFACE) << "the service lacks that interface";
  EXPECT_EQ(site->GetContainer(nullptr), os::E_POINTER);
}

TEST_F(BrowserWindowStandIn, EachLinkOfTheChainCanBeMissing) {
  os::ui::HostBrowserOptions options;
  options.links = {false, false, false};
  os::ui::HostBrowser browser(options);
  os::IOleClientSite* site = browser.ClientSite();
  os::IOleContainer* container = reinterpret_cast<os::IOleContainer*>(site);
  EXPECT_EQ(site->GetContainer(&container), os::E_NOINTERFACE);
  EXPECT_EQ(container, nullptr);
  void* out = site;
  EXPECT_EQ(site->QueryInterface(os::IServiceProvider::kIid, &out), os::E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(site->QueryInterface(os::IOleClientSite::kIid, &out), os::S_OK);
  static_cast<os::IUnknown*>(out)->Release();

  options.links = {true, true, false};
  os::ui::HostBrowser no_service(options);
  os::ComPtr<os::IServiceProvider> services;
  ASSERT_EQ(os::ComPtr<os::IOleClientSite>(no_service.ClientSite()).As(&services), os::S_OK);
  EXPECT_EQ(services->QueryService(os::SID_SWebBrowserApp, os::IWebBrowser2::kIid, &out),
            os::E_NOINTERFACE);
}

TEST_F(BrowserWindowStandIn, TheObjectRecordsEveryCallAndMovesTheFrame) {
  os::ui::HostBrowser browser;
  os::IWebBrowser2* object = browser.WebBrowser();
  object->put_Left(10);
  object->put_Top(20);
  object->put_Width(640);
  object->put_Height(480);
  object->put_ToolBar(0);
  object->put_FullScreen(os::VARIANT_TRUE);
  object->put_Visible(os::VARIANT_FALSE);
  EXPECT_FALSE(os::IsWindowVisible(browser.Frame()));
  object->put_Visible(os::VARIANT_TRUE);
  os::SHANDLE_PTR hwnd = 0;
  object->get_HWND(&hwnd);
  EXPECT_EQ(reinterpret_cast<os::HWND>(hwnd), browser.Frame());
  EXPECT_EQ(object->get_HWND(nullptr), os::E_POINTER);
  os::SendMessageA(browser.Frame(), os::WM_SIZE, 1, 2);
  os::PostMessageA(browser.Frame(), os::WM_SYSCOMMAND, os::SC_MAXIMIZE, 0);
  os::MSG msg;
  while (os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE)) os::DispatchMessageA(&msg);

  EXPECT_EQ(browser.Calls(),
            (std::vector<std::string>{"put_Left(10)", "put_Top(20)", "put_Width(640)",
                                      "put_Height(480)", "put_ToolBar(0)", "put_FullScreen(-1)",
                                      "put_Visible(0)", "put_Visible(-1)", "get_HWND()",
                                      "get_HWND()", "WM_SIZE(1,2)", "WM_SYSCOMMAND(0xF030,0)"}));
  os::RECT r;
  ASSERT_TRUE(os::GetWindowRect(browser.Frame(), &r));
  EXPECT_EQ(Show(r), "10,20,650,500");
  EXPECT_TRUE(os::IsZoomed(browser.Frame()));
  EXPECT_EQ(browser.SysCommandsReceived(), 1);
  EXPECT_EQ(browser.State().tool_bar, 0);
  EXPECT_EQ(browser.State().full_screen, os::VARIANT_TRUE);
  EXPECT_EQ(browser.State().menu_bar, os::VARIANT_TRUE) << "untouched bars stay on";
}

TEST_F(BrowserWindowStandIn, HugePlacementsStayInWindowCoordinates) {
  os::ui::HostBrowser browser;
  os::IWebBrowser2* object = browser.WebBrowser();
  object->put_Left(2147483647);
  object->put_Width(2147483647);
  object->put_Top(-2147483647 - 1);
  object->put_Height(-5);
  os::RECT r;
  ASSERT_TRUE(os::GetWindowRect(browser.Frame(), &r));
  EXPECT_EQ(Show(r), "32767,-32768,65534,-32768");
  ASSERT_TRUE(os::GetWindowRect(browser.ControlParent(), &r)) << "children add up safely";
  EXPECT_EQ(r.left, 32767);
}

TEST_F(BrowserWindowStandIn, ClosingTheFrameEndsItsWindows) {
  os::ui::HostBrowser browser;
  const os::HWND page = browser.ControlParent();
  os::SendMessageA(browser.Frame(), os::WM_SYSCOMMAND, os::SC_CLOSE, 0);
  EXPECT_FALSE(os::IsWindow(browser.Frame()));
  EXPECT_FALSE(os::IsWindow(page));
  EXPECT_EQ(browser.Calls(), (std::vector<std::string>{"WM_SYSCOMMAND(0xF060,0)", "WM_CLOSE()"}));
  EXPECT_FALSE(browser.FrameProcedureReplaced());
  os::SHANDLE_PTR hwnd = 0;
  EXPECT_EQ(browser.WebBrowser()->put_Width(5), os::E_FAIL) << "no frame to move";
  EXPECT_EQ(browser.WebBrowser()->get_HWND(&hwnd), os::S_OK);
}

os::LRESULT Replacement(os::HWND hwnd, os::UINT message, os::WPARAM wparam, os::LPARAM lparam) {
  return os::DefWindowProcA(hwnd, message, wparam, lparam);
}

TEST_F(BrowserWindowStandIn, UnicodeWindowsFollowTheCallThatSetTheirProcedure) {
  os::ui::HostBrowserOptions options;
  options.unicode_frame = false;
  os::ui::HostBrowser narrow(options);
  EXPECT_FALSE(os::IsWindowUnicode(narrow.Frame()));
  EXPECT_FALSE(os::IsWindowUnicode(narrow.AddressField()));
  os::ui::HostBrowser wide;
  const os::HWND frame = wide.Frame();
  ASSERT_TRUE(os::IsWindowUnicode(frame));
  const os::LONG_PTR own = os::GetWindowLongPtrW(frame, os::GWLP_WNDPROC);
  os::SetWindowLongPtrA(frame, os::GWLP_WNDPROC, reinterpret_cast<os::LONG_PTR>(&Replacement));
  EXPECT_FALSE(os::IsWindowUnicode(frame));
  EXPECT_TRUE(wide.FrameProcedureReplaced());
  EXPECT_EQ(os::SetWindowLongPtrW(frame, os::GWLP_WNDPROC, own),
            reinterpret_cast<os::LONG_PTR>(&Replacement));
  EXPECT_TRUE(os::IsWindowUnicode(frame));
  EXPECT_FALSE(wide.FrameProcedureReplaced());
  os::WNDCLASSW wc;
  wc.lpfnWndProc = os::DefWindowProcW;
  wc.lpszClassName = u"PelistoHostFrame";
  EXPECT_FALSE(os::RegisterClassW(&wc)) << "registered once";
  EXPECT_EQ(os::RegisterClassW(nullptr), os::FALSE);
}

}  // namespace
