// The hosting browser's automation object, as far as a control styles the window it is shown
// in: placement, the bars, visibility and the frame's handle. A control finds it through its
// client site: IServiceProvider::QueryService(SID_SWebBrowserApp, IWebBrowser2).
#pragma once

#include <cstdint>

#include "os/com/unknown.h"
#include "os/com/variant.h"

namespace os {

// A window handle carried as an integer (get_HWND).
using SHANDLE_PTR = std::intptr_t;

class IWebBrowser2 : public IUnknown {
 public:
  // {D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}
  static constexpr IID kIid{0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

  // Position and size of the frame window, in screen pixels.
  virtual HRESULT put_Left(LONG left) = 0;
  virtual HRESULT put_Top(LONG top) = 0;
  virtual HRESULT put_Width(LONG width) = 0;
  virtual HRESULT put_Height(LONG height) = 0;
  virtual HRESULT put_Resizable(VARIANT_BOOL value) = 0;
  virtual HRESULT put_StatusBar(VARIANT_BOOL value) = 0;
  virtual HRESULT put_ToolBar(int value) = 0;
  virtual HRESULT put_AddressBar(VARIANT_BOOL value) = 0;
  virtual HRESULT put_FullScreen(VARIANT_BOOL value) = 0;
  virtual HRESULT put_MenuBar(VARIANT_BOOL value) = 0;
  virtual HRESULT put_Visible(VARIANT_BOOL value) = 0;
  // The frame window (the browser's top-level window).
  virtual HRESULT get_HWND(SHANDLE_PTR* hwnd) = 0;
};

// The web browser application service. {0002DF05-0000-0000-C000-000000000046}
inline constexpr GUID SID_SWebBrowserApp{0x0002DF05, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

}  // namespace os
