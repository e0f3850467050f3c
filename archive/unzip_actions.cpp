#include "archive/unzip_actions.h"

#include "archive/no_ui_unzip.h"
#include "archive/pl_unzip_dlg.h"
#include "download/starter_download.h"
#include "os/ui/messages.h"

namespace pelisto {
namespace {

void Log(RunContext& context, const std::string& text, unsigned level) {
  context.WriteLog(context.GetLogTime() + text, level);
}

}  // namespace

int UnZipWithoutDialog(RunContext& context, const std::string& path) {
  NoUIUnZip unzip(context);
  unzip.SetControl(&context);
  if (context.Settings().dlg_not_close) unzip.SetProgressSink(context.StatusSink());
  Log(context, " Start unzip file - " + path, 0);
  context.NotifyIsDownload(UNZIPPING, path);
  if (unzip.UnZip(path, context.Folders().system) == 1) {
    Log(context, " End unzip file - " + path, 0);
    return 1;
  }
  if (unzip.Cancelled()) {
    Log(context, "Canceled UnZipping " + path, 1);
  } else {
    Log(context, "Failed UnZip " + path + unzip.ErrorText(), 2);
  }
  return 0;
}

int UnZipWithDialog(RunContext& context, const std::string& path) {
  CPlUnzipDlg dialog(context, path, context.Folders().system);
  context.NotifyIsDownload(UNZIPPING, path);
  Log(context, " Start unzip file - " + path, 0);
  if (dialog.DoModal() == os::IDOK) {
    Log(context, " End unzip file - " + path, 0);
    return 1;
  }
  context.ShowMessage("Stop installation");
  Log(context, " User stop installation zip.", 1);
  return 0;
}

}  // namespace pelisto
