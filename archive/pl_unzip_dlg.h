// CPlUnzipDlg: "Pelisto Unzipper" (template 202), the dialog front end of zip extraction.
// All the work happens in its initialisation: it opens the archive, applies the target
// folder rule, shows itself, writes every member (the progress bar, control 204, stepped per
// member, the member's name drawn at (15, 30) of the client area), closes the archive and ends
// itself with IDOK on success or IDCANCEL on failure.
//
// Boxes: "Not a valid zip file" (the dialog then ends as cancelled) and
// "'" + path + "' Unable to unzip file" when a member fails.
//
// On the calling thread, modal. A failing broker folder creation (os::ComError) ends the
// dialog with IDCANCEL and is thrown again by DoModal once the dialog is gone.
#pragma once

#include <exception>
#include <string>

#include "archive/unzipper.h"
#include "control/run_context.h"
#include "os/ui/dialog_window.h"
#include "os/ui/gdi.h"

namespace pelisto {

class CPlUnzipDlg : public os::ui::DialogWindow {
 public:
  // `context` must outlive the dialog.
  CPlUnzipDlg(RunContext& context, const std::string& archive_path,
              const std::string& target_folder);

  // IDOK, IDCANCEL, or -1 when the dialog could not be created.
  os::INT_PTR DoModal();

 protected:
  os::BOOL OnInitDialog() override;

 private:
  bool ExtractMembers();
  void DrawMemberName(os::HBRUSH brush, os::HFONT font);

  bool strip_paths_ = false;
  CUnzipper unzipper_;
  std::string archive_path_;
  std::string target_folder_;
  int progress_id_;
  std::string member_name_;
  RunContext& context_;
  std::exception_ptr failure_;
};

}  // namespace pelisto
