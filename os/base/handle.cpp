#include "os/base/handle.h"

#include "os/base/error.h"

namespace os {

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

BOOL CloseHandle(HANDLE h) {
  if (!IsValidHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete h;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD timeout_ms) {
  if (!IsValidHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return h->Wait(timeout_ms);
}

}  // namespace os
