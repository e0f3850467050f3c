#include "archive/zlib_wrapper.h"

#include <zlib.h>

#include <algorithm>

#include "os/fs/file_descriptor.h"

namespace pelisto {

ZlibWrapper::ZlibWrapper(const std::string& path, int mode) { Open(path, mode); }

ZlibWrapper::~ZlibWrapper() { Close(); }

bool ZlibWrapper::Open(const std::string& path, int mode) {
  Close();
  const char* zlib_mode = mode == kWriteMode ? "wb" : mode == kReadMode ? "rb" : nullptr;
  if (zlib_mode == nullptr) return false;
  const int descriptor = os::OpenFileDescriptor(path, zlib_mode);
  if (descriptor < 0) return false;
  file_ = gzdopen(descriptor, zlib_mode);
  // gzdopen owns the descriptor only when it succeeds.
  if (file_ == nullptr) os::CloseFileDescriptor(descriptor);
  return file_ != nullptr;
}

int ZlibWrapper::Close() {
  if (file_ == nullptr) return Z_OK;
  const int result = gzclose(file_);
  file_ = nullptr;
  return result;
}

bool ZlibWrapper::SetBufferSize(unsigned size) { return file_ != nullptr && gzbuffer(file_, size) == 0; }

std::int64_t ZlibWrapper::Read(std::vector<unsigned char>& out, std::int64_t maximum, int block_size) {
  if (file_ == nullptr) return -1;
  const unsigned block = block_size > 0 ? static_cast<unsigned>(block_size) : 1024u;
  std::int64_t total = 0;
  while (maximum < 0 || total < maximum) {
    unsigned want = block;
    if (maximum >= 0) want = static_cast<unsigned>(std::min<std::int64_t>(block, maximum - total));
    const std::size_t at = out.size();
    out.resize(at + want);
    const int got = ReadSome(out.data() + at, want);
    out.resize(at + static_cast<std::size_t>(std::max(got, 0)));
    if (got < 0 || ErrorNumber() != Z_OK) return -1;
    if (got == 0) break;
    total += got;
  }
  return total;
}

int ZlibWrapper::ReadSome(void* buffer, unsigned size) {
  if (file_ == nullptr) return -1;
  return gzread(file_, buffer, size);
}

int ZlibWrapper::Write(const void* buffer, unsigned size) {
  if (file_ == nullptr) return 0;
  return gzwrite(file_, buffer, size);
}

int ZlibWrapper::ErrorNumber() const {
  if (file_ == nullptr) return Z_STREAM_ERROR;
  int error = Z_OK;
  gzerror(file_, &error);
  return error;
}

bool ZlibWrapper::IsDirect() const { return file_ != nullptr && gzdirect(file_) == 1; }

}  // namespace pelisto
