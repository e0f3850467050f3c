#include "os/module/ieframe.h"

#include "os/base/text.h"
#include "os/com/hresult.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/shell/folders.h"

namespace os {

HRESULT IEIsProtectedModeProcess(BOOL* result) {
  if (result == nullptr) return E_POINTER;
  *result = ProcessToken().level == IntegrityLevel::kLow ? TRUE : FALSE;
  return S_OK;
}

HRESULT IEGetWriteableFolderPath(const GUID& folder, std::u16string* path) {
  Machine* m = CurrentMachine();
  if (m == nullptr) return E_FAIL;
  if (path == nullptr) return E_POINTER;
  const bool low = ProcessToken().level == IntegrityLevel::kLow;
  KnownFolder known;
  if (folder == FOLDERID_InternetCache) {
    known = low ? KnownFolder::kInternetCacheLow : KnownFolder::kInternetCache;
  } else if (folder == FOLDERID_LocalAppDataLow) {
    known = KnownFolder::kLocalAppDataLow;
  } else if (folder == FOLDERID_LocalAppData) {
    if (low) return E_ACCESSDENIED;
    known = KnownFolder::kLocalAppData;
  } else {
    return E_INVALIDARG;
  }
  *path = AnsiToWide(m->FolderPath(known));
  return S_OK;
}

}  // namespace os
