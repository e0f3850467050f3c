#include "os/ui/dialog.h"

#include "os/base/error.h"
#include "os/ui/message_queue.h"
#include "os/ui/model.h"
#include "os/ui/window.h"

namespace os {
using ui::UiEvent;
using ui::UiEventKind;
using ui::internal::FindLocked;
using ui::internal::Model;
using ui::internal::TheModel;
using ui::internal::Window;

namespace {

constexpr LONG kScreenWidth = 1024;
constexpr LONG kScreenHeight = 768;

RECT ToPixels(int x, int y, int cx, int cy, int font_size) {
  int bx = 0, by = 0;
  ui::internal::DialogBaseUnits(font_size, &bx, &by);
  return RECT{x * bx / 4, y * by / 8, (x + cx) * bx / 4, (y + cy) * by / 8};
}

DWORD ControlStyle(const ControlTemplate& c) {
  DWORD style = WS_CHILD | c.style;
  if (c.visible) style |= WS_VISIBLE;
  if (!c.enabled) style |= WS_DISABLED;
  if (c.kind == ControlKind::kDefaultButton) style |= BS_DEFPUSHBUTTON;
  return style;
}

void ReportWithSnapshot(HWND hwnd, UiEventKind kind, int value) {
  UiEvent e;
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> w = FindLocked(m, hwnd);
    if (!w) return;
    e = ui::internal::MakeEventLocked(m, *w, kind);
  }
  e.value = value;
  e.snapshot = ui::internal::SnapshotOf(hwnd);
  ui::internal::Report(e);
}

HWND CreateDialogWindow(const DialogTemplate& tmpl, HWND parent, DLGPROC proc, LPARAM init_param, bool modal) {
  std::string class_name = tmpl.class_name.empty() ? "#32770" : tmpl.class_name;
  if (!GetClassInfoA(class_name, nullptr)) return nullptr;
  if (!ui::CurrentFrontEnd()->AllowDialog(tmpl.title, class_name)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  RECT size = ToPixels(0, 0, tmpl.cx, tmpl.cy, tmpl.font_size);
  LONG width = size.right, height = size.bottom;
  ui::internal::CreateParams p;
  p.class_name = class_name;
  p.text = tmpl.title;
  p.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  p.rect = RECT{(kScreenWidth - width) / 2, (kScreenHeight - height) / 2, 0, 0};
  p.rect.right = p.rect.left + width;
  p.rect.bottom = p.rect.top + height;
  p.send_create = false;
  std::shared_ptr<Window> dlg;
  HWND hwnd = ui::internal::CreateWindowObject(p, &dlg);
  if (hwnd == nullptr) return nullptr;
  (void)parent;  // owners are not modelled: every dialog of the system is made without one
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    dlg->is_dialog = true;
    dlg->dlg_proc = proc;
    dlg->modal = modal;
    dlg->font_size = tmpl.font_size;
  }
  HWND first = nullptr;
  int def_id = IDOK;
  bool def_seen = false;
  for (const ControlTemplate& c : tmpl.controls) {
    ui::internal::CreateParams cp;
    cp.class_name = ControlClassName(c.kind);
    cp.text = c.text;
    cp.style = ControlStyle(c);
    cp.rect = ToPixels(c.x, c.y, c.cx, c.cy, tmpl.font_size);
    cp.parent = hwnd;
    cp.id = c.id;
    cp.kind = c.kind;
    cp.send_create = false;
    std::shared_ptr<Window> ctl;
    HWND h = ui::internal::CreateWindowObject(cp, &ctl);
    if (h == nullptr) {
      DestroyWindow(hwnd);
      return nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(TheModel().mu);
      ctl->template_rect = RECT{c.x, c.y, c.x + c.cx, c.y + c.cy};
    }
    if (first == nullptr) first = h;
    if (c.kind == ControlKind::kDefaultButton && !def_seen) {
      def_id = c.id;
      def_seen = true;
    }
  }
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    dlg->def_id = def_id;
  }
  ui::internal::PublishTopLevelWindows();
  ReportWithSnapshot(hwnd, UiEventKind::kCreated, 0);
  ui::internal::CallProc(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), init_param);
  if (!IsWindow(hwnd)) return nullptr;
  bool ended = false;
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    ended = dlg->ended;
  }
  if (tmpl.visible && !ended) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

bool IsSelfOrDescendant(HWND dialog, HWND hwnd) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  for (std::shared_ptr<Window> w = FindLocked(m, hwnd); w; w = FindLocked(m, w->parent)) {
    if (w->hwnd == dialog) return true;
  }
  return false;
}

// Sends the command of button `id` unless that button exists and is disabled.
void SendButtonCommand(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button != nullptr && !IsWindowEnabled(button)) return;
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace

const char* ControlClassName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kStatic: return "STATIC";
    case ControlKind::kEdit: return "EDIT";
    case ControlKind::kButton:
    case ControlKind::kDefaultButton: return "BUTTON";
    case ControlKind::kProgress: return "msctls_progress32";
    case ControlKind::kAnimation: return "SysAnimate32";
  }
  return "STATIC";
}

HWND CreateDialogIndirectParamA(const DialogTemplate& tmpl, HWND parent, DLGPROC proc, LPARAM init_param) {
  HWND hwnd = CreateDialogWindow(tmpl, parent, proc, init_param, false);
  if (hwnd != nullptr) ReportWithSnapshot(hwnd, UiEventKind::kDialogReady, 0);
  return hwnd;
}

INT_PTR DialogBoxIndirectParamA(const DialogTemplate& tmpl, HWND parent, DLGPROC proc, LPARAM init_param) {
  HWND hwnd = CreateDialogWindow(tmpl, parent, proc, init_param, true);
  if (hwnd == nullptr) return -1;
  std::shared_ptr<Window> dlg = ui::internal::Find(hwnd);
  if (!dlg) return -1;
  auto ended = [&] {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    return dlg->ended || !dlg->alive;
  };
  if (!ended()) {
    if (!IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOW);
    ReportWithSnapshot(hwnd, UiEventKind::kDialogReady, 1);
  }
  MSG msg;
  while (!ended()) {
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageA(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  INT_PTR result = 0;
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    result = dlg->ended ? dlg->end_result : 0;
  }
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  std::shared_ptr<Window> dlg = ui::internal::FindOrFail(dialog);
  if (!dlg) return FALSE;
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    if (!dlg->is_dialog) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    dlg->ended = true;
    dlg->end_result = result;
  }
  ShowWindow(dialog, SW_HIDE);
  ReportWithSnapshot(dialog, UiEventKind::kDialogEnded, static_cast<int>(result));
  PostMessageA(dialog, WM_NULL, 0, 0);  // wakes a modal loop waiting on another thread
  return TRUE;
}

BOOL IsDialogMessageA(HWND dialog, MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr || !IsSelfOrDescendant(dialog, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
    SendButtonCommand(dialog, IDCANCEL);
    return TRUE;
  }
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
    LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    SendButtonCommand(dialog, HIWORD(static_cast<std::uintptr_t>(def)) == DC_HASDEFID
                                  ? LOWORD(static_cast<std::uintptr_t>(def))
                                  : IDOK);
    return TRUE;
  }
  TranslateMessage(msg);
  DispatchMessageA(msg);
  return TRUE;
}

LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<Window> dlg = ui::internal::Find(dialog);
  if (!dlg) return 0;
  DLGPROC proc = nullptr;
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    proc = dlg->dlg_proc;
    dlg->msg_result = 0;
  }
  if (proc != nullptr) {
    INT_PTR handled = proc(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) return handled;
    if (handled) {
      std::lock_guard<std::mutex> lock(TheModel().mu);
      return dlg->msg_result;
    }
    if (!IsWindow(dialog)) return 0;
  }
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_CLOSE: {
      HWND cancel = GetDlgItem(dialog, IDCANCEL);
      if (cancel == nullptr || IsWindowEnabled(cancel)) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      }
      return 0;
    }
    case DM_GETDEFID: {
      std::lock_guard<std::mutex> lock(TheModel().mu);
      return MAKELPARAM(static_cast<WORD>(dlg->def_id), DC_HASDEFID);
    }
    case DM_SETDEFID: {
      std::lock_guard<std::mutex> lock(TheModel().mu);
      dlg->def_id = static_cast<int>(wparam);
      return TRUE;
    }
    case WM_KEYDOWN:
    case WM_COMMAND:
      return 0;
    default:
      return DefWindowProcA(dialog, message, wparam, lparam);
  }
}

HWND GetDlgItem(HWND dialog, int id) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  std::shared_ptr<Window> dlg = FindLocked(m, dialog);
  if (!dlg) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (HWND h : dlg->children) {
    std::shared_ptr<Window> c = FindLocked(m, h);
    if (c && c->id == id) return h;
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const std::string& text) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? SetWindowTextA(item, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, std::string* text, int max_count) {
  HWND item = GetDlgItem(dialog, id);
  if (item == nullptr) {
    if (text != nullptr) text->clear();
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(item, text, max_count));
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? SendMessageA(item, message, wparam, lparam) : 0;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
  std::shared_ptr<Window> dlg = ui::internal::FindOrFail(dialog);
  if (!dlg || rect == nullptr) return FALSE;
  int font_size = 8;
  {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    if (!dlg->is_dialog) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    font_size = dlg->font_size;
  }
  *rect = ToPixels(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, font_size);
  return TRUE;
}

}  // namespace os

namespace os::ui {

bool PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  bool pressable = false;
  UiEvent e;
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> dlg = FindLocked(m, dialog);
    if (!dlg) return false;
    std::shared_ptr<Window> b = FindLocked(m, button);
    pressable = b && b->visible && b->enabled;
    e = internal::MakeEventLocked(m, *dlg, UiEventKind::kButtonPressed);
  }
  e.control_id = id;
  e.hwnd = button;
  e.value = pressable;
  if (pressable) {
    pressable = PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                             reinterpret_cast<LPARAM>(button)) != FALSE;
    e.value = pressable;
  }
  internal::Report(e);
  return pressable;
}

bool PressEscape(HWND dialog) {
  UiEvent e;
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> dlg = FindLocked(m, dialog);
    if (!dlg) return false;
    e = internal::MakeEventLocked(m, *dlg, UiEventKind::kButtonPressed);
  }
  e.text = "esc";
  e.value = PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0) != FALSE;
  internal::Report(e);
  return e.value != 0;
}

}  // namespace os::ui

namespace os::ui {

bool PressDefaultAnswer(HWND dialog) {
  HWND cancel = GetDlgItem(dialog, IDCANCEL);
  if (cancel == nullptr || IsWindowEnabled(cancel)) return PressEscape(dialog);
  WindowSnapshot snap;
  if (!SnapshotWindow(dialog, &snap)) return false;
  LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
  int def_id = HIWORD(static_cast<std::uintptr_t>(def)) == DC_HASDEFID ? LOWORD(static_cast<std::uintptr_t>(def)) : IDOK;
  const ControlSnapshot* chosen = nullptr;
  for (const ControlSnapshot& c : snap.controls) {
    bool button = c.kind == ControlKind::kButton || c.kind == ControlKind::kDefaultButton;
    if (!button || !c.visible || !c.enabled) continue;
    if (c.id == def_id) {
      chosen = &c;
      break;
    }
    if (chosen == nullptr) chosen = &c;
  }
  return chosen != nullptr && PressButton(dialog, chosen->id);
}

}  // namespace os::ui
