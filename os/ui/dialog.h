// Dialogs built from templates: modal runs with their own loop, modeless dialogs, the
// dialog-item calls, and the actions a front end takes for the user (pressing a button,
// the Esc key).
#pragma once

#include <string>
#include <vector>

#include "os/base/types.h"
#include "os/ui/messages.h"

namespace os {

inline constexpr int IDC_STATIC = -1;

// One control of a template. Position and size are in dialog units.
struct ControlTemplate {
  int id = IDC_STATIC;
  ControlKind kind = ControlKind::kStatic;
  std::string text;  // image code page when handed to the calls below
  int x = 0, y = 0, cx = 0, cy = 0;
  bool visible = true;
  bool enabled = true;
  DWORD style = 0;  // extra style bits: SS_PATHELLIPSIS, ACS_TRANSPARENT, ...
};

struct DialogTemplate {
  std::string title;       // image code page
  std::string class_name;  // empty: the standard dialog class "#32770"
  int cx = 0, cy = 0;      // dialog units
  std::string font;        // recorded for front ends; the model does not draw
  int font_size = 8;
  bool visible = false;    // WS_VISIBLE: shown as soon as it is initialised
  std::vector<ControlTemplate> controls;
};

// The class name of a control kind ("STATIC", "EDIT", "BUTTON", "msctls_progress32",
// "SysAnimate32").
const char* ControlClassName(ControlKind kind);

// Creates the dialog and its controls on the calling thread, then sends WM_INITDIALOG
// (wParam: the first control, lParam: `init_param`) to `proc`, then shows it when the
// template is visible. Null when the class is not registered (ERROR_CANNOT_FIND_WND_CLASS),
// when the front end refuses the dialog (ERROR_NOT_ENOUGH_MEMORY), or when the dialog
// destroyed itself during WM_INITDIALOG.
HWND CreateDialogIndirectParamA(const DialogTemplate& tmpl, HWND parent, DLGPROC proc, LPARAM init_param);
// Creates the dialog, shows it and runs a nested message loop until EndDialog; destroys it
// and returns the EndDialog result; -1 when it could not be created. A WM_QUIT taken by the
// loop ends it (with the result set so far, 0 if none) and is posted again for the outer loop.
INT_PTR DialogBoxIndirectParamA(const DialogTemplate& tmpl, HWND parent, DLGPROC proc, LPARAM init_param);
// Marks the dialog ended with `result` and hides it. A modal run then returns; a modeless
// dialog only stays hidden until it is destroyed. Any thread may call it.
BOOL EndDialog(HWND dialog, INT_PTR result);
// Takes the messages meant for the dialog or its controls: Esc becomes WM_COMMAND IDCANCEL
// and Enter the default button's command (neither when that button is disabled); other
// messages are dispatched. FALSE for messages of other windows.
BOOL IsDialogMessageA(HWND dialog, MSG* msg);
// The dialog class's procedure: calls the dialog procedure, then the default handling
// (WM_CLOSE takes the cancel path unless the IDCANCEL control is disabled; DM_GETDEFID).
LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, const std::string& text);
UINT GetDlgItemTextA(HWND dialog, int id, std::string* text, int max_count);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
// Dialog units to pixels with the dialog's font.
BOOL MapDialogRect(HWND dialog, RECT* rect);

}  // namespace os

namespace os::ui {

// What a front end does for the user. Both post to the dialog's thread and return at once.
// PressButton presses only a button that exists, is visible (its own flag) and is enabled,
// and reports kButtonPressed with 1 (pressed) or 0 (refused); false when refused.
bool PressButton(HWND dialog, int id);
// The Esc key: the dialog's cancel path (reaches even an invisible IDCANCEL button).
bool PressEscape(HWND dialog);
// What a user who only wants the dialog gone does: Esc when the cancel path is open (no
// IDCANCEL control, or an enabled one), else the default button when it can be pressed, else
// the first button that can. False when nothing can be pressed.
bool PressDefaultAnswer(HWND dialog);

}  // namespace os::ui
