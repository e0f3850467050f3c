// The tty front end: draws the open dialogs as status lines and progress bars on standard
// error, redrawn in place, and asks at the terminal for message boxes and for the buttons of
// modal dialogs that wait for one. Texts are converted from the image code page to UTF-8.
//
// Thread-safe. Boxes are asked on the thread that shows them (the model keeps that thread
// serving sent messages meanwhile); dialog buttons are asked on a thread of the front end's
// own, which presses the chosen button for the user. When the terminal's input ends, every
// question gets its default answer (a box its default button, a dialog Esc).
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "os/ui/front_end.h"
#include "os/ui/terminal.h"

namespace os::ui {

// Display columns of UTF-8 text: Hangul and other wide characters take two.
int DisplayWidth(std::string_view utf8);
// The lines shown for a dialog (UTF-8, each at most `width` columns): a title line, then one
// line per row of visible controls (texts, "[ Button ]", progress bars with their percent).
std::vector<std::string> RenderDialog(const WindowSnapshot& snapshot, int width);
// A control or button text without its "&" mnemonic marks ("&&" stays one "&").
std::string WithoutMnemonic(std::string_view text);

class TtyFrontEnd : public FrontEnd {
 public:
  explicit TtyFrontEnd(std::unique_ptr<Terminal> terminal);
  ~TtyFrontEnd() override;

  int AnswerMessageBox(const MessageBoxRequest& box) override;
  bool AsksAPerson() const override { return true; }
  void OnEvent(const UiEvent& event) override;

 private:
  void RedrawLocked();
  void ForgetBlockLocked();
  void AskLoop();
  void AskForButton(HWND dialog);

  std::unique_ptr<Terminal> terminal_;
  std::mutex mu_;
  std::vector<std::string> drawn_;  // the block on screen, redrawn in place
  int asking_ = 0;                  // questions open: no redraw below them meanwhile
  std::deque<HWND> to_ask_;
  HWND asked_dialog_ = nullptr;
  std::atomic<bool> cancel_question_{false};
  std::condition_variable ask_cv_;
  bool stopping_ = false;
  std::thread ask_thread_;
};

}  // namespace os::ui
