// The update log: one dated text file per day in the run's work folder, written line by line.
//
// Not thread-safe for CreateLogFile; WriteLog may be called from any thread (lines are
// written whole, one at a time). Failures are never reported to the caller: a line that
// cannot be written is lost.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// The local date and time the log uses; tests inject a fixed day.
using LocalClock = std::function<os::SYSTEMTIME()>;
// The machine's local time.
os::SYSTEMTIME SystemLocalTime();

class UpdateLog {
 public:
  // `settings` (enableLog, logLevel) are read at every call; `privileged` makes the folder
  // and writes the file (the elevated broker from Windows 6 on). Both must outlive the log.
  // `show_message` is the control's gated OK box.
  UpdateLog(const ControlSettings& settings, PrivilegedOps& privileged, LocalClock clock,
            std::function<void(const std::string&)> show_message);

  // Chooses and creates the day's file in `folder` + "\PloLog" (or in "c:" when that folder
  // cannot be made). Afterwards path() is the file, or empty when it could not be created
  // ("Pelisto Log File Create Error!" is then shown). Does nothing when the log is disabled.
  void CreateLogFile(const std::string& folder);
  // Appends `text` + CR LF when the log is enabled and `level` is at least logLevel
  // (compared unsigned). Opens and closes the file for every line.
  void WriteLog(const std::string& text, unsigned level);
  // "[YYYY-MM-DD_hh:mm:ss]" of the clock's local time.
  std::string GetLogTime() const;

  const std::string& path() const { return path_; }

 private:
  const ControlSettings& settings_;
  PrivilegedOps& privileged_;
  LocalClock clock_;
  std::function<void(const std::string&)> show_message_;
  std::string path_;
  std::mutex write_mu_;
};

}  // namespace pelisto
