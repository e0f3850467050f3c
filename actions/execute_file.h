// The program start of an "exe" entry before Windows 6, in the control's own process. From
// Windows 6 on the entry's program is started by the elevated broker instead
// (PrivilegedOps::RunProgram), which writes none of these lines.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// Shows the wait cursor, logs " Start execute file - " + path [0], starts the program with no
// command line (the entry's `argument` is not passed) and, when it started, logs
// " Success create processing - " + path [0] and waits until it has ended, pumping no
// messages (platform/program_start.h). Then logs " End execute file - " + path [0] and shows
// the cursor that was shown before. A program that cannot be started writes no line of its
// own. Blocks the control's thread for as long as the program runs. TRUE when the program
// was started.
os::BOOL ExecuteFile(RunContext& context, const std::string& path);

}  // namespace pelisto
