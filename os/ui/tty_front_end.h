// The tty front end: draws the open dialogs as status lines and progress bars on standard
// error, redrawn in place, and asks at the terminal for message boxes and for the buttons of
// modal dialogs that wait for one. Texts are converted from the image code page to UTF-8.
//
// A dialog is headed by the caption it had when it became ready (a caption it takes later,
// such as a percent, shows as the line below). Changes of texts and bars are drawn at most
// every kRedrawIntervalMs; a dialog that appears or goes is drawn at once. A dialog that
// ends leaves one line behind it, above the dialogs still open: its heading and its last
// texts and bar.
//
// Thread-safe. Boxes are asked on the thread that shows them (the model keeps that thread
// serving sent messages meanwhile); dialog buttons are asked on a thread of the front end's
// own, which presses the chosen button for the user. When the terminal's input ends, every
// question gets its default answer (a box its default button, a dialog Esc).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
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
// The one line a dialog leaves when it ends (UTF-8, at most `width` columns): `heading`
// (UTF-8), then the caption when it differs, the rows of its visible texts and its bars'
// percents, separated by " | "; no buttons.
std::string FinalLine(const WindowSnapshot& snapshot, const std::string& heading, int width);

inline constexpr int kRedrawIntervalMs = 250;

class TtyFrontEnd : public FrontEnd {
 public:
  explicit TtyFrontEnd(std::unique_ptr<Terminal> terminal);
  ~TtyFrontEnd() override;

  int AnswerMessageBox(const MessageBoxRequest& box) override;
  bool AsksAPerson() const override { return true; }
  void OnEvent(const UiEvent& event) override;

 private:
  // Draws now: the final lines waiting, then the open dialogs in place.
  void RedrawLocked();
  void ForgetBlockLocked();
  void AskLoop();
  void AskForButton(HWND dialog);
  void PaintLoop();
  // The dialog `hwnd` ended: its final line waits for the next redraw.
  void FinishLocked(HWND hwnd, const WindowSnapshot* fresh);

  struct Shown {
    std::string heading;  // UTF-8
    WindowSnapshot last;  // as last drawn
    bool drawn = false;
  };

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

  std::map<HWND, Shown> shown_;          // dialogs seen ready and not yet ended
  std::vector<std::string> finals_;      // final lines not yet written
  std::chrono::steady_clock::time_point last_draw_{};
  bool dirty_ = false;                   // a change waits for its redraw
  std::condition_variable paint_cv_;
  std::thread paint_thread_;
};

}  // namespace os::ui
