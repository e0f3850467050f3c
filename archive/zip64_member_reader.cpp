#include "archive/zip64_member_reader.h"

#include <algorithm>

namespace pelisto {
namespace {

constexpr unsigned kInputBlock = 16384;
constexpr std::uint32_t kStored = 0;
constexpr std::uint32_t kDeflated = 8;

}  // namespace

Zip64MemberReader::~Zip64MemberReader() { Close(); }

bool Zip64MemberReader::Open(const zlib_filefunc64_def& io, const std::string& name,
                             std::uint64_t position, std::uint64_t compressed_size,
                             std::uint32_t method) {
  Close();
  if (method != kStored && method != kDeflated) return false;
  io_ = io;
  stream_ = io_.zopen64_file(io_.opaque, name.c_str(),
                             ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
  if (stream_ == nullptr) return false;
  if (io_.zseek64_file(io_.opaque, stream_, position, ZLIB_FILEFUNC_SEEK_SET) != 0) {
    Close();
    return false;
  }
  compressed_left_ = compressed_size;
  method_ = method;
  stream_end_ = false;
  if (!input_) input_ = std::make_unique<unsigned char[]>(kInputBlock);
  if (method_ == kDeflated) {
    z_ = z_stream{};
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) {
      Close();
      return false;
    }
    inflating_ = true;
  }
  return true;
}

bool Zip64MemberReader::Refill() {
  const uLong want = static_cast<uLong>(std::min<std::uint64_t>(compressed_left_, kInputBlock));
  if (want == 0) return false;
  if (io_.zread_file(io_.opaque, stream_, input_.get(), want) != want) return false;
  compressed_left_ -= want;
  z_.next_in = input_.get();
  z_.avail_in = static_cast<uInt>(want);
  return true;
}

int Zip64MemberReader::Read(void* buffer, unsigned size) {
  if (stream_ == nullptr) return -1;
  if (size == 0) return 0;
  if (method_ == kStored) {
    const uLong want = static_cast<uLong>(std::min<std::uint64_t>(compressed_left_, size));
    if (want == 0) return 0;
    if (io_.zread_file(io_.opaque, stream_, buffer, want) != want) return -1;
    compressed_left_ -= want;
    return static_cast<int>(want);
  }
  if (stream_end_) return 0;
  z_.next_out = static_cast<Bytef*>(buffer);
  z_.avail_out = size;
  while (z_.avail_out == size) {
    if (z_.avail_in == 0 && !Refill()) return -1;  // the data ends inside the stream
    const int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      stream_end_ = true;
      break;
    }
    if (rc != Z_OK) return -1;
  }
  return static_cast<int>(size - z_.avail_out);
}

void Zip64MemberReader::Close() {
  if (inflating_) inflateEnd(&z_);
  inflating_ = false;
  if (stream_ != nullptr) io_.zclose_file(io_.opaque, stream_);
  stream_ = nullptr;
}

}  // namespace pelisto
