#include "os/ui/headless_front_end.h"

#include <chrono>
#include <cstdio>
#include <tuple>

#include "os/base/text.h"
#include "os/ui/dialog.h"
#include "os/ui/message_box.h"

namespace os::ui {
namespace {

// A text as a quoted UTF-8 token of the transcript, control characters escaped.
std::string Quote(const std::string& ansi) {
  std::string out = "\"";
  for (char c : AnsiToUtf8(ansi)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\a': out += "\\a"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

// How far `pos` has come from `lo` to `hi`, in whole percent (0 for an empty range).
int PercentOf(long long pos, long long lo, long long hi) {
  if (hi <= lo) return 0;
  long long percent = (pos - lo) * 100 / (hi - lo);
  return static_cast<int>(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

std::string Hex(UINT v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

}  // namespace

HeadlessFrontEnd::HeadlessFrontEnd() : HeadlessFrontEnd(HeadlessScript{}) {}

HeadlessFrontEnd::HeadlessFrontEnd(HeadlessScript script) : script_(std::move(script)) {
  press_rule_done_.assign(script_.presses.size(), false);
  box_rule_hits_.assign(script_.boxes.size(), 0);
  box_rule_done_.assign(script_.boxes.size(), false);
  fail_rule_hits_.assign(script_.fails.size(), 0);
  fail_rule_done_.assign(script_.fails.size(), false);
  if (script_.transcript == "-") {
    transcript_stderr_ = true;
  } else if (!script_.transcript.empty()) {
    transcript_file_.open(script_.transcript, std::ios::out | std::ios::trunc | std::ios::binary);
  }
}

HeadlessFrontEnd::~HeadlessFrontEnd() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  deadline_cv_.notify_all();
  if (deadline_thread_.joinable()) deadline_thread_.join();
}

std::shared_ptr<HeadlessFrontEnd> HeadlessFrontEnd::FromScript(std::string_view text, std::string* error) {
  HeadlessScript script;
  if (!ParseHeadlessScript(text, &script, error)) return nullptr;
  auto front_end = std::make_shared<HeadlessFrontEnd>(std::move(script));
  const std::string& transcript = front_end->script_.transcript;
  if (!transcript.empty() && transcript != "-" && !front_end->transcript_file_.is_open()) {
    *error = "transcript \"" + transcript + "\" cannot be written";
    return nullptr;
  }
  return front_end;
}

void HeadlessFrontEnd::Record(const std::string& line) {
  // Called with mu_ held, so lines keep the order of the records.
  if (transcript_stderr_) {
    std::fprintf(stderr, "ui: %s\n", line.c_str());
  } else if (transcript_file_.is_open()) {
    transcript_file_ << line << '\n';
    transcript_file_.flush();
  }
}

int HeadlessFrontEnd::AnswerMessageBox(const MessageBoxRequest& box) {
  std::lock_guard<std::mutex> lock(mu_);
  BoxRecord rec{box.owner, box.text, box.caption, box.type, box.thread_id, 0, 0};
  std::vector<int> buttons = MessageBoxButtons(box.type);
  // Every rule whose filters pass counts the box, whether or not it is the one that answers.
  int chosen = -1;
  for (size_t i = 0; i < script_.boxes.size(); ++i) {
    const BoxRule& rule = script_.boxes[i];
    if (rule.has_text && box.text.find(rule.text) == std::string::npos) continue;
    if (rule.has_caption && box.caption != rule.caption) continue;
    int hit = ++box_rule_hits_[i];
    if (chosen < 0 && !box_rule_done_[i] && (rule.nth == 0 || hit == rule.nth)) chosen = static_cast<int>(i);
  }
  if (chosen >= 0) {
    const BoxRule& rule = script_.boxes[chosen];
    if (!rule.repeat) box_rule_done_[chosen] = true;
    int answer = rule.answer == 0 ? MessageBoxDefaultAnswer(box.type) : rule.answer;
    for (int b : buttons) {
      if (b == answer) {
        rec.answer = answer;
        rec.rule_line = rule.line;
      }
    }
  }
  if (rec.answer == 0) rec.answer = MessageBoxDefaultAnswer(box.type);
  boxes_.push_back(rec);
  Record("box " + Quote(rec.caption) + " " + Quote(rec.text) + " " + Hex(rec.type) + " -> " +
         std::to_string(rec.answer) + (rec.rule_line ? " (line " + std::to_string(rec.rule_line) + ")" : ""));
  changed_.notify_all();
  return rec.answer;
}

bool HeadlessFrontEnd::AllowDialog(const std::string& title, const std::string& class_name) {
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < script_.fails.size(); ++i) {
    const FailRule& rule = script_.fails[i];
    if (fail_rule_done_[i] || rule.title != title) continue;
    int hit = ++fail_rule_hits_[i];
    if (rule.nth != 0 && hit != rule.nth) continue;
    fail_rule_done_[i] = true;
    Record("fail " + Quote(title) + " " + Quote(class_name) + " (line " + std::to_string(rule.line) + ")");
    return false;
  }
  return true;
}

void HeadlessFrontEnd::RecordEventLocked(const UiEvent& e) {
  if (!transcript_stderr_ && !transcript_file_.is_open()) return;
  std::string where = Quote(e.title) + " " + std::to_string(e.control_id);
  switch (e.kind) {
    case UiEventKind::kCreated: Record("created " + where + " " + Quote(e.class_name)); break;
    case UiEventKind::kShown: Record("shown " + where); break;
    case UiEventKind::kHidden: Record("hidden " + where); break;
    case UiEventKind::kTextChanged: Record("text " + where + " " + Quote(e.text)); break;
    case UiEventKind::kEnabled: Record("enabled " + where); break;
    case UiEventKind::kDisabled: Record("disabled " + where); break;
    case UiEventKind::kProgressRange:
      Record("range " + where + " " + std::to_string(e.value) + " " + std::to_string(e.value2));
      break;
    case UiEventKind::kProgressPos: Record("position " + where + " " + std::to_string(e.value)); break;
    case UiEventKind::kAnimation:
      Record("animation " + where + " " + std::to_string(e.value) + " " + std::to_string(e.value2));
      break;
    case UiEventKind::kDialogReady: Record("ready " + where + (e.value ? " modal" : " modeless")); break;
    case UiEventKind::kDialogEnded: Record("ended " + where + " " + std::to_string(e.value)); break;
    case UiEventKind::kDestroyed: Record("destroyed " + where); break;
    case UiEventKind::kForeground: Record("foreground " + where); break;
    case UiEventKind::kPainted:
      Record("painted " + where + " " + std::to_string(e.value) + " " + std::to_string(e.value2) + " " + Quote(e.text));
      break;
    case UiEventKind::kErased: Record("erased " + where + " " + std::to_string(e.value)); break;
    case UiEventKind::kCursorChanged: Record("cursor " + Quote(e.text)); break;
    case UiEventKind::kButtonPressed:
      Record("pressed " + Quote(e.title) + " " + (e.text == "esc" ? std::string("esc") : std::to_string(e.control_id)) +
             (e.value ? " taken" : " refused"));
      break;
  }
}

bool HeadlessFrontEnd::ChooseRuleLocked(HWND dialog, DialogState& state, const WindowSnapshot* snapshot,
                                        int control, int position, Action* action) {
  for (size_t i = 0; i < script_.presses.size(); ++i) {
    const PressRule& rule = script_.presses[i];
    if (press_rule_done_[i] || state.fired.count(i) != 0) continue;
    if (rule.title != state.title && rule.title != state.current_title) continue;
    if (rule.appear != 0 && rule.appear != state.appearance) continue;
    if (rule.has_progress) {
      int pos = 0, lo = 0, hi = 100;  // a new bar's range
      if (control != 0 && control == rule.progress_control) {
        pos = position;
        auto range = state.ranges.find(control);
        if (range != state.ranges.end()) std::tie(lo, hi) = range->second;
      } else if (const ControlSnapshot* c = snapshot ? snapshot->Control(rule.progress_control) : nullptr) {
        if (c->kind != ControlKind::kProgress) continue;
        pos = c->position;
        lo = c->range_min;
        hi = c->range_max;
      } else {
        continue;
      }
      const int reached = rule.progress_is_percent ? PercentOf(pos, lo, hi) : pos;
      if (reached < rule.progress_position) continue;
    }
    state.fired.insert(i);
    if (!rule.repeat) press_rule_done_[i] = true;
    *action = Action{dialog, rule.button, rule.line};
    return true;
  }
  return false;
}

bool HeadlessFrontEnd::RuleCouldStillApplyLocked(const DialogState& state) const {
  for (size_t i = 0; i < script_.presses.size(); ++i) {
    const PressRule& rule = script_.presses[i];
    if (press_rule_done_[i] || state.fired.count(i) != 0) continue;
    if (rule.title != state.title && rule.title != state.current_title) continue;
    if (rule.appear == 0 || rule.appear == state.appearance) return true;
  }
  return false;
}

void HeadlessFrontEnd::OnEvent(const UiEvent& event) {
  std::vector<Action> actions;
  {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(event);
    RecordEventLocked(event);
    bool top = event.hwnd == event.top && event.control_id == 0;
    switch (event.kind) {
      case UiEventKind::kCreated:
        if (top) {
          DialogState& st = dialogs_[event.hwnd];
          st.title = st.current_title = event.title;
          st.appearance = ++appearances_[event.title];
        }
        break;
      case UiEventKind::kTextChanged:
        if (top && dialogs_.count(event.hwnd) != 0) dialogs_[event.hwnd].current_title = event.text;
        break;
      case UiEventKind::kDialogReady: {
        auto it = dialogs_.find(event.hwnd);
        if (it == dialogs_.end()) break;
        DialogState& st = it->second;
        st.ready = true;
        st.modal = event.value != 0;
        st.waits = event.snapshot && WaitsForAButton(*event.snapshot);
        Action a;
        if (ChooseRuleLocked(event.hwnd, st, event.snapshot.get(), 0, 0, &a)) {
          actions.push_back(a);
        } else if (st.modal && st.waits) {
          if (RuleCouldStillApplyLocked(st)) {
            deadlines_.emplace(Clock::now() + std::chrono::milliseconds(script_.timeout_ms), event.hwnd);
            if (!deadline_thread_.joinable()) deadline_thread_ = std::thread([this] { DeadlineLoop(); });
            deadline_cv_.notify_all();
          } else {
            actions.push_back(Action{event.hwnd, kPressEscape, 0});
          }
        }
        break;
      }
      case UiEventKind::kProgressRange:
        if (auto it = dialogs_.find(event.top); it != dialogs_.end()) {
          it->second.ranges[event.control_id] = {event.value, event.value2};
        }
        break;
      case UiEventKind::kProgressPos: {
        auto it = dialogs_.find(event.top);
        if (it == dialogs_.end() || !it->second.ready || it->second.ended) break;
        Action a;
        if (ChooseRuleLocked(event.top, it->second, nullptr, event.control_id, event.value, &a)) actions.push_back(a);
        break;
      }
      case UiEventKind::kDialogEnded:
      case UiEventKind::kDestroyed:
        if (top && dialogs_.count(event.hwnd) != 0) dialogs_[event.hwnd].ended = true;
        break;
      default:
        break;
    }
    changed_.notify_all();
  }
  for (const Action& a : actions) Perform(a);
}

void HeadlessFrontEnd::Perform(const Action& action) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    const DialogState& st = dialogs_[action.dialog];
    if (action.rule_line == 0) {
      Record("default " + Quote(st.title));
    } else {
      Record("press " + Quote(st.title) + " " +
             (action.button == kPressEscape ? std::string("esc") : std::to_string(action.button)) + " (line " +
             std::to_string(action.rule_line) + ")");
    }
  }
  bool taken = action.rule_line == 0              ? PressDefaultAnswer(action.dialog)
               : action.button == kPressEscape ? PressEscape(action.dialog)
                                               : PressButton(action.dialog, action.button);
  bool fall_back = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    DialogState& st = dialogs_[action.dialog];
    if (taken) {
      st.answered = true;
    } else if (st.modal && st.waits && !st.ended && !st.answered && !RuleCouldStillApplyLocked(st)) {
      // The rule's button could not be pressed: the dialog still needs an answer.
      st.answered = true;
      fall_back = true;
      Record("default " + Quote(st.title));
    }
  }
  if (fall_back) PressDefaultAnswer(action.dialog);
}

void HeadlessFrontEnd::DeadlineLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    if (deadlines_.empty()) {
      deadline_cv_.wait(lock);
      continue;
    }
    auto first = deadlines_.begin();
    if (first->first > Clock::now()) {
      deadline_cv_.wait_until(lock, first->first);
      continue;
    }
    HWND dialog = first->second;
    deadlines_.erase(first);
    DialogState& st = dialogs_[dialog];
    if (st.ended || st.answered) continue;
    st.answered = true;
    Record("default " + Quote(st.title) + " (time limit)");
    lock.unlock();
    PressDefaultAnswer(dialog);
    lock.lock();
  }
}

std::shared_ptr<const WindowSnapshot> HeadlessFrontEnd::SnapshotAtReady(std::string_view title) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
    if (it->kind != UiEventKind::kDialogReady || !it->snapshot) continue;
    auto st = dialogs_.find(it->hwnd);
    if (it->title == title || (st != dialogs_.end() && st->second.title == title)) return it->snapshot;
  }
  return nullptr;
}

std::vector<BoxRecord> HeadlessFrontEnd::Boxes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return boxes_;
}

std::vector<UiEvent> HeadlessFrontEnd::Events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

bool HeadlessFrontEnd::WaitForEvent(const std::function<bool(const UiEvent&)>& match, DWORD timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  size_t checked = 0;
  auto found = [&] {
    for (; checked < events_.size(); ++checked) {
      if (match(events_[checked])) return true;
    }
    return false;
  };
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), found);
}

}  // namespace os::ui
