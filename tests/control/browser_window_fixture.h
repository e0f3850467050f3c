// A control embedded in the browser stand-in, for the tests of the window methods.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "actions/browser_version.h"
#include "control/pelisto_ctrl.h"
#include "control/system_menu_guard.h"
#include "os/image/integrity.h"
#include "os/reg/registry.h"
#include "os/ui/browser/host_browser.h"
#include "os/ui/message_queue.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {

class BrowserWindowFixture : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ResetSystemMenuGuardForTesting();
    // The window methods' steps for newer browsers are chosen by the recorded browser version;
    // these tests start from none and record one where they need it.
    os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
    os::HKEY key = nullptr;
    if (os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, kBrowserVersionKey, 0, os::KEY_ALL_ACCESS, &key) == 0) {
      os::RegDeleteValueA(key, kBrowserVersionValue);
      os::RegCloseKey(key);
    }
  }
  void TearDown() override {
    ResetSystemMenuGuardForTesting();
    control_.reset();
    browser_.reset();
    UiTest::TearDown();
  }

  // A browser with the control in its page: given the client site and its window unless told
  // otherwise.
  void Embed(os::ui::HostBrowserOptions options = {}, bool site = true, bool window = true) {
    browser_ = std::make_unique<os::ui::HostBrowser>(options);
    ASSERT_NE(browser_->Frame(), nullptr);
    ControlOptions control_options;
    control_options.main_window = browser_->Frame();
    control_ = std::make_unique<CPelistoCtrl>(std::move(control_options));
    control_->Load(PropertyBag());
    if (site) control_->SetClientSite(browser_->ClientSite());
    if (window) {
      ASSERT_NE(control_->CreateControlWindow(browser_->ControlParent(), os::RECT{0, 0, 300, 40}),
                nullptr);
    }
  }

  // Delivers what was posted to this thread.
  static void Pump() {
    os::MSG msg;
    while (os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE)) os::DispatchMessageA(&msg);
  }

  std::vector<std::string> Calls() const { return browser_->Calls(); }
  CPelistoCtrl& control() { return *control_; }
  os::ui::HostBrowser& browser() { return *browser_; }

 private:
  std::unique_ptr<os::ui::HostBrowser> browser_;
  std::unique_ptr<CPelistoCtrl> control_;
};

}  // namespace pelisto::testing
