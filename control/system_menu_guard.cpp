#include "control/system_menu_guard.h"

#include <atomic>

#include "control/frame_window.h"
#include "os/ui/window.h"

namespace pelisto {
namespace {

// Lives as long as the module; never cleared outside the tests.
struct GuardState {
  std::atomic<os::DWORD> mask{0};
  std::atomic<bool> installed{false};
  std::atomic<os::HWND> frame{nullptr};
  std::atomic<os::WNDPROC> previous{nullptr};
  std::atomic<bool> unicode{false};
};

GuardState& State() {
  static GuardState* state = new GuardState;
  return *state;
}

os::LRESULT GuardProc(os::HWND hwnd, os::UINT message, os::WPARAM wparam, os::LPARAM lparam) {
  GuardState& s = State();
  if (message == os::WM_SYSCOMMAND && IsCommandBlocked(s.mask.load(), wparam)) return 0;
  const os::WNDPROC previous = s.previous.load();
  if (s.unicode.load()) {
    return previous ? os::CallWindowProcW(previous, hwnd, message, wparam, lparam)
                    : os::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return previous ? os::CallWindowProcA(previous, hwnd, message, wparam, lparam)
                  : os::DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace

bool IsCommandBlocked(os::DWORD mask, os::WPARAM command) {
  return ((mask & 1) && command == kSysCommandCaptionRestore) ||
         ((mask & 2) && command == os::SC_MINIMIZE) || ((mask & 4) && command == os::SC_CLOSE) ||
         ((mask & 8) && command == os::SC_RESTORE);
}

bool ProtectSystemMenu(os::HWND outer_window, os::DWORD param) {
  GuardState& s = State();
  s.mask.fetch_or(param);
  if (s.installed.load()) return true;
  const os::HWND frame = FrameWindowOf(outer_window);
  if (frame == nullptr) return false;
  const bool unicode = os::IsWindowUnicode(frame) != os::FALSE;
  const auto guard = reinterpret_cast<os::LONG_PTR>(&GuardProc);
  // The previous procedure is known before the replacement can receive a message.
  s.unicode.store(unicode);
  s.previous.store(reinterpret_cast<os::WNDPROC>(unicode ? os::GetWindowLongPtrW(frame, os::GWLP_WNDPROC)
                                                         : os::GetWindowLongPtrA(frame, os::GWLP_WNDPROC)));
  const os::LONG_PTR old = unicode ? os::SetWindowLongPtrW(frame, os::GWLP_WNDPROC, guard)
                                   : os::SetWindowLongPtrA(frame, os::GWLP_WNDPROC, guard);
  if (old == 0 && !os::IsWindow(frame)) return false;  // the frame went away in between
  s.previous.store(reinterpret_cast<os::WNDPROC>(old));
  s.frame.store(frame);
  s.installed.store(true);
  return true;
}

os::DWORD BlockedCommandsMask() { return State().mask.load(); }

os::HWND GuardedFrame() { return State().frame.load(); }

void ResetSystemMenuGuardForTesting() {
  GuardState& s = State();
  const os::HWND frame = s.frame.load();
  if (s.installed.load() && frame != nullptr && os::IsWindow(frame)) {
    const auto previous = reinterpret_cast<os::LONG_PTR>(s.previous.load());
    if (s.unicode.load()) {
      os::SetWindowLongPtrW(frame, os::GWLP_WNDPROC, previous);
    } else {
      os::SetWindowLongPtrA(frame, os::GWLP_WNDPROC, previous);
    }
  }
  s.installed.store(false);
  s.frame.store(nullptr);
  s.previous.store(nullptr);
  s.unicode.store(false);
  s.mask.store(0);
}

}  // namespace pelisto
