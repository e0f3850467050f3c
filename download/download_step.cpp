#include "download/download_step.h"

#include "control/run_context.h"
#include "download/http_download.h"
#include "download/http_download_dlg.h"
#include "download/url_parts.h"
#include "os/ui/message_box.h"

namespace pelisto {
namespace {

enum class Variant { kEntry, kConfig };

void Log(RunContext& control, const std::string& text, unsigned level) {
  control.WriteLog(control.GetLogTime() + text, level);
}

os::LONG Succeeded(RunContext& control, const std::string& url, const std::string& local_path) {
  Log(control, " Download file Success '" + url + "' and path '" + local_path + "'", 0);
  return 1;
}

os::LONG Dialogless(RunContext& control, const std::string& url, const std::string& local_path,
                     ContentCheck* check = nullptr) {
  HttpDownload download(control.Privileged(), url, local_path, control.ProtectedMode().writable_folder);
  download.SetControl(&control);
  download.SetContentCheck(check);
  download.SetSink(control.Settings().dlg_not_close != os::FALSE ? control.StatusSink() : nullptr);
  const os::LONG result = download.Download();
  if (result == 0 || result == -1) {
    Log(control, " " + download.ErrorMessage(), 1);
    return result;
  }
  if (download.CancelFlag() == 1) {
    Log(control, " [[Abort by User]]", 1);
    return 0;
  }
  return Succeeded(control, url, local_path);
}

os::LONG WithDialog(RunContext& control, std::string url, const std::string& local_path, const std::string& file_type,
                    os::LONG use_temp_file, Variant variant, ContentCheck* check = nullptr) {
  UrlParts parts;
  if (!ParseUrlWithRetry(&url, &parts)) {
    const std::string text = "Failed to parse the URL: " + url + "\n";
    if (variant == Variant::kEntry) {
      os::MessageBoxA(nullptr, text, kApplicationName, os::MB_OK);
      Log(control, " " + text, 0);
    } else {
      control.ShowMessage(text);
      Log(control, " " + text, 2);
    }
    return 0;
  }
  Log(control, " Success to parse the URL", 0);

  CHttpDownloadDlg dialog(control);
  dialog.SetUrl(url);
  dialog.SetTargetPath(local_path);
  dialog.SetFileType(file_type);
  dialog.SetLanguage(control.Settings().language);
  dialog.SetContentCheck(check);
  if (control.Privileged().Brokered()) {
    // The browser's low-rights process may write only its per-user folders; the broker
    // copies the finished file into place.
    const ProtectedModeFolders& folders = control.ProtectedMode();
    dialog.SetWorkFolder(variant == Variant::kEntry ? folders.writable_folder : folders.local_low_folder);
    dialog.SetUseTempFile(use_temp_file);
  }
  const os::INT_PTR result = dialog.DoModal();
  if (result != os::IDOK || dialog.LastStatus() == "ERR") {
    Log(control, " Failed to download '" + url + "' and path '" + local_path + "'",
        variant == Variant::kEntry ? 0 : 1);
    return 0;
  }
  return Succeeded(control, url, local_path);
}

}  // namespace

os::LONG DownloadEntryFile(RunContext& control, std::string url, std::string localPath, std::string fileType,
                           os::LONG useDialog, os::LONG useTempFile, ContentCheck* check) {
  if (useDialog == 0) return Dialogless(control, url, localPath, check);
  return WithDialog(control, std::move(url), localPath, fileType, useTempFile, Variant::kEntry, check);
}

os::LONG DownloadConfigFile(RunContext& control, std::string url, std::string localPath, os::LONG useDialog,
                            os::LONG useTempFile) {
  if (useDialog == 0 || control.Settings().dlg_not_close != os::FALSE) return Dialogless(control, url, localPath);
  return WithDialog(control, std::move(url), localPath, "", useTempFile, Variant::kConfig);
}

}  // namespace pelisto
