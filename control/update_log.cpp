#include "control/update_log.h"

#include <cstdio>

#include "os/fs/file_api.h"

namespace pelisto {
namespace {

std::string Format(const char* format, int a, int b, int c, int d = 0, int e = 0, int f = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a, b, c, d, e, f);
  return buf;
}

}  // namespace

os::SYSTEMTIME SystemLocalTime() {
  os::SYSTEMTIME st;
  os::GetLocalTime(&st);
  return st;
}

UpdateLog::UpdateLog(const ControlSettings& settings, PrivilegedOps& privileged, LocalClock clock,
                     std::function<void(const std::string&)> show_message)
    : settings_(settings),
      privileged_(privileged),
      clock_(clock ? std::move(clock) : LocalClock(SystemLocalTime)),
      show_message_(std::move(show_message)) {}

void UpdateLog::CreateLogFile(const std::string& folder) {
  if (!settings_.enable_log) return;
  std::string log_folder = folder + "\\PloLog";
  // Creating counts an existing name as success: a file in the way is no folder either.
  if (!os::IsDirectory(log_folder) &&
      (!privileged_.CreateDirectory(log_folder) || !os::IsDirectory(log_folder))) {
    log_folder = "c:";
  }
  const os::SYSTEMTIME now = clock_();
  const std::string file =
      log_folder + "\\Log" + Format("%04d%02d%02d", now.wYear, now.wMonth, now.wDay) + ".log";
  if (os::FileExists(file)) {
    path_ = file;
    return;
  }
  if (!privileged_.CreateFileIfMissing(file)) {
    path_.clear();
    if (show_message_) show_message_("Pelisto Log File Create Error!");
    return;
  }
  path_ = file;
}

void UpdateLog::WriteLog(const std::string& text, unsigned level) {
  if (!settings_.enable_log) return;
  if (static_cast<unsigned>(settings_.log_level) > level) return;
  // Without a file there is nothing to append to; asking for the broker would only prompt.
  if (path_.empty()) return;
  std::lock_guard<std::mutex> lock(write_mu_);
  privileged_.AppendToFile(path_, text + "\r\n");
}

std::string UpdateLog::GetLogTime() const {
  const os::SYSTEMTIME now = clock_();
  return Format("[%04d-%02d-%02d_%02d:%02d:%02d]", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
}

}  // namespace pelisto
