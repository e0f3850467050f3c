// The script of the headless front end: how tests (and end-to-end runs of the host program)
// answer message boxes and press dialog buttons. One directive per line:
//
//   # a comment; blank lines are ignored too
//
//   box <answer> [if "<text part>"] [caption "<caption>"] [nth <N>] [repeat]
//       Answers a message box whose text contains <text part> and whose caption equals
//       <caption> (each filter only when given). With nth, only the N-th box that passes the
//       filters (counted from 1). A rule answers once, or every matching box with repeat.
//       <answer>: ok cancel abort retry ignore yes no tryagain continue default, or a number.
//       The first live rule in file order wins; a box no rule answers takes its default
//       button, and so does a box whose rule names a button the box does not have.
//
//   press <button> on "<title>" [appear <N>] [progress <control id> <position>]
//         [percent <control id> <percent>] [repeat]
//       Presses a button of the dialog titled <title> once the dialog is initialised: only on
//       its N-th appearance (dialogs with that title counted from 1) with appear; only when
//       its progress bar <control id> is at <position> or beyond with progress, or has come
//       <percent> (0 to 100) of the way from its minimum to its maximum with percent (a bar
//       whose range is empty has come 0 %). <title> is the title the dialog was created
//       with or the one it has now. <button> is a
//       control id, or esc for the Esc key (the dialog's cancel path, no visible button
//       needed). A hidden or disabled button cannot be pressed; the refusal is recorded and
//       the dialog gets its default answer.
//       A rule presses once, or on every appearance with repeat.
//
//   fail "<title>" [nth <N>]
//       Creating a dialog titled <title> fails (only the N-th such creation with nth).
//
//   timeout <milliseconds>
//       A modal dialog that waits for a button and that no rule has answered gets its default
//       answer (os::ui::PressDefaultAnswer: Esc where the cancel path is open, else its default
//       button): at once when no press rule could still apply to it, otherwise after this
//       long. Default 2000.
//
//   transcript stderr
//   transcript "<host file>"
//       Writes every record as one UTF-8 line there as it happens (the file is truncated).
//
// Texts are double-quoted UTF-8 with the escapes \" \\ \n \t \r \a; they are converted to the
// image's code page when parsed, so parse after the machine image is opened. Titles and
// captions compare exactly, "if" texts as case-sensitive substrings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/base/types.h"

namespace os::ui {

inline constexpr int kPressEscape = -1;

struct BoxRule {
  int answer = 0;  // 0: the box's default button
  bool has_text = false;
  std::string text;
  bool has_caption = false;
  std::string caption;
  int nth = 0;  // 0: any
  bool repeat = false;
  int line = 0;
};

struct PressRule {
  int button = 0;  // a control id or kPressEscape
  std::string title;
  int appear = 0;  // 0: any appearance
  bool has_progress = false;
  bool progress_is_percent = false;  // progress_position is a percent of the bar's range
  int progress_control = 0;
  int progress_position = 0;
  bool repeat = false;
  int line = 0;
};

struct FailRule {
  std::string title;
  int nth = 0;
  int line = 0;
};

struct HeadlessScript {
  std::vector<BoxRule> boxes;
  std::vector<PressRule> presses;
  std::vector<FailRule> fails;
  DWORD timeout_ms = 2000;
  std::string transcript;  // empty: none; "-": stderr; otherwise a host file
};

// Parses `text`. On failure returns false, leaves `script` untouched and sets `error` to
// "line N: <reason>".
bool ParseHeadlessScript(std::string_view text, HeadlessScript* script, std::string* error);

// The ID* value named by `word` ("ok", "cancel", ..., "default" is 0), or a number; -2 when
// the word is neither.
int ParseAnswerWord(std::string_view word);

}  // namespace os::ui
