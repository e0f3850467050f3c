#include "engine/config_update_run.h"

#include "actions/create_directories.h"
#include "download/download_step.h"
#include "engine/config_address.h"
#include "engine/config_signature_check.h"
#include "engine/folder_symbols.h"
#include "engine/parse_by_registry.h"
#include "engine/protected_mode_folders.h"
#include "engine/start_parse.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/image/win_path.h"
#include "os/shell/folders.h"
#include "os/ui/window.h"

namespace pelisto {
namespace {

void Log(RunContext& context, const std::string& text, unsigned level) {
  context.WriteLog(context.GetLogTime() + text, level);
}

// Closes the status dialog the run started, on every way out.
class StatusDialogScope {
 public:
  explicit StatusDialogScope(RunContext& context) : context_(context) {
    const ControlSettings& s = context.Settings();
    if (s.self_ui && s.dlg_not_close) {
      context.StartStatusDialog();
      started_ = true;
    }
  }
  ~StatusDialogScope() { Close(); }
  StatusDialogScope(const StatusDialogScope&) = delete;
  StatusDialogScope& operator=(const StatusDialogScope&) = delete;
  void Close() {
    if (started_) context_.CloseStatusDialog();
    started_ = false;
  }

 private:
  RunContext& context_;
  bool started_ = false;
};

// configDir with its first folder symbol replaced and its folder made; false (after the
// line and the box) when it is no folder afterwards.
bool PrepareConfigDir(RunContext& context) {
  std::string& dir = context.MutableSettings().config_dir;
  if (dir.empty()) return true;
  ReplaceFirstFolderSymbol(&dir, context.Folders());
  CreateDirectories(context, dir, os::FALSE);
  if (os::IsDirectory(dir)) return true;
  Log(context, dir + " is invalid path !", 1);
  context.ShowMessage(dir + " is invalid path ! ");
  return false;
}

bool FillConfigDir(RunContext& context) {
  std::string& dir = context.MutableSettings().config_dir;
  if (!dir.empty()) return true;
  if (context.IsWindows6()) {
    dir = context.ProtectedMode().local_low_folder;
    return true;
  }
  std::string app_data;
  if (os::FAILED(os::SHGetFolderPathA(nullptr, os::CSIDL_APPDATA, nullptr, 0, &app_data))) {
    return false;
  }
  dir = app_data + "\\LocalLow";
  return true;
}

}  // namespace

bool AnotherRunIsUp() {
  const os::HWND window = os::FindWindowA("", kRunGuardTitle);
  if (window == nullptr) return false;
  std::string class_name;
  os::GetClassNameA(window, &class_name, 256);
  return class_name == kRunGuardClass;
}

os::BOOL RunConfigUpdate(RunContext& context, const std::string& url) {
  if (!PrepareConfigDir(context)) return os::FALSE;
  const std::string file_name = LastPathSegment(url);

  if (context.IsWindows6() && !InitProtectedModeFolders(context)) return os::FALSE;
  if (!FillConfigDir(context)) return os::FALSE;
  const std::string work = context.Settings().config_dir + "\\Veltrane\\pold";
  const std::string local = work + "\\" + file_name;
  CreateDirectories(context, work, os::FALSE);
  RunState& state = context.State();
  state.work_folder = work;
  state.config_url = url;

  context.CreateLogFile(work);
  context.WriteLog("\r\n[Pelisto Log File -getConfig]\r\n", 2);

  if (AnotherRunIsUp()) return os::FALSE;
  std::string key;
  if (!ReadConfigPublicKey(context, &key)) return os::FALSE;

  StatusDialogScope dialog(context);
  // A name that is no plain file name would put the download outside the work folder.
  if (!os::IsPlainFileName(file_name) ||
      !DownloadConfigFile(context, url, local, context.Settings().self_ui, 1)) {
    context.ShowMessage(local + " is not copyed !!!");
    Log(context, " " + local + " is not copyed !!!", 1);
    return os::FALSE;
  }
  std::string verified;
  if (!key.empty() && !CheckConfigSignature(context, key, url, local, &verified)) return os::FALSE;
  const std::string* content = key.empty() ? nullptr : &verified;
  const std::string stored = local + ".old";
  const os::BOOL result = context.Settings().registry == 1
                              ? ParseByRegistry(context, local, content)
                              : StartParse(context, stored, local, 1, 1, content);
  dialog.Close();
  if (!result) {
    // The next run downloads the document again; nothing reads this copy of it.
    context.Privileged().DeleteFile(local);
    Log(context, " " + local + " parsing error !!! ", 1);
    return os::FALSE;
  }
  if (!os::FileExists(local)) {
    context.ShowMessage(local + " is not updateted !!");
    Log(context, " " + local + " is not updated !!!", 2);
    return os::FALSE;
  }
  context.Privileged().DeleteFile(local);
  Log(context, " " + local + " parsing success", 0);
  return os::TRUE;
}

}  // namespace pelisto
