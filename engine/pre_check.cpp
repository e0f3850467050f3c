#include "engine/pre_check.h"

#include <algorithm>
#include <memory>
#include <new>
#include <tuple>

#include "actions/create_directories.h"
#include "download/download_step.h"
#include "engine/config_address.h"
#include "engine/protected_mode_folders.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/fs/file_api.h"

namespace pelisto {
namespace {

// The comparison reads this much of each file at a time.
constexpr os::DWORD kCompareChunk = 64 * 1024;

void Log(RunContext& context, const std::string& text, unsigned level) {
  context.WriteLog(context.GetLogTime() + text, level);
}

class OpenFile {
 public:
  explicit OpenFile(const std::string& path)
      : handle_(os::CreateFileA(path, os::GENERIC_READ, os::FILE_SHARE_READ, nullptr,
                                os::OPEN_EXISTING, 0, nullptr)) {}
  ~OpenFile() {
    if (os::IsValidHandle(handle_)) os::CloseHandle(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool IsOpen() const { return os::IsValidHandle(handle_); }
  bool Size(std::uint64_t* size) const {
    os::DWORD high = 0;
    os::SetLastError(os::ERROR_SUCCESS);
    const os::DWORD low = os::GetFileSize(handle_, &high);
    if (low == 0xFFFFFFFF && os::GetLastError() != os::ERROR_SUCCESS) return false;
    *size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
  }
  // Fills `buffer` with up to `want` bytes; fewer only at the end of the file.
  os::DWORD Read(char* buffer, os::DWORD want) const {
    os::DWORD total = 0;
    while (total < want) {
      os::DWORD got = 0;
      if (!os::ReadFile(handle_, buffer + total, want - total, &got, nullptr) || got == 0) break;
      total += got;
    }
    return total;
  }

 private:
  os::HANDLE handle_;
};

// Whether the texts of the two files (each ending at its first zero byte) are equal; both
// files have `length` bytes.
bool SameText(const OpenFile& a, const OpenFile& b, std::uint64_t length, char* buffer_a,
              char* buffer_b) {
  std::uint64_t left = length;
  while (left > 0) {
    const os::DWORD want = static_cast<os::DWORD>(std::min<std::uint64_t>(left, kCompareChunk));
    const os::DWORD got_a = a.Read(buffer_a, want);
    const os::DWORD got_b = b.Read(buffer_b, want);
    const os::DWORD got = std::min(got_a, got_b);
    for (os::DWORD i = 0; i < got; ++i) {
      if (buffer_a[i] != buffer_b[i]) return false;
      if (buffer_a[i] == '\0') return true;  // both texts end here
    }
    // A file that changed length under us: the shorter one's text ends first.
    if (got_a != got_b) {
      const char next = got_a > got ? buffer_a[got] : buffer_b[got];
      return next == '\0';
    }
    if (got < want) return true;
    left -= got;
  }
  return true;
}

}  // namespace

std::string GetWorkDir(RunContext& context) {
  const std::string folder = context.Settings().config_dir + "\\pold";
  CreateDirectories(context, folder, os::FALSE);
  return folder;
}

std::string PreCheckFilePath(RunContext& context, const std::string& folder,
                             const std::string& check_url) {
  const std::string name = LastPathSegment(check_url);
  if (!context.Privileged().Brokered()) return folder + "\\" + name;
  return context.ProtectedMode().writable_folder + "\\Veltrane\\pold\\" + name;
}

os::BOOL GetPreCheck(RunContext& context, const std::string& check_url,
                     const std::string& file_type) {
  const std::string folder = GetWorkDir(context);
  context.State().work_folder = folder;
  context.CreateLogFile(folder);
  context.WriteLog("\r\n[Pelisto Log File -getPreCheck]\r\n", 2);

  if (context.Privileged().Brokered()) {
    if (!InitProtectedModeFolders(context)) return os::FALSE;
    CreateDirectories(context, context.ProtectedMode().writable_folder + "\\Veltrane\\pold",
                      os::FALSE);
  }
  const std::string local = PreCheckFilePath(context, folder, check_url);
  if (!DownloadConfigFile(context, check_url, local, 0, 1)) {
    Log(context, "Failed to Download :" + local, 1);
    context.State().pre_check_state = 1;
    return os::FALSE;
  }
  const std::string stored = local + ".old";
  if (!os::FileExists(stored)) {
    Log(context, "Not Exist old Pre Config File : " + stored, 0);
    context.State().pre_check_state = 2;
    return os::FALSE;
  }
  return ComparePreCheckFile(context, stored, local, file_type);
}

os::BOOL ComparePreCheckFile(RunContext& context, const std::string& old_path,
                             const std::string& new_path, const std::string& file_type) {
  int& state = context.State().pre_check_state;
  if (!os::EqualsIgnoreCase(file_type, "TEXTFILE")) {
    Log(context, "Not Support Pre Check Type" + file_type, 1);
    state = 0;
    return os::FALSE;
  }
  Log(context, "Pre Check TEXTFILE :", 0);
  OpenFile old_file(old_path);
  if (!old_file.IsOpen()) {
    Log(context, "Failed Open File : " + old_path, 2);
    state = 3;
    return os::FALSE;
  }
  OpenFile new_file(new_path);
  if (!new_file.IsOpen()) {
    Log(context, "Failed Open File : " + new_path, 2);
    state = 3;
    return os::FALSE;
  }
  std::uint64_t old_length = 0, new_length = 0;
  for (auto [file, path, length] : {std::tuple{&old_file, &old_path, &old_length},
                                     std::tuple{&new_file, &new_path, &new_length}}) {
    if (!file->Size(length)) {
      Log(context, "Failed Open File : " + *path, 2);
      state = 3;
      return os::FALSE;
    }
  }
  if (old_length != new_length) {
    Log(context, "Different Pre check File length ", 0);
    state = 0;
    return os::FALSE;
  }
  std::unique_ptr<char[]> buffers(new (std::nothrow) char[2 * kCompareChunk]);
  if (!buffers) {
    Log(context, "Failed Allocate Memory ", 2);
    state = 4;
    return os::FALSE;
  }
  const bool equal =
      SameText(old_file, new_file, old_length, buffers.get(), buffers.get() + kCompareChunk);
  state = 0;
  if (equal) {
    Log(context, "Equal Pre Check File Content", 0);
    return os::TRUE;
  }
  Log(context, "Different Pre Check File Content", 0);
  return os::FALSE;
}

os::BOOL UpdateConfigFile(RunContext& context, const std::string& check_url,
                          const std::string& folder, const std::string& ext) {
  const std::string downloaded = PreCheckFilePath(context, folder, check_url);
  if (!os::FileExists(downloaded)) return os::FALSE;
  PrivilegedOps& ops = context.Privileged();
  const std::string stored = downloaded + "." + ext;
  // The copy replaces the stored one whole; a failure keeps the old copy, and the next
  // pre-check then answers "changed", which is safe.
  if (!ops.CopyFile(downloaded, stored, os::FALSE)) {
    Log(context, " " + stored + " is not copyed !!!", 1);
  }
  ops.DeleteFile(downloaded);
  return os::TRUE;
}

}  // namespace pelisto
