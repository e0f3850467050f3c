// The screen of a machine image: the desktop's size and the taskbar's edge, thickness and
// auto-hide state, kept in image.conf as
//   desktop_width=1024   desktop_height=768
//   taskbar_edge=bottom  (left, top, right, bottom, or the edge's number 0-3; any other
//                         number is kept and reported as it is)
//   taskbar_size=40      taskbar_autohide=0
#pragma once

#include <ostream>
#include <string>

#include "os/base/types.h"

namespace os {

// Edge numbers as the shell reports them.
inline constexpr UINT kTaskbarEdgeLeft = 0;
inline constexpr UINT kTaskbarEdgeTop = 1;
inline constexpr UINT kTaskbarEdgeRight = 2;
inline constexpr UINT kTaskbarEdgeBottom = 3;

// Upper bound of every size, in pixels (window coordinates stay in 16 bits).
inline constexpr int kMaxScreenPixels = 32767;

struct DisplaySettings {
  int desktop_width = 1024;
  int desktop_height = 768;
  UINT taskbar_edge = kTaskbarEdgeBottom;
  int taskbar_size = 40;  // thickness across the edge
  bool taskbar_autohide = false;
};

// True when `key` is one of the keys above.
bool IsDisplaySettingKey(const std::string& key);
// Stores the value of a display key. False, `settings` untouched, when the value is not valid
// for it (sizes 1-32767 for the desktop, 0-32767 for the taskbar; an edge name or number;
// a boolean as 0/1/true/false/yes/no/on/off).
bool ParseDisplaySetting(const std::string& key, const std::string& value,
                         DisplaySettings* settings);
// Writes the keys as image.conf lines.
void WriteDisplaySettings(std::ostream& out, const DisplaySettings& settings);

}  // namespace os
