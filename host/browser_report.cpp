#include "host/browser_report.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "control/page_address.h"
#include "host/output_format.h"
#include "os/ui/window.h"

namespace pelisto {
namespace {

std::string Hex(os::WPARAM value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
  return buf;
}

const char* OutcomeName(SysCommandOutcome outcome) {
  switch (outcome) {
    case SysCommandOutcome::kSwallowed: return "swallowed";
    case SysCommandOutcome::kPassed: return "passed";
    case SysCommandOutcome::kNoFrame: return "no-frame";
  }
  return "";
}

struct FrameView {
  bool open = false;
  os::RECT rect;
  bool visible = false;
  const char* state = "normal";
  bool unicode = false;
  bool replaced = false;
};

FrameView ViewOf(const os::ui::HostBrowser& browser) {
  FrameView f;
  const os::HWND frame = browser.Frame();
  f.open = frame != nullptr && os::IsWindow(frame) && os::GetWindowRect(frame, &f.rect);
  if (!f.open) return f;
  f.visible = os::IsWindowVisible(frame) != os::FALSE;
  f.state = os::IsIconic(frame) ? "minimized" : os::IsZoomed(frame) ? "maximized" : "normal";
  f.unicode = os::IsWindowUnicode(frame) != os::FALSE;
  f.replaced = browser.FrameProcedureReplaced();
  return f;
}

std::vector<std::pair<const char*, int>> Bars(const os::ui::WebBrowserState& s) {
  return {{"toolbar", s.tool_bar},        {"addressbar", s.address_bar},
          {"menubar", s.menu_bar},        {"statusbar", s.status_bar},
          {"resizable", s.resizable},     {"fullscreen", s.full_screen},
          {"visible", s.visible}};
}

}  // namespace

std::string SysCommandLine(os::WPARAM command, SysCommandOutcome outcome, bool json) {
  if (json) {
    return "{\"syscommand\":\"" + Hex(command) + "\",\"outcome\":\"" + OutcomeName(outcome) + "\"}";
  }
  return "syscommand " + Hex(command) + " " + OutcomeName(outcome);
}

std::string BrowserReport(const os::ui::HostBrowser& browser, bool json) {
  const FrameView f = ViewOf(browser);
  // What the control reads as its page address, so the line shows what a run resolves against.
  const std::string address = ReadPageAddress(browser.Frame());
  const auto bars = Bars(browser.State());
  const std::vector<std::string> calls = browser.Calls();
  const os::LONG width = f.rect.right - f.rect.left, height = f.rect.bottom - f.rect.top;
  std::string out;
  if (json) {
    out = "{\"browser\":{\"address\":" + JsonValue(os::Variant::Text(address)) + ",\"frame\":{\"open\":" +
          (f.open ? "true" : "false");
    if (f.open) {
      out += ",\"left\":" + std::to_string(f.rect.left) + ",\"top\":" + std::to_string(f.rect.top) +
             ",\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
             ",\"visible\":" + (f.visible ? "true" : "false") + ",\"state\":\"" + f.state +
             "\",\"unicode\":" + (f.unicode ? "true" : "false") +
             ",\"procedure\":\"" + (f.replaced ? "replaced" : "own") + "\"";
    }
    out += "}";
    for (const auto& [name, value] : bars) out += ",\"" + std::string(name) + "\":" + std::to_string(value);
    out += ",\"calls\":[";
    for (size_t i = 0; i < calls.size(); ++i) out += (i ? "," : "") + JsonString(calls[i]);
    return out + "]}}\n";
  }
  out = "browser address " + TextValue(os::Variant::Text(address)) + "\n";
  if (f.open) {
    out += "browser frame " + std::to_string(f.rect.left) + "," + std::to_string(f.rect.top) + " " +
           std::to_string(width) + "x" + std::to_string(height) + " " +
           (f.visible ? "visible" : "hidden") + " " + f.state + " " + (f.unicode ? "wide" : "narrow") +
           " " + (f.replaced ? "replaced" : "own") + "\n";
  } else {
    out += "browser frame closed\n";
  }
  out += "browser bars";
  for (const auto& [name, value] : bars) out += " " + std::string(name) + " " + std::to_string(value);
  out += "\n";
  for (const std::string& call : calls) {
    out += (call.rfind("WM_", 0) == 0 ? "browser message " : "browser call ") + call + "\n";
  }
  return out;
}

}  // namespace pelisto
