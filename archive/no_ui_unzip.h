// NoUIUnZip: the silent zip extraction. No window of its own; it reports to the page through
// the control's UnZipFileNumber and UnZipping events and to the status dialog (the progress
// sink) when one is given.
//
// On the control's thread. Not copyable.
#pragma once

#include <string>

#include "archive/unzipper.h"
#include "control/run_context.h"

namespace pelisto {

class NoUIUnZip {
 public:
  // `context` gives the privileged steps and the log to the extractor; it must outlive the
  // object. The page's events are fired only once SetControl has been called.
  explicit NoUIUnZip(RunContext& context);
  virtual ~NoUIUnZip();
  NoUIUnZip(const NoUIUnZip&) = delete;
  NoUIUnZip& operator=(const NoUIUnZip&) = delete;

  // The control that fires the page's events (null: none) and the status dialog
  // (null: none).
  void SetControl(RunContext* control) { control_ = control; }
  void SetProgressSink(IStarterDownload* sink) { sink_ = sink; }

  // Opens `path`, applies the target folder rule with `target_folder` (archive/target_folder.h),
  // makes the output folder and runs ExtractAll, then closes the archive. 1 on success, 0
  // otherwise with the reason in ErrorText(): "Not a valid zip file", "Not Valid Zip",
  // "No Have File" (before any event), "Failed Create Directory", or ExtractAll's text.
  // Throws os::ComError when the broker's folder creation fails (Windows 6).
  int UnZip(const std::string& path, const std::string& target_folder);
  // The member loop over the open archive: UnZipFileNumber with the count, then for each
  // member UnZipping with the output folder + member name (the page's and the dialog's cancel
  // words OR-ed: exactly 1 cancels after that member is still written, logging
  // " UnZipping User Cancel.." [1]). 1 when every member was done and nothing cancelled; 0
  // on a cancel, or with "Failed Move First File" / "Failed UnZip :" + member name.
  int ExtractAll();

  const std::string& ErrorText() const { return error_; }
  bool Cancelled() const { return cancelled_; }
  CUnzipper& unzipper() { return unzipper_; }

 private:
  void AnnounceMember(const UnzipFileInfo& info);

  std::string error_;
  bool strip_paths_ = false;  // members keep their stored folders
  CUnzipper unzipper_;
  RunContext& context_;
  RunContext* control_ = nullptr;
  IStarterDownload* sink_ = nullptr;
  bool cancelled_ = false;
};

}  // namespace pelisto
