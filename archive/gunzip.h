// Gzip files on the machine image: telling one, reading its header and stored name, and
// decompressing one into a file.
//
// Paths are Windows-form texts in the ANSI code page. Every function may be called from any
// thread (the gzip dialog's worker decompresses on its own); two calls never share state.
#pragma once

#include <atomic>
#include <string>

#include "archive/gzip_header.h"

namespace pelisto {

// True only when the first 10 bytes of `path` can be read and begin with 0x1F 0x8B. The
// rest of the file is not looked at: a damaged file passes and fails in GunzipFile.
bool IsGzipFile(const std::string& path);

// 0 when the first 10 bytes of `path` were read into `header`; -1 (`header` untouched)
// when the file cannot be opened or is shorter.
int ReadGzipHeader(const std::string& path, GzipHeader* header);

// The file name stored in the header of `path` (after the extra field when there is one),
// up to its zero byte; empty when there is none or it cannot be read (see
// StoredNameFromBytes). The name comes from whoever made the file: make a file name of it
// with GzipOutputFileName before use.
std::string GetGzipStoredName(const std::string& path);

// GunzipFile's results besides zlib's own error numbers (Z_DATA_ERROR -3 for damaged data,
// a wrong CRC or length or data that is not gzip at all, Z_BUF_ERROR -5 for a cut-off
// stream, Z_ERRNO -1 for a failed read of the source, Z_MEM_ERROR -4).
inline constexpr int kGunzipOk = 0;
// The source cannot be opened, or the destination cannot be created or replaced.
inline constexpr int kGunzipOpenFailed = -20;
// Writing the decompressed bytes failed (a full disk, say).
inline constexpr int kGunzipWriteFailed = -22;
// The caller's stop flag was raised before the end.
inline constexpr int kGunzipStopped = -23;

// Decompresses every member of the gzip file `source` into `destination` in constant
// memory, whatever the size: the content is streamed into a temporary file in the
// destination's folder, which replaces `destination` only once the whole stream decoded
// and every member's CRC and length matched. On any failure `destination` is as it was
// (an existing file is neither truncated nor removed) and the temporary file is gone. An
// empty content gives an empty destination and kGunzipOk.
//
// With `stop` the caller may end the work early from another thread; it is looked at
// between blocks.
int GunzipFile(const std::string& source, const std::string& destination,
               const std::atomic<bool>* stop = nullptr);

}  // namespace pelisto
