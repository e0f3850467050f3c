// The configuration-comparison run: the new configuration walked entry by entry against the
// copy stored by the previous run, and stored in its place when the walk succeeded.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/types.h"

namespace pelisto {

// Walks the `content` elements of the document at `new_path` against the stored copy at
// `old_path` (which may be missing: then every entry is installed), installing each one the
// content check selects, and on success writes the new document to `new_path` + ".old".
// `check_local` and `check_version` are handed to the content check unchanged.
//
// FALSE, each after its level-2 line: the new document missing (" Current ConfigFile not
// Exist!!") or not loading ("  current XML load error "), the stored copy not loading
// ("  old XML load error "); a cancel or a run failure raised in the walk (the time stamp,
// " " and its text); an install that failed (the walk stops, the stored copy stays as it
// was); the stored copy that could not be written. A COM error in the walk shows its box
// (source "CPelistoCtrl::StartParse") and goes on with the stored copy; one there shows its
// box and answers TRUE.
// With `new_content` given, the new document is loaded from those bytes (its signature was
// checked over them) and the file at `new_path` is not read again.
os::BOOL StartParse(RunContext& context, const std::string& old_path,
                    const std::string& new_path, int check_local, int check_version,
                    const std::string* new_content = nullptr);

}  // namespace pelisto
