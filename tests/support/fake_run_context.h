// A RunContext for tests of the layers below the control: settings, folders and the custom
// directory map are plain fields to arrange; log lines, messages, COM error reports and
// events are recorded in order; the cancel answers of the events are scripted.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/run_context.h"

namespace pelisto::testing {

class FakeRunContext : public RunContext {
 public:
  struct LogLine {
    std::string text;
    unsigned level;
  };
  struct ComErrorReport {
    os::HRESULT hr;
    std::string interface_name;
    std::string source;
  };

  // Fills the four folder values from the current machine image (as the control does at
  // construction) and reports Windows 6 or later as the image does.
  FakeRunContext();

  // Arranged by tests.
  ControlSettings settings;
  RunState state;
  FolderValues folders;
  ProtectedModeFolders protected_mode;
  CustomDirMap custom_dirs;
  bool windows6 = true;
  // The time stamp GetLogTime returns.
  std::string log_time = "[2024-01-02_03:04:05]";
  // pCancel values the page leaves in the events (0: go on, 1: cancel).
  os::LONG page_cancel = 0;
  // The status dialog's own cancel value, OR-ed with the page's for the run-level events.
  os::LONG dialog_cancel = 0;
  // Called with each log line as it is written: a test acts at that moment of the run.
  std::function<void(const std::string&)> on_log;
  // When set, the steps Privileged() answers (a wrapper of the real ones, taken before).
  PrivilegedOps* privileged_override = nullptr;

  // Recorded.
  std::vector<std::string> log_folders;
  std::vector<LogLine> log;
  std::vector<std::string> messages;
  std::vector<ComErrorReport> com_errors;
  std::vector<std::string> events;  // "IsDownload(4,name)", "StartDownload(url,file,12)", ...

  // True when a recorded log line contains `text`.
  bool Logged(const std::string& text) const;

  const ControlSettings& Settings() const override { return settings; }
  ControlSettings& MutableSettings() override { return settings; }
  RunState& State() override { return state; }
  const FolderValues& Folders() const override { return folders; }
  ProtectedModeFolders& ProtectedMode() override { return protected_mode; }
  const CustomDirMap& CustomDirs() const override { return custom_dirs; }
  bool IsWindows6() const override { return windows6; }
  // The real privileged steps of the path `windows6` selects at the time of the call.
  PrivilegedOps& Privileged() override;

  void CreateLogFile(const std::string& folder) override;
  void WriteLog(const std::string& text, unsigned level) override;
  std::string GetLogTime() const override { return log_time; }

  void ShowMessage(const std::string& text) override;
  void ReportComError(const os::ComError& error, const std::string& source) override;

  os::LONG FireStartDownload(const std::string& url, const std::string& file_name,
                             os::LONG file_length) override;
  os::LONG FireDownloading(os::LONG read_file_length) override;
  os::LONG FireChangeStatus(os::LONG status, os::LONG status_info,
                            os::LONG status_info_length) override;
  void FireUnZipFileNumber(os::LONG file_number) override;
  os::LONG FireUnZipping(const std::string& file_name) override;
  void FireEndUnZip(os::LONG success) override;

  void NotifyTotalDownloadFileNumber(os::LONG file_number) override;
  void NotifyIsDownload(os::LONG status_code, const std::string& content_name) override;

  bool StartStatusDialog() override { return false; }
  void CloseStatusDialog() override {}
  IStarterDownload* StatusSink() override { return nullptr; }

 private:
  std::unique_ptr<PrivilegedOps> direct_ops_;
  std::unique_ptr<PrivilegedOps> brokered_ops_;
};

}  // namespace pelisto::testing
