#include "platform/self_registration.h"

#include <cstdint>

#include "os/base/error.h"
#include "os/com/apartment.h"
#include "os/com/hresult.h"
#include "os/module/module.h"

namespace pelisto {
namespace {

// The loader's last error as an HRESULT; E_FAIL when it left none.
os::HRESULT LoaderFailure() {
  const os::DWORD code = os::GetLastError();
  return code == os::ERROR_SUCCESS ? os::E_FAIL : os::HRESULT_FROM_WIN32(code);
}

// Module handles below 32 are the old loader's error codes, never a module.
bool IsLoaded(os::HMODULE module) { return reinterpret_cast<std::uintptr_t>(module) >= 32; }

}  // namespace

const char* SelfRegEntryName(SelfRegEntry entry) {
  return entry == SelfRegEntry::kRegister ? "DllRegisterServer" : "DllUnregisterServer";
}

os::HRESULT CallSelfRegistration(const std::string& path, SelfRegEntry entry) {
  const os::HRESULT ole = os::OleInitialize(nullptr);
  if (os::FAILED(ole)) return ole;
  // A missing drive or file must not bring up a system dialog in the middle of a run.
  os::SetErrorMode(os::SEM_FAILCRITICALERRORS);

  os::HRESULT result;
  os::SetLastError(os::ERROR_SUCCESS);
  const os::HMODULE module =
      os::LoadLibraryExA(path, nullptr, os::LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!IsLoaded(module)) {
    result = LoaderFailure();
  } else {
    auto call = reinterpret_cast<os::PFN_DllRegisterServer>(
        os::GetProcAddress(module, SelfRegEntryName(entry)));
    if (call == nullptr) {
      result = os::HRESULT_FROM_WIN32(os::ERROR_PROC_NOT_FOUND);
    } else {
      // An exception is not part of the entry point's contract; one that escapes it is a
      // failed registration, and the library is still freed.
      try {
        result = call();
      } catch (...) {
        result = os::E_UNEXPECTED;
      }
    }
    os::FreeLibrary(module);
  }
  os::OleUninitialize();
  return result;
}

}  // namespace pelisto
