// The download command: the control's download step run by hand, as an update run would
// run it for one file, with the run's status dialog up when the page's settings keep one.
#pragma once

#include <cstdio>

#include "control/pelisto_ctrl.h"
#include "host/cli_options.h"

namespace pelisto {

// Runs DownloadEntryFile (DownloadConfigFile with --config) for options.args (URL, PATH,
// FILETYPE) with `control`, loaded with the page's settings, as the context; prints
// "result: N" on `out` and returns the step's result.
os::LONG RunDownload(CPelistoCtrl& control, const CliOptions& options, std::FILE* out);

}  // namespace pelisto
