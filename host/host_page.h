// The page that embeds the control and the browser around it, as the host plays them: the
// browser stand-in (os/ui/browser/host_browser.h) with the page address in its address field,
// the control given its client site and its window in the page as --browser says, the page's
// message loop, and system commands sent to the frame.
#pragma once

#include "control/pelisto_ctrl.h"
#include "host/cli_options.h"
#include "os/ui/browser/host_browser.h"

namespace pelisto {

enum class SysCommandOutcome {
  kSwallowed,  // the frame's own procedure never saw it
  kPassed,     // it reached the frame's own procedure
  kNoFrame,    // the frame is gone (closed)
};

class HostPage {
 public:
  explicit HostPage(const CliOptions& options);

  // The application's main window for ControlOptions::main_window.
  os::HWND MainWindow() const { return browser_.Frame(); }
  // Hands the control its client site and makes its window in the page, as the mode says.
  void Embed(CPelistoCtrl& control) const;
  // Delivers what is waiting in the page thread's queue (the commands ChangeWindowState posts).
  void PumpMessages() const;
  // Sends WM_SYSCOMMAND (command, 0) to the frame, then pumps.
  SysCommandOutcome SendSysCommand(os::WPARAM command) const;

  const os::ui::HostBrowser& browser() const { return browser_; }

 private:
  const BrowserMode mode_;
  os::ui::HostBrowser browser_;
};

}  // namespace pelisto
