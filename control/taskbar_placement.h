// setStyle's placement of the browser beside the taskbar: the desktop's rectangle D, the
// taskbar's rectangle T, its state and its edge decide left, top, width and height.
//
//   auto-hide     D.left   D.top     D.right                D.bottom
//   left (0)      T.right  D.top     D.right - T.width      D.bottom
//   top (1)       D.left   T.bottom  D.right                D.bottom - T.height
//   right (2)     D.left   D.top     D.right - T.width      D.bottom
//   bottom (3)    D.left   D.top     D.right                D.bottom - T.height + 3
//   other edge    nothing is placed
#pragma once

#include <optional>

#include "os/base/types.h"
#include "os/ui/browser/web_browser.h"
#include "os/ui/ui_types.h"

namespace pelisto {

struct BrowserPlacement {
  os::LONG left = 0;
  os::LONG top = 0;
  os::LONG width = 0;
  os::LONG height = 0;
};

// The table above; `state` is what ABM_GETSTATE answered.
std::optional<BrowserPlacement> PlacementBesideTaskbar(const os::RECT& desktop,
                                                       const os::RECT& taskbar,
                                                       os::UINT_PTR state, os::UINT edge);

// Reads D (the desktop window), T (the "Shell_TrayWnd" window; empty when there is none), the
// state (ABM_GETSTATE) and the edge (ABM_GETTASKBARPOS, with the 36-byte structure) and
// looks the placement up.
std::optional<BrowserPlacement> ReadPlacementBesideTaskbar();

// put_Left, put_Top, put_Width, put_Height in this order; nothing without a placement.
void ApplyPlacement(os::IWebBrowser2& browser, const std::optional<BrowserPlacement>& placement);

// The bars off and, for a browser of version 7.0 or later, hidden first and, after WM_SIZE
// (0, 0) to its window, shown again: [put_Visible(false)], put_ToolBar(0),
// put_AddressBar(false), put_MenuBar(false), put_StatusBar(false), get_HWND,
// [WM_SIZE, put_Visible(true)].
void TurnBarsOff(os::IWebBrowser2& browser, double browser_version);

}  // namespace pelisto
