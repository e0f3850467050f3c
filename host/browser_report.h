// How the host shows what the window methods did: the browser's state and its recorded calls,
// and the fate of a system command sent to the frame.
//
// Text:
//   syscommand 0xF060 swallowed|passed|no-frame
//   browser address URL              (the page address as the control reads it)
//   browser frame LEFT,TOP WIDTHxHEIGHT visible|hidden normal|minimized|maximized wide|narrow own|replaced
//   browser frame closed
//   browser bars toolbar N addressbar N menubar N statusbar N resizable N fullscreen N visible N
//   browser call put_Width(800)          (one line per recorded call of the browser object or
//   browser message WM_SIZE(0,0)          message to the frame's own procedure, in order)
// JSON, one object per line:
//   {"syscommand":"0xF060","outcome":"swallowed"}
//   {"browser":{"address":"...","frame":{"open":true,"left":0,...},"toolbar":0,...,"calls":[...]}}
#pragma once

#include <string>

#include "host/host_page.h"
#include "os/ui/browser/host_browser.h"

namespace pelisto {

std::string SysCommandLine(os::WPARAM command, SysCommandOutcome outcome, bool json);
// Lines end with "\n".
std::string BrowserReport(const os::ui::HostBrowser& browser, bool json);

}  // namespace pelisto
