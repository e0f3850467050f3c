// Whole-file reads and crash-safe whole-file writes on the image, over the file calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "os/base/handle.h"
#include "os/base/types.h"

namespace os {

// Reads the whole file into `bytes`. FALSE with the last error set (and `bytes` untouched)
// when it cannot be opened or read, or (ERROR_FILE_TOO_LARGE) when it holds more than
// `max_bytes`; no more than that is ever held in memory.
BOOL ReadWholeFile(const std::string& path, std::string* bytes,
                   std::size_t max_bytes = static_cast<std::size_t>(-1));

// The temporary file a whole-file write of `path` goes through before it is renamed over
// `path`: "pel", eight hex digits made of the target's name (in any case) and ".tmp", in the
// target's folder. Only those writes make such names, so a file of that name is one left by
// a writer of the same target that died midway. Empty when `path` names no folder.
std::string PartFilePath(const std::string& path);
// Creates `part` (a PartFilePath) for writing, alone: one left by a writer that died is
// removed first. INVALID_HANDLE_VALUE with the last error set when it cannot be made (also
// while another handle of this process has it open).
HANDLE CreatePartFile(const std::string& part);

// A whole-file write that replaces its target only when it is committed: the bytes go to
// the target's part file (PartFilePath), which Commit flushes to disk and renames over the
// target. The target holds its old content until then, whatever happens to the writer or its
// process meanwhile (a killed process leaves the part file behind, for the next write of the
// same target to take over).
// Not thread-safe; one writer is used by one thread at a time.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  // Abandons an uncommitted write.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Abandons any write in progress, then creates the temporary file for `path`. FALSE with
  // the last error set (ERROR_PATH_NOT_FOUND for a missing folder) when it cannot.
  BOOL Open(const std::string& path);
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Appends `bytes`. A failed write is remembered: Commit then fails and keeps the target.
  BOOL Write(std::string_view bytes);
  // The bytes written so far.
  DWORD Size() const { return size_; }
  // Flushes and renames over the target; the writer is closed afterwards whatever the result.
  // FALSE with the last error set (that of an earlier failed Write, if any), the target
  // unchanged and the temporary file removed.
  BOOL Commit();
  // Closes and removes the temporary file; the target is unchanged. Nothing when not open.
  void Abandon();

 private:
  std::string path_;
  std::string temp_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD size_ = 0;
  DWORD error_ = 0;  // the first failed Write's error
};

// Writes `bytes` with an AtomicFileWriter: `path` holds either its old or its new content,
// never a part. FALSE with the last error set, `path` unchanged and the temporary file
// removed, on failure.
BOOL WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace os
