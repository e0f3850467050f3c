// A program of the build (build/bin) run as a child process that a test can watch and kill at
// any moment, with its standard output and error kept in files.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelisto::testing {

class ProgramProcess {
 public:
  // Starts build/bin/`program` with `args` (no shell); its output goes to `output_stem`.out
  // and `output_stem`.err. started() tells whether the start succeeded.
  ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& output_stem);
  // Kills and reaps a program still running.
  ~ProgramProcess();
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  bool started() const { return pid_ > 0; }
  int pid() const { return pid_; }
  // SIGKILL; nothing when it has already been reaped.
  void Kill();
  // The exit status once the program ended (128 + the signal for a killed one), or nothing
  // when it still runs after `timeout_ms`.
  std::optional<int> Wait(int timeout_ms);

  std::string Out() const;
  std::string Err() const;

 private:
  int pid_ = -1;
  std::optional<int> status_;
  std::string stem_;
};

// The processes whose parent is `pid` (those alive at the moment of the call); with `program`,
// only those running the program of that file name (a sanitizer's helper process is a child
// too, and running the parent's program).
std::vector<int> ChildProcesses(int pid, const std::string& program = std::string());
// True while `pid` names a process that has not ended (a zombie counts as ended).
bool ProcessRunning(int pid);
// SIGKILL to `pid`; false when there is no such process.
bool KillProcess(int pid);

}  // namespace pelisto::testing
