// pelisto demo: the update run end to end on a bundled sample site, served from 127.0.0.1
// by an embedded server, against a fresh machine image. Three getConfig runs: the first
// installs everything, the second finds every version equal, the third applies a changed
// configuration (one entry upgraded, one file deleted). Each run is checked and summarised.
#pragma once

#include "host/cli_options.h"

namespace pelisto {

// The exit status: 0 when all three runs did what they should, 1 when one did not, 2 for a
// usage error (a --prefix that already holds something), 3 when the demo could not start.
int RunDemo(const CliOptions& options);

}  // namespace pelisto
