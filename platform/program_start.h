// Starting an installed program the way an install step does, and waiting for it: both the
// control's direct path (ExecuteFile, actions/execute_file.h) and the elevated broker start
// programs with these. The program runs with the caller's token: elevated from the broker,
// as the control's process otherwise.
#pragma once

#include <string>

#include "os/process/process.h"

namespace pelisto {

// CreateProcessA with `path` as the application name and no command line (the program gets
// no arguments), no inherited handles, no flags, the caller's environment and the program's
// own folder, and a zeroed start-up record of 68 bytes. True with `*process` filled (both
// handles to be closed by WaitForProgram); false with the last error set.
bool StartProgram(const std::string& path, os::PROCESS_INFORMATION* process);

// Waits in steps of 2000 ms until the program has ended (its exit code is not used), pumping
// no messages, then closes both handles. It stops as soon as a wait reports the end or fails,
// so a program whose exit code happens to be STILL_ACTIVE (259) does not make it wait for
// ever.
void WaitForProgram(os::PROCESS_INFORMATION* process);

}  // namespace pelisto
