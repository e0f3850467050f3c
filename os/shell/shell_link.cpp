#include "os/shell/shell_link.h"

#include <cstdint>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/com/persist_file.h"
#include "os/fs/file_api.h"
#include "os/image/machine.h"
#include "os/shell/shell_link_format.h"
#include "os/shell/shortcut_file.h"

namespace os {
namespace {

// A drive's serial number: stable for one image, different between its drives.
DWORD DriveSerial(const Machine& machine, char letter) {
  std::uint32_t hash = 2166136261u;
  for (char c : machine.prefix() + ":" + letter) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return hash;
}

bool ToWide(const std::string& text, std::size_t limit, std::u16string* out) {
  std::u16string wide;
  if (!MultiByteToWide(text, &wide) || wide.size() > limit) return false;
  *out = std::move(wide);
  return true;
}

// What the link records of its target when the target exists.
void ReadTargetState(const std::string& path, ShellLinkData* data) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  data->file_attributes = attributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!IsValidHandle(file)) return;
  GetFileTime(file, &data->creation_time, &data->access_time, &data->write_time);
  const DWORD size = GetFileSize(file, nullptr);
  if (size != 0xFFFFFFFF) data->file_size = size;
  CloseHandle(file);
}

class ShellLink final : public ComObject<IShellLinkA, IPersistFile> {
 public:
  HRESULT SetPath(const std::string& path) override {
    const Machine* machine = CurrentMachine();
    if (machine == nullptr) return E_FAIL;
    WinPath normalised;
    std::string host;
    if (DWORD rc = machine->ToHostPath(path, &host, &normalised); rc != ERROR_SUCCESS) {
      return HRESULT_FROM_WIN32(rc);
    }
    ShellLinkData target;
    target.local_base_path = normalised.ToString();
    if (!MultiByteToWide(target.local_base_path, &target.local_base_path_wide)) return E_INVALIDARG;
    target.drive_serial = DriveSerial(*machine, normalised.drive);
    ReadTargetState(target.local_base_path, &target);
    target.description = std::move(data_.description);
    target.arguments = std::move(data_.arguments);
    target.icon_location = std::move(data_.icon_location);
    target.icon_index = data_.icon_index;
    data_ = std::move(target);
    has_target_ = true;
    return S_OK;
  }

  HRESULT SetDescription(const std::string& description) override {
    return ToWide(description, kShellLinkMaxString, &data_.description) ? S_OK : E_INVALIDARG;
  }

  HRESULT SetArguments(const std::string& arguments) override {
    return ToWide(arguments, kShellLinkMaxString, &data_.arguments) ? S_OK : E_INVALIDARG;
  }

  HRESULT SetIconLocation(const std::string& icon_path, int icon_index) override {
    if (icon_path.size() >= MAX_PATH || !ToWide(icon_path, MAX_PATH - 1, &data_.icon_location)) {
      return E_INVALIDARG;
    }
    data_.icon_index = icon_index;
    return S_OK;
  }

  HRESULT Save(const char16_t* file, BOOL remember) override {
    if (!has_target_) return E_UNEXPECTED;
    std::string bytes;
    if (!EncodeShellLink(data_, &bytes)) return E_INVALIDARG;
    return SaveShortcutFile(file, remember, bytes, &current_file_);
  }

 private:
  ShellLinkData data_;
  bool has_target_ = false;
  std::u16string current_file_;
};

}  // namespace

HRESULT CreateShellLinkObject(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  return MakeCom<ShellLink>()->QueryInterface(iid, out);
}

}  // namespace os
