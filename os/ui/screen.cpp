#include "os/ui/screen.h"

#include <algorithm>

#include "os/image/machine.h"
#include "os/ui/model.h"

namespace os::ui {
namespace {

DisplaySettings CurrentDisplay() {
  Machine* machine = CurrentMachine();
  return machine != nullptr ? machine->settings().display : DisplaySettings();
}

}  // namespace

RECT DesktopRect() {
  const DisplaySettings d = CurrentDisplay();
  return RECT{0, 0, d.desktop_width, d.desktop_height};
}

TaskbarLayout CurrentTaskbar() {
  const DisplaySettings d = CurrentDisplay();
  const LONG w = d.desktop_width, h = d.desktop_height;
  TaskbarLayout t;
  t.hwnd = internal::TheModel().taskbar;
  t.edge = d.taskbar_edge;
  t.auto_hide = d.taskbar_autohide;
  switch (d.taskbar_edge) {
    case 0: t.rect = RECT{0, 0, std::min<LONG>(d.taskbar_size, w), h}; break;
    case 1: t.rect = RECT{0, 0, w, std::min<LONG>(d.taskbar_size, h)}; break;
    case 2: t.rect = RECT{std::max<LONG>(w - d.taskbar_size, 0), 0, w, h}; break;
    default: t.rect = RECT{0, std::max<LONG>(h - d.taskbar_size, 0), w, h}; break;
  }
  return t;
}

}  // namespace os::ui
