// CHttpDownloadDlg: the modal "File Download" dialog (template 124). Its worker thread runs
// the shared request sequence and shows what happens: the animation, the status line, the
// bar in KB, the time left with the amount copied, and the rate; Cancel (the hidden button,
// Esc, closing the window) stops the transfer. A file of type "zip" is unpacked by the same
// dialog before it closes.
//
// Files: the body goes to the work path: a new "pel" file beside the target that is moved
// over it once the whole body is in (download/beside_target.h) or, with the
// use-temporary-file flag, a new "tmp" file in the work folder that the broker moves over the
// target once the whole body is in (not for a target ending in ".zip", whose archive step
// places it). Whatever ends the dialog with 2 (an error, a cancel, a worker that ends
// without its completion message) removes the work file, so the target path never holds a
// part of a download, and a work file never stays behind.
//
// Results of DoModal: 1 (IDOK) the transfer, and the archive step if any, completed; 2
// (IDCANCEL) failed, cancelled or not started; -1 when the dialog could not be created.
// LastStatus() is "ERR" after an HTTP status the transfer does not accept.
//
// Threads: built, run and destroyed on one thread (the control's), which serves the window
// in the modal loop. The worker writes the window's texts through messages sent to that
// thread and posts the completion message; the dialog waits for it before the window goes.
// The members set before DoModal are read by the worker and must not change meanwhile.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "download/http_request_sequence.h"
#include "download/output_file.h"
#include "download/url_parts.h"
#include "os/base/types.h"
#include "os/ui/dialog_window.h"

namespace pelisto {

class ContentCheck;
class RunContext;
class DownloadWorker;

class CHttpDownloadDlg : public os::ui::DialogWindow {
 public:
  // The worker's completion message: wParam 0 success or abort, 1 error (ErrorText()).
  static constexpr os::UINT kCompletionMessage = os::WM_APP + 1;
  // Posted by the worker as its very last act, after the completion message if it sent one.
  static constexpr os::UINT kWorkerEndedMessage = os::WM_APP + 2;

  // Copies, deletes and the browser-version read go through the context's privileged
  // steps, from the dialog's thread and from the worker; the archive step logs through it.
  // `context` must outlive the dialog.
  explicit CHttpDownloadDlg(RunContext& context);
  ~CHttpDownloadDlg() override;

  void SetUrl(const std::string& url) { url_ = url; }
  void SetTargetPath(const std::string& path) { target_path_ = path; }
  void SetFileType(const std::string& type) { file_type_ = type; }
  // Applies the language ("ENG" / "KOR") to the calling thread, so the template and the
  // texts come in it; the worker applies it to itself when it starts.
  void SetLanguage(const std::string& language);
  void SetWorkFolder(const std::string& folder) { work_folder_ = folder; }
  void SetUseTempFile(os::LONG use) { use_temp_file_ = use; }
  // A whole body is placed or unpacked only when `check` accepts the work file (null:
  // always); the worker checks it.
  void SetContentCheck(ContentCheck* check) { check_ = check; }

  // Runs the dialog modally, without a parent window.
  os::INT_PTR DoModal();

  // The status line's last text; "ERR" after an HTTP status that is not accepted.
  std::string LastStatus() const;
  const std::string& ErrorText() const { return error_text_; }
  const std::string& WorkPath() const { return work_path_; }
  const std::string& DisplayFileName() const { return display_name_; }
  os::DWORD RequestFlags() const { return request_flags_; }
  const UrlParts& Parts() const { return parts_; }
  os::LONG Finished() const { return finished_; }

  // The display file name of an object path: the text after its last "/", else after its
  // last "\"; the whole path when it has neither or the rest is shorter than 2 characters.
  static std::string DisplayNameOf(const std::string& object);

 protected:
  os::BOOL OnInitDialog() override;
  void OnCancel() override;
  bool OnMessage(os::UINT message, os::WPARAM wparam, os::LPARAM lparam, os::LRESULT* result) override;
  void OnDestroy() override;

 private:
  friend class DownloadWorker;

  // Loads string `id` (with `text` for "%1"), shows it in the status line and keeps it.
  void SetStatus(unsigned id);
  void SetStatus(unsigned id, const std::string& text);
  void SetStatusText(const std::string& text);

  // Initialisation steps 4 and 5: false when the dialog is to end with 2.
  bool OpenWorkFile();
  bool StartWorker();
  void OnCompletion(os::WPARAM wparam);
  void OnWorkerEnded();
  // Removes the work file when it still holds an unplaced download.
  void DiscardWorkFile();
  // Waits for the worker, serving the messages it sends to this thread meanwhile.
  void WaitForWorker();

  RunContext& context_;
  std::string url_;
  std::string target_path_;
  std::string file_type_;
  std::string language_;
  std::string user_;
  std::string password_;
  os::LONG use_temp_file_ = 0;
  std::string work_folder_;

  std::string work_path_;
  os::DWORD request_flags_ = 0;
  UrlParts parts_;
  double browser_version_ = 0;
  HttpRequestSequence sequence_;  // the session, connection and request handles
  OutputFile output_;
  std::unique_ptr<DownloadWorker> worker_;
  std::string display_name_;
  std::string error_text_;
  mutable std::mutex status_mu_;  // the worker and the dialog both set the status
  std::string last_status_;
  std::atomic<os::LONG> abort_{0};
  os::LONG finished_ = 0;
  // The work file exists, was made by this dialog and holds no placed download.
  std::atomic<bool> work_file_live_{false};
  bool work_file_temporary_ = false;
  ContentCheck* check_ = nullptr;
};

}  // namespace pelisto
