#include "os/ui/headless_front_end.h"

#include <chrono>
#include <cstdio>

#include "os/base/text.h"
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

std::string Hex(UINT v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

}  // namespace

HeadlessFrontEnd::HeadlessFrontEnd() : HeadlessFrontEnd(HeadlessScript{}) {}

HeadlessFrontEnd::HeadlessFrontEnd(HeadlessScript script) : script_(std::move(script)) {
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

HeadlessFrontEnd::~HeadlessFrontEnd() = default;

std::shared_ptr<HeadlessFrontEnd> HeadlessFrontEnd::FromScript(std::string_view text, std::string* error) {
  HeadlessScript script;
  if (!ParseHeadlessScript(text, &script, error)) return nullptr;
  return std::make_shared<HeadlessFrontEnd>(std::move(script));
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

void HeadlessFrontEnd::OnEvent(const UiEvent& event) {
  std::lock_guard<std::mutex> lock(mu_);
  events_.push_back(event);
  changed_.notify_all();
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
