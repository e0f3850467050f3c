// The standard control classes: static texts, edit fields, buttons, progress bars and
// animations, and the dialog class.
#include <algorithm>

#include "os/ui/dialog.h"
#include "os/ui/message_queue.h"
#include "os/ui/model.h"

namespace os::ui::internal {
namespace {

LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == BM_CLICK) {
    if (!IsWindowEnabled(hwnd)) return 0;
    HWND parent = GetParent(hwnd);
    if (parent != nullptr) {
      SendMessageA(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd)), BN_CLICKED),
                   reinterpret_cast<LPARAM>(hwnd));
    }
    return 0;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

// Applies `change` to the progress bar's state and reports the range and position events
// it asks for; returns what `change` returns.
template <typename Change>
LRESULT ChangeProgress(HWND hwnd, bool report_range, bool report_pos, Change change) {
  Model& m = TheModel();
  LRESULT result = 0;
  std::vector<UiEvent> events;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> w = FindLocked(m, hwnd);
    if (!w) return 0;
    result = change(*w);
    if (report_range) {
      UiEvent e = MakeEventLocked(m, *w, UiEventKind::kProgressRange);
      e.value = w->range_min;
      e.value2 = w->range_max;
      events.push_back(e);
    }
    if (report_pos) {
      UiEvent e = MakeEventLocked(m, *w, UiEventKind::kProgressPos);
      e.value = w->position;
      events.push_back(e);
    }
  }
  for (const UiEvent& e : events) Report(e);
  return result;
}

int Clamp(const Window& w, long long pos) {
  return static_cast<int>(std::clamp<long long>(pos, w.range_min, std::max(w.range_min, w.range_max)));
}

LRESULT PackedRange(const Window& w) {
  return MAKELPARAM(static_cast<WORD>(w.range_min), static_cast<WORD>(w.range_max));
}

LRESULT ProgressProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case PBM_SETRANGE:
      return ChangeProgress(hwnd, true, false, [&](Window& w) {
        LRESULT old = PackedRange(w);
        w.range_min = LOWORD(static_cast<std::uintptr_t>(lparam));
        w.range_max = HIWORD(static_cast<std::uintptr_t>(lparam));
        w.position = Clamp(w, w.position);
        return old;
      });
    case PBM_SETRANGE32:
      return ChangeProgress(hwnd, true, false, [&](Window& w) {
        LRESULT old = PackedRange(w);
        w.range_min = static_cast<int>(wparam);
        w.range_max = static_cast<int>(lparam);
        w.position = Clamp(w, w.position);
        return old;
      });
    case PBM_SETPOS:
      return ChangeProgress(hwnd, false, true, [&](Window& w) {
        LRESULT old = w.position;
        w.position = Clamp(w, static_cast<int>(wparam));
        return old;
      });
    case PBM_DELTAPOS:
      return ChangeProgress(hwnd, false, true, [&](Window& w) {
        LRESULT old = w.position;
        w.position = Clamp(w, static_cast<long long>(w.position) + static_cast<int>(wparam));
        return old;
      });
    case PBM_SETSTEP:
      return ChangeProgress(hwnd, false, false, [&](Window& w) {
        LRESULT old = w.step;
        w.step = static_cast<int>(wparam);
        return old;
      });
    case PBM_STEPIT:
      return ChangeProgress(hwnd, false, true, [&](Window& w) {
        LRESULT old = w.position;
        long long span = static_cast<long long>(w.range_max) - w.range_min;
        long long pos = static_cast<long long>(w.position) + w.step;
        // Past either end the bar starts over from the other one.
        if (span <= 0) {
          pos = w.range_min;
        } else if (pos > w.range_max) {
          pos = (pos - w.range_min) % span + w.range_min;
        } else if (pos < w.range_min) {
          pos = (pos - w.range_min) % span + w.range_max;
        }
        w.position = static_cast<int>(pos);
        return old;
      });
    case PBM_GETRANGE:
      return ChangeProgress(hwnd, false, false, [&](Window& w) {
        if (lparam != 0) {
          auto* range = reinterpret_cast<PBRANGE*>(lparam);
          range->iLow = w.range_min;
          range->iHigh = w.range_max;
        }
        return static_cast<LRESULT>(wparam ? w.range_min : w.range_max);
      });
    case PBM_GETPOS:
      return ChangeProgress(hwnd, false, false, [&](Window& w) { return static_cast<LRESULT>(w.position); });
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

LRESULT AnimateProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != ACM_OPENA && message != ACM_PLAY && message != ACM_STOP) {
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  Model& m = TheModel();
  UiEvent e;
  LRESULT result = TRUE;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    std::shared_ptr<Window> w = FindLocked(m, hwnd);
    if (!w) return FALSE;
    if (message == ACM_OPENA) {
      w->clip = static_cast<int>(lparam);
      w->playing = false;
    } else if (message == ACM_PLAY) {
      result = w->clip != 0;
      w->playing = w->clip != 0;
    } else {
      w->playing = false;
    }
    e = MakeEventLocked(m, *w, UiEventKind::kAnimation);
    e.value = w->playing;
    e.value2 = w->clip;
  }
  Report(e);
  return result;
}

}  // namespace

void RegisterBuiltInClassesLocked(Model& m) {
  auto add = [&](const char* name, WNDPROC proc) {
    WNDCLASSA wc;
    wc.lpfnWndProc = proc;
    wc.lpszClassName = name;
    std::string key = name;
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    m.classes[key] = wc;
  };
  add("#32770", DefDlgProcA);
  add("STATIC", DefWindowProcA);
  add("EDIT", DefWindowProcA);
  add("BUTTON", ButtonProc);
  add("msctls_progress32", ProgressProc);
  add("SysAnimate32", AnimateProc);
}

}  // namespace os::ui::internal
