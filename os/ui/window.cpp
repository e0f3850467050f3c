#include "os/ui/window.h"

#include <algorithm>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/ui/message_queue.h"
#include "os/ui/model.h"
#include "os/ui/screen.h"
#include "os/ui/thread_id.h"
#include "os/ui/window_list.h"

namespace os {
using ui::UiEvent;
using ui::UiEventKind;
using ui::internal::FindLocked;
using ui::internal::FindOrFail;
using ui::internal::Model;
using ui::internal::TheModel;
using ui::internal::Window;

namespace {

std::uintptr_t Value(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

// Copies at most max_count - 1 bytes, as the Win32 text calls do.
int CopyOut(const std::string& text, std::string* out, int max_count) {
  if (out == nullptr || max_count <= 0) return 0;
  size_t n = std::min(text.size(), static_cast<size_t>(max_count - 1));
  out->assign(text, 0, n);
  return static_cast<int>(n);
}

bool ForeignWindow(HWND hwnd, ui::internal::ListedWindow* out) {
  if (!ui::internal::IsForeignHandle(hwnd)) return false;
  for (ui::internal::ListedWindow& w : ui::internal::ReadForeignWindows()) {
    if (w.handle == Value(hwnd)) {
      *out = std::move(w);
      return true;
    }
  }
  return false;
}

// Window coordinates are 16-bit quantities; keeping them there also keeps every sum of a
// child's and its parents' positions far from overflowing.
RECT PlacementRect(int x, int y, int width, int height) {
  x = std::clamp(x, -32768, 32767);
  y = std::clamp(y, -32768, 32767);
  width = std::clamp(width, 0, 32767);
  height = std::clamp(height, 0, 32767);
  return RECT{x, y, x + width, y + height};
}

// Sets a flag of the window and reports `on_kind` / `off_kind` when it changed.
template <typename Flag>
bool ChangeFlag(HWND hwnd, bool value, Flag flag, UiEventKind on_kind, UiEventKind off_kind, bool* before) {
  Model& m = TheModel();
  UiEvent e;
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> w = FindLocked(m, hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    bool& f = flag(*w);
    *before = f;
    changed = f != value;
    f = value;
    if (changed) e = ui::internal::MakeEventLocked(m, *w, value ? on_kind : off_kind);
  }
  if (changed) ui::internal::Report(e);
  return true;
}

}  // namespace

BOOL RegisterClassA(const WNDCLASSA* wc) {
  if (wc == nullptr || wc->lpszClassName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  std::string key = AsciiLower(wc->lpszClassName);
  if (m.classes.count(key) != 0) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return FALSE;
  }
  m.classes[key] = *wc;
  return TRUE;
}

BOOL RegisterClassW(const WNDCLASSW* wc) {
  if (wc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WNDCLASSA narrow;
  narrow.style = wc->style;
  narrow.lpfnWndProc = wc->lpfnWndProc;
  narrow.lpszClassName = WideToAnsi(wc->lpszClassName);
  if (!RegisterClassA(&narrow)) return FALSE;
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  m.unicode_classes.insert(AsciiLower(narrow.lpszClassName));
  return TRUE;
}

BOOL UnregisterClassA(const std::string& class_name) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  m.unicode_classes.erase(AsciiLower(class_name));
  if (m.classes.erase(AsciiLower(class_name)) == 0) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  return TRUE;
}

BOOL GetClassInfoA(const std::string& class_name, WNDCLASSA* wc) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  auto it = m.classes.find(AsciiLower(class_name));
  if (it == m.classes.end()) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  if (wc != nullptr) *wc = it->second;
  return TRUE;
}

HWND CreateWindowExA(DWORD, const std::string& class_name, const std::string& window_name, DWORD style,
                     int x, int y, int width, int height, HWND parent, UINT_PTR menu_or_id, void* param) {
  ui::internal::CreateParams p;
  p.class_name = class_name;
  p.text = window_name;
  p.style = style;
  p.rect = PlacementRect(x, y, width, height);
  p.parent = (style & WS_CHILD) ? parent : nullptr;
  p.id = (style & WS_CHILD) ? static_cast<int>(menu_or_id) : 0;
  p.create_param = param;
  std::shared_ptr<Window> w;
  HWND hwnd = ui::internal::CreateWindowObject(p, &w);
  if (hwnd == nullptr) return nullptr;
  UiEvent e;
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    e = ui::internal::MakeEventLocked(m, *w, UiEventKind::kCreated);
  }
  if (w->top_level) {
    e.snapshot = ui::internal::SnapshotOf(hwnd);
    ui::internal::PublishTopLevelWindows();
  }
  ui::internal::Report(e);
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  std::shared_ptr<Window> w = FindOrFail(hwnd);
  if (!w) return FALSE;
  Model& m = TheModel();
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    if (w->thread_id != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->destroying) return TRUE;  // a WM_DESTROY handler destroying its own window again
    w->destroying = true;
  }
  ui::internal::CallProc(hwnd, WM_DESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> lock(m.mu);
    children = w->children;
  }
  for (HWND child : children) DestroyWindow(child);
  ui::internal::CallProc(hwnd, WM_NCDESTROY, 0, 0);
  UiEvent e;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    e = ui::internal::MakeEventLocked(m, *w, UiEventKind::kDestroyed);
    w->alive = false;
    m.windows.erase(Value(hwnd));
    std::erase(m.top_levels, hwnd);
    if (std::shared_ptr<Window> parent = FindLocked(m, w->parent)) std::erase(parent->children, hwnd);
    if (m.foreground == hwnd) m.foreground = nullptr;
  }
  std::shared_ptr<ui::internal::Queue> q = ui::internal::CurrentQueue();
  {
    std::lock_guard<std::mutex> lock(q->mu);
    std::erase_if(q->timers, [&](const ui::internal::Timer& t) { return t.hwnd == hwnd; });
    std::erase_if(q->posted, [&](const MSG& msg) { return msg.hwnd == hwnd; });
  }
  if (w->top_level) ui::internal::PublishTopLevelWindows();
  ui::internal::Report(e);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  if (hwnd == nullptr) return FALSE;
  if (ui::internal::Find(hwnd)) return TRUE;
  ui::internal::ListedWindow listed;
  return ForeignWindow(hwnd, &listed) ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  bool show = command != SW_HIDE;
  bool before = false;
  if (!ChangeFlag(hwnd, show, [](Window& w) -> bool& { return w.visible; }, UiEventKind::kShown,
                  UiEventKind::kHidden, &before)) {
    return FALSE;
  }
  if (show) {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    if (std::shared_ptr<Window> w = FindLocked(m, hwnd)) {
      if (command == SW_SHOWMINIMIZED || command == SW_MINIMIZE) w->show_state = 1;
      else if (command == SW_MAXIMIZE) w->show_state = 2;
      else if (command == SW_RESTORE || command == SW_SHOWNORMAL) w->show_state = 0;
    }
  }
  return before ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  for (std::shared_ptr<Window> w = FindLocked(m, hwnd); w; w = FindLocked(m, w->parent)) {
    if (!w->visible) return FALSE;
    if (w->parent == nullptr) return TRUE;
  }
  return FALSE;
}

BOOL IsIconic(HWND hwnd) {
  std::shared_ptr<Window> w = ui::internal::Find(hwnd);
  std::lock_guard<std::mutex> lock(TheModel().mu);
  return w && w->show_state == 1;
}

BOOL IsZoomed(HWND hwnd) {
  std::shared_ptr<Window> w = ui::internal::Find(hwnd);
  std::lock_guard<std::mutex> lock(TheModel().mu);
  return w && w->show_state == 2;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  bool before = false;
  if (!ChangeFlag(hwnd, enable != FALSE, [](Window& w) -> bool& { return w.enabled; }, UiEventKind::kEnabled,
                  UiEventKind::kDisabled, &before)) {
    return FALSE;
  }
  return before ? FALSE : TRUE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  std::shared_ptr<Window> w = ui::internal::Find(hwnd);
  std::lock_guard<std::mutex> lock(TheModel().mu);
  return w && w->enabled;
}

BOOL IsWindowUnicode(HWND hwnd) {
  std::shared_ptr<Window> w = ui::internal::Find(hwnd);
  std::lock_guard<std::mutex> lock(TheModel().mu);
  return w && w->unicode;
}

BOOL SetWindowTextA(HWND hwnd, const std::string& text) {
  if (!FindOrFail(hwnd)) return FALSE;
  return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) ? TRUE : FALSE;
}

int GetWindowTextA(HWND hwnd, std::string* text, int max_count) {
  if (std::shared_ptr<Window> w = ui::internal::Find(hwnd)) {
    std::lock_guard<std::mutex> lock(TheModel().mu);
    return CopyOut(w->text, text, max_count);
  }
  ui::internal::ListedWindow listed;
  if (ForeignWindow(hwnd, &listed)) return CopyOut(listed.title, text, max_count);
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

int GetWindowTextLengthA(HWND hwnd) {
  std::string text;
  return GetWindowTextA(hwnd, &text, 0x7FFFFFFF);
}

int GetClassNameA(HWND hwnd, std::string* class_name, int max_count) {
  if (std::shared_ptr<Window> w = ui::internal::Find(hwnd)) return CopyOut(w->class_name, class_name, max_count);
  ui::internal::ListedWindow listed;
  if (ForeignWindow(hwnd, &listed)) return CopyOut(listed.class_name, class_name, max_count);
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

HWND GetParent(HWND hwnd) {
  std::shared_ptr<Window> w = FindOrFail(hwnd);
  return w ? w->parent : nullptr;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  std::shared_ptr<Window> w = FindLocked(m, hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (flags == GA_PARENT) return w->parent != nullptr ? w->parent : m.desktop;
  if (flags == GA_ROOT) return ui::internal::TopOfLocked(m, *w);
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  std::shared_ptr<Window> w = FindOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(TheModel().mu);
  return w->top_level ? 0 : w->id;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id) {
  std::shared_ptr<Window> w = FindOrFail(hwnd);
  if (!w) return 0;
  if (process_id != nullptr) *process_id = ui::internal::CurrentProcessNumber();
  return w->thread_id;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lparam) {
  std::vector<HWND> all;
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> p = FindLocked(m, parent);
    if (!p) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    std::vector<HWND> stack(p->children.rbegin(), p->children.rend());
    while (!stack.empty()) {
      HWND h = stack.back();
      stack.pop_back();
      all.push_back(h);
      if (std::shared_ptr<Window> c = FindLocked(m, h)) stack.insert(stack.end(), c->children.rbegin(), c->children.rend());
    }
  }
  for (HWND h : all) {
    if (ui::internal::Find(h) && !proc(h, lparam)) break;
  }
  return TRUE;
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lparam) {
  std::vector<HWND> tops = ui::TopLevelWindows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    if (ui::internal::Find(*it) && !proc(*it, lparam)) break;
  }
  return TRUE;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  std::shared_ptr<Window> w = FindOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(TheModel().mu);
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_USERDATA: return w->user_data;
    case GWLP_ID: return w->id;
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style | (w->visible ? WS_VISIBLE : 0) | (w->enabled ? 0 : WS_DISABLED) |
                                   (w->top_level ? 0 : WS_CHILD));
    default: break;
  }
  if (w->is_dialog) {
    if (index == DWLP_USER) return w->dlg_user;
    if (index == DWLP_MSGRESULT) return w->msg_result;
    if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dlg_proc);
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

namespace {

LONG_PTR SetWindowLongPtrAs(HWND hwnd, int index, LONG_PTR value, bool unicode) {
  std::shared_ptr<Window> w = FindOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(TheModel().mu);
  LONG_PTR old = 0;
  switch (index) {
    case GWLP_WNDPROC:
      if (value == 0) break;
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      w->unicode = unicode;
      return old;
    case GWLP_USERDATA:
      old = w->user_data;
      w->user_data = value;
      return old;
    case GWLP_ID:
      old = w->id;
      w->id = static_cast<int>(value);
      return old;
    default:
      if (!w->is_dialog) break;
      if (index == DWLP_USER) {
        old = w->dlg_user;
        w->dlg_user = value;
        return old;
      }
      if (index == DWLP_MSGRESULT) {
        old = w->msg_result;
        w->msg_result = value;
        return old;
      }
      if (index == DWLP_DLGPROC) {
        old = reinterpret_cast<LONG_PTR>(w->dlg_proc);
        w->dlg_proc = reinterpret_cast<DLGPROC>(value);
        return old;
      }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

}  // namespace

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  return SetWindowLongPtrAs(hwnd, index, value, false);
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) { return GetWindowLongPtrA(hwnd, index); }

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  return SetWindowLongPtrAs(hwnd, index, value, true);
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return proc ? proc(hwnd, message, wparam, lparam) : 0;
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return CallWindowProcA(proc, hwnd, message, wparam, lparam);
}

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lparam);
      ui::internal::SetTextAndReport(hwnd, text ? text : "");
      return TRUE;
    }
    case WM_GETTEXT: {
      std::string text;
      GetWindowTextA(hwnd, &text, static_cast<int>(std::min<WPARAM>(wparam, 0x7FFFFFFF)));
      if (lparam != 0 && wparam > 0) {
        char* out = reinterpret_cast<char*>(lparam);
        text.copy(out, text.size());
        out[text.size()] = '\0';
      }
      return static_cast<LRESULT>(text.size());
    }
    case WM_GETTEXTLENGTH:
      return GetWindowTextLengthA(hwnd);
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(hwnd, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_MAXIMIZE); break;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); break;
        default: break;
      }
      return 0;
    default:
      return 0;
  }
}

BOOL SetForegroundWindow(HWND hwnd) {
  Model& m = TheModel();
  UiEvent e;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> w = FindLocked(m, hwnd);
    if (!w) return FALSE;
    m.foreground = ui::internal::TopOfLocked(m, *w);
    std::shared_ptr<Window> top = FindLocked(m, m.foreground);
    e = ui::internal::MakeEventLocked(m, top ? *top : *w, UiEventKind::kForeground);
  }
  ui::internal::Report(e);
  return TRUE;
}

HWND GetForegroundWindow() {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  return m.foreground;
}

HWND GetDesktopWindow() { return TheModel().desktop; }

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  Model& m = TheModel();
  if (rect != nullptr && hwnd != nullptr && (hwnd == m.desktop || hwnd == m.taskbar)) {
    *rect = hwnd == m.desktop ? ui::DesktopRect() : ui::CurrentTaskbar().rect;
    return TRUE;
  }
  std::lock_guard<std::mutex> lock(m.mu);
  std::shared_ptr<Window> w = FindLocked(m, hwnd);
  if (!w || rect == nullptr) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT r = w->rect;
  for (std::shared_ptr<Window> p = FindLocked(m, w->parent); p; p = FindLocked(m, p->parent)) {
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
  }
  *rect = r;
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  RECT r;
  if (!GetWindowRect(hwnd, &r) || rect == nullptr) return FALSE;
  *rect = RECT{0, 0, r.right - r.left, r.bottom - r.top};
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mu);
  std::shared_ptr<Window> w = FindLocked(m, hwnd);
  if (!w || w->hwnd == m.desktop || w->hwnd == m.taskbar) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->rect = PlacementRect(x, y, width, height);
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
  RECT r;
  if (point == nullptr || !GetWindowRect(hwnd, &r)) return FALSE;
  point->x -= r.left;
  point->y -= r.top;
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
  RECT r;
  if (point == nullptr || !GetWindowRect(hwnd, &r)) return FALSE;
  point->x += r.left;
  point->y += r.top;
  return TRUE;
}

HWND FindWindowA(const std::string& class_name, const std::string& window_name) {
  auto matches = [&](const std::string& cls, const std::string& title) {
    return (class_name.empty() || EqualsIgnoreCase(cls, class_name)) &&
           (window_name.empty() || EqualsIgnoreCase(title, window_name));
  };
  HWND best = nullptr;
  std::int64_t best_time = 0;
  {
    Model& m = TheModel();
    std::lock_guard<std::mutex> lock(m.mu);
    // The shell's taskbar is the oldest window of all.
    if (std::shared_ptr<Window> tray = FindLocked(m, m.taskbar); tray && matches(tray->class_name, tray->text)) {
      best = tray->hwnd;
    }
    for (HWND h : m.top_levels) {
      std::shared_ptr<Window> w = FindLocked(m, h);
      if (w && matches(w->class_name, w->text) && (best == nullptr || w->created_ns >= best_time)) {
        best = h;
        best_time = w->created_ns;
      }
    }
  }
  for (const ui::internal::ListedWindow& w : ui::internal::ReadForeignWindows()) {
    if (matches(w.class_name, w.title) && (best == nullptr || w.created_ns > best_time)) {
      best = reinterpret_cast<HWND>(w.handle);
      best_time = w.created_ns;
    }
  }
  if (best == nullptr) SetLastError(ERROR_FILE_NOT_FOUND);
  return best;
}

}  // namespace os
