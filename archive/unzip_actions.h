// The two control-level zip actions that installation by type calls for a "zip" entry:
// the dialog front end (CPlUnzipDlg) when selfUi is TRUE and dlgNotClose FALSE, the silent one
// (NoUIUnZip) otherwise. Each takes the archive's full path, unpacks it by the target folder
// rule with the system folder (archive/target_folder.h) and returns 1 on success, 0 otherwise.
//
// Both report the work item UNZIPPING with the path through RunContext::NotifyIsDownload
// first, which throws RunError ("Canceled By User Status is 8") when the page or the status
// dialog cancels; a failing broker folder creation throws os::ComError. Both propagate to the
// caller (the update run catches them). On the control's thread.
#pragma once

#include <string>

#include "control/run_context.h"

namespace pelisto {

// Logs " Start unzip file - " + path [0], reports UNZIPPING, runs NoUIUnZip with the control's
// events and, when dlgNotClose is TRUE, the status dialog as its sink. On success logs
// " End unzip file - " + path [0]; on failure "Canceled UnZipping " + path [1] after a cancel,
// else "Failed UnZip " + path + the error text [2]. The caller fires EndUnZip with the result.
int UnZipWithoutDialog(RunContext& context, const std::string& path);

// Reports UNZIPPING, logs " Start unzip file - " + path [0] and runs the "Pelisto Unzipper"
// dialog. When it ends with OK logs " End unzip file - " + path [0] and returns 1; otherwise
// shows "Stop installation" (ShowMessage) and logs " User stop installation zip." [1].
int UnZipWithDialog(RunContext& context, const std::string& path);

}  // namespace pelisto
