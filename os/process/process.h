// Starting programs of the image, shaped like CreateProcessA.
//
// The program is a file of the image (a native program or a script with a "#!" line), started
// as a host process. Windows has no execute permission, so the file is made executable first.
// The caller's integrity level does not restrict starting a program (it restricts writing); the
// program runs with the host user's rights. Its environment carries PELISTO_PREFIX, the image's
// prefix, so a program that knows the image finds its machine, and PELISTO_INTEGRITY, the
// integrity level of the starting thread's token ("low", "medium" or "high"): the token the
// program runs with. Its standard input is empty, its standard output and error are the
// caller's.
//
// The process handle and the thread handle are waited for with WaitForSingleObject (signalled
// when the program ends) and closed with CloseHandle; closing them does not stop the program,
// and an ended program is reaped whether or not its handles were closed.
#pragma once

#include <string>

#include "os/base/handle.h"
#include "os/base/types.h"

namespace os {

inline constexpr DWORD DEBUG_PROCESS = 0x1;
inline constexpr DWORD DEBUG_ONLY_THIS_PROCESS = 0x2;
inline constexpr DWORD CREATE_SUSPENDED = 0x4;
inline constexpr DWORD DETACHED_PROCESS = 0x8;
inline constexpr DWORD CREATE_NEW_CONSOLE = 0x10;
inline constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x400;
inline constexpr DWORD CREATE_NO_WINDOW = 0x08000000;

// Accepted and not looked at: this stand-in has no windows or desktops.
struct STARTUPINFOA {
  DWORD cb = sizeof(STARTUPINFOA);
  char* lpReserved = nullptr;
  char* lpDesktop = nullptr;
  char* lpTitle = nullptr;
  DWORD dwX = 0, dwY = 0, dwXSize = 0, dwYSize = 0;
  DWORD dwXCountChars = 0, dwYCountChars = 0, dwFillAttribute = 0;
  DWORD dwFlags = 0;
  WORD wShowWindow = 0;
  WORD cbReserved2 = 0;
  BYTE* lpReserved2 = nullptr;
  HANDLE hStdInput = nullptr;
  HANDLE hStdOutput = nullptr;
  HANDLE hStdError = nullptr;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess = nullptr;
  HANDLE hThread = nullptr;
  DWORD dwProcessId = 0;
  DWORD dwThreadId = 0;
};

// Starts a program. The program is `application_name` (a full Windows-form path, used as is),
// or else the first argument of `command_line`: quoted or up to the first blank; a bare name
// gets ".exe" when it has no extension and is looked for in C:\Windows\system32 and C:\Windows.
// The arguments are `command_line` split as the C runtime does (SplitCommandLine), its first
// one the program's name; without a command line the program gets no arguments.
// `environment` is null (the caller's environment) or a block of "NAME=VALUE" texts, each ended
// by a zero byte, the block by one more. `current_directory` null: the program's own folder.
// Security attributes, handle inheritance and the start-up record are accepted and ignored.
//
// On success fills `*process_information` (both handles must be closed) and returns TRUE.
// Otherwise FALSE with the last error: ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND for a
// missing program or folder (a relative path is not found: the image has no current folder),
// ERROR_ACCESS_DENIED for a folder or an unreadable file, ERROR_BAD_EXE_FORMAT for a file that
// is not a program, ERROR_DIRECTORY for a bad `current_directory`, ERROR_NOT_SUPPORTED for
// suspended or debugged starts and wide environments, ERROR_INVALID_PARAMETER when neither name
// nor command line is given.
BOOL CreateProcessA(const char* application_name, const char* command_line,
                    const void* process_attributes, const void* thread_attributes,
                    BOOL inherit_handles, DWORD creation_flags, const void* environment,
                    const char* current_directory, const STARTUPINFOA* startup_info,
                    PROCESS_INFORMATION* process_information);

// STILL_ACTIVE (259) while the program runs; then its exit status. A program ended by a signal
// reports what Windows reports for the like: 3 for an abort, 0xC0000005 for a memory fault,
// 0xC000001D for an illegal instruction, 0xC0000094 for a division by zero, 0xC000013A for an
// interrupt, 1 for others; after TerminateProcess the code given there.
// FALSE with ERROR_INVALID_HANDLE for a handle that is not a process or thread of one.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code);

// Ends the program at once; its exit code becomes `exit_code`. FALSE with ERROR_ACCESS_DENIED
// when it has already ended.
BOOL TerminateProcess(HANDLE process, UINT exit_code);

// The host process id; 0 with ERROR_INVALID_HANDLE for other handles.
DWORD GetProcessId(HANDLE process);

// The calling process's host process id.
DWORD GetCurrentProcessId();

}  // namespace os
