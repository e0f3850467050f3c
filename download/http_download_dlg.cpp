#include "download/http_download_dlg.h"

#include <chrono>
#include <thread>

#include "actions/browser_version.h"
#include "control/run_context.h"
#include "download/beside_target.h"
#include "download/download_worker.h"
#include "download/file_in_use_dlg.h"
#include "os/fs/file_api.h"
#include "os/ui/message_box.h"
#include "os/ui/message_queue.h"
#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

// The text from the last "." of a path, case kept; empty without one.
std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

}  // namespace

CHttpDownloadDlg::CHttpDownloadDlg(RunContext& context) : context_(context) {}

CHttpDownloadDlg::~CHttpDownloadDlg() {
  // A dialog whose window never ran still may have a worker (DoModal ended by WM_QUIT).
  if (worker_) {
    abort_ = 1;
    sequence_.Interrupt();
    worker_->Resume();
    worker_->Join();
  }
  output_.Close();
  if (finished_ == 0) DiscardWorkFile();
}

void CHttpDownloadDlg::SetLanguage(const std::string& language) {
  language_ = language;
  pelisto::SetLanguage(language);
}

os::INT_PTR CHttpDownloadDlg::DoModal() {
  os::DialogTemplate tmpl;
  if (!LoadDialogTemplate(res::kDownloadDialog, &tmpl)) return -1;
  return DialogWindow::DoModal(tmpl);
}

std::string CHttpDownloadDlg::LastStatus() const {
  std::lock_guard<std::mutex> lock(status_mu_);
  return last_status_;
}

std::string CHttpDownloadDlg::DisplayNameOf(const std::string& object) {
  size_t cut = object.rfind('/');
  if (cut == std::string::npos) cut = object.rfind('\\');
  if (cut == std::string::npos) return object;
  std::string name = object.substr(cut + 1);
  return name.size() < 2 ? object : name;
}

void CHttpDownloadDlg::SetStatus(unsigned id) { SetStatusText(FormatResourceString(id, {})); }

void CHttpDownloadDlg::SetStatus(unsigned id, const std::string& text) {
  SetStatusText(FormatResourceString(id, {text}));
}

void CHttpDownloadDlg::SetStatusText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(status_mu_);
    last_status_ = text;
  }
  // Not under the lock: the worker's text is sent to the dialog's thread, which may be
  // setting a status of its own.
  SetDlgItemText(res::kDownloadStatusLine, text);
}

os::BOOL CHttpDownloadDlg::OnInitDialog() {
  SendDlgItemMessage(res::kDownloadAnimationControl, os::ACM_OPENA, 0, res::kDownloadAnimation);
  if (!ParseUrlWithRetry(&url_, &parts_)) {
    EndDialog(os::IDCANCEL);
    return os::TRUE;
  }
  request_flags_ = ChooseRequestFlags(url_, &parts_);
  // Read here rather than on the worker: on Windows 6 this may be the broker's first use,
  // and a broker made on the worker would go with its thread, leaving the archive step and
  // every later step without one.
  browser_version_ = ReadBrowserVersion(context_.Privileged());
  if (!OpenWorkFile()) {
    EndDialog(os::IDCANCEL);
    return os::TRUE;
  }
  display_name_ = DisplayNameOf(parts_.object);
  os::SetWindowTextA(hwnd(), FormatResourceString(res::kIdsFileFromServer, {display_name_, parts_.server}));
  if (!StartWorker()) {
    output_.Close();
    DiscardWorkFile();
    EndDialog(os::IDCANCEL);
  }
  return os::TRUE;
}

bool CHttpDownloadDlg::OpenWorkFile() {
  for (;;) {
    work_file_temporary_ = use_temp_file_ != 0;
    work_path_.clear();
    bool opened = false;
    if (work_file_temporary_) {
      std::string temp;
      if (os::GetTempFileNameA(work_folder_, "tmp", 0, &temp) != 0) work_path_ = temp;
      if (work_path_.empty()) return false;
      opened = output_.Open(work_path_);
      // The temporary file made for this try is not the one the next try opens.
      if (!opened) context_.Privileged().DeleteFile(work_path_);
    } else {
      if (target_path_.empty()) return false;
      // Moved over the target once the whole body is in (OnCompletion).
      opened = OpenBesideTarget(target_path_, &output_, &work_path_);
    }
    if (opened) {
      work_file_live_ = true;
      return true;
    }
    CFileInUseDlg prompt;
    prompt.SetFile(work_file_temporary_ ? work_path_ : target_path_);
    if (prompt.DoModal() != CFileInUseDlg::kRetry) return false;
  }
}

bool CHttpDownloadDlg::StartWorker() {
  worker_ = std::make_unique<DownloadWorker>(*this);
  if (!worker_->CreateSuspended()) {
    worker_.reset();
    return false;
  }
  worker_->Resume();
  return true;
}

void CHttpDownloadDlg::DiscardWorkFile() {
  if (work_file_live_.exchange(false)) context_.Privileged().DeleteFile(work_path_);
}

void CHttpDownloadDlg::OnCancel() {
  if (finished_ != 0 || abort_.load() == 1) return;
  abort_ = 1;
  EnableItem(os::IDCANCEL, false);
  SetStatus(res::kIdsAbortingTransfer);
  // A send or read waiting on a server that went quiet would see the flag only when the
  // server speaks again.
  sequence_.Interrupt();
}

bool CHttpDownloadDlg::OnMessage(os::UINT message, os::WPARAM wparam, os::LPARAM, os::LRESULT* result) {
  *result = 0;
  switch (message) {
    case kCompletionMessage: OnCompletion(wparam); return true;
    case kWorkerEndedMessage: OnWorkerEnded(); return true;
    case os::WM_CLOSE:
      if (finished_ != 0) return false;  // the standard handling
      OnCancel();
      return true;
    default: return false;
  }
}

void CHttpDownloadDlg::OnCompletion(os::WPARAM wparam) {
  if (finished_ != 0) return;
  const bool aborted = abort_.load() == 1;
  // A temporary work file of a ".zip" target was placed by its archive step.
  if (wparam == 0 && !aborted && work_file_live_ && (!work_file_temporary_ || ExtensionOf(target_path_) != ".zip")) {
    // Moved either way: through the broker from the work folder, or from beside the target.
    const bool placed = work_file_temporary_ ? context_.Privileged().MoveFileReplacing(work_path_, target_path_) != 0
                                             : PlaceOverTarget(work_path_, target_path_);
    if (!placed) {
      os::MessageBoxA(hwnd(), "Failed to Copy File " + target_path_, kApplicationName, os::MB_OK);
      DiscardWorkFile();
      finished_ = 1;
      SendDlgItemMessage(res::kDownloadAnimationControl, os::ACM_STOP, 0, 0);
      EndDialog(os::IDCANCEL);
      return;
    }
    work_file_live_ = false;  // the work file is the target now
  }
  finished_ = 1;
  SendDlgItemMessage(res::kDownloadAnimationControl, os::ACM_STOP, 0, 0);
  if (aborted) {
    DiscardWorkFile();
    EndDialog(os::IDCANCEL);
  } else if (wparam == 1) {
    DiscardWorkFile();
    os::MessageBoxA(hwnd(), error_text_, kApplicationName, os::MB_OK);
    EndDialog(os::IDCANCEL);
  } else {
    EndDialog(os::IDOK);
  }
}

void CHttpDownloadDlg::OnWorkerEnded() {
  if (finished_ != 0) return;
  // The worker gave up without a completion message (a write that failed, a body that does
  // not decode, a failed archive step): what it wrote is not a download.
  DiscardWorkFile();
  finished_ = 1;
  SendDlgItemMessage(res::kDownloadAnimationControl, os::ACM_STOP, 0, 0);
  EndDialog(os::IDCANCEL);
}

void CHttpDownloadDlg::WaitForWorker() {
  while (!worker_->Done()) {
    // The worker may be waiting for this thread to take a text it sends.
    os::MSG msg;
    os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_NOREMOVE);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker_->Join();
}

void CHttpDownloadDlg::OnDestroy() {
  if (worker_) {
    if (!worker_->Done()) {
      abort_ = 1;
      sequence_.Interrupt();
    }
    WaitForWorker();
    worker_.reset();
  }
  sequence_.CloseHandles();
  output_.Close();
  if (finished_ == 0) DiscardWorkFile();
}

}  // namespace pelisto
