#include "os/ui/dialog_window.h"

#include "os/ui/message_queue.h"
#include "os/ui/thread_id.h"
#include "os/ui/window.h"

namespace os::ui {

DialogWindow::~DialogWindow() {
  HWND h = hwnd_.exchange(nullptr);
  if (h == nullptr || !IsWindow(h)) return;
  if (GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) {
    SetWindowLongPtrA(h, DWLP_USER, 0);
    os::DestroyWindow(h);
  } else {
    SetWindowLongPtrA(h, DWLP_USER, 0);
  }
}

INT_PTR DialogWindow::DoModal(const DialogTemplate& tmpl, HWND parent) {
  return DialogBoxIndirectParamA(tmpl, parent, &DialogWindow::Proc, reinterpret_cast<LPARAM>(this));
}

bool DialogWindow::Create(const DialogTemplate& tmpl, HWND parent) {
  return CreateDialogIndirectParamA(tmpl, parent, &DialogWindow::Proc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

HWND DialogWindow::GetDlgItem(int id) const {
  HWND h = hwnd();
  return h != nullptr ? os::GetDlgItem(h, id) : nullptr;
}

bool DialogWindow::SetDlgItemText(int id, const std::string& text) const {
  HWND h = hwnd();
  return h != nullptr && os::SetDlgItemTextA(h, id, text);
}

std::string DialogWindow::GetDlgItemText(int id) const {
  std::string text;
  HWND h = hwnd();
  if (h != nullptr) os::GetDlgItemTextA(h, id, &text, 0x7FFFFFFF);
  return text;
}

LRESULT DialogWindow::SendDlgItemMessage(int id, UINT message, WPARAM wparam, LPARAM lparam) const {
  HWND h = hwnd();
  return h != nullptr ? os::SendDlgItemMessageA(h, id, message, wparam, lparam) : 0;
}

bool DialogWindow::ShowItem(int id, bool show) const {
  HWND item = GetDlgItem(id);
  if (item == nullptr) return false;
  os::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
  return true;
}

bool DialogWindow::EnableItem(int id, bool enable) const {
  HWND item = GetDlgItem(id);
  if (item == nullptr) return false;
  os::EnableWindow(item, enable ? TRUE : FALSE);
  return true;
}

void DialogWindow::EndDialog(INT_PTR result) const {
  HWND h = hwnd();
  if (h != nullptr) os::EndDialog(h, result);
}

bool DialogWindow::DestroyWindow() {
  HWND h = hwnd();
  return h != nullptr && os::DestroyWindow(h);
}

void DialogWindow::CenterWindow() const {
  HWND h = hwnd();
  RECT r, screen;
  if (h == nullptr || !GetWindowRect(h, &r) || !GetWindowRect(GetDesktopWindow(), &screen)) return;
  LONG width = r.right - r.left, height = r.bottom - r.top;
  MoveWindow(h, (screen.right - width) / 2, (screen.bottom - height) / 2, width, height, TRUE);
}

bool DialogWindow::OnCommand(int id, int, HWND) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

bool DialogWindow::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

INT_PTR DialogWindow::Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<DialogWindow*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    self->hwnd_.store(hwnd);
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      return self->OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam)) ? TRUE : FALSE;
    case WM_DESTROY:
      self->OnDestroy();
      return FALSE;
    case WM_NCDESTROY:
      SetWindowLongPtrA(hwnd, DWLP_USER, 0);
      self->hwnd_.store(nullptr);
      return FALSE;
    default: {
      LRESULT result = 0;
      if (!self->OnMessage(message, wparam, lparam, &result)) return FALSE;
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
  }
}

}  // namespace os::ui
