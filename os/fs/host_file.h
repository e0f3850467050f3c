// Files of the host itself, outside any machine image, named by host paths: what the
// publisher's tools of the pelisto program read and write (keys, documents, signatures).
// Every failure comes with a one-line reason that names the path.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace os {

// Reads the whole regular file at `path` into `bytes`; false (`bytes` untouched) when it
// cannot be opened or read, is no regular file, or holds more than `max_bytes`.
bool ReadHostFileBounded(const std::string& path, std::size_t max_bytes, std::string* bytes,
                         std::string* error);

// Creates `path` readable and writable by its owner only (mode 0600) and writes `bytes` to
// it. An existing file, link or folder of that name is never replaced or followed: false.
// A failed write removes the file it created.
bool CreatePrivateHostFile(const std::string& path, std::string_view bytes, std::string* error);

// Replaces `path` with `bytes` (mode 0644): written to a temporary file beside it and renamed
// over it, so `path` holds either its old or its new content.
bool ReplaceHostFile(const std::string& path, std::string_view bytes, std::string* error);

}  // namespace os
