// The shell's application-bar messages, as far as a program asks about the taskbar: its
// state and its position (os/ui/screen.h lays both out from the machine image).
#pragma once

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace os {

struct APPBARDATA {
  DWORD cbSize = 0;
  HWND hWnd = nullptr;
  UINT uCallbackMessage = 0;
  UINT uEdge = 0;
  RECT rc;
  LPARAM lParam = 0;
};

// The size the structure has for a 32-bit caller; the call accepts it as well as its own size.
inline constexpr DWORD kAppBarData32Size = 36;

inline constexpr DWORD ABM_GETSTATE = 0x00000004;
inline constexpr DWORD ABM_GETTASKBARPOS = 0x00000005;

inline constexpr UINT_PTR ABS_AUTOHIDE = 0x0000001;
inline constexpr UINT_PTR ABS_ALWAYSONTOP = 0x0000002;

inline constexpr UINT ABE_LEFT = 0;
inline constexpr UINT ABE_TOP = 1;
inline constexpr UINT ABE_RIGHT = 2;
inline constexpr UINT ABE_BOTTOM = 3;

// ABM_GETSTATE: ABS_ALWAYSONTOP, with ABS_AUTOHIDE when the taskbar hides itself; `data` is
// not read. ABM_GETTASKBARPOS: fills hWnd (the "Shell_TrayWnd" window), uEdge and rc and
// returns TRUE; FALSE for a null `data` or a cbSize that is neither of the two sizes. Any other
// message: 0.
UINT_PTR SHAppBarMessage(DWORD message, APPBARDATA* data);

}  // namespace os
