// The file a transfer writes the body into. It is opened the way a download opens it
// (created, truncated, write-only, others may read but not write), so a file another handle
// keeps open for writing shows up as a failed open, which the caller turns into the
// file-in-use prompt.
//
// Chunks are handed over as they arrive and gathered into blocks of kBlockSize before they
// reach the disk: writing a 1024-byte chunk at a time costs several times the transfer
// itself. A write failure is reported by the Write that fills a block or by Close.
//
// One thread at a time. The destructor closes an open file (dropping a failure).
#pragma once

#include <string>
#include <vector>

#include "os/base/handle.h"
#include "os/base/types.h"
#include "os/fs/file_api.h"

namespace pelisto {

class OutputFile {
 public:
  static constexpr size_t kBlockSize = 256 * 1024;

  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` (Windows form) for writing, replacing what is there or, with `creation`
  // CREATE_NEW, only when nothing is (ERROR_FILE_EXISTS otherwise); false with the thread's
  // last error set when the file cannot be opened. A file already open is closed first.
  bool Open(const std::string& path, os::DWORD creation = os::CREATE_ALWAYS);
  bool IsOpen() const { return file_ != os::INVALID_HANDLE_VALUE; }

  // Appends `size` bytes. False with the last error set when bytes could not be written;
  // the file stays open and what was written stays written.
  bool Write(const char* data, size_t size);

  // Writes what is held back and closes the handle. False with the last error set when that
  // write failed (the handle is closed all the same). True when nothing was open.
  bool Close();

  // Writes what is held back and gives the open handle, still owned by this object, for calls
  // on the file itself (its times: nothing written after them changes them). INVALID_HANDLE_VALUE
  // with the last error set when nothing is open or the write failed.
  os::HANDLE FlushedHandle();

 private:
  bool Flush();

  os::HANDLE file_ = os::INVALID_HANDLE_VALUE;
  std::vector<char> block_;
};

}  // namespace pelisto
