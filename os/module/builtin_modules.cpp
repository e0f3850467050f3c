#include "os/module/builtin_modules.h"

#include <type_traits>

#include "os/base/text.h"
#include "os/module/ieframe.h"
#include "os/shell/folders.h"
#include "os/sysinfo/version.h"

namespace os {
namespace {
template <class F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(f);
}

// Checked here so that a change of a function's signature cannot silently break its callers'
// casts.
static_assert(std::is_same_v<decltype(&SetThreadUILanguage), PFN_SetThreadUILanguage>);
static_assert(std::is_same_v<decltype(&SHGetKnownFolderPath), PFN_SHGetKnownFolderPath>);
static_assert(std::is_same_v<decltype(&SHGetFolderPathA), PFN_SHGetFolderPathA>);
static_assert(std::is_same_v<decltype(&IEIsProtectedModeProcess), PFN_IEIsProtectedModeProcess>);
static_assert(std::is_same_v<decltype(&IEGetWriteableFolderPath), PFN_IEGetWriteableFolderPath>);

const BuiltinExport kKernel32[] = {
    {"SetThreadUILanguage", Proc(&SetThreadUILanguage), 6},
};
const BuiltinExport kShell32[] = {
    {"SHGetFolderPathA", Proc(&SHGetFolderPathA), 5},
    {"SHGetKnownFolderPath", Proc(&SHGetKnownFolderPath), 6},
};
// The library exists on older systems with a newer browser; its protected-mode calls do not.
const BuiltinExport kIeframe[] = {
    {"IEIsProtectedModeProcess", Proc(&IEIsProtectedModeProcess), 6},
    {"IEGetWriteableFolderPath", Proc(&IEGetWriteableFolderPath), 6},
};

const BuiltinModule kModules[] = {
    {"kernel32.dll", kKernel32},
    {"shell32.dll", kShell32},
    {"ieframe.dll", kIeframe},
};
}  // namespace

std::span<const BuiltinModule> BuiltinModules() { return kModules; }

const BuiltinModule* FindBuiltinModule(std::string_view file_name) {
  for (const BuiltinModule& m : kModules) {
    if (EqualsIgnoreCase(m.file_name, file_name)) return &m;
  }
  return nullptr;
}

FARPROC FindBuiltinExport(const BuiltinModule& module, std::string_view name, int os_major) {
  for (const BuiltinExport& e : module.exports) {
    if (name == e.name) return os_major >= e.min_os_major ? e.proc : nullptr;
  }
  return nullptr;
}

}  // namespace os
