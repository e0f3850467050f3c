// The browser that hosts the control, as the host program and the tests play it: a top-level
// frame window (the application's main window), its bars with an "EDIT" address field that
// holds the page address, the windows between the frame and the page's document (the control
// puts its own window in ControlParent(), so that climbing parents from it reaches the frame),
// the web browser object that records every call, and the client site chain that leads to it.
//
// Window tree, in creation order (the address field is the first "EDIT" of the frame):
//   frame "PelistoHostFrame"  (top-level; Unicode unless `unicode_frame` is false)
//     bars "PelistoHostBars"
//       address field "EDIT"  (text: the page address)
//     tab "PelistoHostTab"
//       view "PelistoHostView"
//         document "PelistoHostDocument"   <- ControlParent()
//
// The frame's own window procedure records WM_SIZE, WM_SYSCOMMAND and WM_CLOSE as
// "WM_SIZE(w,l)", "WM_SYSCOMMAND(0xF060,0)", "WM_CLOSE()" in the same record as the object's
// calls ("put_Width(800)", "get_HWND()"), then handles them as windows do (a close destroys
// the frame and everything in it).
//
// Made and used on one thread (the page's), which owns its windows; the recorded calls and
// state may be read from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "os/com/ole_site.h"
#include "os/ui/browser/browser_record.h"
#include "os/ui/browser/client_site.h"
#include "os/ui/browser/host_browser_state.h"
#include "os/ui/browser/web_browser.h"
#include "os/ui/ui_types.h"

namespace os::ui {

struct HostBrowserOptions {
  std::string page_url;       // the address field's text; empty: no page address
  bool unicode_frame = true;  // the frame's procedure is a wide one, as a browser's frame is
  ClientSiteLinks links;      // which links of the client site chain answer
  RECT frame_rect{100, 100, 900, 700};
};

class HostBrowser {
 public:
  // Makes the windows on the calling thread. Frame() is null when they could not be made.
  explicit HostBrowser(HostBrowserOptions options = {});
  // Destroys the windows that are still there. The COM objects live on while referenced.
  ~HostBrowser();
  HostBrowser(const HostBrowser&) = delete;
  HostBrowser& operator=(const HostBrowser&) = delete;

  HWND Frame() const { return frame_; }
  HWND AddressField() const { return address_; }
  HWND ControlParent() const { return document_; }
  // The site to hand the control (IOleObject::SetClientSite); not referenced for the caller.
  IOleClientSite* ClientSite() const { return site_.Get(); }
  IWebBrowser2* WebBrowser() const { return browser_.Get(); }

  // The object's bar and visibility properties as last put.
  WebBrowserState State() const { return record_->State(); }
  // Every call of the object and every recorded frame message, oldest first.
  std::vector<std::string> Calls() const { return record_->Entries(); }
  // How many WM_SYSCOMMAND messages reached the frame's own procedure (what a replaced
  // procedure passed on).
  int SysCommandsReceived() const { return record_->SysCommands(); }
  // True when the frame's window procedure is no longer the browser's own (a control replaced
  // it); false also when the frame is gone.
  bool FrameProcedureReplaced() const;

 private:
  std::shared_ptr<BrowserRecord> record_;
  HWND frame_ = nullptr;
  HWND address_ = nullptr;
  HWND document_ = nullptr;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IOleClientSite> site_;
};

}  // namespace os::ui
