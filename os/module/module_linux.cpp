#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/machine.h"
#include "os/image/win_path.h"
#include "os/module/builtin_modules.h"
#include "os/module/elf_needed.h"
#include "os/module/module.h"

namespace os {

struct ModuleObject {
  const BuiltinModule* builtin = nullptr;  // set for a system library
  void* dl = nullptr;                      // the component's loader handle
  std::vector<void*> needed;               // libraries loaded for it from image folders
  std::string win_path;
  dev_t dev = 0;
  ino_t ino = 0;
  int refs = 1;
};

namespace {
constexpr char kSeededStamp[] = "/system_modules.seeded";
constexpr char kMarkerText[] =
    "System library of the machine image; its calls are provided by the loader.\n";

// The loader lock: recursive, because DllMain may load or free libraries itself.
std::recursive_mutex g_loader_mu;
std::vector<std::unique_ptr<ModuleObject>> g_modules;
std::atomic<UINT> g_error_mode{0};

std::mutex g_history_mu;
std::vector<std::string> g_history;

std::mutex g_seed_mu;

void RecordLoad(const std::string& win_path) {
  std::lock_guard<std::mutex> lock(g_history_mu);
  g_history.push_back(win_path);
}

ModuleObject* FindModule(HMODULE h) {
  for (const auto& m : g_modules) {
    if (m.get() == h) return m.get();
  }
  return nullptr;
}

bool SamePath(const WinPath& a, const WinPath& b) { return a.IsWithin(b) && b.IsWithin(a); }

HMODULE Fail(DWORD code) {
  SetLastError(code);
  return nullptr;
}

// The loader reports failures as text only; these are the ones a caller can act on.
DWORD ErrorFromLoaderText(const char* text) {
  std::string_view t = text != nullptr ? text : "";
  if (t.find("cannot open shared object file") != std::string_view::npos) {
    return ERROR_MOD_NOT_FOUND;
  }
  if (t.find("undefined symbol") != std::string_view::npos) return ERROR_PROC_NOT_FOUND;
  for (std::string_view format : {"invalid ELF header", "file too short", "wrong ELF class",
                                  "ELF file", "ELF load command", "cannot dynamically load",
                                  "only ET_DYN and ET_EXEC"}) {
    if (t.find(format) != std::string_view::npos) return ERROR_BAD_EXE_FORMAT;
  }
  return ERROR_DLL_INIT_FAILED;
}

// The host name of an entry of `dir` equal to `name` without regard to case, or empty.
std::string FindInFolder(const std::string& dir, const std::string& name) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return {};
  std::string found;
  while (dirent* e = readdir(d)) {
    if (EqualsIgnoreCase(e->d_name, name)) {
      found = dir + "/" + e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

std::string HostFolder(const Machine& m, KnownFolder folder) {
  std::string host;
  if (m.ToHostPath(m.FolderLocation(folder), &host) != ERROR_SUCCESS) return {};
  return host;
}

// Symbols looked up in the library itself only: the loader's own lookup would also search the
// libraries it uses, which Windows does not.
void* OwnSymbol(void* dl, const char* name) {
  void* sym = dlsym(dl, name);
  if (sym == nullptr) return nullptr;
  link_map* own = nullptr;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) return nullptr;
  Dl_info info;
  void* extra = nullptr;
  if (dladdr1(sym, &info, &extra, RTLD_DL_LINKMAP) == 0) return nullptr;
  return static_cast<link_map*>(extra) == own ? sym : nullptr;
}

// Loads, depth first, the libraries that `host_path` needs and that lie in one of `folders`
// (first match wins), so that the system loader finds them by name when it loads the file
// itself. Handles go to `loaded` in load order; `visited` holds the files already looked at.
DWORD LoadNeeded(const Machine& machine, const std::string& host_path,
                 const std::vector<std::string>& folders, std::set<std::string>* visited,
                 std::vector<void*>* loaded) {
  std::vector<std::string> needed;
  if (DWORD rc = ReadElfNeeded(host_path, &needed); rc != ERROR_SUCCESS) return rc;
  for (const std::string& name : needed) {
    std::string found;
    for (const std::string& folder : folders) {
      if (!folder.empty() && !(found = FindInFolder(folder, name)).empty()) break;
    }
    if (found.empty() || !visited->insert(found).second) continue;
    if (DWORD rc = LoadNeeded(machine, found, folders, visited, loaded); rc != ERROR_SUCCESS) {
      return rc;
    }
    void* dl = dlopen(found.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) return ErrorFromLoaderText(dlerror());
    loaded->push_back(dl);
    RecordLoad(machine.ToWinPath(found));
  }
  return ERROR_SUCCESS;
}

void CloseAll(std::vector<void*>* handles) {
  for (auto it = handles->rbegin(); it != handles->rend(); ++it) dlclose(*it);
  handles->clear();
}

void Unload(ModuleObject* m) {
  if (m->dl != nullptr) {
    if (void* main = OwnSymbol(m->dl, "DllMain")) {
      reinterpret_cast<PFN_DllMain>(main)(m, DLL_PROCESS_DETACH, nullptr);
    }
    dlclose(m->dl);
    CloseAll(&m->needed);
  }
  g_modules.erase(std::find_if(g_modules.begin(), g_modules.end(),
                               [m](const auto& p) { return p.get() == m; }));
}

HMODULE LoadBuiltin(const Machine& machine, const BuiltinModule& builtin) {
  EnsureSystemModules(machine);
  if (FindInFolder(HostFolder(machine, KnownFolder::kSystem), builtin.file_name).empty()) {
    return Fail(ERROR_MOD_NOT_FOUND);
  }
  for (const auto& m : g_modules) {
    if (m->builtin == &builtin) {
      ++m->refs;
      return m.get();
    }
  }
  auto m = std::make_unique<ModuleObject>();
  m->builtin = &builtin;
  m->win_path = machine.FolderLocation(KnownFolder::kSystem) + "\\" + builtin.file_name;
  g_modules.push_back(std::move(m));
  return g_modules.back().get();
}

HMODULE LoadComponent(const Machine& machine, const WinPath& path, DWORD flags) {
  std::string host;
  if (DWORD rc = machine.ToHostPath(path, &host); rc != ERROR_SUCCESS) {
    return Fail(rc == ERROR_PATH_NOT_FOUND ? ERROR_MOD_NOT_FOUND : rc);
  }
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    DWORD code = Win32ErrorFromErrno(errno);
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) code = ERROR_MOD_NOT_FOUND;
    return Fail(code);
  }
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  for (const auto& m : g_modules) {
    if (m->dl != nullptr && m->dev == st.st_dev && m->ino == st.st_ino) {
      ++m->refs;
      return m.get();
    }
  }

  std::vector<std::string> folders;
  if (flags & LOAD_WITH_ALTERED_SEARCH_PATH) {
    folders.push_back(std::filesystem::path(host).parent_path().string());
  }
  folders.push_back(HostFolder(machine, KnownFolder::kSystem));
  folders.push_back(HostFolder(machine, KnownFolder::kWindows));
  std::set<std::string> visited{host};
  std::vector<void*> needed;
  if (DWORD rc = LoadNeeded(machine, host, folders, &visited, &needed); rc != ERROR_SUCCESS) {
    CloseAll(&needed);
    return Fail(rc);
  }
  void* dl = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (dl == nullptr) {
    DWORD rc = ErrorFromLoaderText(dlerror());
    CloseAll(&needed);
    return Fail(rc);
  }
  const std::string win_path = path.ToString();
  RecordLoad(win_path);

  auto owned = std::make_unique<ModuleObject>();
  ModuleObject* m = owned.get();
  m->dl = dl;
  m->needed = std::move(needed);
  m->win_path = win_path;
  m->dev = st.st_dev;
  m->ino = st.st_ino;
  g_modules.push_back(std::move(owned));
  if (void* main = OwnSymbol(dl, "DllMain")) {
    if (!reinterpret_cast<PFN_DllMain>(main)(m, DLL_PROCESS_ATTACH, nullptr)) {
      // As on Windows, a refused attach is followed by a detach and the unload.
      Unload(m);
      return Fail(ERROR_DLL_INIT_FAILED);
    }
  }
  return m;
}

// "kernel32" -> "kernel32.dll"; "name." -> "name" (a trailing dot means "no extension").
std::string BareFileName(const std::string& name) {
  if (name.back() == '.') return name.substr(0, name.size() - 1);
  if (name.find('.') == std::string::npos) return name + ".dll";
  return name;
}
}  // namespace

HMODULE LoadLibraryExA(const std::string& file_name, HANDLE file, DWORD flags) {
  if (file != nullptr || (flags & ~LOAD_WITH_ALTERED_SEARCH_PATH) != 0 || file_name.empty()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
  std::lock_guard<std::recursive_mutex> lock(g_loader_mu);

  WinPath path;
  if (file_name.find_first_of("\\/:") == std::string::npos) {
    const std::string name = BareFileName(file_name);
    if (const BuiltinModule* builtin = FindBuiltinModule(name)) {
      return LoadBuiltin(*machine, *builtin);
    }
    // Other bare names: the system folders, as the loader searches them.
    for (KnownFolder folder : {KnownFolder::kSystem, KnownFolder::kWindows}) {
      std::string found = FindInFolder(HostFolder(*machine, folder), name);
      if (!found.empty()) {
        ParseWinPath(machine->ToWinPath(found), &path);
        return LoadComponent(*machine, path, flags);
      }
    }
    return Fail(ERROR_MOD_NOT_FOUND);
  }
  if (DWORD rc = ParseWinPath(file_name, &path); rc != ERROR_SUCCESS) {
    return Fail(rc == ERROR_PATH_NOT_FOUND ? ERROR_MOD_NOT_FOUND : rc);
  }
  // A system library named by its full path is the built-in one.
  WinPath system32;
  ParseWinPath(machine->FolderLocation(KnownFolder::kSystem), &system32);
  if (!path.IsRoot() && SamePath(path.Parent(), system32)) {
    if (const BuiltinModule* builtin = FindBuiltinModule(path.parts.back())) {
      return LoadBuiltin(*machine, *builtin);
    }
  }
  return LoadComponent(*machine, path, flags);
}

HMODULE LoadLibraryA(const std::string& file_name) { return LoadLibraryExA(file_name, nullptr, 0); }

FARPROC GetProcAddress(HMODULE module, const char* proc_name) {
  std::lock_guard<std::recursive_mutex> lock(g_loader_mu);
  ModuleObject* m = FindModule(module);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (proc_name == nullptr || *proc_name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  FARPROC proc = nullptr;
  if (m->builtin != nullptr) {
    Machine* machine = CurrentMachine();
    if (machine != nullptr) {
      proc = FindBuiltinExport(*m->builtin, proc_name, machine->settings().os_major);
    }
  } else if (void* sym = OwnSymbol(m->dl, proc_name)) {
    proc = reinterpret_cast<FARPROC>(sym);
  }
  if (proc == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return proc;
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::recursive_mutex> lock(g_loader_mu);
  ModuleObject* m = FindModule(module);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--m->refs == 0) Unload(m);
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, std::string* file_name) {
  if (file_name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (module == nullptr) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n < 0) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
    Machine* machine = CurrentMachine();
    std::string win = machine != nullptr ? machine->ToWinPath(std::string(buf, static_cast<size_t>(n))) : "";
    if (win.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return 0;
    }
    *file_name = win;
    return static_cast<DWORD>(file_name->size());
  }
  std::lock_guard<std::recursive_mutex> lock(g_loader_mu);
  ModuleObject* m = FindModule(module);
  if (m == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  *file_name = m->win_path;
  return static_cast<DWORD>(file_name->size());
}

UINT SetErrorMode(UINT mode) { return g_error_mode.exchange(mode); }
UINT GetErrorMode() { return g_error_mode.load(); }

void EnsureSystemModules(const Machine& machine) {
  std::lock_guard<std::mutex> lock(g_seed_mu);
  const std::string stamp = machine.prefix() + kSeededStamp;
  struct stat st;
  if (stat(stamp.c_str(), &st) == 0) return;
  machine.FolderPath(KnownFolder::kSystem);
  const std::string system32 = HostFolder(machine, KnownFolder::kSystem);
  if (system32.empty()) return;
  for (const BuiltinModule& m : BuiltinModules()) {
    if (!FindInFolder(system32, m.file_name).empty()) continue;
    std::ofstream(system32 + "/" + m.file_name, std::ios::binary) << kMarkerText;
  }
  std::ofstream(stamp) << "1\n";
}

std::vector<std::string> LoadedComponentFiles() {
  std::lock_guard<std::mutex> lock(g_history_mu);
  return g_history;
}

bool WasComponentLoaded(std::string_view win_path) {
  WinPath wanted;
  if (ParseWinPath(win_path, &wanted) != ERROR_SUCCESS) return false;
  std::lock_guard<std::mutex> lock(g_history_mu);
  for (const std::string& loaded : g_history) {
    WinPath p;
    if (ParseWinPath(loaded, &p) == ERROR_SUCCESS && SamePath(p, wanted)) {
      return true;
    }
  }
  return false;
}

void ClearLoadedComponentFiles() {
  std::lock_guard<std::mutex> lock(g_history_mu);
  g_history.clear();
}

}  // namespace os
