#include "engine/protected_mode_folders.h"

#include <cstdio>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/debug/debug_output.h"
#include "os/module/module.h"
#include "os/shell/folders.h"
#include "os/ui/message_box.h"

namespace pelisto {
namespace {

constexpr char kBoxCaption[] = "Pelisto";

// Calls `entry` of `library` through `call`, with the library loaded for the call only.
template <typename Proc, typename Call>
os::HRESULT CallLibrary(const char* library, const char* entry, Call call) {
  os::HMODULE module = os::LoadLibraryA(library);
  if (module == nullptr) return HResultFromLastError();
  auto proc = reinterpret_cast<Proc>(os::GetProcAddress(module, entry));
  if (proc == nullptr) {
    os::HRESULT hr = HResultFromLastError();
    os::FreeLibrary(module);
    return hr;
  }
  os::HRESULT hr = call(proc);
  os::FreeLibrary(module);
  return hr;
}

void ShowFailure(const char* format, os::HRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(hr));
  os::MessageBoxA(nullptr, text, kBoxCaption, os::MB_OK);
}

}  // namespace

os::HRESULT HResultFromLastError() {
  os::DWORD error = os::GetLastError();
  os::HRESULT hr = static_cast<os::LONG>(error) > 0
                       ? static_cast<os::HRESULT>((error & 0xFFFF) | 0x80070000u)
                       : static_cast<os::HRESULT>(error);
  // Reporting a missing library as success would hand the caller a path never set.
  return os::SUCCEEDED(hr) ? os::E_FAIL : hr;
}

os::HRESULT LookupKnownFolderPath(const os::GUID& folder, os::DWORD flags, os::HANDLE token,
                                  std::string* path) {
  return CallLibrary<os::PFN_SHGetKnownFolderPath>(
      "shell32.dll", "SHGetKnownFolderPath", [&](os::PFN_SHGetKnownFolderPath proc) {
        std::u16string wide;
        os::HRESULT hr = proc(folder, flags, token, &wide);
        if (os::SUCCEEDED(hr)) *path = os::WideToAnsi(wide);
        return hr;
      });
}

os::HRESULT LookupProtectedModeProcess(os::BOOL* protected_mode) {
  return CallLibrary<os::PFN_IEIsProtectedModeProcess>(
      "ieframe.dll", "IEIsProtectedModeProcess",
      [&](os::PFN_IEIsProtectedModeProcess proc) { return proc(protected_mode); });
}

os::HRESULT LookupWriteableFolderPath(const os::GUID& folder, std::string* path) {
  return CallLibrary<os::PFN_IEGetWriteableFolderPath>(
      "ieframe.dll", "IEGetWriteableFolderPath", [&](os::PFN_IEGetWriteableFolderPath proc) {
        std::u16string wide;
        os::HRESULT hr = proc(folder, &wide);
        if (os::SUCCEEDED(hr)) *path = os::WideToAnsi(wide);
        return hr;
      });
}

int InitProtectedModeFolders(RunContext& context) {
  ProtectedModeFolders& state = context.ProtectedMode();
  os::BOOL is_protected = os::FALSE;
  os::HRESULT hr = LookupProtectedModeProcess(&is_protected);
  state.protected_mode = os::SUCCEEDED(hr) && is_protected ? os::TRUE : os::FALSE;

  std::string folder;
  hr = LookupKnownFolderPath(os::FOLDERID_LocalAppDataLow, 0, nullptr, &folder);
  if (os::FAILED(hr)) {
    ShowFailure("Vista KnownFolder error %x", hr);
    return 0;
  }
  state.local_low_folder = folder;

  if (state.protected_mode) {
    hr = LookupKnownFolderPath(os::FOLDERID_LocalAppDataLow, 0, nullptr, &folder);
    if (os::FAILED(hr)) {
      ShowFailure("Vista IEWriterbleFolder error %x", hr);
      return 0;
    }
    state.writable_folder = folder;
  } else {
    hr = os::SHGetFolderPathA(nullptr, os::CSIDL_LOCAL_APPDATA, nullptr, 0, &folder);
    if (os::FAILED(hr)) {
      ShowFailure("Vista Non Protected Find Cache error %x", hr);
      return 0;
    }
    state.writable_folder = folder;
    os::OutputDebugStringA("non protected is " + folder);
  }
  return 1;
}

}  // namespace pelisto
