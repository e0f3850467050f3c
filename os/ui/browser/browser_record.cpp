#include "os/ui/browser/browser_record.h"

namespace os::ui {

void BrowserRecord::Add(const std::string& entry) {
  std::lock_guard<std::mutex> lock(mu_);
  entries_.push_back(entry);
}

std::vector<std::string> BrowserRecord::Entries() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_;
}

void BrowserRecord::CountSysCommand() {
  std::lock_guard<std::mutex> lock(mu_);
  ++sys_commands_;
}

int BrowserRecord::SysCommands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sys_commands_;
}

WebBrowserState BrowserRecord::State() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

}  // namespace os::ui
