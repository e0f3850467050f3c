#include "download/download_worker.h"

#include <cstring>
#include <system_error>

#include "download/content_hash.h"
#include "download/http_download_dlg.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/fs/file_api.h"
#include "os/ui/message_box.h"
#include "os/ui/message_queue.h"
#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

// From this browser version on the object path is sent as UTF-8.
constexpr double kUtf8ObjectVersion = 7.0;

std::string Number(os::DWORD code) { return std::to_string(static_cast<int>(code)); }

// The object path in UTF-8; empty when it is not valid text in the ANSI code page.
std::string ObjectAsUtf8(const std::string& object) {
  std::u16string wide;
  std::string utf8;
  if (!os::MultiByteToWide(object, &wide) || !os::WideToMultiByte(wide, &utf8, os::CP_UTF8)) return "";
  return utf8;
}

}  // namespace

DownloadWorker::~DownloadWorker() {
  Resume();
  Join();
}

bool DownloadWorker::CreateSuspended() {
  try {
    thread_ = std::thread([this] {
      {
        std::unique_lock<std::mutex> lock(gate_mu_);
        gate_cv_.wait(lock, [this] { return resumed_; });
      }
      Main();
      done_ = true;
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void DownloadWorker::Resume() {
  std::lock_guard<std::mutex> lock(gate_mu_);
  resumed_ = true;
  gate_cv_.notify_all();
}

void DownloadWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

void DownloadWorker::Main() {
  SetLanguage(dialog_.language_);
  Transfer();
  // Whatever happened above, the dialog learns that nothing more will come.
  os::PostMessageA(dialog_.hwnd(), CHttpDownloadDlg::kWorkerEndedMessage, 0, 0);
}

void DownloadWorker::Post(os::WPARAM result) {
  os::PostMessageA(dialog_.hwnd(), CHttpDownloadDlg::kCompletionMessage, result, 0);
}

void DownloadWorker::Discard() {
  // The dialog removes the file when it takes the message: on its own thread, which owns
  // the broker.
  dialog_.output_.Close();
}

void DownloadWorker::Transfer() {
  // Looping from the first frame to the last, without end.
  dialog_.SendDlgItemMessage(res::kDownloadAnimationControl, os::ACM_PLAY, static_cast<os::WPARAM>(-1),
                             os::MAKELPARAM(0, 0xFFFF));
  SequenceRequest request;
  request.url = dialog_.url_;
  request.parts = dialog_.parts_;
  request.parts.user = dialog_.user_;
  request.parts.password = dialog_.password_;
  request.object = dialog_.parts_.object;
  request.flags = dialog_.request_flags_;
  if (dialog_.browser_version_ >= kUtf8ObjectVersion) request.object = ObjectAsUtf8(request.object);

  const HttpRequestSequence::Result result = dialog_.sequence_.Run(request, &dialog_.output_, this);
  dialog_.request_flags_ = dialog_.sequence_.flags();
  const bool aborted = dialog_.abort_.load() == 1;
  if (result == HttpRequestSequence::Result::kFailed && !aborted) {
    bool posts = true;
    std::string text = FailureText(&posts);
    Discard();
    if (!posts) {
      if (!text.empty()) os::MessageBoxA(nullptr, text, kApplicationName, os::MB_OK);
      return;
    }
    dialog_.error_text_ = text;
    Post(1);
    return;
  }
  // Completed, cancelled in the read loop, stopped after a handle, or a call that failed
  // because Cancel closed the session under it.
  if (result != HttpRequestSequence::Result::kCompleted || aborted) {
    Discard();
    Post(0);
    return;
  }
  if (!dialog_.output_.Close()) {
    Discard();
    os::MessageBoxA(nullptr, dialog_.target_path_ + " file write error !!!", kApplicationName, os::MB_OK);
    return;
  }
  if (dialog_.abort_.load() == 1) {
    Discard();
    Post(0);
    return;
  }
  // Before anything is placed or unpacked: what the publisher did not name installs nothing.
  if (dialog_.check_ != nullptr && !dialog_.check_->Accepts(dialog_.work_path_)) {
    Discard();
    os::MessageBoxA(nullptr, "Content hash mismatch " + dialog_.target_path_, kApplicationName, os::MB_OK);
    return;
  }
  if (dialog_.file_type_ == "zip") {
    DownloadArchiveStep step(dialog_.context_, dialog_.work_path_, dialog_.target_path_,
                             dialog_.work_file_temporary_, *this, dialog_.abort_);
    const DownloadArchiveStep::Outcome outcome = step.Run();
    if (step.Placed()) dialog_.work_file_live_ = false;
    // A failure has shown its box; the dialog ends when it hears the worker has ended.
    if (outcome == DownloadArchiveStep::Outcome::kFailed) return;
  }
  Post(0);
}

void DownloadWorker::ShowUnzipping() {
  os::SetWindowTextA(dialog_.hwnd(), "Unzipping");
  dialog_.ShowItem(res::kDownloadStatusLine, false);
  dialog_.ShowItem(res::kDownloadRate, false);
  dialog_.SetDlgItemText(res::kDownloadTimeLeft, "");
  os::HWND line = dialog_.GetDlgItem(res::kDownloadTimeLeft);
  os::RECT r;
  if (line == nullptr || !os::GetWindowRect(line, &r)) return;
  os::POINT top_left{r.left, r.top};
  os::ScreenToClient(dialog_.hwnd(), &top_left);
  os::MoveWindow(line, top_left.x, top_left.y + 5, r.right - r.left, r.bottom - r.top, os::TRUE);
}

void DownloadWorker::ShowMember(int written_before, const std::string& name) {
  dialog_.SendDlgItemMessage(res::kDownloadProgress, os::PBM_SETPOS, static_cast<os::WPARAM>(written_before), 0);
  dialog_.SetDlgItemText(res::kDownloadTimeLeft, name);
}

std::string DownloadWorker::FailureText(bool* posts) {
  const os::DWORD code = dialog_.sequence_.failure_code();
  switch (dialog_.sequence_.failure()) {
    case SequenceFailure::kInternetOpen:
    case SequenceFailure::kStatusCallback:
      return FormatResourceString(res::kIdsDownloadAttemptError, {Number(code)});
    case SequenceFailure::kConnect:
    case SequenceFailure::kOpenRequest:
    case SequenceFailure::kSend:
    case SequenceFailure::kSetSecurityFlags:
    case SequenceFailure::kSecureSend:
      return FormatResourceString(res::kIdsConnectError, {Number(code)});
    case SequenceFailure::kQueryStatus: return FormatResourceString(res::kIdsNoValidResponse, {});
    case SequenceFailure::kHttpStatus: {
      std::lock_guard<std::mutex> lock(dialog_.status_mu_);
      dialog_.last_status_ = "ERR";
      return FormatResourceString(res::kIdsNoValidHttpResponse, {Number(code)});
    }
    case SequenceFailure::kRead:
    // A body past the transfer's bounds, or one that does not decode, is a download that
    // could not be completed.
    case SequenceFailure::kTooLarge:
    case SequenceFailure::kDecode:
      return FormatResourceString(res::kIdsDownloadingError, {Number(code)});
    case SequenceFailure::kWrite:
      *posts = false;
      return dialog_.target_path_ + " file write error !!!";
    case SequenceFailure::kNone:
      break;
  }
  *posts = false;
  return "";
}

void DownloadWorker::OnStatus(os::DWORD status, void* info, os::DWORD info_length) {
  unsigned id = 0;
  switch (status) {
    case os::INTERNET_STATUS_RESOLVING_NAME: id = res::kIdsResolvingName; break;
    case os::INTERNET_STATUS_NAME_RESOLVED: id = res::kIdsResolvedName; break;
    case os::INTERNET_STATUS_CONNECTING_TO_SERVER: id = res::kIdsConnectingTo; break;
    case os::INTERNET_STATUS_CONNECTED_TO_SERVER: id = res::kIdsConnectedTo; break;
    case os::INTERNET_STATUS_REDIRECT: id = res::kIdsRedirectingTo; break;
    default: return;
  }
  const char* text = static_cast<const char*>(info);
  dialog_.SetStatus(id, text != nullptr ? std::string(text, strnlen(text, info_length)) : std::string());
}

bool DownloadWorker::StopRequested() { return dialog_.abort_.load() == 1; }

void DownloadWorker::OnStatusAccepted() { dialog_.SetStatus(res::kIdsGettingFileInfo); }

void DownloadWorker::OnStart(os::LONG length) {
  dialog_.SetStatus(res::kIdsRetrievingFile);
  if (length >= 0) {
    const std::int64_t upper = ProgressUpperBound(length);
    // The range is a 16-bit pair; a body of 64 MB or more would wrap it, so it takes the
    // 32-bit range instead.
    if (upper <= 0xFFFF) {
      dialog_.SendDlgItemMessage(res::kDownloadProgress, os::PBM_SETRANGE, 0,
                                 os::MAKELPARAM(0, static_cast<os::WORD>(upper)));
    } else {
      dialog_.SendDlgItemMessage(res::kDownloadProgress, os::PBM_SETRANGE32, 0, static_cast<os::LPARAM>(upper));
    }
  }
  progress_ = std::make_unique<DownloadProgress>(dialog_.display_name_, length, os::GetTickCount());
}

void DownloadWorker::OnChunk(std::int64_t received) {
  if (!progress_) return;
  const ProgressChange change = progress_->Update(received, os::GetTickCount());
  if (change.percent_changed) {
    os::SetWindowTextA(dialog_.hwnd(), change.caption);
    dialog_.SendDlgItemMessage(res::kDownloadProgress, os::PBM_SETPOS, static_cast<os::WPARAM>(change.position), 0);
  }
  if (change.rate_changed) dialog_.SetDlgItemText(res::kDownloadRate, change.rate);
  if (change.time_changed) dialog_.SetDlgItemText(res::kDownloadTimeLeft, change.time_left);
}

bool DownloadWorker::Cancelled() const { return dialog_.abort_.load() == 1; }

}  // namespace pelisto
