#include "archive/ungzip_dlg.h"

#include <system_error>
#include <utility>

#include "archive/gunzip.h"
#include "os/ui/message_box.h"
#include "os/ui/message_queue.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

constexpr char kBoxCaption[] = "Pelisto";

// What the worker is handed: it owns it.
struct WorkerJob {
  os::HWND dialog;
  std::string source;
  std::string destination;
};

}  // namespace

CUnGZipDlg::CUnGZipDlg(std::string source, std::string destination, os::UINT animation_period_ms)
    : source_(std::move(source)), destination_(std::move(destination)), period_ms_(animation_period_ms) {}

CUnGZipDlg::~CUnGZipDlg() { StopWorker(); }

os::INT_PTR CUnGZipDlg::DoModal() {
  os::DialogTemplate tmpl;
  if (!LoadDialogTemplate(res::kUnGzipDialog, &tmpl)) return -1;
  const os::INT_PTR result = DialogWindow::DoModal(tmpl);
  // However the dialog ended (a quit message ends a modal loop too), the worker writes
  // nothing after this.
  StopWorker();
  return result;
}

int CUnGZipDlg::NextPosition(int position) {
  switch (position) {
    case 0: return 10;
    case 10: return 25;
    case 25: return 35;
    case 35: return 50;
    default: return position + (100 - position) / 2;
  }
}

os::BOOL CUnGZipDlg::OnInitDialog() {
  SendDlgItemMessage(res::kUnGzipProgress, os::PBM_SETRANGE, 0, os::MAKELPARAM(0, 100));
  SendDlgItemMessage(res::kUnGzipProgress, os::PBM_SETPOS, 0, 0);
  SetDlgItemText(res::kUnGzipSource, source_);
  if (source_.empty()) {
    EndDialog(os::IDCANCEL);
    return os::TRUE;
  }
  WorkerJob job{hwnd(), source_, destination_};
  try {
    worker_ = std::thread([this, job = std::move(job)] {
      const int result = Decompress(job.source, job.destination, stop_);
      os::PostMessageA(job.dialog, os::WM_TIMER, result == kGunzipOk ? kSucceededTimer : kFailedTimer, 0);
    });
  } catch (const std::system_error&) {
    EndDialog(os::IDCANCEL);
    return os::TRUE;
  }
  os::SetTimer(hwnd(), kAnimationTimer, period_ms_, nullptr);
  return os::TRUE;
}

void CUnGZipDlg::OnCancel() {
  stop_ = true;
  os::KillTimer(hwnd(), kAnimationTimer);
  EndDialog(os::IDCANCEL);
}

bool CUnGZipDlg::OnMessage(os::UINT message, os::WPARAM wparam, os::LPARAM, os::LRESULT* result) {
  if (message != os::WM_TIMER) return false;
  *result = 0;
  switch (wparam) {
    case kAnimationTimer: {
      const auto position = static_cast<int>(SendDlgItemMessage(res::kUnGzipProgress, os::PBM_GETPOS, 0, 0));
      SendDlgItemMessage(res::kUnGzipProgress, os::PBM_SETPOS, static_cast<os::WPARAM>(NextPosition(position)), 0);
      return true;
    }
    case kSucceededTimer:
      SendDlgItemMessage(res::kUnGzipProgress, os::PBM_SETPOS, 100, 0);
      os::KillTimer(hwnd(), kSucceededTimer);
      os::KillTimer(hwnd(), kAnimationTimer);
      EndDialog(os::IDOK);
      return true;
    case kFailedTimer:
      os::KillTimer(hwnd(), kFailedTimer);
      os::KillTimer(hwnd(), kAnimationTimer);
      os::MessageBoxA(hwnd(), "Failed UnCompress GZip File", kBoxCaption, os::MB_OK);
      EndDialog(os::IDCANCEL);
      return true;
    default:
      return false;
  }
}

int CUnGZipDlg::Decompress(const std::string& source, const std::string& destination,
                           const std::atomic<bool>& stop) {
  return GunzipFile(source, destination, &stop);
}

void CUnGZipDlg::StopWorker() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

}  // namespace pelisto
