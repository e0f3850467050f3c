// The data of one member whose sizes only its zip64 extra field holds, read straight from the
// archive. This build of minizip keeps such a member's sizes at 0xFFFFFFFF and would read its
// data up to 4 GiB on, past the member and the archive's end; here the data is read from its
// first byte for exactly its compressed size and decoded (stored, or raw deflate).
//
// One thread at a time. The destructor closes what is open.
#pragma once

#include <minizip/ioapi.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

namespace pelisto {

class Zip64MemberReader {
 public:
  Zip64MemberReader() = default;
  ~Zip64MemberReader();
  Zip64MemberReader(const Zip64MemberReader&) = delete;
  Zip64MemberReader& operator=(const Zip64MemberReader&) = delete;

  // Opens the archive `name` again through `io` and places the reader at `position`, the
  // member's first data byte. `method` is 0 (stored) or 8 (deflate). False when the archive
  // cannot be opened or sought.
  bool Open(const zlib_filefunc64_def& io, const std::string& name, std::uint64_t position,
            std::uint64_t compressed_size, std::uint32_t method);
  // Up to `size` decoded bytes: the count, 0 at the end of the data, -1 on a read or decoding
  // error (also compressed data that ends before its stream does).
  int Read(void* buffer, unsigned size);
  void Close();

 private:
  bool Refill();

  zlib_filefunc64_def io_{};
  voidpf stream_ = nullptr;
  std::uint64_t compressed_left_ = 0;
  std::uint32_t method_ = 0;
  bool inflating_ = false;
  bool stream_end_ = false;
  z_stream z_{};
  std::unique_ptr<unsigned char[]> input_;
};

}  // namespace pelisto
