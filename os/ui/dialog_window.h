// The base of the system's dialogs: one C++ object per dialog window, the window's messages
// turned into virtual calls, in the manner of a class library's dialog class.
//
// Ownership and threads: the object must outlive its window and is used on the window's
// thread, except for the calls marked as safe from any thread. Destroying the object
// destroys a window that is still open when done on the window's thread; on another thread
// it only cuts the object loose, so the window no longer calls into it.
#pragma once

#include <atomic>
#include <string>

#include "os/ui/dialog.h"
#include "os/ui/messages.h"

namespace os::ui {

class DialogWindow {
 public:
  DialogWindow() = default;
  virtual ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // Runs the dialog modally on the calling thread: EndDialog's result, -1 when the dialog
  // could not be created.
  INT_PTR DoModal(const DialogTemplate& tmpl, HWND parent = nullptr);
  // Creates the dialog modeless on the calling thread; true when its window exists after its
  // initialisation.
  bool Create(const DialogTemplate& tmpl, HWND parent = nullptr);

  // Safe from any thread.
  HWND hwnd() const { return hwnd_.load(); }
  HWND GetDlgItem(int id) const;
  bool SetDlgItemText(int id, const std::string& text) const;  // sent to the window's thread
  std::string GetDlgItemText(int id) const;
  LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wparam, LPARAM lparam) const;
  bool ShowItem(int id, bool show) const;
  bool EnableItem(int id, bool enable) const;
  void EndDialog(INT_PTR result) const;

  // On the window's thread.
  bool DestroyWindow();
  void CenterWindow() const;  // on the screen

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // WM_COMMAND. The default sends IDOK to OnOK and IDCANCEL to OnCancel; true when handled.
  virtual bool OnCommand(int id, int code, HWND control);
  // Any other message; true when handled, with `*result` its result.
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
  virtual void OnDestroy() {}

 private:
  static INT_PTR Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  std::atomic<HWND> hwnd_{nullptr};
};

}  // namespace os::ui
