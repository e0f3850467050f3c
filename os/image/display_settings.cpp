#include "os/image/display_settings.h"

#include <charconv>
#include <cstdint>

#include "os/base/text.h"

namespace os {
namespace {

constexpr const char* kEdgeNames[] = {"left", "top", "right", "bottom"};

bool ParseNumber(const std::string& value, std::int64_t low, std::int64_t high, std::int64_t* out) {
  std::int64_t n = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size()) return false;
  if (n < low || n > high) return false;
  *out = n;
  return true;
}

bool ParseFlag(const std::string& value, bool* out) {
  const std::string v = AsciiLower(value);
  if (v == "1" || v == "true" || v == "yes" || v == "on") {
    *out = true;
  } else if (v == "0" || v == "false" || v == "no" || v == "off") {
    *out = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool IsDisplaySettingKey(const std::string& key) {
  return key == "desktop_width" || key == "desktop_height" || key == "taskbar_edge" ||
         key == "taskbar_size" || key == "taskbar_autohide";
}

bool ParseDisplaySetting(const std::string& key, const std::string& value,
                         DisplaySettings* settings) {
  std::int64_t n = 0;
  if (key == "desktop_width" || key == "desktop_height") {
    if (!ParseNumber(value, 1, kMaxScreenPixels, &n)) return false;
    (key == "desktop_width" ? settings->desktop_width : settings->desktop_height) =
        static_cast<int>(n);
    return true;
  }
  if (key == "taskbar_size") {
    if (!ParseNumber(value, 0, kMaxScreenPixels, &n)) return false;
    settings->taskbar_size = static_cast<int>(n);
    return true;
  }
  if (key == "taskbar_edge") {
    for (UINT edge = 0; edge < 4; ++edge) {
      if (EqualsIgnoreCase(value, kEdgeNames[edge])) {
        settings->taskbar_edge = edge;
        return true;
      }
    }
    if (!ParseNumber(value, 0, UINT32_MAX, &n)) return false;
    settings->taskbar_edge = static_cast<UINT>(n);
    return true;
  }
  if (key == "taskbar_autohide") return ParseFlag(value, &settings->taskbar_autohide);
  return false;
}

void WriteDisplaySettings(std::ostream& out, const DisplaySettings& s) {
  out << "desktop_width=" << s.desktop_width << "\n"
      << "desktop_height=" << s.desktop_height << "\n"
      << "taskbar_edge=";
  if (s.taskbar_edge < 4) {
    out << kEdgeNames[s.taskbar_edge];
  } else {
    out << s.taskbar_edge;
  }
  out << "\n"
      << "taskbar_size=" << s.taskbar_size << "\n"
      << "taskbar_autohide=" << (s.taskbar_autohide ? 1 : 0) << "\n";
}

}  // namespace os
