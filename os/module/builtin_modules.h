// The system libraries the image provides from os/ itself, and what each one exports.
// Internal to the loader (os/module).
#pragma once

#include <span>
#include <string_view>

#include "os/module/module.h"

namespace os {

struct BuiltinExport {
  const char* name;
  FARPROC proc;
  int min_os_major;  // the first Windows version that has the call
};

struct BuiltinModule {
  const char* file_name;  // as it lies in C:\Windows\system32
  std::span<const BuiltinExport> exports;
};

std::span<const BuiltinModule> BuiltinModules();
// The system library of that file name (compared without case), or null.
const BuiltinModule* FindBuiltinModule(std::string_view file_name);
// The export `name` (compared with case, as the loader does) for an image of `os_major`, or null.
FARPROC FindBuiltinExport(const BuiltinModule& module, std::string_view name, int os_major);

}  // namespace os
