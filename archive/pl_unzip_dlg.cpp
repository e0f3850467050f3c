#include "archive/pl_unzip_dlg.h"

#include "archive/target_folder.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/ui/gdi.h"
#include "os/ui/messages.h"
#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

// Where the member's name is drawn, in client pixels.
constexpr os::RECT kNameArea{15, 30, 450, 50};
constexpr int kFontHeight = -13;  // 10 points at 96 dots per inch

}  // namespace

CPlUnzipDlg::CPlUnzipDlg(RunContext& context, const std::string& archive_path,
                         const std::string& target_folder)
    : unzipper_(context),
      archive_path_(archive_path),
      target_folder_(target_folder),
      progress_id_(res::kUnzipProgress),
      context_(context) {}

os::INT_PTR CPlUnzipDlg::DoModal() {
  os::DialogTemplate tmpl;
  if (!LoadDialogTemplate(res::kUnzipDialog, &tmpl)) return -1;
  const os::INT_PTR result = DialogWindow::DoModal(tmpl);
  if (failure_) std::rethrow_exception(failure_);
  return result;
}

os::BOOL CPlUnzipDlg::OnInitDialog() {
  if (!unzipper_.OpenZip(archive_path_)) {
    context_.ShowMessage("Not a valid zip file");
    // Ended as the user's closing it would end it: a window without buttons left open would
    // wait forever where nobody watches the screen.
    EndDialog(os::IDCANCEL);
    return os::TRUE;
  }
  unzipper_.SetOutputFolder(ApplyTargetFolderRule(unzipper_.OutputFolder(), target_folder_));
  CenterWindow();
  os::ShowWindow(hwnd(), os::SW_SHOW);
  bool ok = false;
  try {
    ok = ExtractMembers();
  } catch (const os::ComError&) {
    // Thrown again from DoModal, once the window is gone.
    failure_ = std::current_exception();
  }
  if (!ok && !failure_) context_.ShowMessage("'" + archive_path_ + "' Unable to unzip file");
  unzipper_.CloseZip();
  EndDialog(ok ? os::IDOK : os::IDCANCEL);
  return os::TRUE;
}

bool CPlUnzipDlg::ExtractMembers() {
  const int count = unzipper_.GetFileCount();
  SendDlgItemMessage(progress_id_, os::PBM_SETRANGE32, 0, count);
  SendDlgItemMessage(progress_id_, os::PBM_SETSTEP, 1, 0);
  const std::string folder = unzipper_.OutputFolder();
  if (!unzipper_.CreateFolder(folder)) return false;
  if (count == 0 || !unzipper_.GotoFirstFile()) return false;

  os::HBRUSH brush = os::CreateSolidBrush(os::GetSysColor(os::COLOR_BTNFACE));
  os::HFONT font = os::CreateFontA(kFontHeight, 0, 0, 0, os::FW_NORMAL, 0, 0, 0, os::HANGUL_CHARSET,
                                   0, 0, 0, 0, os::Utf8ToAnsi("굴림"));
  bool ok = true;
  do {
    UnzipFileInfo info;
    unzipper_.GetFileInfo(&info);
    member_name_ = info.name;
    if (!unzipper_.UnzipFile(folder, strip_paths_)) {
      ok = false;
      break;
    }
    DrawMemberName(brush, font);
    SendDlgItemMessage(progress_id_, os::PBM_STEPIT, 0, 0);
  } while (unzipper_.GotoNextFile());
  os::DeleteObject(font);
  os::DeleteObject(brush);
  return ok;
}

void CPlUnzipDlg::DrawMemberName(os::HBRUSH brush, os::HFONT font) {
  os::HDC dc = os::GetDC(hwnd());
  if (dc == nullptr) return;
  os::FillRect(dc, &kNameArea, brush);
  os::SetBkColor(dc, os::GetSysColor(os::COLOR_BTNFACE));
  os::HGDIOBJ previous = os::SelectObject(dc, font);
  os::TextOutA(dc, kNameArea.left, kNameArea.top, member_name_, static_cast<int>(member_name_.size()));
  if (previous != nullptr) os::SelectObject(dc, previous);
  os::ReleaseDC(hwnd(), dc);
}

}  // namespace pelisto
