// The browser's protected-mode calls ("ieframe.dll"). Callers reach them through LoadLibraryA and
// GetProcAddress, because older systems do not have them (os/module/module.h).
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/com/guid.h"

namespace os {

// TRUE in `*result` when this process runs in protected mode (at low integrity: the image's
// protected_mode setting, unless the process was given another level). E_POINTER for null.
HRESULT IEIsProtectedModeProcess(BOOL* result);

// A folder this process may write to, as the browser answers: in protected mode the low
// Internet cache for FOLDERID_InternetCache and LocalLow for FOLDERID_LocalAppDataLow, and
// E_ACCESSDENIED for FOLDERID_LocalAppData; outside protected mode the folder itself.
// E_INVALIDARG for other folders, E_FAIL without a current machine. `*path` is set only on
// success; the folder is created when missing.
HRESULT IEGetWriteableFolderPath(const GUID& folder, std::u16string* path);

}  // namespace os
