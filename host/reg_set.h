// `pelisto reg set KEY VALUE DATA [--number]`: writes one value of the image's registry the
// way a configuration's registry entry has the control write it, so that a publisher can
// prepare an image by hand.
#pragma once

#include <cstdio>
#include <string>

#include "control/run_context.h"

namespace pelisto {

// Splits `key_path` into its root (a full root name in any case, or HKCR / HKCU / HKLM / HKU
// / HKCC) and the rest, and writes with WriteRegistryValue under `context` (its privileged
// steps: the broker or the direct write), as a number when `number` is set. On success prints the value as `reg query KEY VALUE`
// does and returns 0; returns 1 with a message on `err` when the write failed, 2 when
// `key_path` names no root key.
int RegSet(RunContext& context, const std::string& key_path, const std::string& value_name,
           const std::string& data, bool number, std::FILE* out, std::FILE* err);

}  // namespace pelisto
