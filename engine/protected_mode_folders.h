// The browser's protected mode and the two per-user folders the control may write to from
// inside the browser (Windows 6 and later), and the run-time lookups of the platform calls
// that only newer systems have.
#pragma once

#include <string>

#include "control/run_context.h"
#include "os/base/handle.h"
#include "os/base/types.h"
#include "os/com/guid.h"

namespace pelisto {

// The failure code of a lookup whose library or entry point is missing, made from the
// thread's last error: 0x80070000 with its low 16 bits when it is positive, else the last
// error unchanged. A last error that would read as success gives E_FAIL instead.
os::HRESULT HResultFromLastError();

// Each lookup loads its library, finds the entry point by name, calls it and frees the
// library again. When the library cannot be loaded or lacks the entry point it returns
// HResultFromLastError(); otherwise what the call returned. Paths are handed over in the
// system code page; outputs are set only on success.
//   "shell32.dll" "SHGetKnownFolderPath"
os::HRESULT LookupKnownFolderPath(const os::GUID& folder, os::DWORD flags, os::HANDLE token,
                                  std::string* path);
//   "ieframe.dll" "IEIsProtectedModeProcess"
os::HRESULT LookupProtectedModeProcess(os::BOOL* protected_mode);
//   "ieframe.dll" "IEGetWriteableFolderPath"
os::HRESULT LookupWriteableFolderPath(const os::GUID& folder, std::string* path);

// Fills the context's protected-mode state: whether the process runs in protected mode (a
// failed test means not), the LocalLow folder, and the writable folder (LocalLow again in
// protected mode, else the local application data folder, which is also sent to the debugger
// output as "non protected is %s"). Returns 1; on a failed folder lookup shows a plain OK box
// ("Vista KnownFolder error %x", "Vista IEWriterbleFolder error %x" or
// "Vista Non Protected Find Cache error %x"), whatever selfUi says, and returns 0 with the
// values set before the failure kept.
int InitProtectedModeFolders(RunContext& context);

}  // namespace pelisto
