// The headless front end: records every message box and every window change, and answers
// from a script (format in os/ui/headless_script.h). Used by the tests and, through
// os/ui/front_end_select.h, by end-to-end runs of the host program.
//
// Thread-safe. Answers never block: a box is answered at once; a button press is posted to
// the dialog's thread, which acts on it in its message loop. A modal dialog that waits for a
// button and that no rule answers gets its default answer (os::ui::PressDefaultAnswer), at
// once or after the script's time limit (see os/ui/headless_script.h), so a script that never
// answers cannot hang a run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
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

  // Parses `text` and makes a front end that runs it; null with `error` on a bad script or a
  // transcript file that cannot be written.
  static std::shared_ptr<HeadlessFrontEnd> FromScript(std::string_view text, std::string* error);

  int AnswerMessageBox(const MessageBoxRequest& box) override;
  bool AllowDialog(const std::string& title, const std::string& class_name) override;
  void OnEvent(const UiEvent& event) override;

  // What happened so far, in order.
  std::vector<BoxRecord> Boxes() const;
  std::vector<UiEvent> Events() const;
  // Waits until some recorded event (past or future) satisfies `match`, at most `timeout_ms`.
  bool WaitForEvent(const std::function<bool(const UiEvent&)>& match, DWORD timeout_ms) const;
  // The dialog as it was when it became ready (the last one titled `title`); null if none.
  std::shared_ptr<const WindowSnapshot> SnapshotAtReady(std::string_view title) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct DialogState {
    std::string title;          // at creation (rules match it or the current title)
    std::string current_title;
    int appearance = 0;  // among dialogs of that title, from 1
    bool ready = false;
    bool modal = false;
    bool waits = false;     // waits for a button
    bool answered = false;  // a press or the default answer was posted
    bool ended = false;
    std::set<size_t> fired;  // press rules that pressed on this dialog
    std::map<int, std::pair<int, int>> ranges;  // progress bars' ranges by control id
  };
  struct Action {
    HWND dialog = nullptr;
    int button = 0;  // kPressEscape for Esc
    int rule_line = 0;
  };

  void Record(const std::string& line);
  void RecordEventLocked(const UiEvent& event);
  // With mu_ held: the first press rule that applies to `dialog` now, given the position of
  // progress bar `control` (0: none known, look at the snapshot).
  bool ChooseRuleLocked(HWND dialog, DialogState& state, const WindowSnapshot* snapshot, int control,
                        int position, Action* action);
  bool RuleCouldStillApplyLocked(const DialogState& state) const;
  void Perform(const Action& action);
  void DeadlineLoop();

  std::map<HWND, DialogState> dialogs_;
  std::map<std::string, int> appearances_;
  std::vector<bool> press_rule_done_;
  std::multimap<Clock::time_point, HWND> deadlines_;
  std::condition_variable deadline_cv_;
  std::thread deadline_thread_;
  bool stopping_ = false;

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
