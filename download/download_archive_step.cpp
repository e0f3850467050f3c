#include "download/download_archive_step.h"

#include "archive/target_folder.h"
#include "archive/unzipper.h"
#include "control/run_context.h"
#include "download/beside_target.h"
#include "download/http_request_sequence.h"
#include "engine/protected_mode_folders.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "os/shell/folders.h"
#include "os/ui/message_box.h"

namespace pelisto {
namespace {

// The control's own folder below LocalAppDataLow.
constexpr char kOwnFolder[] = "\\Veltrane";

}  // namespace

DownloadArchiveStep::DownloadArchiveStep(RunContext& context, std::string work_path, std::string target_path,
                                         bool work_is_temporary, View& view, const std::atomic<os::LONG>& abort)
    : context_(context),
      work_path_(std::move(work_path)),
      target_path_(std::move(target_path)),
      work_is_temporary_(work_is_temporary),
      view_(view),
      abort_(abort) {}

void DownloadArchiveStep::Box(const std::string& text) {
  os::MessageBoxA(nullptr, text, kApplicationName, os::MB_OK);
}

DownloadArchiveStep::Outcome DownloadArchiveStep::Run() {
  PrivilegedOps& privileged = context_.Privileged();
  const size_t slash = target_path_.rfind('\\');
  // The target's folder with its "\", where the members go.
  const std::string folder = slash == std::string::npos ? std::string() : target_path_.substr(0, slash + 1);
  std::string archive = work_path_;
  if (privileged.Brokered()) {
    std::string low;
    if (os::FAILED(LookupKnownFolderPath(os::FOLDERID_LocalAppDataLow, 0, nullptr, &low))) {
      Box("Failed to Get Known Folder");
      return Outcome::kFailed;
    }
    const std::string own = low + kOwnFolder;
    privileged.CreateDirectory(own);
    // Only a name: a "/" in it would lead the copy out of the control's folder.
    const size_t name_at = target_path_.find_last_of("\\/");
    archive = own + "\\" + target_path_.substr(name_at == std::string::npos ? 0 : name_at + 1);
    if (!privileged.CopyFile(work_path_, archive, os::FALSE)) {
      Box("Failed to Copy File " + archive);
      return Outcome::kFailed;
    }
  } else if (work_path_ != target_path_) {
    // The whole archive takes its own name before it is unpacked, so its members' messages
    // name it.
    if (!PlaceOverTarget(work_path_, target_path_)) {
      Box("Failed to Copy File " + target_path_);
      return Outcome::kFailed;
    }
    placed_ = true;
    archive = target_path_;
  }
  const bool unpacked = Unpack(archive, folder);
  if (!unpacked || aborted_) {
    // An archive placed only to be unpacked is no download once that did not finish.
    if (placed_) privileged.DeleteFile(target_path_);
    return unpacked ? Outcome::kAborted : Outcome::kFailed;
  }
  if (privileged.Brokered() && work_is_temporary_) {
    // Moved rather than copied: no work file is left to delete.
    if (!privileged.MoveFileReplacing(work_path_, target_path_)) {
      Box("Failed to Copy File " + target_path_);
      return Outcome::kFailed;
    }
    placed_ = true;
  }
  return Outcome::kDone;
}

bool DownloadArchiveStep::Unpack(const std::string& archive, const std::string& folder) {
  CUnzipper unzipper(context_);
  if (!unzipper.OpenZip(archive)) {
    Box("Not a valid zip file");
    return false;
  }
  unzipper.SetOutputFolder(CutBeforePatch(folder));
  view_.ShowUnzipping();
  int written = 0;
  for (bool more = unzipper.GotoFirstFile(); more; more = unzipper.GotoNextFile()) {
    if (abort_.load() == 1) {
      aborted_ = true;
      break;
    }
    UnzipFileInfo info;
    unzipper.GetFileInfo(&info);
    bool ok = false;
    try {
      ok = unzipper.UnzipFile();
    } catch (const os::ComError&) {
      ok = false;  // the broker could not make a member's folder
    }
    if (!ok) {
      unzipper.CloseZip();
      Box("'" + archive + "' Unable to unzip file");
      return false;
    }
    view_.ShowMember(written++, info.name);
  }
  unzipper.CloseZip();
  return true;
}

}  // namespace pelisto
