#include "os/ui/browser/host_browser.h"

#include <cstdio>

#include "os/ui/browser/web_browser_object.h"
#include "os/ui/window.h"

namespace os::ui {
namespace {

constexpr char kFrameClass[] = "PelistoHostFrame";
constexpr char kNarrowFrameClass[] = "PelistoHostFrameA";
constexpr char kFrameTitle[] = "Pelisto host";
constexpr const char* kInnerClasses[] = {"PelistoHostBars", "PelistoHostTab", "PelistoHostView",
                                         "PelistoHostDocument"};

std::string Hex(WPARAM value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
  return buf;
}

// Records what a browser's frame is asked to do, then does it.
LRESULT FrameMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, bool unicode) {
  auto* record = reinterpret_cast<BrowserRecord*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (record != nullptr) {
    switch (message) {
      case WM_SIZE:
        record->Add("WM_SIZE(" + std::to_string(wparam) + "," + std::to_string(lparam) + ")");
        break;
      case WM_SYSCOMMAND:
        record->Add("WM_SYSCOMMAND(" + Hex(wparam) + "," + std::to_string(lparam) + ")");
        record->CountSysCommand();
        break;
      case WM_CLOSE: record->Add("WM_CLOSE()"); break;
      default: break;
    }
  }
  return unicode ? DefWindowProcW(hwnd, message, wparam, lparam)
                 : DefWindowProcA(hwnd, message, wparam, lparam);
}

LRESULT FrameProcW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return FrameMessage(hwnd, message, wparam, lparam, true);
}

LRESULT FrameProcA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return FrameMessage(hwnd, message, wparam, lparam, false);
}

// Registered once per process; a second registration fails harmlessly.
void RegisterClasses() {
  WNDCLASSW wide;
  wide.lpfnWndProc = FrameProcW;
  for (char c : std::string(kFrameClass)) wide.lpszClassName.push_back(static_cast<char16_t>(c));
  RegisterClassW(&wide);
  WNDCLASSA narrow;
  narrow.lpfnWndProc = FrameProcA;
  narrow.lpszClassName = kNarrowFrameClass;
  RegisterClassA(&narrow);
  for (const char* name : kInnerClasses) {
    WNDCLASSA inner;
    inner.lpfnWndProc = DefWindowProcA;
    inner.lpszClassName = name;
    RegisterClassA(&inner);
  }
}

}  // namespace

HostBrowser::HostBrowser(HostBrowserOptions options)
    : record_(std::make_shared<BrowserRecord>()) {
  RegisterClasses();
  const RECT& r = options.frame_rect;
  const int width = r.right - r.left, height = r.bottom - r.top;
  frame_ = CreateWindowExA(0, options.unicode_frame ? kFrameClass : kNarrowFrameClass, kFrameTitle,
                           WS_CAPTION | WS_SYSMENU | WS_VISIBLE, r.left, r.top, width, height,
                           nullptr, 0, nullptr);
  if (frame_ == nullptr) return;
  SetWindowLongPtrA(frame_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record_.get()));
  // SetWindowLongPtrA does not touch the procedure, so the frame stays as wide as its class.
  const DWORD child = WS_CHILD | WS_VISIBLE;
  HWND bars = CreateWindowExA(0, kInnerClasses[0], "", child, 0, 0, width, 30, frame_, 1, nullptr);
  address_ = CreateWindowExA(0, "EDIT", options.page_url, child, 40, 4, width - 80, 22, bars, 2,
                             nullptr);
  HWND tab = CreateWindowExA(0, kInnerClasses[1], "", child, 0, 30, width, height - 30, frame_, 3,
                             nullptr);
  HWND view = CreateWindowExA(0, kInnerClasses[2], "", child, 0, 0, width, height - 30, tab, 4,
                              nullptr);
  document_ = CreateWindowExA(0, kInnerClasses[3], "", child, 0, 0, width, height - 30, view, 5,
                              nullptr);
  browser_ = MakeCom<WebBrowserObject>(frame_, record_);
  site_ = MakeCom<BrowserClientSite>(options.links, browser_);
}

bool HostBrowser::FrameProcedureReplaced() const {
  if (frame_ == nullptr || !IsWindow(frame_)) return false;
  const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(frame_, GWLP_WNDPROC));
  return proc != FrameProcW && proc != FrameProcA;
}

HostBrowser::~HostBrowser() {
  // The frame's procedure reads the record through the window; the window goes first.
  if (frame_ != nullptr && IsWindow(frame_)) {
    SetWindowLongPtrA(frame_, GWLP_USERDATA, 0);
    DestroyWindow(frame_);
  }
}

}  // namespace os::ui
