// The target folder of a content entry, made level by level before its file is downloaded.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// TRUE when `path` exists and is a folder.
os::BOOL IsDirectory(const std::string& path);

// Splits `path` at "\" into its non-empty parts; the first (the drive part, "X:") is taken as
// it is and never created. Each following level that is not a folder yet is created with
// the privileged folder operation (through the broker from Windows 6 on). With `log` the
// lines " Start create directories - " + path and " End create directories - " + path [0]
// frame the work. When a level cannot be made a folder (its creation fails, or something
// that is not a folder stands in its place) it logs " Make [<level>] path error!" [2],
// shows "Make [<level>] path error!" (ShowMessage) and stops there, with no end line: the
// download into the folder then fails and reports.
void CreateDirectories(RunContext& context, const std::string& path, os::BOOL log);

}  // namespace pelisto
