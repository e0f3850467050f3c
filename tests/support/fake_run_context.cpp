#include "tests/support/fake_run_context.h"

#include <string>

#include "os/com/com_error.h"
#include "os/shell/folders.h"
#include "os/sysinfo/version.h"

namespace pelisto::testing {

PrivilegedOps& FakeRunContext::Privileged() {
  if (privileged_override != nullptr) return *privileged_override;
  std::unique_ptr<PrivilegedOps>& ops = windows6 ? brokered_ops_ : direct_ops_;
  if (!ops) ops = MakePrivilegedOps(windows6, *this);
  return *ops;
}

FakeRunContext::FakeRunContext() {
  os::GetWindowsDirectoryA(&folders.windows);
  os::GetSystemDirectoryA(&folders.system);
  os::SHGetFolderPathA(nullptr, os::CSIDL_PROGRAM_FILES, nullptr, 0, &folders.program_files);
  os::SHGetFolderPathA(nullptr, os::CSIDL_DESKTOP, nullptr, 0, &folders.desktop);
  windows6 = os::IsWindows6OrLater();
}

bool FakeRunContext::Logged(const std::string& text) const {
  for (const LogLine& line : log) {
    if (line.text.find(text) != std::string::npos) return true;
  }
  return false;
}

void FakeRunContext::CreateLogFile(const std::string& folder) { log_folders.push_back(folder); }

void FakeRunContext::WriteLog(const std::string& text, unsigned level) {
  log.push_back({text, level});
  if (on_log) on_log(text);
}

void FakeRunContext::ShowMessage(const std::string& text) { messages.push_back(text); }

void FakeRunContext::ReportComError(const os::ComError& error, const std::string& source) {
  com_errors.push_back({error.Error(), error.InterfaceName(), source});
}

os::LONG FakeRunContext::FireStartDownload(const std::string& url, const std::string& file_name,
                                           os::LONG file_length) {
  events.push_back("StartDownload(" + url + "," + file_name + "," + std::to_string(file_length) + ")");
  return page_cancel;
}

os::LONG FakeRunContext::FireDownloading(os::LONG read_file_length) {
  events.push_back("Downloading(" + std::to_string(read_file_length) + ")");
  return page_cancel;
}

os::LONG FakeRunContext::FireChangeStatus(os::LONG status, os::LONG status_info,
                                          os::LONG status_info_length) {
  events.push_back("ChangeStatus(" + std::to_string(status) + "," + std::to_string(status_info) +
                   "," + std::to_string(status_info_length) + ")");
  return page_cancel;
}

void FakeRunContext::FireUnZipFileNumber(os::LONG file_number) {
  events.push_back("UnZipFileNumber(" + std::to_string(file_number) + ")");
}

os::LONG FakeRunContext::FireUnZipping(const std::string& file_name) {
  events.push_back("UnZipping(" + file_name + ")");
  return page_cancel;
}

void FakeRunContext::FireEndUnZip(os::LONG success) {
  events.push_back("EndUnZip(" + std::to_string(success) + ")");
}

void FakeRunContext::NotifyTotalDownloadFileNumber(os::LONG file_number) {
  events.push_back("TotalDownloadFileNumber(" + std::to_string(file_number) + ")");
  if ((page_cancel | dialog_cancel) == 1) throw RunError("Canceled at TotalDownloadFileNumber");
}

void FakeRunContext::NotifyIsDownload(os::LONG status_code, const std::string& content_name) {
  events.push_back("IsDownload(" + std::to_string(status_code) + "," + content_name + ")");
  os::LONG cancel = page_cancel | dialog_cancel;
  if (cancel == 1) throw RunError("Canceled By User Status is " + std::to_string(status_code));
}

}  // namespace pelisto::testing
