#include "download/status_dialog_runner.h"

#include <system_error>

#include "os/ui/message_queue.h"
#include "os/ui/thread_id.h"
#include "os/ui/window.h"

namespace pelisto {
namespace {

// Guards the end of a status dialog: the closing code and the dialog thread's own end both
// enter it, so the window's destruction and the clearing of the pointer and the running
// flag never interleave with a close request. Process-wide.
std::mutex& EndSection() {
  static auto* mu = new std::mutex;
  return *mu;
}

}  // namespace

StatusDialogRunner::~StatusDialogRunner() { Close(); }

bool StatusDialogRunner::Start(const std::string& language, bool hide_cancel) {
  Close();
  {
    std::lock_guard<std::mutex> lock(started_mu_);
    started_ = false;
  }
  ready_ = false;
  try {
    thread_ = std::thread(&StatusDialogRunner::ThreadMain, this, language, hide_cancel);
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock<std::mutex> lock(started_mu_);
  started_cv_.wait(lock, [&] { return started_; });
  return ready_.load();
}

void StatusDialogRunner::ThreadMain(std::string language, bool hide_cancel) {
  thread_id_ = os::GetCurrentThreadId();
  auto object = std::make_unique<CDownloadUIDlg>();
  CDownloadUIDlg* dlg = object.get();
  object_ = std::move(object);
  dlg->SetHideCancel(hide_cancel);
  dlg->SetLanguage(language);  // on this thread, so the template comes in that language
  auto signal_started = [&] {
    std::lock_guard<std::mutex> lock(started_mu_);
    started_ = true;
    started_cv_.notify_all();
  };
  if (!dlg->Create()) {
    ready_ = false;
    signal_started();
    return;
  }
  dlg->CenterWindow();
  os::ShowWindow(dlg->hwnd(), os::SW_SHOW);
  os::SetForegroundWindow(dlg->hwnd());
  window_ = dlg->hwnd();
  ready_ = true;
  dialog_ = dlg;
  running_ = true;
  signal_started();

  os::MSG msg;
  while (os::GetMessageA(&msg, nullptr, 0, 0) > 0 && running_) {
    os::HWND h = dlg->hwnd();
    if (h != nullptr && os::IsWindow(h) && os::IsDialogMessageA(h, &msg)) continue;
    os::TranslateMessage(&msg);
    os::DispatchMessageA(&msg);
  }
  std::lock_guard<std::mutex> lock(EndSection());
  dlg->DestroyWindow();
  dialog_ = nullptr;
  running_ = false;
}

void StatusDialogRunner::Close() {
  if (dialog_.load() != nullptr) {
    {
      std::lock_guard<std::mutex> lock(EndSection());
      if (!os::PostMessageA(window_.load(), os::WM_QUIT, 0, 0)) {
        os::PostThreadMessageA(thread_id_.load(), os::WM_QUIT, 0, 0);
      }
      running_ = false;
    }
  }
  if (thread_.joinable()) thread_.join();
  dialog_ = nullptr;
  window_ = nullptr;
  object_.reset();
}

}  // namespace pelisto
