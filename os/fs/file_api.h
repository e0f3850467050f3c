// File system calls on the machine image, shaped like their Win32 namesakes.
//
// Paths are Windows-form texts (os/image); each call translates them through the current
// machine, applies the integrity rule for the calling thread's token (os/image/integrity.h),
// and on failure returns the Win32 failure value with the thread's last error set. Output
// buffers of the Win32 originals are std::string pointers here.
#pragma once

#include <cstdio>
#include <string>

#include "os/base/handle.h"
#include "os/base/types.h"

namespace os {

inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;  // the path's last part is a link

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;

inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;

// Copies a file. The copy is written beside the destination and renamed into place, so the
// destination is never left half-written. Fails with ERROR_FILE_EXISTS when
// `fail_if_exists` is set and the destination exists; keeps the source's last-write time.
BOOL CopyFileA(const std::string& existing, const std::string& new_name, BOOL fail_if_exists);
// Moves a file or folder; ERROR_ALREADY_EXISTS when the destination exists.
BOOL MoveFileA(const std::string& existing, const std::string& new_name);
BOOL MoveFileExA(const std::string& existing, const std::string& new_name, DWORD flags);
BOOL DeleteFileA(const std::string& path);
// ERROR_ALREADY_EXISTS (183) when anything of that name exists, ERROR_PATH_NOT_FOUND when
// the parent is missing. `security` is accepted and ignored.
BOOL CreateDirectoryA(const std::string& path, const void* security);
BOOL RemoveDirectoryA(const std::string& path);

DWORD GetFileAttributesA(const std::string& path);
BOOL SetFileAttributesA(const std::string& path, DWORD attributes);
// Conveniences over GetFileAttributesA.
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates an empty file "<first three characters of prefix><hex>.tmp" in `path` and stores
// its full path in `temp_file`. With `unique` not 0 the name uses that number and nothing is
// created. Returns the number used, or 0 (ERROR_DIRECTORY when `path` is not a folder).
UINT GetTempFileNameA(const std::string& path, const std::string& prefix, UINT unique,
                      std::string* temp_file);
// The user's temporary folder with a trailing "\" (the low one for a low-integrity caller).
DWORD GetTempPathA(std::string* path);

// Handles to open files. Sharing is enforced between handles of this process: an open that
// conflicts with the share mode of a handle already open fails with ERROR_SHARING_VIOLATION,
// which is how "a file in use" shows itself. A read-only file refuses write access.
HANDLE CreateFileA(const std::string& path, DWORD access, DWORD share, const void* security,
                   DWORD creation, DWORD flags, HANDLE template_file);
BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written, void* overlapped);
BOOL FlushFileBuffers(HANDLE file);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* size_high);
BOOL SetEndOfFile(HANDLE file);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* access,
                 const FILETIME* write);

// Time conversions used with file times.
BOOL SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME* ft);
BOOL FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME* st);
BOOL LocalFileTimeToFileTime(const FILETIME& local, FILETIME* utc);
BOOL DosDateTimeToFileTime(WORD fat_date, WORD fat_time, FILETIME* ft);
void GetLocalTime(SYSTEMTIME* st);
void GetSystemTime(SYSTEMTIME* st);
DWORD GetTickCount();

// The C runtime's fopen on the image: `mode` as fopen takes it ("r", "rb", "w", "wb", "a",
// "a+", "r+", ...). Null with the last error set (and errno) when the file cannot be opened.
// The stream is a host stream: read, write, seek and close it with the standard calls.
std::FILE* FileOpen(const std::string& path, const char* mode);

}  // namespace os
