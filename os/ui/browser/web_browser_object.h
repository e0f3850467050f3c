// The browser stand-in's automation object: every call is recorded in order; placement moves
// the frame window and visibility shows or hides it, the bars are kept as properties.
#pragma once

#include <memory>

#include "os/ui/browser/browser_record.h"
#include "os/ui/browser/web_browser.h"
#include "os/ui/ui_types.h"

namespace os::ui {

class WebBrowserObject final : public ComObject<IWebBrowser2> {
 public:
  WebBrowserObject(HWND frame, std::shared_ptr<BrowserRecord> record);

  HRESULT put_Left(LONG left) override;
  HRESULT put_Top(LONG top) override;
  HRESULT put_Width(LONG width) override;
  HRESULT put_Height(LONG height) override;
  HRESULT put_Resizable(VARIANT_BOOL value) override;
  HRESULT put_StatusBar(VARIANT_BOOL value) override;
  HRESULT put_ToolBar(int value) override;
  HRESULT put_AddressBar(VARIANT_BOOL value) override;
  HRESULT put_FullScreen(VARIANT_BOOL value) override;
  HRESULT put_MenuBar(VARIANT_BOOL value) override;
  HRESULT put_Visible(VARIANT_BOOL value) override;
  HRESULT get_HWND(SHANDLE_PTR* hwnd) override;

 private:
  enum class Edge { kLeft, kTop, kWidth, kHeight };
  // Moves one edge of the frame, keeping the rest of its rectangle.
  HRESULT Place(const char* name, Edge edge, LONG value);
  HRESULT SetFlag(const char* name, VARIANT_BOOL value, VARIANT_BOOL WebBrowserState::*field);

  const HWND frame_;
  const std::shared_ptr<BrowserRecord> record_;
};

}  // namespace os::ui
