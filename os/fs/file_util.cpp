#include "os/fs/file_util.h"

#include "os/base/error.h"
#include "os/fs/file_api.h"

namespace os {

BOOL ReadWholeFile(const std::string& path, std::string* bytes) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  std::string data;
  char buf[64 * 1024];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      DWORD error = GetLastError();
      CloseHandle(h);
      SetLastError(error);
      return FALSE;
    }
    if (n == 0) break;
    data.append(buf, n);
  }
  CloseHandle(h);
  *bytes = std::move(data);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

BOOL AtomicFileWriter::Open(const std::string& path) {
  Abandon();
  std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string folder = path.substr(0, slash);
  if (folder.size() == 2 && folder[1] == ':') folder += "\\";
  if (!IsDirectory(folder)) {
    // Writing into a missing folder reads as the path not found, as CreateFile answers.
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string temp;
  if (GetTempFileNameA(folder, "pel", 0, &temp) == 0) return FALSE;
  HANDLE h = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileA(temp);
    SetLastError(error);
    return FALSE;
  }
  path_ = path;
  temp_ = std::move(temp);
  handle_ = h;
  size_ = 0;
  error_ = ERROR_SUCCESS;
  return TRUE;
}

BOOL AtomicFileWriter::Write(std::string_view bytes) {
  if (!IsOpen()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD written = 0;
  if (error_ == ERROR_SUCCESS &&
      (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
       written != bytes.size())) {
    error_ = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
  }
  size_ += written;
  if (error_ != ERROR_SUCCESS) {
    SetLastError(error_);
    return FALSE;
  }
  return TRUE;
}

BOOL AtomicFileWriter::Commit() {
  if (!IsOpen()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD error = error_;
  if (error == ERROR_SUCCESS && !FlushFileBuffers(handle_)) error = GetLastError();
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (error == ERROR_SUCCESS && !MoveFileExA(temp_, path_, MOVEFILE_REPLACE_EXISTING)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    DeleteFileA(temp_);
    temp_.clear();
    SetLastError(error);
    return FALSE;
  }
  temp_.clear();
  return TRUE;
}

void AtomicFileWriter::Abandon() {
  if (!IsOpen()) return;
  const DWORD error = GetLastError();
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  DeleteFileA(temp_);
  temp_.clear();
  SetLastError(error);
}

BOOL WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer;
  if (!writer.Open(path)) return FALSE;
  if (!writer.Write(bytes)) {
    const DWORD error = GetLastError();
    writer.Abandon();
    SetLastError(error);
    return FALSE;
  }
  return writer.Commit();
}

}  // namespace os
