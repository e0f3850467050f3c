// Windows: classes, creation and destruction, texts, visibility, enabled state, window
// procedures, placement and the machine-wide search for top-level windows.
//
// A window belongs to the thread that created it: its procedure runs there (messages sent
// from other threads are served by that thread's message loop, os/ui/message_queue.h), and
// only that thread may destroy it. The state calls (ShowWindow, EnableWindow, the text and
// placement queries) are safe from any thread. Changes are reported to the current front
// end (os/ui/front_end.h) after they are made, with no lock held.
//
// Failures return the Win32 failure value with the last error set:
// ERROR_INVALID_WINDOW_HANDLE for a handle that names no window of this process.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/ui/messages.h"

namespace os {

struct WNDCLASSA {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  std::string lpszClassName;
};

// The same with a wide-character name. Windows of a class registered this way are Unicode
// windows (IsWindowUnicode). Messages reach every procedure as they were sent: the model keeps
// no separate wide texts, so a wide procedure gets the same arguments a narrow one would.
struct WNDCLASSW {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  std::u16string lpszClassName;
};

// Classes are process-wide; names compare without regard to case. Built in: "#32770"
// (dialogs, DefDlgProcA), "STATIC", "EDIT", "BUTTON", "msctls_progress32", "SysAnimate32".
// RegisterClassA fails with ERROR_CLASS_ALREADY_EXISTS for a name in use.
BOOL RegisterClassA(const WNDCLASSA* wc);
BOOL RegisterClassW(const WNDCLASSW* wc);
BOOL UnregisterClassA(const std::string& class_name);
BOOL GetClassInfoA(const std::string& class_name, WNDCLASSA* wc);

// Creates a window of a registered class on the calling thread and sends it WM_CREATE
// (lParam: `param`); -1 from WM_CREATE fails the creation. `menu_or_id` is a child's control
// id. A window without WS_CHILD (or without a parent) is top-level and is listed machine-wide.
HWND CreateWindowExA(DWORD ex_style, const std::string& class_name, const std::string& window_name,
                     DWORD style, int x, int y, int width, int height, HWND parent,
                     UINT_PTR menu_or_id, void* param);
// Sends WM_DESTROY to the window and then to its children, forgets their timers and queued
// messages, and ends them. Fails with ERROR_ACCESS_DENIED on a thread that does not own it.
BOOL DestroyWindow(HWND hwnd);
// True for a live window of this process, or a live top-level window of another process of
// the same machine image.
BOOL IsWindow(HWND hwnd);

// Returns whether the window was visible before.
BOOL ShowWindow(HWND hwnd, int command);
// True when the window and all its ancestors are visible.
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL IsZoomed(HWND hwnd);
// Returns non-zero when the window was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
// True for a window of a class registered with RegisterClassW, until its procedure is replaced
// through SetWindowLongPtrA; SetWindowLongPtrW makes a window Unicode.
BOOL IsWindowUnicode(HWND hwnd);

// Sends WM_SETTEXT (so the owner thread sets it, and a replaced procedure sees it).
BOOL SetWindowTextA(HWND hwnd, const std::string& text);
// Copy at most max_count - 1 bytes into *text; return the number copied (0 on failure).
// The text is read from the model without a message, so it also works for windows of
// other threads and of other processes (top-level only) without blocking.
int GetWindowTextA(HWND hwnd, std::string* text, int max_count);
int GetWindowTextLengthA(HWND hwnd);
int GetClassNameA(HWND hwnd, std::string* class_name, int max_count);

HWND GetParent(HWND hwnd);
HWND GetAncestor(HWND hwnd, UINT flags);  // GA_PARENT or GA_ROOT
int GetDlgCtrlID(HWND hwnd);
// The owning thread's id (os::GetCurrentThreadId); 0 on failure.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id);
// Children and their children, in creation order; stops when `proc` returns FALSE.
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lparam);
// The top-level windows of this process, newest first.
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lparam);

// GWLP_WNDPROC, GWLP_USERDATA, GWLP_ID, GWL_STYLE (read only) and, for dialogs, DWLP_USER,
// DWLP_MSGRESULT, DWLP_DLGPROC. Set returns the previous value.
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
// Calls `proc` as the window procedure of `hwnd` (what a replaced procedure uses to hand a
// message on to the one it replaced).
LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// The default handling: texts, WM_CLOSE destroys the window, WM_SYSCOMMAND SC_CLOSE sends
// WM_CLOSE and SC_MINIMIZE / SC_MAXIMIZE / SC_RESTORE change the show state.
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();

// Placement in pixels; the screen is the desktop window's rectangle, as large as the image
// says (os/ui/screen.h; 1024 x 768 by default). A child's position is relative to its parent's
// client area, which here is the whole window. CreateWindowExA and MoveWindow keep positions
// within -32768 to 32767 and sizes within 0 to 32767, as window coordinates are 16-bit.
HWND GetDesktopWindow();
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL GetClientRect(HWND hwnd, RECT* rect);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL ClientToScreen(HWND hwnd, POINT* point);

// The newest top-level window, of any live process of the current machine image, whose class
// and title equal the given ones without regard to ASCII case; an empty text matches any.
// Windows of processes that ended (even without cleaning up) are ignored. Null (with
// ERROR_FILE_NOT_FOUND) when none matches.
HWND FindWindowA(const std::string& class_name, const std::string& window_name);

}  // namespace os
