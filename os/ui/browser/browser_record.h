// Internal to the browser stand-in: what the web browser object and the frame window have been
// asked, in order, and the object's properties. Shared by the object, the frame's window
// procedure and the HostBrowser that reports them; safe from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "os/ui/browser/host_browser_state.h"

namespace os::ui {

class BrowserRecord {
 public:
  // Appends one entry, e.g. "put_Width(800)" or "WM_SYSCOMMAND(0xF060,0)".
  void Add(const std::string& entry);
  std::vector<std::string> Entries() const;

  void CountSysCommand();
  int SysCommands() const;

  // Changes the properties under the record's lock.
  template <typename Change>
  void Update(Change change) {
    std::lock_guard<std::mutex> lock(mu_);
    change(state_);
  }
  WebBrowserState State() const;

 private:
  mutable std::mutex mu_;
  std::vector<std::string> entries_;
  int sys_commands_ = 0;
  WebBrowserState state_;
};

}  // namespace os::ui
