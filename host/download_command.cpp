#include "host/download_command.h"

#include "download/download_step.h"
#include "engine/protected_mode_folders.h"

namespace pelisto {

os::LONG RunDownload(CPelistoCtrl& control, const CliOptions& options, std::FILE* out) {
  // The folders a run resolves first: on Windows 6 the work files go there.
  if (control.IsWindows6()) InitProtectedModeFolders(control);
  const ControlSettings& settings = control.Settings();
  const bool status_dialog = settings.self_ui != os::FALSE && settings.dlg_not_close != os::FALSE;
  if (status_dialog) control.StartStatusDialog();
  const os::LONG use_dialog = options.dialogless ? 0 : 1;
  const std::string& url = options.args.at(0);
  const std::string& path = options.args.at(1);
  const os::LONG result =
      options.config_file
          ? DownloadConfigFile(control, url, path, use_dialog, 1)
          : DownloadEntryFile(control, url, path, options.args.size() > 2 ? options.args[2] : "", use_dialog, 1);
  if (status_dialog) control.CloseStatusDialog();
  std::fprintf(out, "result: %d\n", static_cast<int>(result));
  return result;
}

}  // namespace pelisto
