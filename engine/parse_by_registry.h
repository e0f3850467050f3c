// The registry-mode run: each entry's version compared with the one an earlier run recorded
// under HKEY_LOCAL_MACHINE "SOFTWARE\Veltrane\Plo\Config\" + name, value "ver"; what is newer
// or missing is installed and its version recorded. No stored copy is kept.
#pragma once

#include <string>

#include "control/run_context.h"
#include "engine/content_entry.h"
#include "os/base/types.h"

namespace pelisto {

// The key below HKEY_LOCAL_MACHINE that records the installed version of entry `name`.
std::string RecordKeyOf(const std::string& name);

// Walks the element children of the root of the configuration at `path` (parsed with the
// registry-mode reader). FALSE when the document does not load (" XML load error " and the
// reader's "Error in %s: %s\n" [2]), when a content download fails (" is not copyed !!!" [1])
// or a zip could not be unpacked; entries done before stay installed and recorded. TRUE
// otherwise, also when a COM error in the walk showed its box.
// With `content` given, the document is read from those bytes (its signature was checked over
// them) and the file at `path` is not read again.
os::BOOL ParseByRegistry(RunContext& context, const std::string& path, const std::string* content = nullptr);

// Whether the entry's file is already at its place (1) or missing (0): its `target` in lower
// case with the first built-in folder symbol replaced, "\" and the last segment of `url`;
// link types are always there. Keeps that path as the run's icon source when `url` holds
// "ico" or "dll".
int RegistryLocalCheck(RunContext& context, const ContentEntry& entry);

// Lower case for ASCII letters only; in a double-byte code page (949) the second byte of a
// character is kept as it is, since it may fall in the range of ASCII letters.
std::string AnsiLowerKeepingTrailBytes(const std::string& text);

}  // namespace pelisto
