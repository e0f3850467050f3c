// Whole-file reads and crash-safe whole-file writes on the image, over the file calls.
#pragma once

#include <string>
#include <string_view>

#include "os/base/types.h"

namespace os {

// Reads the whole file into `bytes`. FALSE with the last error set (and `bytes` untouched)
// when it cannot be opened or read.
BOOL ReadWholeFile(const std::string& path, std::string* bytes);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so that `path` holds either its old or its new content, never a part. FALSE with
// the last error set, `path` unchanged and the temporary file removed, on failure.
BOOL WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace os
