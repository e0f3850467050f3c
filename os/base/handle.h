// Kernel handles: a HANDLE resolves to an object that CloseHandle destroys.
#pragma once

#include "os/base/types.h"

namespace os {

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Base of every object a HANDLE stands for (files, events, threads, processes).
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Waits until the object is signalled or `timeout_ms` passes (INFINITE: no limit).
  // Objects that cannot be waited for fail with ERROR_INVALID_HANDLE.
  virtual DWORD Wait(DWORD timeout_ms);
};

using HANDLE = KernelObject*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline bool IsValidHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Destroys the object behind `h`. FALSE with ERROR_INVALID_HANDLE for a null or invalid handle.
BOOL CloseHandle(HANDLE h);
DWORD WaitForSingleObject(HANDLE h, DWORD timeout_ms);

}  // namespace os
