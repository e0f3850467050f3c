// Whole-file reads and crash-safe whole-file writes on the image, over the file calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "os/base/types.h"

namespace os {

// Reads the whole file into `bytes`. FALSE with the last error set (and `bytes` untouched)
// when it cannot be opened or read, or (ERROR_FILE_TOO_LARGE) when it holds more than
// `max_bytes`; no more than that is ever held in memory.
BOOL ReadWholeFile(const std::string& path, std::string* bytes,
                   std::size_t max_bytes = static_cast<std::size_t>(-1));

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so that `path` holds either its old or its new content, never a part. FALSE with
// the last error set, `path` unchanged and the temporary file removed, on failure.
BOOL WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace os
