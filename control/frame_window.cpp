#include "control/frame_window.h"

#include "os/ui/message_queue.h"
#include "os/ui/window.h"

namespace pelisto {

os::HWND FrameWindowOf(os::HWND outer_window) {
  if (outer_window == nullptr || !os::IsWindow(outer_window)) return nullptr;
  os::HWND frame = outer_window;
  for (os::HWND parent = os::GetParent(frame); parent != nullptr; parent = os::GetParent(frame)) {
    frame = parent;
  }
  return frame;
}

os::WPARAM WindowStateCommand(os::LONG param) {
  switch (param) {
    case 2: return os::SC_MINIMIZE;
    case 4: return os::SC_CLOSE;
    case 8: return os::SC_RESTORE;
    case 16: return os::SC_MAXIMIZE;
    default: return 0;
  }
}

void PostWindowState(os::HWND outer_window, os::LONG param) {
  const os::HWND frame = FrameWindowOf(outer_window);
  if (frame == nullptr) return;
  const os::WPARAM command = WindowStateCommand(param);
  if (command != 0) os::PostMessageA(frame, os::WM_SYSCOMMAND, command, 0);
}

}  // namespace pelisto
