// Windows-form path texts: parsing and normalisation as Windows' GetFullPathName does it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/base/types.h"

namespace os {

// An absolute, normalised Windows path: a drive letter (upper case) and its components.
struct WinPath {
  char drive = 'C';
  std::vector<std::string> parts;

  // "C:\a\b" (components joined with "\"; the root alone is "C:\").
  std::string ToString() const;
  bool IsRoot() const { return parts.empty(); }
  WinPath Parent() const;
  // True when `this` is `folder` or lies below it (components compared without case).
  bool IsWithin(const WinPath& folder) const;
};

// Parses `text` into `out`. Accepts "\" and "/" as separators, collapses repeated separators,
// drops "." components and the trailing dots and blanks of a component, and lets ".." remove
// the previous component but never climb above the drive root (as Windows does). "X:" alone is
// the root of X:. On success returns ERROR_SUCCESS and fills `out`; otherwise returns
//   ERROR_PATH_NOT_FOUND   empty or relative text (the image has no current directory),
//   ERROR_INVALID_NAME     a character Windows refuses in a name (<>:"|?* or a control byte),
//                          or a UNC / device path,
//   ERROR_FILENAME_EXCED_RANGE  a component longer than 255 or a path of MAX_PATH or more,
// and leaves `out` untouched.
DWORD ParseWinPath(std::string_view text, WinPath* out);

// True when `name` can only name one entry directly inside a folder: not empty, not made of
// dots and blanks only ("." and ".." among them), and free of folder separators, the drive
// colon, control characters and * ? " < > |.
bool IsPlainFileName(std::string_view name);

// Joins with "\" unless `base` already ends with a separator.
std::string JoinWinPath(std::string_view base, std::string_view name);

}  // namespace os
