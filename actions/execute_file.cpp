#include "actions/execute_file.h"

#include "os/ui/cursor.h"
#include "platform/program_start.h"

namespace pelisto {

os::BOOL ExecuteFile(RunContext& context, const std::string& path) {
  const os::HCURSOR previous = os::SetCursor(os::LoadCursorA(nullptr, os::IDC_WAIT));
  context.WriteLog(context.GetLogTime() + " Start execute file - " + path, 0);
  os::PROCESS_INFORMATION process;
  const bool started = StartProgram(path, &process);
  if (started) {
    context.WriteLog(context.GetLogTime() + " Success create processing - " + path, 0);
    WaitForProgram(&process);
  }
  context.WriteLog(context.GetLogTime() + " End execute file - " + path, 0);
  os::SetCursor(previous);
  return started ? os::TRUE : os::FALSE;
}

}  // namespace pelisto
