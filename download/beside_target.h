// The file a download writes before the direct path gives it its final name: a new temporary
// file beside the target, moved over the target only once the body is whole. Whatever ends
// the transfer or the process in between, the target holds its previous content or the new
// one in full, never a part. A process killed midway leaves the part file beside the target
// (os::PartFilePath), which the next download of the same target takes over.
#pragma once

#include <string>

#include "download/output_file.h"

namespace pelisto {

// Opens `out` on the part file of `target` (os::PartFilePath) and stores its path in `part`. A target that exists is first opened for writing as the download's own open of it
// would be, so one that is in use or read-only fails here, with that open's last error, and
// the caller's file-in-use prompt sees what it always saw. False with the last error set;
// `part` is then empty and nothing is left behind.
bool OpenBesideTarget(const std::string& target, OutputFile* out, std::string* part);

// Moves the finished `part` over `target`, replacing it in one step. False with the last
// error set; `part` is then still there for the caller to remove.
bool PlaceOverTarget(const std::string& part, const std::string& target);

}  // namespace pelisto
