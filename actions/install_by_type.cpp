#include "actions/install_by_type.h"

#include "actions/registration.h"
#include "actions/shortcuts.h"
#include "archive/gunzip.h"
#include "archive/gzip_header.h"
#include "archive/ungzip_file.h"
#include "archive/unzip_actions.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/win_path.h"

namespace pelisto {
namespace {

// Whether two Windows-form paths name the same file: as Windows reads them (trailing dots
// and blanks of a name dropped, any case).
bool SameFile(const std::string& a, const std::string& b) {
  os::WinPath pa, pb;
  if (os::ParseWinPath(a, &pa) != os::ERROR_SUCCESS || os::ParseWinPath(b, &pb) != os::ERROR_SUCCESS) {
    return os::EqualsIgnoreCase(a, b);
  }
  return os::EqualsIgnoreCase(pa.ToString(), pb.ToString());
}

int InstallZip(RunContext& context, const ContentEntry& entry, const std::string& local_path) {
  const ControlSettings& settings = context.Settings();
  int result;
  if (settings.self_ui && !settings.dlg_not_close) {
    result = UnZipWithDialog(context, local_path);
  } else {
    result = UnZipWithoutDialog(context, local_path);
    context.FireEndUnZip(result);
  }
  if (result == 0) return 0;
  if (settings.delete_zip_file && context.Privileged().DeleteFile(local_path) != 1) {
    context.WriteLog(context.GetLogTime() + "Failed delete Zip File " + local_path, 2);
  }
  const std::size_t name_start = entry.name.find_last_of("\\/");
  const std::string name = name_start == std::string::npos ? entry.name : entry.name.substr(name_start + 1);
  if (os::EqualsIgnoreCase(name, "Brindle.ocx")) {
    const std::size_t file_start = local_path.rfind('\\');
    const std::size_t dot = local_path.rfind('.');
    if (dot != std::string::npos && (file_start == std::string::npos || dot > file_start)) {
      RegisterComponent(context, local_path.substr(0, dot));
    }
  }
  return 1;
}

void InstallGzip(RunContext& context, const ContentEntry& entry, const std::string& local_path,
                 bool register_component) {
  // Where the output goes is known only before the step: afterwards the file may be it.
  const std::string output =
      GzipOutputPath(local_path, GzipOutputFileName(GetGzipStoredName(local_path), entry.name));
  UnGZipFile(context, local_path, entry.name, register_component, context.Settings().self_ui != os::FALSE);
  if (context.Settings().delete_zip_file && !SameFile(output, local_path)) {
    context.Privileged().DeleteFile(local_path);
  }
}

}  // namespace

int InstallByType(RunContext& context, const ContentEntry& entry, const std::string& local_path) {
  const std::string& type = entry.type;
  if (os::EqualsIgnoreCase(type, "exe")) {
    context.Privileged().RunProgram(local_path);
  } else if (os::EqualsIgnoreCase(type, "zip")) {
    return InstallZip(context, entry, local_path);
  } else if (os::EqualsIgnoreCase(type, "gz")) {
    InstallGzip(context, entry, local_path, entry.name.find(".ocx") != std::string::npos);
  } else if (os::EqualsIgnoreCase(type, "gzreg")) {
    InstallGzip(context, entry, local_path, true);
  } else if (os::EqualsIgnoreCase(type, "reg")) {
    RegisterComponent(context, local_path);
  } else if (os::EqualsIgnoreCase(type, "makeprogramlnk")) {
    MakeProgramLink(context, entry);
  } else if (os::EqualsIgnoreCase(type, "makeinternetlnk")) {
    MakeInternetLink(context, entry);
  }
  return 1;
}

}  // namespace pelisto
