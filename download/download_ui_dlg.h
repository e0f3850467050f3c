// The status dialog of a whole run ("File Download", class "StartDownload", template 205):
// the current work item, the content entry, the file being downloaded, a bar for the run and
// one for the file, and a Cancel button whose press every later notification reports.
#pragma once

#include <atomic>
#include <string>

#include "download/starter_download.h"
#include "os/base/types.h"
#include "os/ui/dialog_window.h"

namespace pelisto {

// Turns a count into a percentage for a progress bar.
class ProgressManager {
 public:
  // step = 100 / n (computed in double, kept as float). A total of 0 is work that is already
  // complete: every Percent is then 100.
  void SetTotal(os::LONG n);
  // step x count as a float: 100 from 98.0 on, else truncated toward zero (negative for a
  // negative total, as for an unknown length of -1; clamped to the int range).
  int Percent(os::LONG count) const;

 private:
  std::string name_;  // not shown anywhere
  float step_ = 1.0f;
  bool complete_ = false;
};

// The text shown in the status line for a work-item code; empty outside 0 to 8.
const char* WorkItemStatusText(os::LONG status);

// The window runs on a thread of its own (StatusDialogRunner); the IStarterDownload calls
// come from the run's thread and reach the window's controls through SendMessage, which the
// window's thread serves. They take no lock. The cancel flag is written only on the window's
// thread and never reset.
class CDownloadUIDlg : public os::ui::DialogWindow, public IStarterDownload {
 public:
  // Registers the window class "StartDownload" (from the standard dialog class) if needed.
  CDownloadUIDlg();

  // Before Create: hides (and disables) the Cancel button, from "hideDownloadCancel".
  void SetHideCancel(bool hide) { hide_cancel_ = hide ? 1 : 0; }
  // Selects the calling thread's UI language from "ENG" / "KOR" (see pelisto::SetLanguage);
  // call it on the thread that creates the dialog.
  bool SetLanguage(const std::string& language);
  // Creates the dialog modeless from template 205, without a parent, on the calling thread.
  bool Create();

  os::LONG cancelled() const { return cancel_.load(); }

  void StartDownload(const std::string& url, const std::string& file_name, os::LONG file_length,
                     os::LONG* cancel) override;
  void Downloading(os::LONG read_file_length, os::LONG* cancel) override;
  void ChangeStatus(os::LONG status, os::LONG status_info, os::LONG status_info_length, os::LONG* cancel) override;
  void UnZipFileNumber(os::LONG file_number) override;
  void UnZipping(const std::string& file_name, os::LONG* cancel) override;
  void EndUnZip(os::LONG success) override;
  void TotalDownloadFileNumber(os::LONG file_number, os::LONG* cancel) override;
  void IsDownload(os::LONG status_code, const std::string& content_name, os::LONG* cancel) override;
  void ErrorNotify(const std::string& error) override;

 protected:
  os::BOOL OnInitDialog() override;
  void OnCancel() override;

 private:
  void ReportCancel(os::LONG* cancel) const;

  ProgressManager file_manager_;
  ProgressManager run_manager_;
  os::LONG counter_ = 0;
  std::atomic<os::LONG> cancel_{0};
  os::LONG last_status_ = -1;
  os::LONG hide_cancel_ = 0;
};

}  // namespace pelisto
