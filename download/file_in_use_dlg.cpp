#include "download/file_in_use_dlg.h"

#include <mutex>

#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

struct ButtonLists {
  std::mutex mu;
  std::string disable;
  std::string hidden;
};

// Created on first use and kept for the life of the process.
ButtonLists& Lists() {
  static auto* lists = new ButtonLists;
  return *lists;
}

struct ButtonWord {
  const char* word;
  int id;
};
constexpr ButtonWord kWords[] = {{"skip", res::kFileInUseSkip}, {"retry", os::IDOK}, {"stop", os::IDCANCEL}};

}  // namespace

void CFileInUseDlg::SetButtonLists(const std::string& disable, const std::string& hidden) {
  ButtonLists& lists = Lists();
  std::lock_guard<std::mutex> lock(lists.mu);
  lists.disable = disable;
  lists.hidden = hidden;
}

os::INT_PTR CFileInUseDlg::DoModal() {
  os::DialogTemplate tmpl;
  if (!LoadDialogTemplate(res::kFileInUseDialog, &tmpl)) return -1;
  return DialogWindow::DoModal(tmpl);
}

os::BOOL CFileInUseDlg::OnInitDialog() {
  SetDlgItemText(res::kFileInUseFile, file_);
  if (show_skip_ == 0) ShowItem(res::kFileInUseSkip, false);
  std::string disable, hidden;
  {
    ButtonLists& lists = Lists();
    std::lock_guard<std::mutex> lock(lists.mu);
    disable = lists.disable;
    hidden = lists.hidden;
  }
  for (const ButtonWord& b : kWords) {
    if (!disable.empty() && disable.find(b.word) != std::string::npos) EnableItem(b.id, false);
  }
  for (const ButtonWord& b : kWords) {
    if (!hidden.empty() && hidden.find(b.word) != std::string::npos) ShowItem(b.id, false);
  }
  // The lists must not leave the user without a way out of a modal prompt: with no button
  // to press and Stop disabled, neither Esc nor closing the window would end it. Stop then
  // stays enabled (hidden or not), so Esc and closing still stop the installation.
  bool pressable = false;
  for (const ButtonWord& b : kWords) {
    os::HWND item = GetDlgItem(b.id);
    pressable = pressable || (item != nullptr && os::IsWindowEnabled(item) &&
                              (os::GetWindowLongPtrA(item, os::GWL_STYLE) & os::WS_VISIBLE) != 0);
  }
  if (!pressable) EnableItem(os::IDCANCEL, true);
  os::SetForegroundWindow(hwnd());
  return os::TRUE;
}

bool CFileInUseDlg::OnCommand(int id, int code, os::HWND control) {
  if (id == res::kFileInUseSkip) {
    EndDialog(kSkip);
    return true;
  }
  return DialogWindow::OnCommand(id, code, control);
}

}  // namespace pelisto
