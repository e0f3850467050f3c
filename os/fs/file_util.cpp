#include "os/fs/file_util.h"

#include <cstdint>
#include <cstdio>

#include "os/base/error.h"
#include "os/fs/file_api.h"

namespace os {

BOOL ReadWholeFile(const std::string& path, std::string* bytes, std::size_t max_bytes) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  // A file already past the bound is refused unread; the loop still bounds one that grows.
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(h, &high);
  const bool size_known = low != 0xFFFFFFFF || GetLastError() == ERROR_SUCCESS;
  if (size_known && ((std::uint64_t{high} << 32) | low) > max_bytes) {
    CloseHandle(h);
    SetLastError(ERROR_FILE_TOO_LARGE);
    return FALSE;
  }
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
    if (n > max_bytes - data.size()) {
      CloseHandle(h);
      SetLastError(ERROR_FILE_TOO_LARGE);
      return FALSE;
    }
    data.append(buf, n);
  }
  CloseHandle(h);
  *bytes = std::move(data);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

std::string PartFilePath(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = slash + 1; i < path.size(); ++i) {
    char c = path[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  char name[24];
  std::snprintf(name, sizeof name, "pel%08X.tmp", static_cast<unsigned>(hash));
  return path.substr(0, slash + 1) + name;
}

HANDLE CreatePartFile(const std::string& part) {
  HANDLE h = CreateFileA(part, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && DeleteFileA(part)) {
    h = CreateFileA(part, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  }
  return h;
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
  const DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED) return FALSE;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // Writing into a missing folder reads as the path not found, as CreateFile answers.
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  // The rename on commit acts on a link itself: a target that a write could not reach (a link
  // leading out of the image) is refused now, as writing through it would be.
  const DWORD target = GetFileAttributesA(path);
  if (target == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND) return FALSE;
  if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::string temp = PartFilePath(path);
  HANDLE h = CreatePartFile(temp);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
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
