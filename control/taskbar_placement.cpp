#include "control/taskbar_placement.h"

#include "os/shell/app_bar.h"
#include "os/ui/message_queue.h"
#include "os/ui/screen.h"
#include "os/ui/window.h"

namespace pelisto {

std::optional<BrowserPlacement> PlacementBesideTaskbar(const os::RECT& d, const os::RECT& t,
                                                       os::UINT_PTR state, os::UINT edge) {
  const os::LONG taskbar_width = t.right - t.left, taskbar_height = t.bottom - t.top;
  if (state & os::ABS_AUTOHIDE) return BrowserPlacement{d.left, d.top, d.right, d.bottom};
  switch (edge) {
    case os::ABE_LEFT: return BrowserPlacement{t.right, d.top, d.right - taskbar_width, d.bottom};
    case os::ABE_TOP: return BrowserPlacement{d.left, t.bottom, d.right, d.bottom - taskbar_height};
    case os::ABE_RIGHT: return BrowserPlacement{d.left, d.top, d.right - taskbar_width, d.bottom};
    case os::ABE_BOTTOM:
      return BrowserPlacement{d.left, d.top, d.right, d.bottom - taskbar_height + 3};
    default: return std::nullopt;
  }
}

std::optional<BrowserPlacement> ReadPlacementBesideTaskbar() {
  os::RECT desktop, taskbar;
  os::GetWindowRect(os::GetDesktopWindow(), &desktop);
  if (os::HWND tray = os::FindWindowA(os::ui::kTaskbarClass, ""); tray != nullptr) {
    os::GetWindowRect(tray, &taskbar);
  }
  os::APPBARDATA data;
  data.cbSize = os::kAppBarData32Size;
  const os::UINT_PTR state = os::SHAppBarMessage(os::ABM_GETSTATE, &data);
  os::SHAppBarMessage(os::ABM_GETTASKBARPOS, &data);
  return PlacementBesideTaskbar(desktop, taskbar, state, data.uEdge);
}

void ApplyPlacement(os::IWebBrowser2& browser, const std::optional<BrowserPlacement>& placement) {
  if (!placement) return;
  browser.put_Left(placement->left);
  browser.put_Top(placement->top);
  browser.put_Width(placement->width);
  browser.put_Height(placement->height);
}

void TurnBarsOff(os::IWebBrowser2& browser, double browser_version) {
  const bool seven_or_later = browser_version >= 7.0;
  if (seven_or_later) browser.put_Visible(os::VARIANT_FALSE);
  browser.put_ToolBar(os::FALSE);
  browser.put_AddressBar(os::VARIANT_FALSE);
  browser.put_MenuBar(os::VARIANT_FALSE);
  browser.put_StatusBar(os::VARIANT_FALSE);
  os::SHANDLE_PTR handle = 0;
  browser.get_HWND(&handle);
  if (seven_or_later) {
    os::SendMessageA(reinterpret_cast<os::HWND>(handle), os::WM_SIZE, 0, 0);
    browser.put_Visible(os::VARIANT_TRUE);
  }
}

}  // namespace pelisto
