// What the layers below the control (engine/, actions/, download/, archive/) may ask of it:
// its settings, the run's state, the update log, message boxes, the page's events with the
// cancel rule, and the status dialog. They include this header, never the control class.
//
// All calls are made on the thread that runs the update (the control's own thread) unless a
// call says otherwise.
#pragma once

#include <stdexcept>
#include <string>
#include <unordered_map>

#include "control/privileged_ops.h"
#include "os/base/types.h"

namespace os {
class ComError;
}

namespace pelisto {

// The status dialog's progress sink (download/starter_download.h), which the status dialog
// of download/ implements; the run context only hands it on.
class IStarterDownload;

// A run's fatal condition, raised as a text and caught by the run, which logs it at level 2
// and returns FALSE ("Canceled By User Status is %d", "Canceled at TotalDownloadFileNumber",
// a path followed by " is not copyed!!!", "Failed new", the gzip texts).
class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& text) : std::runtime_error(text) {}
};

// The control's persisted and scriptable settings, initialised to their defaults (those of a
// page without saved state; the property exchange takes its defaults from here). BOOL
// settings keep the value the page set: some rules test for "exactly 1".
struct ControlSettings {
  os::BOOL delete_zip_file = os::FALSE;
  os::BOOL registry = os::FALSE;
  os::BOOL enable_log = os::TRUE;
  os::BOOL self_ui = os::TRUE;
  os::BOOL dlg_not_close = os::FALSE;
  os::BOOL hide_download_cancel = os::FALSE;
  os::BOOL stop_not_find_content = os::TRUE;
  os::LONG log_level = 1;
  std::string config_dir;
  std::string fileinuse_disable;
  std::string fileinuse_hidden;
  std::string language = "KOR";
  // The publisher's Ed25519 public key, base64; empty: configurations are taken unsigned.
  std::string config_public_key;
};

// Folders computed when the control is constructed; each without a trailing "\".
struct FolderValues {
  std::string windows;        // GetWindowsDirectoryA
  std::string system;         // GetSystemDirectoryA
  std::string program_files;  // CSIDL_PROGRAM_FILES
  std::string desktop;        // CSIDL_DESKTOP
  std::string module;         // the folder of the control's own file
};

// Set by the protected-mode folder resolution on Windows 6 and later; empty before.
struct ProtectedModeFolders {
  os::BOOL protected_mode = os::FALSE;
  std::string local_low_folder;
  std::string writable_folder;
};

// State of the current run, overwritten by the next entry point.
struct RunState {
  std::string work_folder;       // the run's work folder
  std::string config_url;        // the configuration address of the run (base of relative urls)
  std::string registry_version;  // the version last read from the registry (registry mode)
  int pre_check_state = 0;
  std::string icon_source;       // icon / component path kept for shortcuts (registry mode)
};

using CustomDirMap = std::unordered_map<std::string, std::string>;

class RunContext {
 public:
  virtual ~RunContext() = default;

  virtual const ControlSettings& Settings() const = 0;
  // A run fills in `config_dir` when the page left it empty; the value stays in the property.
  virtual ControlSettings& MutableSettings() = 0;
  virtual RunState& State() = 0;
  virtual const FolderValues& Folders() const = 0;
  virtual ProtectedModeFolders& ProtectedMode() = 0;
  virtual const CustomDirMap& CustomDirs() const = 0;
  // True when the machine's major version is 6 or more: privileged steps go through the broker.
  virtual bool IsWindows6() const = 0;
  // The privileged steps, chosen once from the Windows version (control/privileged_ops.h).
  virtual PrivilegedOps& Privileged() = 0;

  // The update log: CreateLogFile chooses and creates the day's file in `folder` + "\PloLog";
  // WriteLog appends `text` + CR LF when the level passes the filter and never reports a
  // failure; GetLogTime is the stamp callers put in front of their text.
  virtual void CreateLogFile(const std::string& folder) = 0;
  virtual void WriteLog(const std::string& text, unsigned level) = 0;
  virtual std::string GetLogTime() const = 0;

  // An OK box, shown only when selfUi is TRUE and dlgNotClose is FALSE.
  virtual void ShowMessage(const std::string& text) = 0;
  // The box for a COM failure caught in a run (not gated by selfUi).
  virtual void ReportComError(const os::ComError& error, const std::string& source) = 0;

  // Download and archive events, fired to the page as they are. The result is the value the
  // page left in pCancel (0 on entry); callers combine it with the status dialog's own value.
  virtual os::LONG FireStartDownload(const std::string& url, const std::string& file_name,
                                     os::LONG file_length) = 0;
  virtual os::LONG FireDownloading(os::LONG read_file_length) = 0;
  virtual os::LONG FireChangeStatus(os::LONG status, os::LONG status_info,
                                    os::LONG status_info_length) = 0;
  virtual void FireUnZipFileNumber(os::LONG file_number) = 0;
  virtual os::LONG FireUnZipping(const std::string& file_name) = 0;
  virtual void FireEndUnZip(os::LONG success) = 0;

  // The run-level events: fired to the page unless selfUi is TRUE and dlgNotClose FALSE, and
  // handed to the status dialog too when dlgNotClose is TRUE and it exists. When the page's
  // and the dialog's cancel values OR-ed together equal exactly 1, they throw RunError
  // ("Canceled at TotalDownloadFileNumber", "Canceled By User Status is %d").
  virtual void NotifyTotalDownloadFileNumber(os::LONG file_number) = 0;
  virtual void NotifyIsDownload(os::LONG status_code, const std::string& content_name) = 0;

  // The run's status dialog (its own thread); StatusSink is null when there is none.
  virtual bool StartStatusDialog() = 0;
  virtual void CloseStatusDialog() = 0;
  virtual IStarterDownload* StatusSink() = 0;
};

}  // namespace pelisto
