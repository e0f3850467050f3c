#include "control/update_log.h"

#include <cstdio>

#include "os/base/text.h"
#include "os/fs/file_api.h"
#include "platform/broker_client.h"

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

UpdateLog::UpdateLog(const ControlSettings& settings, const bool& use_broker, LocalClock clock,
                     std::function<void(const std::string&)> show_message)
    : settings_(settings),
      use_broker_(use_broker),
      clock_(clock ? std::move(clock) : LocalClock(SystemLocalTime)),
      show_message_(std::move(show_message)) {}

void UpdateLog::CreateLogFile(const std::string& folder) {
  if (!settings_.enable_log) return;
  std::string log_folder = folder + "\\PloLog";
  if (!os::IsDirectory(log_folder) && !BrokerCreateDirectory(log_folder, nullptr, use_broker_)) {
    log_folder = "c:";
  }
  const os::SYSTEMTIME now = clock_();
  const std::string file =
      log_folder + "\\Log" + Format("%04d%02d%02d", now.wYear, now.wMonth, now.wDay) + ".log";
  if (os::FileExists(file)) {
    path_ = file;
    return;
  }
  if (!CreateEmptyFile(file)) {
    path_.clear();
    if (show_message_) show_message_("Pelisto Log File Create Error!");
    return;
  }
  path_ = file;
}

bool UpdateLog::CreateEmptyFile(const std::string& file) const {
  if (!use_broker_) {
    // Append mode: a file that another run created in the meantime is kept, not truncated.
    std::FILE* f = os::FileOpen(file, "ab");
    if (f == nullptr) return false;
    bool ok = std::fflush(f) == 0;
    return std::fclose(f) == 0 && ok;
  }
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return false;
  os::LONG handle = 0;
  if (os::FAILED(broker->OpenFile(os::AnsiToWide(file), u"a+", &handle))) return false;
  broker->CloseFile();
  return true;
}

void UpdateLog::WriteLog(const std::string& text, unsigned level) {
  if (!settings_.enable_log) return;
  if (static_cast<unsigned>(settings_.log_level) > level) return;
  // Without a file there is nothing to append to; asking for the broker would only prompt.
  if (path_.empty()) return;
  std::lock_guard<std::mutex> lock(write_mu_);
  AppendLine(text + "\r\n");
}

void UpdateLog::AppendLine(const std::string& line) const {
  if (!use_broker_) {
    // "r+b" never creates: a file deleted since CreateLogFile loses the line.
    std::FILE* f = os::FileOpen(path_, "r+b");
    if (f == nullptr) return;
    if (std::fseek(f, 0, SEEK_END) == 0) std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    return;
  }
  BrokerRef broker;
  GetBroker(broker.ReleaseAndGetAddressOf());
  if (!broker) return;
  os::LONG handle = 0;
  if (os::FAILED(broker->OpenFile(os::AnsiToWide(path_), u"a+", &handle))) return;
  os::LONG position = 0;
  broker->QueryOpenFile(&position);
  broker->WriteText(os::AnsiToWide(line), handle);
  broker->CloseFile();
}

std::string UpdateLog::GetLogTime() const {
  const os::SYSTEMTIME now = clock_();
  return Format("[%04d-%02d-%02d_%02d:%02d:%02d]", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
}

}  // namespace pelisto
