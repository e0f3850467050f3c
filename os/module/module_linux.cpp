#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/host_place_linux.h"
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
  // The open files the loader was given (as /proc/self/fd/N), the component's last.
  std::vector<int> files;
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

// The place `name` in the image folder `folder`, or why there is none.
DWORD PlaceIn(const Machine& m, const WinPath& folder, const std::string& name, HostPlace* place) {
  WinPath path = folder;
  path.parts.push_back(name);
  return ResolveHostPlace(m, path, LastLink::kFollow, place);
}

WinPath KnownFolderPath(const Machine& m, KnownFolder folder) {
  WinPath path;
  ParseWinPath(m.FolderLocation(folder), &path);
  return path;
}

// Opens a library file of the image for the loader: only a regular file, reached inside its
// drive; the loader is then given the descriptor, never a name it would look up again.
DWORD OpenLibrary(const HostPlace& place, int* fd, struct stat* st) {
  if (!place.exists()) return ERROR_MOD_NOT_FOUND;
  if (!S_ISREG(place.status().st_mode)) return ERROR_ACCESS_DENIED;
  *fd = place.Open(O_RDONLY | O_NONBLOCK);
  if (*fd < 0) return errno == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno);
  if (fstat(*fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(*fd);
    *fd = -1;
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

// The loader keeps a library it was given as /proc/self/fd/N under that name for as long as
// the library stays loaded, and would take another file later opened with that number for it:
// the descriptor is closed only once the library has really left.
void ReleaseLibraryFile(int fd) {
  if (void* still = dlopen(DescriptorPath(fd).c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    dlclose(still);
    return;
  }
  ::close(fd);
}

void ReleaseAll(std::vector<int>* files) {
  for (auto it = files->rbegin(); it != files->rend(); ++it) ReleaseLibraryFile(*it);
  files->clear();
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

// Loads, depth first, the libraries that the library open as `fd` needs and that lie in one
// of `folders` (first match wins), so that the system loader finds them by name when it loads
// the file itself. Handles go to `loaded` and their files to `files`, in load order; `visited`
// holds the files already looked at.
DWORD LoadNeeded(const Machine& machine, int fd, const std::vector<WinPath>& folders,
                 std::set<std::pair<dev_t, ino_t>>* visited, std::vector<void*>* loaded,
                 std::vector<int>* files) {
  std::vector<std::string> needed;
  if (DWORD rc = ReadElfNeeded(DescriptorPath(fd), &needed); rc != ERROR_SUCCESS) return rc;
  for (const std::string& name : needed) {
    // A library named by a host path would be loaded from wherever that path leads.
    if (name.find('/') != std::string::npos) return ERROR_ACCESS_DENIED;
    HostPlace found;
    for (const WinPath& folder : folders) {
      const DWORD rc = PlaceIn(machine, folder, name, &found);
      if (rc == ERROR_ACCESS_DENIED) return rc;  // the first match leads out: not skipped
      if (rc == ERROR_SUCCESS && found.exists()) break;
    }
    if (!found.exists()) continue;
    int dep = -1;
    struct stat st;
    if (DWORD rc = OpenLibrary(found, &dep, &st); rc != ERROR_SUCCESS) return rc;
    if (!visited->insert({st.st_dev, st.st_ino}).second) {
      ::close(dep);
      continue;
    }
    files->push_back(dep);
    if (DWORD rc = LoadNeeded(machine, dep, folders, visited, loaded, files); rc != ERROR_SUCCESS) {
      return rc;
    }
    void* dl = dlopen(DescriptorPath(dep).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) return ErrorFromLoaderText(dlerror());
    loaded->push_back(dl);
    RecordLoad(found.real().ToString());
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
    ReleaseAll(&m->files);
  }
  g_modules.erase(std::find_if(g_modules.begin(), g_modules.end(),
                               [m](const auto& p) { return p.get() == m; }));
}

HMODULE LoadBuiltin(const Machine& machine, const BuiltinModule& builtin) {
  EnsureSystemModules(machine);
  HostPlace file;
  if (PlaceIn(machine, KnownFolderPath(machine, KnownFolder::kSystem), builtin.file_name, &file) !=
          ERROR_SUCCESS ||
      !file.exists()) {
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
  HostPlace place;
  if (DWORD rc = ResolveHostPlace(machine, path, LastLink::kFollow, &place); rc != ERROR_SUCCESS) {
    return Fail(rc == ERROR_PATH_NOT_FOUND ? ERROR_MOD_NOT_FOUND : rc);
  }
  if (place.exists() && S_ISDIR(place.status().st_mode)) return Fail(ERROR_ACCESS_DENIED);
  int fd = -1;
  struct stat st;
  if (DWORD rc = OpenLibrary(place, &fd, &st); rc != ERROR_SUCCESS) return Fail(rc);
  for (const auto& m : g_modules) {
    if (m->dl != nullptr && m->dev == st.st_dev && m->ino == st.st_ino) {
      ::close(fd);
      ++m->refs;
      return m.get();
    }
  }

  std::vector<WinPath> folders;
  if (flags & LOAD_WITH_ALTERED_SEARCH_PATH) folders.push_back(place.real().Parent());
  folders.push_back(KnownFolderPath(machine, KnownFolder::kSystem));
  folders.push_back(KnownFolderPath(machine, KnownFolder::kWindows));
  std::set<std::pair<dev_t, ino_t>> visited{{st.st_dev, st.st_ino}};
  std::vector<void*> needed;
  std::vector<int> files;
  auto undo = [&] {
    CloseAll(&needed);
    ReleaseAll(&files);
    ReleaseLibraryFile(fd);
  };
  if (DWORD rc = LoadNeeded(machine, fd, folders, &visited, &needed, &files); rc != ERROR_SUCCESS) {
    undo();
    return Fail(rc);
  }
  void* dl = dlopen(DescriptorPath(fd).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (dl == nullptr) {
    DWORD rc = ErrorFromLoaderText(dlerror());
    undo();
    return Fail(rc);
  }
  files.push_back(fd);
  const std::string win_path = path.ToString();
  RecordLoad(win_path);

  auto owned = std::make_unique<ModuleObject>();
  ModuleObject* m = owned.get();
  m->dl = dl;
  m->needed = std::move(needed);
  m->files = std::move(files);
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
      HostPlace found;
      if (PlaceIn(*machine, KnownFolderPath(*machine, folder), name, &found) == ERROR_SUCCESS &&
          found.exists() && !S_ISDIR(found.status().st_mode)) {
        return LoadComponent(*machine, found.real(), flags);
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
  const WinPath system32 = KnownFolderPath(machine, KnownFolder::kSystem);
  for (const BuiltinModule& m : BuiltinModules()) {
    HostPlace file;
    if (PlaceIn(machine, system32, m.file_name, &file) != ERROR_SUCCESS || file.exists()) continue;
    int fd = file.Open(O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) continue;
    if (::write(fd, kMarkerText, sizeof kMarkerText - 1) < 0) {
      // An empty marker serves as well.
    }
    ::close(fd);
  }
  int fd = ::open(stamp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    if (::write(fd, "1\n", 2) < 0) {
      // Seeding again next time is harmless.
    }
    ::close(fd);
  }
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
