// COM initialisation of threads, with the rules COM applies.
//
// Each thread keeps its own count and model: the first CoInitializeEx on a thread returns S_OK
// and fixes the model, a repeat with the same model S_FALSE, a repeat with the other model
// RPC_E_CHANGED_MODE (the count is then unchanged). Every successful call (S_OK or S_FALSE) is
// balanced by one CoUninitialize; the last one leaves the thread uninitialised. OleInitialize is
// CoInitializeEx with the apartment model plus a count of its own.
#pragma once

#include "os/base/types.h"

namespace os {

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
inline constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

// `reserved` must be null and `coinit` hold only the flags above (E_INVALIDARG otherwise).
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
HRESULT CoInitialize(void* reserved);
// Does nothing on a thread that is not initialised.
void CoUninitialize();

// S_OK for the first OleInitialize of the thread, S_FALSE after; RPC_E_CHANGED_MODE on a thread
// initialised for the multithreaded model.
HRESULT OleInitialize(void* reserved);
// Balances one successful OleInitialize; does nothing when there is none.
void OleUninitialize();

enum APTTYPE { APTTYPE_CURRENT = -1, APTTYPE_STA = 0, APTTYPE_MTA = 1, APTTYPE_NA = 2, APTTYPE_MAINSTA = 3 };
enum APTTYPEQUALIFIER { APTTYPEQUALIFIER_NONE = 0 };

// The calling thread's model; CO_E_NOTINITIALIZED on a thread that is not initialised.
HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier);

}  // namespace os
