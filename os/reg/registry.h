// The image's registry, through calls shaped like the Win32 registry API.
//
// Keys and value names compare without regard to case and keep the case they were created
// with. Every change is one transaction of the store (registry.db below the prefix), safe
// against a crash and against another process of the same image writing at the same time.
// Calls act for the calling thread's token: from Windows 6 on, a caller below high integrity
// cannot open HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS or HKEY_CURRENT_CONFIG keys
// for writing (ERROR_ACCESS_DENIED), and a low-integrity caller can write only below
// HKEY_CURRENT_USER\Software\AppDataLow (os/image/integrity.h).
//
// Results are Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ERROR_INVALID_HANDLE, ERROR_KEY_DELETED,
// ERROR_REGISTRY_CORRUPT / ERROR_REGISTRY_IO_FAILED when the store is damaged or locked).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/base/types.h"

namespace os {

struct RegKeyObject;
using HKEY = RegKeyObject*;
using REGSAM = DWORD;

inline HKEY PredefinedKey(std::uint32_t value) {
  return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value));
}
inline const HKEY HKEY_CLASSES_ROOT = PredefinedKey(0x80000000);
inline const HKEY HKEY_CURRENT_USER = PredefinedKey(0x80000001);
inline const HKEY HKEY_LOCAL_MACHINE = PredefinedKey(0x80000002);
inline const HKEY HKEY_USERS = PredefinedKey(0x80000003);
inline const HKEY HKEY_CURRENT_CONFIG = PredefinedKey(0x80000005);

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens an existing key; `*result` is set only on success.
LONG RegOpenKeyExA(HKEY key, const char* subkey, DWORD options, REGSAM sam, HKEY* result);
// Opens a key, creating every missing level; `disposition` (may be null) tells which.
LONG RegCreateKeyExA(HKEY key, const char* subkey, DWORD reserved, const char* key_class,
                     DWORD options, REGSAM sam, const void* security, HKEY* result,
                     DWORD* disposition);
LONG RegCloseKey(HKEY key);
// Stores exactly `size` bytes of `data` with `type` (the bytes are kept as given: a REG_SZ
// without a terminating zero stays without one).
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
// With `data` null: stores the size (and type) only. With a buffer smaller than the value:
// ERROR_MORE_DATA and the needed size. A null or empty name is the key's default value.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegDeleteValueA(HKEY key, const char* name);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise, as Windows answers).
LONG RegDeleteKeyA(HKEY key, const char* subkey);
// Enumeration by index; ERROR_NO_MORE_ITEMS past the end. Names in creation order.
LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name);
LONG RegEnumValueA(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data);

// "HKEY_LOCAL_MACHINE" for the predefined keys, empty for others.
std::string RootKeyName(HKEY root);
// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\X" (full root names, any case; also HKLM, HKCU, HKCR,
// HKU, HKCC) into the root and the subkey. False when the text names no root.
bool SplitKeyPath(std::string_view path, HKEY* root, std::string* subkey);

}  // namespace os
