#include "download/beside_target.h"

#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"

namespace pelisto {

bool OpenBesideTarget(const std::string& target, OutputFile* out, std::string* part) {
  part->clear();
  if (os::GetFileAttributesA(target) != os::INVALID_FILE_ATTRIBUTES) {
    os::HANDLE h = os::CreateFileA(target, os::GENERIC_WRITE, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING,
                                   os::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == os::INVALID_HANDLE_VALUE) return false;
    os::CloseHandle(h);
  }
  const std::string temp = os::PartFilePath(target);
  if (temp.empty()) {
    os::SetLastError(os::ERROR_PATH_NOT_FOUND);
    return false;
  }
  // Made alone (taking over what a download of the same target killed midway left), then
  // opened as a download opens its file.
  os::HANDLE made = os::CreatePartFile(temp);
  if (made == os::INVALID_HANDLE_VALUE) return false;
  os::CloseHandle(made);
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
