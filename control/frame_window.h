// The browser's frame window as the control finds it: the topmost ancestor of the control's
// outer window, and the window-state commands ChangeWindowState posts to it.
//
//   value  command
//   2      0xF020 SC_MINIMIZE
//   4      0xF060 SC_CLOSE
//   8      0xF120 SC_RESTORE
//   16     0xF030 SC_MAXIMIZE
#pragma once

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace pelisto {

// Climbs parents from `outer_window` to the topmost one (the window itself when it has no
// parent). Null when `outer_window` is null or names no window.
os::HWND FrameWindowOf(os::HWND outer_window);

// The command for `param` in the table above; 0 for any other value.
os::WPARAM WindowStateCommand(os::LONG param);

// Posts WM_SYSCOMMAND (command, 0) to the frame of `outer_window`; nothing without a frame or
// for a value outside the table.
void PostWindowState(os::HWND outer_window, os::LONG param);

}  // namespace pelisto
