// The content hash of an entry: an optional `sha256` attribute of a `content` element (64
// hexadecimal digits, either case) that the downloaded file must match before anything
// installs it. Read from the element beside the fifteen fields of ContentEntry
// (engine/content_entry.h: ReadContentHash).
#pragma once

#include <string>
#include <string_view>

namespace pelisto {

// True for exactly 64 hexadecimal digits, in either case.
bool IsSha256Text(std::string_view text);

// The SHA-256 of the file at the Windows-form `path`, as 64 lower-case hexadecimal digits.
// False (and `*digest` untouched) when the file cannot be opened or read. Reads the file in
// blocks, in constant memory.
bool FileSha256(const std::string& path, std::string* digest);

}  // namespace pelisto
