#include "host/host_page.h"

#include "os/ui/message_queue.h"
#include "os/ui/window.h"

namespace pelisto {
namespace {

os::ui::HostBrowserOptions BrowserOptions(const CliOptions& options) {
  os::ui::HostBrowserOptions b;
  b.page_url = options.page_url;
  b.unicode_frame = options.unicode_frame;
  b.links.container = options.browser != BrowserMode::kNoContainer;
  b.links.service_provider = options.browser != BrowserMode::kNoServiceProvider;
  b.links.browser_service = options.browser != BrowserMode::kNoWebBrowser;
  return b;
}

}  // namespace

HostPage::HostPage(const CliOptions& options)
    : mode_(options.browser), browser_(BrowserOptions(options)) {}

void HostPage::Embed(CPelistoCtrl& control) const {
  if (mode_ != BrowserMode::kNoSite && mode_ != BrowserMode::kNone) {
    control.SetClientSite(browser_.ClientSite());
  }
  if (mode_ != BrowserMode::kNoWindow && mode_ != BrowserMode::kNone &&
      browser_.ControlParent() != nullptr) {
    control.CreateControlWindow(browser_.ControlParent(), os::RECT{0, 0, 300, 40});
  }
}

void HostPage::PumpMessages() const {
  os::MSG msg;
  // Bounded, so that a window that keeps posting to itself cannot hold the host.
  for (int i = 0; i < 10000 && os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE); ++i) {
    if (msg.message == os::WM_QUIT) break;
    os::TranslateMessage(&msg);
    os::DispatchMessageA(&msg);
  }
}

SysCommandOutcome HostPage::SendSysCommand(os::WPARAM command) const {
  const os::HWND frame = browser_.Frame();
  if (frame == nullptr || !os::IsWindow(frame)) return SysCommandOutcome::kNoFrame;
  const int before = browser_.SysCommandsReceived();
  os::SendMessageA(frame, os::WM_SYSCOMMAND, command, 0);
  PumpMessages();
  return browser_.SysCommandsReceived() == before ? SysCommandOutcome::kSwallowed
                                                   : SysCommandOutcome::kPassed;
}

}  // namespace pelisto
