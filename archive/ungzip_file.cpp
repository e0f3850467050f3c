#include "archive/ungzip_file.h"

#include "actions/registration.h"
#include "archive/gunzip.h"
#include "archive/ungzip_dlg.h"
#include "os/base/text.h"
#include "os/fs/file_api.h"
#include "os/ui/message_box.h"

namespace pelisto {
namespace {

constexpr char kBoxCaption[] = "Pelisto";

// The broker's failures are shown whatever selfUi says.
void ShowBrokerFailure(const char* utf8_text) {
  os::MessageBoxA(nullptr, os::Utf8ToAnsi(utf8_text), kBoxCaption, os::MB_OK);
}

// A new empty "tmp" file in the per-user data folder; empty when it cannot be made.
std::string NewWorkFile(RunContext& context) {
  std::string work;
  if (os::GetTempFileNameA(context.ProtectedMode().writable_folder, "tmp", 0, &work) == 0) return {};
  return work;
}

// Puts the finished work file over `output` through the broker in one move; only a work file
// that did not move is left to delete. True when it is in place.
bool PlaceWorkFile(RunContext& context, const std::string& work, const std::string& output) {
  PrivilegedOps& privileged = context.Privileged();
  if (privileged.MoveFileReplacing(work, output) == 1) return true;
  ShowBrokerFailure("파일을 복사하지 못했습니다.");
  if (privileged.DeleteFile(work) != 1) ShowBrokerFailure("파일을 삭제하지 못했습니다.");
  return false;
}

// The decompression without the dialog: in place, or on Windows 6 through a work file.
int GunzipWithoutDialog(RunContext& context, const std::string& gzip_path, const std::string& output) {
  if (!context.Privileged().Brokered()) return GunzipFile(gzip_path, output);
  const std::string work = NewWorkFile(context);
  if (work.empty()) return kGunzipOpenFailed;
  const int result = GunzipFile(gzip_path, work);
  if (result != kGunzipOk) {
    context.Privileged().DeleteFile(work);
    return result;
  }
  return PlaceWorkFile(context, work, output) ? kGunzipOk : kGunzipOpenFailed;
}

void GunzipInDialog(RunContext& context, const std::string& gzip_path, const std::string& output) {
  const bool brokered = context.Privileged().Brokered();
  const std::string destination = brokered ? NewWorkFile(context) : output;
  CUnGZipDlg dialog(gzip_path, destination);
  if (dialog.DoModal() != os::IDOK) {
    if (brokered && !destination.empty()) context.Privileged().DeleteFile(destination);
    context.ShowMessage("Stop installation");
    context.WriteLog(context.GetLogTime() + " Failed stop installation Gzip.", 2);
    throw RunError("Failed stop installation Gzip.");
  }
  if (brokered && !PlaceWorkFile(context, destination, output)) throw RunError("Failed Un GZip");
}

}  // namespace

void UnGZipFile(RunContext& context, const std::string& gzip_path, const std::string& default_name,
                bool register_component, bool dialog) {
  if (!IsGzipFile(gzip_path)) {
    context.ShowMessage("Invalid Gzip File : " + gzip_path);
    throw RunError("Invalid Gzip File Format");
  }
  const std::string name = GzipOutputFileName(GetGzipStoredName(gzip_path), default_name);
  if (name.empty()) throw RunError("Failed Un GZip");
  const std::string output = GzipOutputPath(gzip_path, name);

  if (dialog) {
    GunzipInDialog(context, gzip_path, output);
  } else {
    context.FireUnZipFileNumber(1);
    if (context.FireUnZipping(output) == 1) throw RunError("Caceled UnGZipping");
    const int result = GunzipWithoutDialog(context, gzip_path, output);
    context.FireEndUnZip(result == kGunzipOk ? 1 : 0);
    if (result != kGunzipOk) throw RunError("Failed Un GZip");
  }
  if (register_component) RegisterComponent(context, output);
}

}  // namespace pelisto
