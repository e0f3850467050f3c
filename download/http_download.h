// HttpDownload: the dialogless transfer. It fetches one file over HTTP or HTTPS on the
// calling thread and reports to the page through the control's events (StartDownload,
// Downloading, ChangeStatus) and to the status dialog's IStarterDownload sink.
//
// Paths: on the broker path of the privileged steps (Windows 6 and later) the body goes to a
// temporary file ("tmp" prefix) in the work folder, which the broker copies to the target
// path once the whole body is in, and deletes afterwards; before Windows 6 it goes to a
// temporary file beside the target ("pel" prefix, download/beside_target.h), moved over the
// target once the whole body is in. On both paths the target holds its previous content or
// the whole new body, never a part: a failed or cancelled transfer leaves it as it was.
//
// Cancel: the page's value and the sink's value are OR-ed; exactly 1 cancels.
//
// One object per file, built, used for one Download() call and destroyed on one thread
// (the control's). The control and the sink are not owned and must outlive the object.
#pragma once

#include <cstdint>
#include <string>

#include "download/http_request_sequence.h"
#include "download/output_file.h"
#include "download/starter_download.h"
#include "download/url_parts.h"
#include "os/base/types.h"
#include "os/inet/wininet.h"

namespace pelisto {

class ContentCheck;
class PrivilegedOps;
class RunContext;

class HttpDownload : private HttpRequestSequence::Observer {
 public:
  // `privileged` (the run context's) copies and deletes, and must outlive the object. When it
  // is brokered makes the work file in `work_folder` now (an empty work path when that
  // fails); otherwise the work file beside the target is made when it is opened.
  HttpDownload(PrivilegedOps& privileged, const std::string& url, const std::string& target_path,
               const std::string& work_folder);
  ~HttpDownload() override;
  HttpDownload(const HttpDownload&) = delete;
  HttpDownload& operator=(const HttpDownload&) = delete;

  void SetControl(RunContext* control) { control_ = control; }
  void SetSink(IStarterDownload* sink) { sink_ = sink; }
  // A whole body is placed only when `check` accepts the work file (null: always).
  void SetContentCheck(ContentCheck* check) { check_ = check; }

  // 1 when the transfer ran to its end (also when the user cancelled it: see CancelFlag()),
  // 0 when it failed, -1 when the user chose Skip at the file-in-use prompt. After 0 or -1
  // ErrorMessage() holds the reason.
  os::LONG Download();

  // The steps of Download(), in order; public for the download dialog's tests of the same
  // rules and for diagnostics.
  // Splits the URL (retried with "http://" in front) and applies the flag rule.
  bool ParseUrl();
  // Opens the work file (before Windows 6 only once the target itself could be opened for
  // writing); asks "Install Failed!" (with Skip) while it cannot be opened:
  // 1 open, 0 the user stopped, -1 the user skipped.
  os::LONG CreateLocalFile();
  // The request sequence into the open work file: 1 or 0.
  os::LONG Transfer();
  // Closes request, connection and session, each if open.
  void CloseHandles();

  const std::string& ErrorMessage() const { return error_message_; }
  os::LONG CancelFlag() const { return cancel_; }
  const std::string& Url() const { return url_; }
  const std::string& WorkPath() const { return work_path_; }
  os::DWORD RequestFlags() const { return request_flags_; }
  os::DWORD ServiceType() const { return parts_.service; }
  const std::string& ServerName() const { return parts_.server; }
  const std::string& ObjectPath() const { return parts_.object; }
  os::INTERNET_PORT Port() const { return parts_.port; }

 private:
  // HttpRequestSequence::Observer
  void OnStatus(os::DWORD status, void* info, os::DWORD info_length) override;
  void OnStart(os::LONG length) override;
  void OnChunk(std::int64_t received) override;
  bool Cancelled() const override { return cancel_ == 1; }

  void Log(const std::string& text);
  std::string FailureMessage() const;
  bool OpenWorkFile();
  // Removes the work file when the download ends before the transfer made use of it.
  void DiscardWorkFile();

  os::DWORD request_flags_ = 0;
  std::string url_;
  std::string target_path_;
  std::string user_;
  std::string password_;
  UrlParts parts_;
  OutputFile output_;
  HttpRequestSequence sequence_;
  std::string work_path_;
  std::string work_folder_;
  std::string error_message_;
  os::LONG cancel_ = 0;
  RunContext* control_ = nullptr;
  IStarterDownload* sink_ = nullptr;
  ContentCheck* check_ = nullptr;
  PrivilegedOps& privileged_;
  bool brokered_ = false;
  bool work_file_live_ = false;  // the work file exists and is ours to remove
};

}  // namespace pelisto
