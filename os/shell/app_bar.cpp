#include "os/shell/app_bar.h"

#include "os/ui/screen.h"

namespace os {

UINT_PTR SHAppBarMessage(DWORD message, APPBARDATA* data) {
  const ui::TaskbarLayout taskbar = ui::CurrentTaskbar();
  switch (message) {
    case ABM_GETSTATE: return ABS_ALWAYSONTOP | (taskbar.auto_hide ? ABS_AUTOHIDE : 0);
    case ABM_GETTASKBARPOS:
      if (data == nullptr ||
          (data->cbSize != kAppBarData32Size && data->cbSize != sizeof(APPBARDATA))) {
        return FALSE;
      }
      data->hWnd = taskbar.hwnd;
      data->uEdge = taskbar.edge;
      data->rc = taskbar.rect;
      return TRUE;
    default: return 0;
  }
}

}  // namespace os
