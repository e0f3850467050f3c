// The download dialog's archive step: after the transfer of a file of type "zip" the worker
// unpacks it beside its target (into the part of the target's folder before "patch"), with
// the dialog showing "Unzipping", the member being written and the count so far.
//
// From Windows 6 on (the privileged steps are brokered) the download is first copied into
// the control's own folder below LocalAppDataLow ("\Veltrane"), unpacked from there, and the
// downloaded archive is then moved over the target by the broker. Before, the
// whole download is first moved over the target (from its part file beside it) and unpacked
// there; when unpacking fails or is stopped the placed archive is removed again.
//
// Each failure shows its box ("Failed to Get Known Folder", "Failed to Copy File " + path,
// "Not a valid zip file", "'" + archive + "' Unable to unzip file") and ends the step; the
// dialog then ends with 2. Members written before a failure or an abort stay.
//
// Runs on the download dialog's worker thread.
#pragma once

#include <atomic>
#include <string>

#include "os/base/types.h"

namespace pelisto {

class RunContext;

class DownloadArchiveStep {
 public:
  // What the dialog shows of the step.
  class View {
   public:
    virtual ~View() = default;
    // The caption "Unzipping", the status and rate lines hidden, the time line emptied and
    // moved 5 pixels down.
    virtual void ShowUnzipping() = 0;
    // After each member: the bar at the number written before it, the member's name.
    virtual void ShowMember(int written_before, const std::string& name) = 0;
  };

  enum class Outcome {
    kDone,     // unpacked (and, from Windows 6 on, the archive placed at the target)
    kAborted,  // the dialog's Cancel between two members
    kFailed,   // its box was shown
  };

  // `work_path` holds the download: the temporary work file when `work_is_temporary`, else
  // the part file beside the target (or the target itself).
  DownloadArchiveStep(RunContext& context, std::string work_path, std::string target_path, bool work_is_temporary,
                      View& view, const std::atomic<os::LONG>& abort);

  Outcome Run();
  // True when the step copied or moved the work file over the target and it is gone.
  bool Placed() const { return placed_; }

 private:
  bool Unpack(const std::string& archive, const std::string& folder);
  void Box(const std::string& text);

  RunContext& context_;
  std::string work_path_;
  std::string target_path_;
  bool work_is_temporary_;
  View& view_;
  const std::atomic<os::LONG>& abort_;
  bool aborted_ = false;
  bool placed_ = false;
};

}  // namespace pelisto
