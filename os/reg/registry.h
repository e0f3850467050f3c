// The image's registry, through calls shaped like the Win32 registry API.
//
// Keys and value names compare without regard to case and keep the case they were created
// with. Every change is one transaction of the store (registry.db below the prefix, os/reg/
// store.h), safe against a crash and against another process of the same image writing at the
// same time. A fresh image has the five root keys and HKEY_LOCAL_MACHINE\SOFTWARE,
// HKEY_CURRENT_USER\Software and HKEY_CURRENT_USER\Software\AppDataLow.
//
// Calls act for the calling thread's token: from Windows 6 on, a caller below high integrity
// cannot open HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS or HKEY_CURRENT_CONFIG keys
// for writing, nor create, change or delete anything there (ERROR_ACCESS_DENIED), and a
// low-integrity caller can write only below HKEY_CURRENT_USER\Software\AppDataLow
// (os/image/integrity.h). Reading is always allowed. An opened handle keeps the rights granted
// when it was opened; a write through a handle without KEY_SET_VALUE fails with
// ERROR_ACCESS_DENIED. The predefined keys are checked against the caller's token on each use.
//
// Handles: an opened key is a process-wide handle (os/reg/key_table.h) usable from any thread
// until RegCloseKey; a closed, null or made-up handle gives ERROR_INVALID_HANDLE, a handle whose
// key was deleted meanwhile (by this or another process) gives ERROR_KEY_DELETED, and a handle
// kept after its Machine is gone gives ERROR_INVALID_HANDLE. Calls on the predefined keys act
// on the current machine (ERROR_PATH_NOT_FOUND without one).
//
// Key paths: levels separated by "\"; trailing separators are ignored; a leading "\" gives
// ERROR_BAD_PATHNAME (RegOpenKeyExA on HKEY_CLASSES_ROOT skips it, as Windows does); an empty
// level between names ("A\\B") and a level longer than 255 characters give
// ERROR_INVALID_PARAMETER. Value names may have up to 16383 characters.
//
// Results are Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ERROR_INVALID_HANDLE, ERROR_KEY_DELETED,
// ERROR_REGISTRY_CORRUPT / ERROR_REGISTRY_IO_FAILED when the store is damaged or locked: the
// store's LastFailure() then says what happened). The calls leave the thread's last error alone.
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

// Opens an existing key. A null or empty `subkey` on a predefined key gives that key itself,
// on an opened key a new handle to the same key. `*result` is null after a failure (left
// untouched when `key` is invalid). `options` is ignored.
LONG RegOpenKeyExA(HKEY key, const char* subkey, DWORD options, REGSAM sam, HKEY* result);
// Opens a key, creating every missing level; `disposition` (may be null) tells whether the
// last level was created. Every key is kept (volatile keys are kept too); `key_class` and
// `security` are ignored. A null `subkey` or `result` gives ERROR_INVALID_PARAMETER; an empty
// `subkey` opens a new handle to `key`. `*result` is null after a failure.
LONG RegCreateKeyExA(HKEY key, const char* subkey, DWORD reserved, const char* key_class,
                     DWORD options, REGSAM sam, const void* security, HKEY* result,
                     DWORD* disposition);
LONG RegCloseKey(HKEY key);
// Stores exactly `size` bytes of `data` with `type` (the bytes are kept as given: a REG_SZ
// without a terminating zero stays without one). A null `data` with a non-zero size gives
// ERROR_NOACCESS; a value name longer than 16383 characters ERROR_INVALID_PARAMETER.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
// With `data` null: stores the size (and type) only. With a buffer smaller than the value:
// ERROR_MORE_DATA, the needed size and the type, and nothing written to `data`. On success
// `*size` is the value's size; nothing beyond it is written. A null or empty name is the key's
// default value. `reserved` must be null, and `size` must be given with `data`
// (ERROR_INVALID_PARAMETER otherwise).
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegDeleteValueA(HKEY key, const char* name);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise, as Windows answers),
// with its values. An empty `subkey` deletes the key of the handle itself, which needs a
// handle opened with DELETE (0x10000, part of KEY_ALL_ACCESS); root keys cannot be deleted.
LONG RegDeleteKeyA(HKEY key, const char* subkey);
// Enumeration by index; ERROR_NO_MORE_ITEMS past the end. Names in creation order (a value
// that is set again keeps its place). Subkeys need KEY_ENUMERATE_SUB_KEYS, values
// KEY_QUERY_VALUE. Any output of RegEnumValueA may be null.
LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name);
LONG RegEnumValueA(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data);

// Text for a log line about a failed registry call: the system's text for `code`, followed,
// for ERROR_REGISTRY_CORRUPT and ERROR_REGISTRY_IO_FAILED, by what the current machine's store
// last saw ("... registry.db: file is not a database ...").
std::string RegErrorText(LONG code);

// "HKEY_LOCAL_MACHINE" for the predefined keys, empty for others.
std::string RootKeyName(HKEY root);
// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\X" (full root names, any case; also HKLM, HKCU, HKCR,
// HKU, HKCC) into the root and the subkey. False when the text names no root.
bool SplitKeyPath(std::string_view path, HKEY* root, std::string* subkey);

}  // namespace os
