#include "archive/no_ui_unzip.h"

#include "archive/target_folder.h"
#include "download/starter_download.h"

namespace pelisto {

NoUIUnZip::NoUIUnZip(RunContext& context) : unzipper_(context), context_(context) {}

NoUIUnZip::~NoUIUnZip() = default;

int NoUIUnZip::UnZip(const std::string& path, const std::string& target_folder) {
  if (!unzipper_.OpenZip(path)) {
    error_ = "Not a valid zip file";
    return 0;
  }
  unzipper_.SetOutputFolder(ApplyTargetFolderRule(unzipper_.OutputFolder(), target_folder));
  if (!unzipper_.IsOpen()) {
    error_ = "Not Valid Zip";
    return 0;
  }
  if (unzipper_.GetFileCount() == 0) {
    error_ = "No Have File";
    unzipper_.CloseZip();
    return 0;
  }
  if (!unzipper_.CreateFolder(unzipper_.OutputFolder())) {
    error_ = "Failed Create Directory";
    unzipper_.CloseZip();
    return 0;
  }
  const int result = ExtractAll();
  unzipper_.CloseZip();
  return result;
}

int NoUIUnZip::ExtractAll() {
  const os::LONG count = unzipper_.GetFileCount();
  if (control_ != nullptr) control_->FireUnZipFileNumber(count);
  if (sink_ != nullptr) sink_->UnZipFileNumber(count);
  if (!unzipper_.GotoFirstFile()) {
    error_ = "Failed Move First File";
    return 0;
  }
  do {
    UnzipFileInfo info;
    unzipper_.GetFileInfo(&info);
    AnnounceMember(info);
    // The member named in a cancelled UnZipping event is still written.
    if (!unzipper_.UnzipFile(unzipper_.OutputFolder(), strip_paths_)) {
      error_ = "Failed UnZip :" + info.name;
      return 0;
    }
  } while (!cancelled_ && unzipper_.GotoNextFile());
  return cancelled_ ? 0 : 1;
}

void NoUIUnZip::AnnounceMember(const UnzipFileInfo& info) {
  if (control_ == nullptr && sink_ == nullptr) return;
  const std::string name = unzipper_.OutputFolder() + info.name;
  os::LONG page = 0;
  os::LONG dialog = 0;
  if (control_ != nullptr) page = control_->FireUnZipping(name);
  if (sink_ != nullptr) sink_->UnZipping(name, &dialog);
  if ((page | dialog) == 1) {
    context_.WriteLog(context_.GetLogTime() + " UnZipping User Cancel..", 1);
    cancelled_ = true;
  }
}

}  // namespace pelisto
