// The screen the windows stand on: the desktop window's rectangle and the shell's taskbar (a
// top-level window of class "Shell_TrayWnd" that FindWindowA finds), both laid out from the
// current machine image's display settings (os/image/display_settings.h; the defaults when no
// image is current). The layout is read at every call, so a reopened image takes effect at
// once. Safe from any thread.
#pragma once

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace os::ui {

inline constexpr char kTaskbarClass[] = "Shell_TrayWnd";

struct TaskbarLayout {
  HWND hwnd = nullptr;
  UINT edge = 3;  // 0 left, 1 top, 2 right, 3 bottom; other values as the image gives them
  RECT rect;      // screen pixels; at the bottom for an edge outside 0-3
  bool auto_hide = false;
};

// (0, 0, desktop width, desktop height).
RECT DesktopRect();
// The taskbar along its edge, as thick as the image says (at most the desktop's size).
TaskbarLayout CurrentTaskbar();

}  // namespace os::ui
