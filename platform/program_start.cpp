#include "platform/program_start.h"

#include "os/base/error.h"
#include "os/base/handle.h"

namespace pelisto {

bool StartProgram(const std::string& path, os::PROCESS_INFORMATION* process) {
  os::STARTUPINFOA startup{};
  startup.cb = 68;
  return os::CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, os::FALSE, 0, nullptr,
                            nullptr, &startup, process) != os::FALSE;
}

void WaitForProgram(os::PROCESS_INFORMATION* process) {
  for (;;) {
    const os::DWORD wait = os::WaitForSingleObject(process->hProcess, 2000);
    if (wait != os::WAIT_TIMEOUT) break;
    os::DWORD exit_code = 0;
    os::GetExitCodeProcess(process->hProcess, &exit_code);
    if (exit_code != os::STILL_ACTIVE) break;
  }
  os::CloseHandle(process->hThread);
  os::CloseHandle(process->hProcess);
  process->hThread = process->hProcess = nullptr;
}

}  // namespace pelisto
