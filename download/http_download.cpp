#include "download/http_download.h"

#include <cstdint>
#include <limits>

#include "control/run_context.h"
#include "download/beside_target.h"
#include "download/content_hash.h"
#include "download/file_in_use_dlg.h"
#include "os/fs/file_api.h"

namespace pelisto {
namespace {

std::string WithCode(const char* text, os::DWORD code, const char* end = "\n") {
  return text + std::to_string(static_cast<int>(code)) + end;
}

os::LONG Combined(os::LONG page, os::LONG dialog) { return page | dialog; }

}  // namespace

HttpDownload::HttpDownload(PrivilegedOps& privileged, const std::string& url, const std::string& target_path,
                           const std::string& work_folder)
    : url_(url),
      target_path_(target_path),
      work_folder_(work_folder),
      privileged_(privileged),
      brokered_(privileged.Brokered()) {
  if (brokered_) {
    std::string temp;
    if (os::GetTempFileNameA(work_folder_, "tmp", 0, &temp) != 0) {
      work_path_ = temp;
      work_file_live_ = true;
    }
  }
}

HttpDownload::~HttpDownload() {
  CloseHandles();
  output_.Close();
  DiscardWorkFile();
}

os::LONG HttpDownload::Download() {
  if (!ParseUrl()) {
    error_message_ = "Not Valid URL" + target_path_;
    DiscardWorkFile();
    return 0;
  }
  const os::LONG opened = CreateLocalFile();
  if (opened != 1) {
    error_message_ = (opened == -1 ? "Skip Download File " : "Not Create File") + target_path_;
    DiscardWorkFile();
    return opened;
  }
  os::LONG result = Transfer();
  output_.Close();  // still open after a failed read
  // Only a whole body reaches the target; a cut-off or cancelled one stays in the work file.
  if (result == 1 && cancel_ != 1 && check_ != nullptr && !check_->Accepts(work_path_)) {
    error_message_ = "Content hash mismatch " + target_path_;
    result = 0;
  }
  if (brokered_) {
    // One broker call that leaves no work file, instead of a copy and a delete.
    if (result == 1 && cancel_ != 1) {
      if (privileged_.MoveFileReplacing(work_path_, target_path_)) {
        work_file_live_ = false;
      } else {
        error_message_ = "Failed to Copy File " + target_path_;
        result = 0;
      }
    }
    if (work_file_live_ && privileged_.DeleteFile(work_path_)) work_file_live_ = false;
  } else if (result == 1 && cancel_ != 1 && work_file_live_) {
    if (PlaceOverTarget(work_path_, target_path_)) {
      work_file_live_ = false;
    } else {
      error_message_ = "Failed to Copy File " + target_path_;
      result = 0;
    }
  }
  DiscardWorkFile();
  CloseHandles();
  return result;
}

bool HttpDownload::ParseUrl() {
  if (!ParseUrlWithRetry(&url_, &parts_)) return false;
  request_flags_ = ChooseRequestFlags(url_, &parts_);
  return true;
}

os::LONG HttpDownload::CreateLocalFile() {
  // Without a work file there is nothing a retry could open.
  if (brokered_ && work_path_.empty()) return 0;
  while (!OpenWorkFile()) {
    CFileInUseDlg prompt;
    prompt.SetFile(brokered_ ? work_path_ : target_path_);
    prompt.SetShowSkip(true);
    const os::INT_PTR answer = prompt.DoModal();
    if (answer == CFileInUseDlg::kRetry) continue;
    return answer == CFileInUseDlg::kSkip ? -1 : 0;
  }
  return 1;
}

bool HttpDownload::OpenWorkFile() {
  if (brokered_) return output_.Open(work_path_);
  work_file_live_ = OpenBesideTarget(target_path_, &output_, &work_path_);
  return work_file_live_;
}

os::LONG HttpDownload::Transfer() {
  SequenceRequest request;
  request.url = url_;
  request.parts = parts_;
  request.parts.user = user_;
  request.parts.password = password_;
  request.object = parts_.object;
  request.flags = request_flags_;
  const HttpRequestSequence::Result result = sequence_.Run(request, &output_, this);
  request_flags_ = sequence_.flags();
  if (result == HttpRequestSequence::Result::kFailed || result == HttpRequestSequence::Result::kStopped) {
    error_message_ = FailureMessage();
    return 0;
  }
  const bool closed = output_.Close();
  // The work file is what was written; Download removes it.
  if (cancel_ == 1) return 1;
  if (!closed) {
    error_message_ = target_path_ + " file write error !!!";
    return 0;
  }
  return 1;
}

void HttpDownload::CloseHandles() { sequence_.CloseHandles(); }

std::string HttpDownload::FailureMessage() const {
  const os::DWORD code = sequence_.failure_code();
  switch (sequence_.failure()) {
    case SequenceFailure::kInternetOpen: return WithCode("Failed in call to InternetOpen, Error:", code);
    case SequenceFailure::kStatusCallback: return WithCode("Failed in call to InternetSetStatusCallback, Error:", code);
    case SequenceFailure::kConnect: return "Failed to Connect Http Server";
    case SequenceFailure::kOpenRequest: return WithCode("Failed in call to HttpOpenRequest, Error:", code);
    case SequenceFailure::kSend: return WithCode("Failed in call to HttpSendRequest, Error:", code);
    case SequenceFailure::kSetSecurityFlags: return "Failed InternetSetOption";
    case SequenceFailure::kSecureSend: return "Failed HttpSendRequest";
    case SequenceFailure::kQueryStatus:
      return WithCode("Failed in call to HttpQueryInfo for HTTP query status code, Error:", code);
    case SequenceFailure::kHttpStatus: return WithCode("Failed to retrieve a HTTP 200 status, Status Code:", code);
    // A body that does not decode fails its read, as where the HTTP layer decodes it.
    case SequenceFailure::kRead:
    case SequenceFailure::kDecode: return WithCode("Failed in call to InternetReadFile, Error:", code, "");
    case SequenceFailure::kWrite: return target_path_ + " file write error !!!";
    case SequenceFailure::kTooLarge: return target_path_ + " transfer stopped: " + sequence_.failure_detail();
    case SequenceFailure::kNone: break;
  }
  return error_message_;
}

void HttpDownload::OnStatus(os::DWORD status, void* info, os::DWORD info_length) {
  if (control_ == nullptr || sink_ == nullptr) return;
  // The page gets the information's address as a 32-bit number, as it always has.
  const auto info_value = static_cast<os::LONG>(reinterpret_cast<std::uintptr_t>(info));
  const os::LONG page = control_->FireChangeStatus(static_cast<os::LONG>(status), info_value,
                                                   static_cast<os::LONG>(info_length));
  os::LONG dialog = 0;
  sink_->ChangeStatus(static_cast<os::LONG>(status), info_value, static_cast<os::LONG>(info_length), &dialog);
  if (Combined(page, dialog) == 1) {
    Log(" Downloading User Cancel..");
    cancel_ = 1;
  }
}

void HttpDownload::OnStart(os::LONG length) {
  if (control_ == nullptr && sink_ == nullptr) return;
  os::LONG page = 0;
  os::LONG dialog = 0;
  if (control_ != nullptr) page = control_->FireStartDownload(url_, target_path_, length);
  if (sink_ != nullptr) sink_->StartDownload(url_, target_path_, length, &dialog);
  if (Combined(page, dialog) == 1) {
    Log(" StartDownload User Cancel..");
    cancel_ = 1;
  }
}

void HttpDownload::OnChunk(std::int64_t received) {
  if (control_ == nullptr && sink_ == nullptr) return;
  const os::LONG total = received > std::numeric_limits<os::LONG>::max() ? std::numeric_limits<os::LONG>::max()
                                                                         : static_cast<os::LONG>(received);
  os::LONG page = 0;
  os::LONG dialog = 0;
  if (control_ != nullptr) page = control_->FireDownloading(total);
  if (sink_ != nullptr) sink_->Downloading(total, &dialog);
  if (Combined(page, dialog) == 1) {
    Log(" Downloading User Cancel..");
    cancel_ = 1;
  }
}

void HttpDownload::Log(const std::string& text) {
  if (control_ != nullptr) control_->WriteLog(control_->GetLogTime() + text, 1);
}

void HttpDownload::DiscardWorkFile() {
  if (!work_file_live_) return;
  os::DeleteFileA(work_path_);
  work_file_live_ = false;
}

}  // namespace pelisto
