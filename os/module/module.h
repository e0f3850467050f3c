// Loading components and system libraries, shaped like the Win32 loader calls.
//
// A component is a shared object kept in the image at a Windows-form path, under any file name
// ("x.dll", "x.ocx"). LoadLibraryExA maps the path through the current machine and loads the file
// into this process; its imports (the os:: calls it makes) are resolved against the loading
// program, which exports them. A component may export
//   extern "C" BOOL DllMain(HINSTANCE, DWORD reason, void*)      called on load and final unload
//   extern "C" HRESULT DllRegisterServer() / DllUnregisterServer()
// (the HRESULT is 32 bits).
//
// System libraries ("kernel32.dll", "shell32.dll", "ieframe.dll") are built in: their exports are
// functions of os/, and a library is present only while its file is in C:\Windows\system32 (the
// files are put there the first time the loader, or EnsureSystemModules, looks). Exports that a
// Windows version does not have are missing on an image of that version.
//
// Failures return a null handle (callers test "handle value below 32") or FALSE with the thread's
// last error set:
//   ERROR_MOD_NOT_FOUND    the file, or a library it needs, does not exist (also a relative path:
//                          the image has no current folder)
//   ERROR_BAD_EXE_FORMAT   the file is not a shared object of this machine (a data file)
//   ERROR_PROC_NOT_FOUND   a symbol the library imports is missing; GetProcAddress of a name the
//                          module does not export
//   ERROR_DLL_INIT_FAILED  DllMain refused the load, or the system loader failed otherwise
//   ERROR_ACCESS_DENIED    the path is a folder, or the file cannot be read
//   ERROR_INVALID_HANDLE   a handle that is not (or no longer) a loaded module
//   ERROR_INVALID_PARAMETER  a file handle or an unsupported flag was passed
//
// Thread safety: all calls may be made from any thread. Loading, freeing and DllMain run under
// one process-wide lock (the loader lock), so a DllMain must not wait for another thread that
// loads a library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/base/handle.h"
#include "os/base/types.h"
#include "os/com/guid.h"

namespace os {

class Machine;
struct ModuleObject;
using HMODULE = ModuleObject*;
using HINSTANCE = HMODULE;
// What GetProcAddress returns; callers cast it to the function's own type (PFN_ below).
using FARPROC = void (*)();

// The library's own folder is searched first for the libraries it needs.
inline constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x8;

inline constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr UINT SEM_NOGPFAULTERRORBOX = 0x0002;
inline constexpr UINT SEM_NOALIGNMENTFAULTEXCEPT = 0x0004;
inline constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;

inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;

// Types to cast GetProcAddress results to.
using PFN_DllMain = BOOL (*)(HINSTANCE instance, DWORD reason, void* reserved);
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();
// "kernel32.dll" "SetThreadUILanguage" (Windows 6 and later): os::SetThreadUILanguage.
using PFN_SetThreadUILanguage = LANGID (*)(LANGID language);
// "shell32.dll" "SHGetKnownFolderPath" (Windows 6 and later): os::SHGetKnownFolderPath.
using PFN_SHGetKnownFolderPath = HRESULT (*)(const GUID& folder, DWORD flags, HANDLE token,
                                             std::u16string* path);
// "shell32.dll" "SHGetFolderPathA": os::SHGetFolderPathA.
using PFN_SHGetFolderPathA = HRESULT (*)(void* hwnd, int csidl, HANDLE token, DWORD flags,
                                         std::string* path);
// "ieframe.dll" "IEIsProtectedModeProcess" (Windows 6 and later): os::IEIsProtectedModeProcess.
using PFN_IEIsProtectedModeProcess = HRESULT (*)(BOOL* result);
// "ieframe.dll" "IEGetWriteableFolderPath" (Windows 6 and later): os::IEGetWriteableFolderPath.
using PFN_IEGetWriteableFolderPath = HRESULT (*)(const GUID& folder, std::u16string* path);

// Loads `file_name`: a full Windows-form path, or a bare name ("kernel32", "x.dll": ".dll" is
// added when the name has no extension) looked for among the system libraries and then in
// C:\Windows\system32 and C:\Windows. Loading a file that is already loaded returns the same
// handle and counts one more reference. `file` must be null; `flags` 0 or
// LOAD_WITH_ALTERED_SEARCH_PATH. Without that flag the libraries a component needs are looked
// for in C:\Windows\system32, C:\Windows and the host's own library folders.
HMODULE LoadLibraryExA(const std::string& file_name, HANDLE file, DWORD flags);
HMODULE LoadLibraryA(const std::string& file_name);

// The address of the export `proc_name` of the module itself (not of the libraries it uses).
FARPROC GetProcAddress(HMODULE module, const char* proc_name);

// Drops one reference; the last one calls DllMain (detach) and unloads the library.
BOOL FreeLibrary(HMODULE module);

// The module's Windows-form path, as it was loaded; for a null module the running program's.
// Returns the length, 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, std::string* file_name);

// The process's error mode; returns the previous one. Nothing here shows system dialogs, so the
// mode is only kept.
UINT SetErrorMode(UINT mode);
UINT GetErrorMode();

// Puts the system libraries' files into C:\Windows\system32 of `machine` unless that was done
// before for this image (a file removed later stays removed). The loader calls it itself.
void EnsureSystemModules(const Machine& machine);

// Every component file this process has loaded, in order, as Windows-form paths (libraries
// loaded because a component needed them included; built-in system libraries not). Lets a test
// prove that a step did or did not load a component into the calling process.
std::vector<std::string> LoadedComponentFiles();
bool WasComponentLoaded(std::string_view win_path);
void ClearLoadedComponentFiles();

}  // namespace os
