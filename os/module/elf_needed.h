// The libraries a shared object names as needed (its DT_NEEDED entries). Internal to the loader.
#pragma once

#include <string>
#include <vector>

#include "os/base/types.h"

namespace os {

// Reads the needed-library names of the host file `host_path` into `*needed`, in file order.
// Returns ERROR_SUCCESS; ERROR_BAD_EXE_FORMAT when the file is not a shared object of this
// machine (its processor, word size and byte order) or its tables are damaged; the mapped host
// error when the file cannot be read. `*needed` is untouched on failure.
DWORD ReadElfNeeded(const std::string& host_path, std::vector<std::string>* needed);

}  // namespace os
