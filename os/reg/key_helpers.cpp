#include "os/reg/key_helpers.h"

#include <cstdint>

#include "os/base/error.h"

namespace os {
namespace {

bool IsPredefined(HKEY key) {
  return (reinterpret_cast<std::uintptr_t>(key) & 0xFFFFFFF0u) == 0x80000000u;
}

bool TypeAccepted(DWORD type, DWORD flags) {
  if ((flags & RRF_RT_ANY) == RRF_RT_ANY) return true;
  switch (type) {
    case REG_NONE: return (flags & RRF_RT_REG_NONE) != 0;
    case REG_SZ: return (flags & RRF_RT_REG_SZ) != 0;
    case REG_EXPAND_SZ: return (flags & RRF_RT_REG_EXPAND_SZ) != 0;
    case REG_BINARY: return (flags & RRF_RT_REG_BINARY) != 0;
    case REG_DWORD: return (flags & RRF_RT_REG_DWORD) != 0;
    case REG_MULTI_SZ: return (flags & RRF_RT_REG_MULTI_SZ) != 0;
    default: return false;
  }
}

}  // namespace

void ScopedHKEY::Close() {
  if (key_ != nullptr && !IsPredefined(key_)) RegCloseKey(key_);
  key_ = nullptr;
}

LONG RegGetValueA(HKEY key, const char* subkey, const char* name, DWORD flags, DWORD* type,
                  std::string* data) {
  ScopedHKEY opened;
  LONG rc = RegOpenKeyExA(key, subkey, 0, KEY_READ, opened.Receive());
  if (rc != ERROR_SUCCESS) return rc;
  DWORD value_type = REG_NONE, size = 0;
  rc = RegQueryValueExA(opened.get(), name, nullptr, &value_type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (!TypeAccepted(value_type, flags)) return static_cast<LONG>(ERROR_UNSUPPORTED_TYPE);
  std::string bytes(size, '\0');
  rc = RegQueryValueExA(opened.get(), name, nullptr, &value_type,
                        reinterpret_cast<BYTE*>(bytes.data()), &size);
  if (rc != ERROR_SUCCESS) return rc;
  bytes.resize(size);
  if (type != nullptr) *type = value_type;
  *data = std::move(bytes);
  return ERROR_SUCCESS;
}

LONG RegSetKeyValueA(HKEY key, const char* subkey, const char* name, DWORD type,
                     const void* data, DWORD size) {
  ScopedHKEY created;
  LONG rc = RegCreateKeyExA(key, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, created.Receive(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExA(created.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

}  // namespace os
