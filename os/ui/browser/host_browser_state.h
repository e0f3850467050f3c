// The properties of the browser stand-in's web browser object that have no window of their
// own to show them (placement and visibility are the frame window's; os/ui/window.h).
#pragma once

#include "os/com/variant.h"

namespace os::ui {

// Values as they were last put (true is -1); a fresh browser shows all its bars.
struct WebBrowserState {
  VARIANT_BOOL resizable = VARIANT_TRUE;
  VARIANT_BOOL status_bar = VARIANT_TRUE;
  int tool_bar = VARIANT_TRUE;
  VARIANT_BOOL address_bar = VARIANT_TRUE;
  VARIANT_BOOL full_screen = VARIANT_FALSE;
  VARIANT_BOOL menu_bar = VARIANT_TRUE;
  VARIANT_BOOL visible = VARIANT_TRUE;
};

}  // namespace os::ui
