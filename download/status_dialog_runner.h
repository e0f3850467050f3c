// The mechanics behind the control's StartStatusDialog() / CloseStatusDialog(): the status
// dialog (CDownloadUIDlg) on a thread of its own with its own message loop, the start-up
// handshake and the guarded end.
//
// Threads: Start, Close and the destructor are called on the control's thread. dialog() may
// be read from any thread; the object it points to stays valid until Close() returns, even
// when the dialog's window ends earlier.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "download/download_ui_dlg.h"
#include "download/starter_download.h"

namespace pelisto {

class StatusDialogRunner {
 public:
  StatusDialogRunner() = default;
  ~StatusDialogRunner();  // closes a dialog that is still up
  StatusDialogRunner(const StatusDialogRunner&) = delete;
  StatusDialogRunner& operator=(const StatusDialogRunner&) = delete;

  // Starts the dialog's thread and waits, without a time limit, until the dialog is up or
  // could not be made. `language` ("ENG" / "KOR") is applied on the dialog's thread;
  // `hide_cancel` is the "hideDownloadCancel" setting. True when the dialog is up. A dialog
  // this runner still has is closed first.
  bool Start(const std::string& language, bool hide_cancel);
  // Posts WM_QUIT to the dialog, waits for its thread without a time limit and forgets it.
  // Harmless when there is no dialog, twice, or after the dialog ended on its own.
  void Close();

  // The dialog's progress sink; null when there is no dialog.
  IStarterDownload* dialog() const { return dialog_.load(); }
  // Set by the dialog's thread: the window exists / the loop is to keep going.
  bool ready() const { return ready_.load(); }
  bool running() const { return running_.load(); }

 private:
  void ThreadMain(std::string language, bool hide_cancel);

  // Manual-reset: set by the dialog's thread when its start-up is over, either way.
  std::mutex started_mu_;
  std::condition_variable started_cv_;
  bool started_ = false;

  std::unique_ptr<CDownloadUIDlg> object_;  // made on the dialog's thread; freed by Close
  std::atomic<IStarterDownload*> dialog_{nullptr};
  std::atomic<os::HWND> window_{nullptr};
  std::atomic<os::DWORD> thread_id_{0};
  std::atomic<bool> ready_{false};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace pelisto
