// Internal to os/ui: the machine-wide list of top-level windows, one file per process below
// <prefix>/windows/, so that FindWindowA works across the processes of one machine image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/base/types.h"

namespace os::ui::internal {

struct ListedWindow {
  std::uintptr_t handle = 0;
  std::int64_t created_ns = 0;
  std::string class_name;
  std::string title;
};

// This process's number (it makes handles unique across processes).
std::uint32_t CurrentProcessNumber();
// Nanoseconds of the wall clock, comparable across processes.
std::int64_t WallClockNs();

// Replaces this process's file in the current image with `windows` (removes it when empty).
// Written beside and renamed, so readers never see half a file. Nothing without an image.
void WriteWindowList(const std::vector<ListedWindow>& windows);
// The listed windows of the other live processes of the current image. Files of processes
// that ended, or whose number now belongs to a newer process, are ignored.
std::vector<ListedWindow> ReadForeignWindows();

}  // namespace os::ui::internal
