// The headless front end: records every message box and every window change, and answers
// from a script (format in os/ui/headless_script.h). Used by the tests and, through
// os/ui/front_end_select.h, by end-to-end runs of the host program.
//
// Thread-safe. Answers never block: a box is answered at once; a button press is posted to
// the dialog's thread, which acts on it in its message loop.
#pragma once

#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/ui/front_end.h"
#include "os/ui/headless_script.h"

namespace os::ui {

struct BoxRecord {
  HWND owner = nullptr;
  std::string text;     // image code page
  std::string caption;  // image code page
  UINT type = 0;
  DWORD thread_id = 0;
  int answer = 0;
  int rule_line = 0;  // the script line that answered; 0 for the default button
};

class HeadlessFrontEnd : public FrontEnd {
 public:
  HeadlessFrontEnd();  // no rules: every box takes its default button
  explicit HeadlessFrontEnd(HeadlessScript script);
  ~HeadlessFrontEnd() override;

  // Parses `text` and makes a front end that runs it; null with `error` on a bad script.
  static std::shared_ptr<HeadlessFrontEnd> FromScript(std::string_view text, std::string* error);

  int AnswerMessageBox(const MessageBoxRequest& box) override;
  bool AllowDialog(const std::string& title, const std::string& class_name) override;
  void OnEvent(const UiEvent& event) override;

  // What happened so far, in order.
  std::vector<BoxRecord> Boxes() const;
  std::vector<UiEvent> Events() const;
  // Waits until some recorded event (past or future) satisfies `match`, at most `timeout_ms`.
  bool WaitForEvent(const std::function<bool(const UiEvent&)>& match, DWORD timeout_ms) const;

 private:
  void Record(const std::string& line);

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  HeadlessScript script_;
  std::vector<int> box_rule_hits_;   // boxes seen per box rule (for nth)
  std::vector<bool> box_rule_done_;
  std::vector<int> fail_rule_hits_;
  std::vector<bool> fail_rule_done_;
  std::vector<BoxRecord> boxes_;
  std::vector<UiEvent> events_;
  std::ofstream transcript_file_;
  bool transcript_stderr_ = false;
};

}  // namespace os::ui
