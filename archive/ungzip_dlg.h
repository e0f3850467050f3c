// "Pelisto UnGZip; " (template 204): decompresses one gzip file on a worker thread while a
// bar shows that something is happening. The bar does not measure anything: every 500 ms it
// moves on 0, 10, 25, 35, 50, 75, 87, 93, 96, 98, 99 and stays at 99 until the worker is
// done; on success it jumps to 100 and the dialog ends with IDOK. A failed decompression
// shows "Failed UnCompress GZip File" and ends with IDCANCEL.
//
// The worker reports by posting WM_TIMER with id 100 (GunzipFile gave 0) or 101 (anything
// else) to the dialog; it touches nothing but its job and the files. The user's Esc or
// closing the window ends the dialog with IDCANCEL and stops the worker.
//
// Threads: built, run and destroyed on one thread (the control's). DoModal returns only once
// the worker has ended, so nothing is written into the destination after it returned and the
// object (and the image) may go at once.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "os/base/types.h"
#include "os/ui/dialog_window.h"

namespace pelisto {

class CUnGZipDlg : public os::ui::DialogWindow {
 public:
  static constexpr os::UINT_PTR kAnimationTimer = 1;
  static constexpr os::UINT_PTR kSucceededTimer = 100;
  static constexpr os::UINT_PTR kFailedTimer = 101;
  static constexpr os::UINT kAnimationPeriodMs = 500;

  // `source` is the gzip file (shown in field 217), `destination` the file GunzipFile
  // writes. `animation_period_ms` is the bar's step period (tests shorten it).
  CUnGZipDlg(std::string source, std::string destination,
             os::UINT animation_period_ms = kAnimationPeriodMs);
  ~CUnGZipDlg() override;

  // Runs the dialog modally on the calling thread from template 204 in the thread's UI
  // language: IDOK when the whole file was decompressed into the destination, IDCANCEL when
  // it failed, was stopped by the user, the source path is empty or the worker could not be
  // started; -1 when the dialog could not be made.
  os::INT_PTR DoModal();

  // The bar's next position after `position`: 10 after 0, 25 after 10, 35 after 25, 50
  // after 35, otherwise position + (100 - position) / 2.
  static int NextPosition(int position);

 protected:
  os::BOOL OnInitDialog() override;
  void OnCancel() override;
  bool OnMessage(os::UINT message, os::WPARAM wparam, os::LPARAM lparam, os::LRESULT* result) override;

  // The worker's job, on the worker thread: GunzipFile(source, destination) with `stop`
  // looked at between blocks. Tests put a job of their own here.
  virtual int Decompress(const std::string& source, const std::string& destination,
                         const std::atomic<bool>& stop);

 private:
  void StopWorker();

  const std::string source_;
  const std::string destination_;
  const os::UINT period_ms_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
};

}  // namespace pelisto
