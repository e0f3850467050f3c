#include "download/beside_target.h"

#include "os/base/error.h"
#include "os/fs/file_api.h"

namespace pelisto {

bool OpenBesideTarget(const std::string& target, OutputFile* out, std::string* part) {
  part->clear();
  if (os::GetFileAttributesA(target) != os::INVALID_FILE_ATTRIBUTES) {
    os::HANDLE h = os::CreateFileA(target, os::GENERIC_WRITE, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING,
                                   os::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == os::INVALID_HANDLE_VALUE) return false;
    os::CloseHandle(h);
  }
  const std::size_t slash = target.rfind('\\');
  if (slash == std::string::npos) {
    os::SetLastError(os::ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string temp;
  if (os::GetTempFileNameA(target.substr(0, slash), "pel", 0, &temp) == 0) {
    // A missing folder reads as the target's own open would have failed.
    if (os::GetLastError() == os::ERROR_DIRECTORY) os::SetLastError(os::ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (!out->Open(temp)) {
    const os::DWORD error = os::GetLastError();
    os::DeleteFileA(temp);
    os::SetLastError(error);
    return false;
  }
  *part = temp;
  return true;
}

bool PlaceOverTarget(const std::string& part, const std::string& target) {
  return os::MoveFileExA(part, target, os::MOVEFILE_REPLACE_EXISTING) != os::FALSE;
}

}  // namespace pelisto
