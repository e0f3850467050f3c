// Self-registration of an in-process component: load the library into the calling process,
// call its "DllRegisterServer" or "DllUnregisterServer", free it again. Both the control's
// direct path (CRegSvr32, actions/registration.h) and the elevated broker use it.
//
// The component's code runs in the calling process, on the calling thread, with the thread's
// token: a component that faults takes the process down, and one that hangs hangs the
// caller. Only a caller in another process (the broker) can contain that.
#pragma once

#include <string>

#include "os/base/types.h"

namespace pelisto {

enum class SelfRegEntry { kRegister, kUnregister };

// "DllRegisterServer" or "DllUnregisterServer".
const char* SelfRegEntryName(SelfRegEntry entry);

// Initialises OLE on the calling thread, sets SEM_FAILCRITICALERRORS (not restored), loads
// `path` with its own folder searched first for the libraries it needs, calls the entry point
// and frees the library, then balances the OLE initialisation. Nothing stays loaded.
//
// Returns what the entry point returned when it succeeded (S_OK or another non-negative
// value). Failures, with nothing left behind:
//   OleInitialize's failure (RPC_E_CHANGED_MODE on a multithreaded thread): nothing loaded;
//   HRESULT_FROM_WIN32 of the loader's error when the library cannot be loaded (missing
//     file or dependency, not a library, refused initialisation);
//   HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when the entry point is missing;
//   the entry point's own negative result; E_UNEXPECTED when an exception escapes it.
os::HRESULT CallSelfRegistration(const std::string& path, SelfRegEntry entry);

}  // namespace pelisto
