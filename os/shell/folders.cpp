#include "os/shell/folders.h"

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/image/machine.h"

namespace os {
namespace {
bool FolderForCsidl(int csidl, KnownFolder* out) {
  switch (csidl & 0xFF) {
    case CSIDL_DESKTOP: *out = KnownFolder::kDesktop; return true;
    case CSIDL_APPDATA: *out = KnownFolder::kRoamingAppData; return true;
    case CSIDL_LOCAL_APPDATA: *out = KnownFolder::kLocalAppData; return true;
    case CSIDL_INTERNET_CACHE: *out = KnownFolder::kInternetCache; return true;
    case CSIDL_WINDOWS: *out = KnownFolder::kWindows; return true;
    case CSIDL_SYSTEM: *out = KnownFolder::kSystem; return true;
    case CSIDL_PROGRAM_FILES: *out = KnownFolder::kProgramFiles; return true;
    default: return false;
  }
}
}  // namespace

HRESULT SHGetFolderPathA(void*, int csidl, HANDLE, DWORD, std::string* path) {
  Machine* m = CurrentMachine();
  if (m == nullptr) return E_FAIL;
  KnownFolder f;
  if (!FolderForCsidl(csidl, &f)) return E_INVALIDARG;
  *path = m->FolderPath(f);
  return S_OK;
}

HRESULT SHGetKnownFolderPath(const GUID& folder, DWORD, HANDLE, std::u16string* path) {
  Machine* m = CurrentMachine();
  if (m == nullptr) return E_FAIL;
  KnownFolder f;
  if (folder == FOLDERID_LocalAppDataLow) {
    f = KnownFolder::kLocalAppDataLow;
  } else if (folder == FOLDERID_InternetCache) {
    f = KnownFolder::kInternetCache;
  } else if (folder == FOLDERID_LocalAppData) {
    f = KnownFolder::kLocalAppData;
  } else {
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  *path = AnsiToWide(m->FolderPath(f));
  return S_OK;
}

UINT GetWindowsDirectoryA(std::string* path) {
  Machine* m = CurrentMachine();
  if (m == nullptr) return 0;
  *path = m->FolderPath(KnownFolder::kWindows);
  return static_cast<UINT>(path->size());
}

UINT GetSystemDirectoryA(std::string* path) {
  Machine* m = CurrentMachine();
  if (m == nullptr) return 0;
  *path = m->FolderPath(KnownFolder::kSystem);
  return static_cast<UINT>(path->size());
}

}  // namespace os
