#include "os/ui/browser/web_browser_object.h"

#include <string>

#include "os/ui/window.h"

namespace os::ui {

WebBrowserObject::WebBrowserObject(HWND frame, std::shared_ptr<BrowserRecord> record)
    : frame_(frame), record_(std::move(record)) {}

HRESULT WebBrowserObject::Place(const char* name, Edge edge, LONG value) {
  record_->Add(std::string(name) + "(" + std::to_string(value) + ")");
  RECT r;
  if (!GetWindowRect(frame_, &r)) return E_FAIL;
  int x = r.left, y = r.top, width = r.right - r.left, height = r.bottom - r.top;
  switch (edge) {
    case Edge::kLeft: x = value; break;
    case Edge::kTop: y = value; break;
    case Edge::kWidth: width = value; break;
    case Edge::kHeight: height = value; break;
  }
  return MoveWindow(frame_, x, y, width, height, TRUE) ? S_OK : E_FAIL;
}

HRESULT WebBrowserObject::SetFlag(const char* name, VARIANT_BOOL value,
                                  VARIANT_BOOL WebBrowserState::*field) {
  record_->Add(std::string(name) + "(" + std::to_string(value) + ")");
  record_->Update([&](WebBrowserState& s) { s.*field = value; });
  return S_OK;
}

HRESULT WebBrowserObject::put_Left(LONG left) { return Place("put_Left", Edge::kLeft, left); }
HRESULT WebBrowserObject::put_Top(LONG top) { return Place("put_Top", Edge::kTop, top); }
HRESULT WebBrowserObject::put_Width(LONG width) { return Place("put_Width", Edge::kWidth, width); }
HRESULT WebBrowserObject::put_Height(LONG height) {
  return Place("put_Height", Edge::kHeight, height);
}

HRESULT WebBrowserObject::put_Resizable(VARIANT_BOOL value) {
  return SetFlag("put_Resizable", value, &WebBrowserState::resizable);
}
HRESULT WebBrowserObject::put_StatusBar(VARIANT_BOOL value) {
  return SetFlag("put_StatusBar", value, &WebBrowserState::status_bar);
}
HRESULT WebBrowserObject::put_AddressBar(VARIANT_BOOL value) {
  return SetFlag("put_AddressBar", value, &WebBrowserState::address_bar);
}
HRESULT WebBrowserObject::put_FullScreen(VARIANT_BOOL value) {
  return SetFlag("put_FullScreen", value, &WebBrowserState::full_screen);
}
HRESULT WebBrowserObject::put_MenuBar(VARIANT_BOOL value) {
  return SetFlag("put_MenuBar", value, &WebBrowserState::menu_bar);
}

HRESULT WebBrowserObject::put_ToolBar(int value) {
  record_->Add("put_ToolBar(" + std::to_string(value) + ")");
  record_->Update([&](WebBrowserState& s) { s.tool_bar = value; });
  return S_OK;
}

HRESULT WebBrowserObject::put_Visible(VARIANT_BOOL value) {
  record_->Add("put_Visible(" + std::to_string(value) + ")");
  record_->Update([&](WebBrowserState& s) { s.visible = value; });
  ShowWindow(frame_, value != VARIANT_FALSE ? SW_SHOW : SW_HIDE);
  return S_OK;
}

HRESULT WebBrowserObject::get_HWND(SHANDLE_PTR* hwnd) {
  record_->Add("get_HWND()");
  if (hwnd == nullptr) return E_POINTER;
  *hwnd = reinterpret_cast<SHANDLE_PTR>(frame_);
  return S_OK;
}

}  // namespace os::ui
