// A gzip file opened through zlib, on the machine image: the reader the gzip extraction
// decompresses with (and the writer that makes gzip files).
//
// One thread at a time. The destructor closes an open file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct gzFile_s;

namespace pelisto {

class ZlibWrapper {
 public:
  static constexpr int kWriteMode = 1;  // "wb": created or truncated
  static constexpr int kReadMode = 2;   // "rb"

  ZlibWrapper() = default;
  // Open(path, mode); IsOpen() tells whether it worked.
  ZlibWrapper(const std::string& path, int mode);
  virtual ~ZlibWrapper();
  ZlibWrapper(const ZlibWrapper&) = delete;
  ZlibWrapper& operator=(const ZlibWrapper&) = delete;

  // Closes what is open, then opens `path` (Windows form) in `mode`; any other mode opens
  // nothing. False when nothing is open afterwards (the last error says why when the file
  // itself could not be opened).
  bool Open(const std::string& path, int mode);
  bool IsOpen() const { return file_ != nullptr; }
  // zlib's result of closing (a writer flushes here); Z_OK (0) when nothing was open.
  int Close();

  // The size of zlib's own buffer (64 KiB and more read large files faster). Only before the
  // first read or write; false otherwise or when nothing is open.
  bool SetBufferSize(unsigned size);

  // Appends decompressed bytes to `out` in reads of `block_size` bytes (1024 when not
  // positive) until `maximum` bytes were appended, or to the end with a maximum of -1.
  // Returns the number appended, or -1 when a read failed (what came before stays
  // appended; ErrorNumber() tells what failed). Concatenated gzip members read as one.
  std::int64_t Read(std::vector<unsigned char>& out, std::int64_t maximum, int block_size);
  // Up to `size` decompressed bytes into `buffer`: the number read, 0 at the end, -1 on a
  // failure. A damaged or cut-off stream may first give what could be decoded and show the
  // failure only in ErrorNumber(): check it after every read.
  int ReadSome(void* buffer, unsigned size);
  // Compresses `size` bytes into a file opened for writing: the number taken, 0 on failure.
  int Write(const void* buffer, unsigned size);

  // zlib's error number for the file (Z_OK when nothing failed; Z_DATA_ERROR for damaged
  // data or a wrong check value or length, Z_BUF_ERROR for a stream cut off before its end,
  // Z_ERRNO for a failed read of the file itself); Z_STREAM_ERROR when nothing is open.
  int ErrorNumber() const;
  // True when what was read so far is not gzip data, which zlib then hands out unchanged.
  bool IsDirect() const;

 private:
  gzFile_s* file_ = nullptr;
};

}  // namespace pelisto
