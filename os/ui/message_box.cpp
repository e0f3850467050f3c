#include "os/ui/message_box.h"

#include <algorithm>

#include "os/base/error.h"
#include "os/ui/front_end.h"
#include "os/ui/model.h"
#include "os/ui/thread_id.h"

namespace os {

std::vector<int> MessageBoxButtons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {};
  }
}

int MessageBoxDefaultAnswer(UINT type) {
  std::vector<int> buttons = MessageBoxButtons(type);
  if (buttons.empty()) return 0;
  size_t index = (type & MB_DEFMASK) >> 8;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

std::string MessageBoxButtonName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDTRYAGAIN: return "Try Again";
    case IDCONTINUE: return "Continue";
    default: return "";
  }
}

int MessageBoxA(HWND hwnd, const std::string& text, const std::string& caption, UINT type) {
  std::vector<int> buttons = MessageBoxButtons(type);
  if (buttons.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ui::MessageBoxRequest box{hwnd, text, caption, type, GetCurrentThreadId()};
  std::shared_ptr<ui::FrontEnd> front_end = ui::CurrentFrontEnd();
  int answer = front_end->AsksAPerson()
                   ? ui::internal::WaitServingSentMessages([&] { return front_end->AnswerMessageBox(box); })
                   : front_end->AnswerMessageBox(box);
  if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end()) {
    answer = MessageBoxDefaultAnswer(type);
  }
  return answer;
}

}  // namespace os
