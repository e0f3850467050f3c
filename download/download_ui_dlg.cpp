#include "download/download_ui_dlg.h"

#include <climits>
#include <cmath>

#include "os/ui/message_queue.h"
#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {

void ProgressManager::SetTotal(os::LONG n) {
  complete_ = n == 0;
  if (!complete_) step_ = static_cast<float>(100.0 / static_cast<double>(n));
}

int ProgressManager::Percent(os::LONG count) const {
  if (complete_) return 100;
  float v = step_ * static_cast<float>(count);
  if (std::isnan(v)) return 0;
  if (v >= 98.0f) return 100;
  if (v <= static_cast<float>(INT_MIN)) return INT_MIN;
  return static_cast<int>(std::trunc(v));
}

const char* WorkItemStatusText(os::LONG status) {
  static const char* const kTexts[] = {"DOWNLOADING",      "CHECK_INSTALLED",     "WRITE_REGISTRY",
                                       "MAKE_LINK",        "VERSION_CHECKING",    "LOCAL_FILE_CHECKING",
                                       "DELETE_REGISTRY",  "DELETE_FILE",         "UNZIPPING"};
  return status >= 0 && status <= 8 ? kTexts[status] : "";
}

CDownloadUIDlg::CDownloadUIDlg() {
  os::WNDCLASSA wc;
  if (!os::GetClassInfoA(res::kStatusDialogClass, nullptr) && os::GetClassInfoA("#32770", &wc)) {
    wc.lpszClassName = res::kStatusDialogClass;
    os::RegisterClassA(&wc);  // another thread may have won the race: that is as good
  }
}

bool CDownloadUIDlg::SetLanguage(const std::string& language) { return pelisto::SetLanguage(language); }

bool CDownloadUIDlg::Create() {
  os::DialogTemplate tmpl;
  return LoadDialogTemplate(res::kStatusDialog, &tmpl) && DialogWindow::Create(tmpl);
}

os::BOOL CDownloadUIDlg::OnInitDialog() {
  if (hide_cancel_ != 0) {
    // Hidden alone, the button would still be reached by Esc and by closing the window.
    ShowItem(os::IDCANCEL, false);
    EnableItem(os::IDCANCEL, false);
  }
  return os::TRUE;
}

void CDownloadUIDlg::OnCancel() {
  if (hide_cancel_ != 0) return;
  cancel_.store(1);
  DialogWindow::OnCancel();
}

void CDownloadUIDlg::ReportCancel(os::LONG* cancel) const {
  if (cancel != nullptr) *cancel = cancel_.load();
}

void CDownloadUIDlg::StartDownload(const std::string&, const std::string& file_name, os::LONG file_length,
                                   os::LONG* cancel) {
  file_manager_.SetTotal(file_length);
  SendDlgItemMessage(res::kStatusFileBar, os::PBM_SETRANGE, 0, 0x00640000);
  SendDlgItemMessage(res::kStatusFileBar, os::PBM_SETPOS, 0, 0);
  SetDlgItemText(res::kStatusFileName, file_name);
  ReportCancel(cancel);
}

void CDownloadUIDlg::Downloading(os::LONG read_file_length, os::LONG* cancel) {
  SendDlgItemMessage(res::kStatusFileBar, os::PBM_SETPOS,
                     static_cast<os::WPARAM>(file_manager_.Percent(read_file_length)), 0);
  ReportCancel(cancel);
}

void CDownloadUIDlg::ChangeStatus(os::LONG, os::LONG, os::LONG, os::LONG* cancel) { ReportCancel(cancel); }

void CDownloadUIDlg::UnZipFileNumber(os::LONG) {}

void CDownloadUIDlg::UnZipping(const std::string&, os::LONG* cancel) { ReportCancel(cancel); }

void CDownloadUIDlg::EndUnZip(os::LONG) {}

void CDownloadUIDlg::TotalDownloadFileNumber(os::LONG file_number, os::LONG* cancel) {
  SendDlgItemMessage(res::kStatusRunBar, os::PBM_SETRANGE, 0, 0x00640000);
  SendDlgItemMessage(res::kStatusRunBar, os::PBM_SETPOS, 0, 0);
  run_manager_.SetTotal(file_number);
  ReportCancel(cancel);
}

void CDownloadUIDlg::IsDownload(os::LONG status_code, const std::string& content_name, os::LONG* cancel) {
  ++counter_;
  if (status_code != last_status_) {
    if (status_code >= 0 && status_code <= 8) SetDlgItemText(res::kStatusStatusLine, WorkItemStatusText(status_code));
    last_status_ = status_code;
  }
  if (status_code != LOCAL_FILE_CHECKING) {
    SetDlgItemText(res::kStatusWorkItem, content_name);
    SendDlgItemMessage(res::kStatusRunBar, os::PBM_SETPOS, static_cast<os::WPARAM>(run_manager_.Percent(counter_)), 0);
  }
  ReportCancel(cancel);
}

void CDownloadUIDlg::ErrorNotify(const std::string&) {}

}  // namespace pelisto
