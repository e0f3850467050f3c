// protectSystemMenu's guard on the browser frame's system menu: a process-wide mask of blocked
// commands that only grows, and the frame's window procedure, replaced once for the life of the
// process (wide or narrow, as the frame's window is).
//
//   bit  blocked WM_SYSCOMMAND command (exact match)
//   1    0xF122 (restore from a double-click on the caption)
//   2    0xF020 SC_MINIMIZE
//   4    0xF060 SC_CLOSE
//   8    0xF120 SC_RESTORE
//   other bits are kept in the mask and block nothing
//
// Threads: called on the control's thread; the replacement procedure runs on the frame's
// thread and reads the mask without a lock (it is atomic).
#pragma once

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace pelisto {

inline constexpr os::WPARAM kSysCommandCaptionRestore = 0xF122;

// ORs `param` into the mask; unless the procedure was replaced already, finds the frame of
// `outer_window` (control/frame_window.h) and replaces its procedure. False when that was
// needed and no frame was found: the mask is kept and the next call tries again.
bool ProtectSystemMenu(os::HWND outer_window, os::DWORD param);

// The mask as it stands.
os::DWORD BlockedCommandsMask();
// Whether `command` is blocked by `mask` (the table above).
bool IsCommandBlocked(os::DWORD mask, os::WPARAM command);
// The frame whose procedure was replaced; null before.
os::HWND GuardedFrame();

// Tests only: gives a live guarded frame its procedure back and clears the mask, as a fresh
// process would start.
void ResetSystemMenuGuardForTesting();

}  // namespace pelisto
