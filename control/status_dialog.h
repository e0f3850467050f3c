// The run's status dialog as the control drives it: a window on a thread of its own that
// shows the run's progress and reports a cancel of its own through its IStarterDownload.
#pragma once

#include <memory>
#include <string>

#include "download/starter_download.h"

namespace pelisto {

class StatusDialog {
 public:
  virtual ~StatusDialog() = default;
  // Starts the dialog's thread and waits until the dialog is ready. False when it could not
  // be started or one is already up.
  virtual bool Start(const std::string& language, bool hide_cancel) = 0;
  // Ends the dialog and its thread; nothing when none is up.
  virtual void Close() = 0;
  // The dialog's progress sink while it is up, else null.
  virtual IStarterDownload* Sink() = 0;
};

// The status dialog window (CDownloadUIDlg) on a thread of its own.
std::unique_ptr<StatusDialog> MakeStatusDialog();

}  // namespace pelisto
