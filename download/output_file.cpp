#include "download/output_file.h"

#include <cstring>

#include "os/base/error.h"
#include "os/fs/file_api.h"

namespace pelisto {

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Open(const std::string& path, os::DWORD creation) {
  Close();
  os::HANDLE file = os::CreateFileA(path, os::GENERIC_WRITE, os::FILE_SHARE_READ, nullptr, creation,
                                    os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == os::INVALID_HANDLE_VALUE) return false;
  file_ = file;
  block_.reserve(kBlockSize);
  return true;
}

bool OutputFile::Write(const char* data, size_t size) {
  if (!IsOpen()) {
    os::SetLastError(os::ERROR_INVALID_HANDLE);
    return false;
  }
  if (block_.size() + size > kBlockSize && !Flush()) return false;
  if (size >= kBlockSize) {
    os::DWORD written = 0;
    return os::WriteFile(file_, data, static_cast<os::DWORD>(size), &written, nullptr) != 0;
  }
  block_.insert(block_.end(), data, data + size);
  return true;
}

bool OutputFile::Flush() {
  if (block_.empty()) return true;
  os::DWORD written = 0;
  bool ok = os::WriteFile(file_, block_.data(), static_cast<os::DWORD>(block_.size()), &written, nullptr) != 0;
  // Bytes the disk took are not offered again; the rest is dropped with the failure.
  block_.clear();
  return ok;
}

os::HANDLE OutputFile::FlushedHandle() {
  if (!IsOpen()) {
    os::SetLastError(os::ERROR_INVALID_HANDLE);
    return os::INVALID_HANDLE_VALUE;
  }
  return Flush() ? file_ : os::INVALID_HANDLE_VALUE;
}

bool OutputFile::Close() {
  if (!IsOpen()) return true;
  bool ok = Flush();
  os::DWORD error = ok ? os::ERROR_SUCCESS : os::GetLastError();
  os::CloseHandle(file_);
  file_ = os::INVALID_HANDLE_VALUE;
  if (!ok) os::SetLastError(error);
  return ok;
}

}  // namespace pelisto
