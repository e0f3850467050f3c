// "Install Failed!": asks the user what to do about a file that cannot be opened for writing
// (Retry, Stop Install and, where the caller allows it, Skip). The page can disable or hide
// any of the buttons through two process-wide lists.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/ui/dialog_window.h"

namespace pelisto {

class CFileInUseDlg : public os::ui::DialogWindow {
 public:
  static constexpr os::INT_PTR kRetry = 1;  // IDOK
  static constexpr os::INT_PTR kStop = 2;   // IDCANCEL, also Esc and closing the window
  static constexpr os::INT_PTR kSkip = 221;

  CFileInUseDlg() = default;  // never has a parent window

  // The path shown in the dialog (image code page).
  void SetFile(const std::string& file) { file_ = file; }
  // Skip is hidden unless the caller sets this.
  void SetShowSkip(bool show) { show_skip_ = show ? 1 : 0; }

  // Runs the dialog modally on the calling thread, from template 203 in the thread's UI
  // language: kRetry, kStop or kSkip; -1 when the dialog could not be created.
  os::INT_PTR DoModal();

  // The process-wide lists, set by the control's property exchange from "fileinuse_disable"
  // and "fileinuse_hidden". A list disables (or hides) each button whose word occurs in it as
  // a case-sensitive substring: "skip" the Skip button, "retry" Retry, "stop" Stop Install.
  // Thread-safe; dialogs already open keep what they read.
  static void SetButtonLists(const std::string& disable, const std::string& hidden);

 protected:
  os::BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, os::HWND control) override;

 private:
  std::string file_;
  os::LONG show_skip_ = 0;
};

}  // namespace pelisto
