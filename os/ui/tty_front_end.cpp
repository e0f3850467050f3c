#include "os/ui/tty_front_end.h"

#include <algorithm>
#include <map>

#include "os/base/text.h"
#include "os/ui/dialog.h"
#include "os/ui/message_box.h"
#include "os/ui/message_queue.h"
#include "os/ui/window.h"

namespace os::ui {
namespace {

// Decodes one UTF-8 sequence at `i`; returns the code point (U+FFFD for broken bytes).
char32_t Decode(std::string_view s, size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  ++*i;
  if (extra < 0) return 0xFFFD;
  char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k, ++*i) {
    if (*i >= s.size() || (static_cast<unsigned char>(s[*i]) >> 6) != 2) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(s[*i]) & 0x3F);
  }
  return cp;
}

bool Wide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
         (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6);
}

// The longest prefix of `s` that fits in `width` columns.
std::string FitPrefix(std::string_view s, int width) {
  size_t i = 0, end = 0;
  int used = 0;
  while (i < s.size()) {
    size_t start = i;
    int w = Wide(Decode(s, &i)) ? 2 : 1;
    if (used + w > width) return std::string(s.substr(0, start));
    used += w;
    end = i;
  }
  return std::string(s.substr(0, end));
}

// Keeps the start and the end of a path and puts "..." between them.
std::string EllipsizeMiddle(const std::string& s, int width) {
  if (DisplayWidth(s) <= width || width < 5) return FitPrefix(s, width);
  int keep = (width - 3) / 2;
  std::string head = FitPrefix(s, keep);
  // Take the tail by walking back until it fits.
  size_t cut = s.size();
  while (cut > 0 && DisplayWidth(std::string_view(s).substr(cut - 1)) <= width - 3 - DisplayWidth(head)) --cut;
  while (cut < s.size() && (static_cast<unsigned char>(s[cut]) >> 6) == 2) ++cut;  // whole characters
  return head + "..." + s.substr(cut);
}

std::string Bar(const ControlSnapshot& c, int width) {
  int cells = std::clamp(width - 8, 10, 40);
  long long span = static_cast<long long>(c.range_max) - c.range_min;
  int percent = span > 0 ? static_cast<int>((static_cast<long long>(c.position) - c.range_min) * 100 / span) : 0;
  percent = std::clamp(percent, 0, 100);
  int filled = percent * cells / 100;
  std::string pct = std::to_string(percent) + "%";
  return "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "] " +
         std::string(4 - std::min<size_t>(4, pct.size()), ' ') + pct;
}

std::string Item(const ControlSnapshot& c, int width) {
  std::string text = AnsiToUtf8(WithoutMnemonic(c.text));
  switch (c.kind) {
    case ControlKind::kButton:
    case ControlKind::kDefaultButton: return "[ " + text + " ]";
    case ControlKind::kProgress: return Bar(c, width);
    case ControlKind::kAnimation: return c.playing ? "(working)" : "";
    case ControlKind::kStatic:
      if (c.style & SS_PATHELLIPSIS) return EllipsizeMiddle(text, std::max(10, width / 2));
      return text;
    case ControlKind::kEdit: return text;
  }
  return text;
}

int ButtonIndexForAnswer(const std::string& answer, const std::vector<int>& buttons) {
  if (answer.empty()) return -1;
  if (answer.size() <= 2 && std::all_of(answer.begin(), answer.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    int n = std::stoi(answer);
    return n >= 1 && n <= static_cast<int>(buttons.size()) ? n - 1 : -2;
  }
  for (size_t i = 0; i < buttons.size(); ++i) {
    std::string name = MessageBoxButtonName(buttons[i]);
    if (!name.empty() && AsciiLower(name[0]) == AsciiLower(answer[0])) return static_cast<int>(i);
  }
  return -2;
}

// The mnemonic letter of a button text ("S&kip" -> 'k'), or 0.
char Mnemonic(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '&' && text[i + 1] != '&') return AsciiLower(text[i + 1]);
    if (text[i] == '&') ++i;
  }
  return 0;
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  int w = 0;
  for (size_t i = 0; i < utf8.size();) w += Wide(Decode(utf8, &i)) ? 2 : 1;
  return w;
}

std::string WithoutMnemonic(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') out += '&';
      if (i + 1 < text.size() && text[i + 1] == '&') ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

namespace {

// A bar in a final line: its percent only.
std::string Percent(const ControlSnapshot& c) {
  long long span = static_cast<long long>(c.range_max) - c.range_min;
  long long percent = span > 0 ? (static_cast<long long>(c.position) - c.range_min) * 100 / span : 0;
  return std::to_string(std::clamp<long long>(percent, 0, 100)) + "%";
}

// The rows of a dialog's visible controls, top to bottom, each row's items left to right.
// For a final line buttons and animations are left out and bars give their percent.
std::vector<std::string> Rows(const WindowSnapshot& snapshot, int width, bool final_line) {
  std::vector<const ControlSnapshot*> controls;
  for (const ControlSnapshot& c : snapshot.controls) {
    if (c.visible) controls.push_back(&c);
  }
  std::stable_sort(controls.begin(), controls.end(), [](const ControlSnapshot* a, const ControlSnapshot* b) {
    return a->rect.top != b->rect.top ? a->rect.top < b->rect.top : a->rect.left < b->rect.left;
  });
  std::vector<std::string> rows;
  for (size_t i = 0; i < controls.size();) {
    LONG row_top = controls[i]->rect.top;
    std::vector<const ControlSnapshot*> row;
    while (i < controls.size() && controls[i]->rect.top - row_top <= 4) row.push_back(controls[i++]);
    std::sort(row.begin(), row.end(), [](auto* a, auto* b) { return a->rect.left < b->rect.left; });
    std::string line;
    for (const ControlSnapshot* c : row) {
      std::string item;
      if (!final_line) {
        item = Item(*c, width);
      } else if (c->kind == ControlKind::kProgress) {
        item = Percent(*c);
      } else if (c->kind == ControlKind::kStatic || c->kind == ControlKind::kEdit) {
        item = Item(*c, width);
      }
      if (item.empty()) continue;
      line += (line.empty() ? "" : " ") + item;
    }
    if (!line.empty()) rows.push_back(line);
  }
  return rows;
}

}  // namespace

std::vector<std::string> RenderDialog(const WindowSnapshot& snapshot, int width) {
  width = std::max(width, 20);
  std::vector<std::string> lines;
  lines.push_back(FitPrefix("== " + AnsiToUtf8(snapshot.title) + " ==", width));
  for (const std::string& row : Rows(snapshot, width, false)) lines.push_back(FitPrefix(row, width));
  std::vector<PaintedText> painted = snapshot.painted;
  std::stable_sort(painted.begin(), painted.end(), [](const PaintedText& a, const PaintedText& b) {
    return a.y != b.y ? a.y < b.y : a.x < b.x;
  });
  for (const PaintedText& p : painted) {
    if (!p.text.empty()) lines.push_back(FitPrefix(AnsiToUtf8(p.text), width));
  }
  return lines;
}

std::string FinalLine(const WindowSnapshot& snapshot, const std::string& heading, int width) {
  width = std::max(width, 20);
  std::vector<std::string> parts;
  const std::string title = AnsiToUtf8(snapshot.title);
  if (title != heading) parts.push_back(title);
  for (std::string& row : Rows(snapshot, width, true)) parts.push_back(std::move(row));
  std::string line = heading;
  for (size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? ": " : " | ") + parts[i];
  return FitPrefix(line, width);
}

TtyFrontEnd::TtyFrontEnd(std::unique_ptr<Terminal> terminal) : terminal_(std::move(terminal)) {
  ask_thread_ = std::thread([this] { AskLoop(); });
  paint_thread_ = std::thread([this] { PaintLoop(); });
}

TtyFrontEnd::~TtyFrontEnd() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    cancel_question_ = true;
  }
  ask_cv_.notify_all();
  paint_cv_.notify_all();
  ask_thread_.join();
  paint_thread_.join();
}

void TtyFrontEnd::PaintLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    if (!dirty_ || asking_ > 0) {
      // A question's end redraws by itself.
      paint_cv_.wait(lock);
      continue;
    }
    const auto due = last_draw_ + std::chrono::milliseconds(kRedrawIntervalMs);
    if (std::chrono::steady_clock::now() < due) {
      paint_cv_.wait_until(lock, due);
      continue;
    }
    RedrawLocked();
  }
}

void TtyFrontEnd::ForgetBlockLocked() { drawn_.clear(); }

void TtyFrontEnd::RedrawLocked() {
  if (asking_ > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  last_draw_ = std::chrono::steady_clock::now();
  std::vector<std::string> lines;
  int width = terminal_->Width();
  for (HWND h : TopLevelWindows()) {
    WindowSnapshot s;
    if (!SnapshotWindow(h, &s) || !s.is_dialog || !s.visible) continue;
    std::vector<std::string> block = RenderDialog(s, width);
    auto shown = shown_.find(h);
    if (shown != shown_.end()) {
      const std::string title = AnsiToUtf8(s.title);
      if (shown->second.heading != title) {
        block[0] = FitPrefix("== " + shown->second.heading + " ==", width);
        block.insert(block.begin() + 1, FitPrefix(title, width));
      }
      shown->second.last = s;
      shown->second.drawn = true;
    }
    for (std::string& l : block) lines.push_back(std::move(l));
  }
  if (lines == drawn_ && finals_.empty()) return;
  std::string out;
  if (!drawn_.empty()) out += "\x1b[" + std::to_string(drawn_.size()) + "F";
  out += "\x1b[J";
  for (const std::string& l : finals_) out += l + "\n";
  finals_.clear();
  for (const std::string& l : lines) out += l + "\n";
  terminal_->Write(out);
  drawn_ = std::move(lines);
}

void TtyFrontEnd::FinishLocked(HWND hwnd, const WindowSnapshot* fresh) {
  auto shown = shown_.find(hwnd);
  if (shown == shown_.end()) return;
  WindowSnapshot s = shown->second.last;
  if (fresh != nullptr) {
    s = *fresh;
  } else if (WindowSnapshot now; SnapshotWindow(hwnd, &now)) {
    // Its controls go one by one: what is already gone is taken from the last drawing.
    for (const ControlSnapshot& c : shown->second.last.controls) {
      bool present = std::any_of(now.controls.begin(), now.controls.end(),
                                 [&](const ControlSnapshot& n) { return n.hwnd == c.hwnd; });
      if (!present) now.controls.push_back(c);
    }
    s = std::move(now);
  } else if (!shown->second.drawn) {
    shown_.erase(shown);
    return;
  }
  finals_.push_back(FinalLine(s, shown->second.heading, terminal_->Width()));
  shown_.erase(shown);
}

void TtyFrontEnd::OnEvent(const UiEvent& event) {
  bool ask = event.kind == UiEventKind::kDialogReady && event.value == 1 && event.snapshot &&
             WaitsForAButton(*event.snapshot);
  const bool top = event.hwnd == event.top && event.control_id == 0;
  std::lock_guard<std::mutex> lock(mu_);
  if ((event.kind == UiEventKind::kDialogEnded || event.kind == UiEventKind::kDestroyed) &&
      event.hwnd == asked_dialog_) {
    cancel_question_ = true;
  }
  if (ask) {
    to_ask_.push_back(event.hwnd);
    ask_cv_.notify_all();
  }
  bool at_once = false;
  switch (event.kind) {
    case UiEventKind::kDialogReady:
      if (event.snapshot) shown_[event.hwnd].heading = AnsiToUtf8(event.snapshot->title);
      at_once = true;
      break;
    case UiEventKind::kDialogEnded:
      FinishLocked(event.hwnd, event.snapshot.get());
      at_once = true;
      break;
    case UiEventKind::kDestroyed:
      // The first of its windows to go (a control, then the dialog itself).
      FinishLocked(event.top, nullptr);
      at_once = top;
      break;
    case UiEventKind::kCreated:
    case UiEventKind::kShown:
    case UiEventKind::kHidden:
      at_once = top;
      break;
    default:
      break;
  }
  const auto now = std::chrono::steady_clock::now();
  if (at_once || !finals_.empty() || now - last_draw_ >= std::chrono::milliseconds(kRedrawIntervalMs)) {
    RedrawLocked();
  } else if (!dirty_) {
    dirty_ = true;
    paint_cv_.notify_all();
  }
}

int TtyFrontEnd::AnswerMessageBox(const MessageBoxRequest& box) {
  std::vector<int> buttons = MessageBoxButtons(box.type);
  int def = MessageBoxDefaultAnswer(box.type);
  std::string choices;
  for (size_t i = 0; i < buttons.size(); ++i) {
    choices += (i ? "  " : "") + std::to_string(i + 1) + ") " + MessageBoxButtonName(buttons[i]);
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++asking_;
    ForgetBlockLocked();  // the block stays on screen above the box, as history
    terminal_->Write("\n[" + AnsiToUtf8(box.caption) + "]\n" + AnsiToUtf8(box.text) + "\n" + choices +
                     "  (Enter: " + MessageBoxButtonName(def) + ") > ");
  }
  int answer = def;
  std::atomic<bool> never{false};
  std::string line;
  while (terminal_->ReadLine(&line, never)) {
    int index = ButtonIndexForAnswer(line, buttons);
    if (index == -1) break;
    if (index >= 0) {
      answer = buttons[static_cast<size_t>(index)];
      break;
    }
    terminal_->Write(choices + " > ");
  }
  std::lock_guard<std::mutex> lock(mu_);
  --asking_;
  RedrawLocked();
  return answer;
}

void TtyFrontEnd::AskLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ask_cv_.wait(lock, [&] { return stopping_ || !to_ask_.empty(); });
    if (stopping_) return;
    HWND dialog = to_ask_.front();
    to_ask_.pop_front();
    asked_dialog_ = dialog;
    cancel_question_ = false;
    lock.unlock();
    AskForButton(dialog);
    lock.lock();
    asked_dialog_ = nullptr;
  }
}

void TtyFrontEnd::AskForButton(HWND dialog) {
  WindowSnapshot s;
  if (!SnapshotWindow(dialog, &s) || s.ended) return;
  std::map<char, int> by_letter;
  std::string choices;
  for (const ControlSnapshot& c : s.controls) {
    bool button = c.kind == ControlKind::kButton || c.kind == ControlKind::kDefaultButton;
    if (!button || !c.visible || !c.enabled) continue;
    char letter = Mnemonic(c.text);
    if (letter == 0) letter = AsciiLower(WithoutMnemonic(c.text).empty() ? '?' : WithoutMnemonic(c.text)[0]);
    by_letter.emplace(letter, c.id);
    choices += (choices.empty() ? "" : "  ") + std::string(1, letter) + ") " + AnsiToUtf8(WithoutMnemonic(c.text));
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++asking_;
    RedrawLocked();
    ForgetBlockLocked();
    terminal_->Write(AnsiToUtf8(s.title) + ": " + choices + "  (Enter: default, esc) > ");
  }
  std::string line;
  bool answered = false;
  while (terminal_->ReadLine(&line, cancel_question_)) {
    if (line.empty()) {
      PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0);
      answered = true;
    } else if (EqualsIgnoreCase(line, "esc")) {
      PressEscape(dialog);
      answered = true;
    } else if (auto it = by_letter.find(AsciiLower(line[0])); it != by_letter.end()) {
      answered = PressButton(dialog, it->second);
    }
    if (answered) break;
    terminal_->Write(choices + " > ");
  }
  if (!answered && cancel_question_) terminal_->Write("\n");  // the dialog went away meanwhile
  if (!answered && !cancel_question_) PressDefaultAnswer(dialog);  // input ended: nobody can answer
  std::lock_guard<std::mutex> lock(mu_);
  --asking_;
  RedrawLocked();
}

}  // namespace os::ui
