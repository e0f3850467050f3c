// The page address read from the application's main window, as the update run reads it.
#include <gtest/gtest.h>

#include <string>

#include "control/page_address.h"
#include "os/ui/browser/host_browser.h"
#include "os/ui/window.h"
#include "tests/support/ui_script.h"

namespace {
using BrowserWindowPageAddress = pelisto::testing::UiTest;

TEST_F(BrowserWindowPageAddress, TheWholeAddressOfTheFirstEditField) {
  std::string url = "http://updates.example.test/";
  while (url.size() < 250) url += "folder/";
  url += "page.html?x=1";
  os::ui::HostBrowserOptions options;
  options.page_url = url;
  os::ui::HostBrowser browser(options);
  ASSERT_GT(url.size(), 100u);
  EXPECT_EQ(pelisto::ReadPageAddress(browser.Frame()), url) << "no 100-character cut";
  // An edit field made later, deeper in the page, is not the address field.
  ASSERT_NE(os::CreateWindowExA(0, "edit", "http://other.test/", os::WS_CHILD, 0, 0, 10, 10,
                                browser.ControlParent(), 9, nullptr),
            nullptr);
  EXPECT_EQ(pelisto::ReadPageAddress(browser.Frame()), url);
  os::SetWindowTextA(browser.AddressField(), "");
  EXPECT_EQ(pelisto::ReadPageAddress(browser.Frame()), "");
}

TEST_F(BrowserWindowPageAddress, NoAddressWithoutAnEditField) {
  os::ui::HostBrowser browser;
  EXPECT_EQ(pelisto::ReadPageAddress(browser.Frame()), "") << "no --page-url: no address";
  EXPECT_EQ(pelisto::ReadPageAddress(nullptr), "");
  EXPECT_EQ(pelisto::ReadPageAddress(browser.ControlParent()), "") << "no EDIT below it";
  os::HWND frame = browser.Frame();
  os::DestroyWindow(frame);
  EXPECT_EQ(pelisto::ReadPageAddress(frame), "") << "a closed browser";
}

}  // namespace
