// Special folders of the image, through calls shaped like the shell's.
#pragma once

#include <string>

#include "os/base/handle.h"
#include "os/base/types.h"
#include "os/com/guid.h"

namespace os {

inline constexpr int CSIDL_DESKTOP = 0x0000;
inline constexpr int CSIDL_APPDATA = 0x001A;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
inline constexpr int CSIDL_INTERNET_CACHE = 0x0020;
inline constexpr int CSIDL_WINDOWS = 0x0024;
inline constexpr int CSIDL_SYSTEM = 0x0025;
inline constexpr int CSIDL_PROGRAM_FILES = 0x0026;

// {A520A1A4-1780-4FF6-BD18-167343C5AF16}
inline const GUID FOLDERID_LocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
// {352481E8-33BE-4251-BA85-6007CAEDCF9D}
inline const GUID FOLDERID_InternetCache = {
    0x352481E8, 0x33BE, 0x4251, {0xBA, 0x85, 0x60, 0x07, 0xCA, 0xED, 0xCF, 0x9D}};
// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
inline const GUID FOLDERID_LocalAppData = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

// The folder's path (no trailing "\"), created when missing. E_INVALIDARG for a CSIDL the
// image does not keep; E_FAIL without a current machine. `path` is untouched on failure.
HRESULT SHGetFolderPathA(void* hwnd, int csidl, HANDLE token, DWORD flags, std::string* path);

// The known folder's path as wide text. Exists only on Windows 6 and later: on an earlier
// image the call is not there (callers find it through the module table, os/module).
HRESULT SHGetKnownFolderPath(const GUID& folder, DWORD flags, HANDLE token, std::u16string* path);

// Number of characters stored, 0 on failure.
UINT GetWindowsDirectoryA(std::string* path);
UINT GetSystemDirectoryA(std::string* path);

}  // namespace os
