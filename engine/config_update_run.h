// The update run of getConfig once its address is resolved: the work folder, the log, the
// single-run guard, the status dialog, the configuration download, the walk (comparison or
// registry mode) and the removal of the downloaded file.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// Title and class of the status dialog whose presence means another run is going on.
inline constexpr char kRunGuardTitle[] = "File Download";
inline constexpr char kRunGuardClass[] = "StartDownload";

// True when the newest top-level window titled "File Download" on this image (in any
// process) is of class "StartDownload": another run's status dialog is up.
bool AnotherRunIsUp();

// Runs the update for the configuration at `url` (already resolved against the page). With
// configPublicKey set, the document's detached signature is checked before anything reads it
// (engine/config_signature_check.h); a bad key, a missing or a wrong signature is FALSE.
// TRUE only when the walk succeeded and the downloaded file was removed afterwards; a walk
// that fails removes the downloaded file too, so a failed run leaves only its log. Leaves
// the work folder, the configuration address and a filled-in configDir in the context.
os::BOOL RunConfigUpdate(RunContext& context, const std::string& url);

}  // namespace pelisto
