#include "os/ui/front_end.h"

#include <mutex>

#include "os/ui/dialog.h"
#include "os/ui/message_box.h"

namespace os::ui {
namespace {

std::mutex& FrontEndMutex() {
  static auto* mu = new std::mutex;
  return *mu;
}
// Never destroyed: windows may still report to it while the process ends.
std::shared_ptr<FrontEnd>& FrontEndSlot() {
  static auto* slot = new std::shared_ptr<FrontEnd>(std::make_shared<NoneFrontEnd>());
  return *slot;
}

}  // namespace

std::shared_ptr<FrontEnd> CurrentFrontEnd() {
  std::lock_guard<std::mutex> lock(FrontEndMutex());
  return FrontEndSlot();
}

void SetFrontEnd(std::shared_ptr<FrontEnd> front_end) {
  if (!front_end) front_end = std::make_shared<NoneFrontEnd>();
  std::shared_ptr<FrontEnd> old;
  {
    std::lock_guard<std::mutex> lock(FrontEndMutex());
    old = std::move(FrontEndSlot());
    FrontEndSlot() = std::move(front_end);
  }
  // `old` is released here, outside the lock: its destructor may join threads of its own.
}

int NoneFrontEnd::AnswerMessageBox(const MessageBoxRequest& box) {
  return MessageBoxDefaultAnswer(box.type);
}

void NoneFrontEnd::OnEvent(const UiEvent& event) {
  if (event.kind == UiEventKind::kDialogReady && event.value == 1 && event.snapshot &&
      WaitsForAButton(*event.snapshot)) {
    PressDefaultAnswer(event.hwnd);
  }
}

bool WaitsForAButton(const WindowSnapshot& snapshot) {
  for (const ControlSnapshot& c : snapshot.controls) {
    if ((c.kind == ControlKind::kButton || c.kind == ControlKind::kDefaultButton) && c.visible && c.enabled) {
      return true;
    }
  }
  return false;
}

}  // namespace os::ui
