// The front end: whoever sees the windows of the user-interface model and answers for the
// user. One front end is current for the process; the model calls it for every message box,
// for every dialog about to be created, and after every visible change of a window.
//
// Front ends: headless (tests: records everything, answers from a script;
// os/ui/headless_front_end.h), tty (draws on stderr, asks at the terminal;
// os/ui/tty_front_end.h), none (no display; os/ui/front_end_select.h picks one for the host).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "os/base/types.h"
#include "os/ui/ui_types.h"

namespace os::ui {

struct MessageBoxRequest {
  HWND owner = nullptr;
  std::string text;     // image code page
  std::string caption;  // image code page
  UINT type = 0;        // MB_* flags
  DWORD thread_id = 0;  // the thread that shows the box
};

// The state of one control, as a front end draws it.
struct ControlSnapshot {
  HWND hwnd = nullptr;
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::string text;  // image code page
  DWORD style = 0;   // extra style bits (SS_PATHELLIPSIS, ...)
  bool visible = true;  // the control's own flag, whatever its dialog's state
  bool enabled = true;
  RECT rect;  // dialog units for template controls
  int range_min = 0, range_max = 0, position = 0;  // progress bars
  bool playing = false;                             // animations
};

// A text written into a window's client area (os/ui/gdi.h), at (x, y) in pixels.
struct PaintedText {
  int x = 0;
  int y = 0;
  std::string text;  // image code page
};

// The state of a top-level window and its controls.
struct WindowSnapshot {
  HWND hwnd = nullptr;
  std::string title;  // image code page
  std::string class_name;
  bool visible = false;
  bool enabled = true;
  bool is_dialog = false;
  bool modal = false;
  bool ended = false;
  DWORD thread_id = 0;
  std::vector<ControlSnapshot> controls;  // creation order
  std::vector<PaintedText> painted;       // written into the window itself, oldest first

  const ControlSnapshot* Control(int id) const {
    for (const ControlSnapshot& c : controls) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }
};

// True when the window is a dialog that waits for the user: one of its buttons is visible
// and enabled.
bool WaitsForAButton(const WindowSnapshot& snapshot);

// Fills `out` with the state of a window of this process (its top-level window's, for a
// control); false when there is no such window.
bool SnapshotWindow(HWND hwnd, WindowSnapshot* out);
// This process's top-level windows, oldest first.
std::vector<HWND> TopLevelWindows();

enum class UiEventKind {
  kCreated,        // a window exists (a dialog's controls come in its snapshot, not one by one)
  kShown,          // became visible
  kHidden,         // became invisible
  kTextChanged,    // title or control text set (also when set to the same text)
  kEnabled,
  kDisabled,
  kProgressRange,  // value = minimum, value2 = maximum
  kProgressPos,    // value = position
  kAnimation,      // value = 1 playing, 0 stopped; value2 = the clip's resource id
  kDialogReady,    // a dialog finished its initialisation; value = 1 when it runs modally
  kDialogEnded,    // EndDialog; value = the result
  kDestroyed,
  kForeground,     // SetForegroundWindow
  kButtonPressed,  // a front end pressed a button: control_id; value = 1 taken, 0 refused
  kPainted,        // text written into the window (os/ui/gdi.h): text, value = x, value2 = y
  kErased,         // a fill removed `value` texts written before
  kCursorChanged,  // the cursor shown (os/ui/cursor.h): value = its resource number, text = its name
};

// One change. Texts are in the image code page.
struct UiEvent {
  UiEventKind kind = UiEventKind::kCreated;
  HWND hwnd = nullptr;       // the window that changed
  HWND top = nullptr;        // its top-level window (itself when it is one)
  int control_id = 0;        // the control's id; 0 for a top-level window
  std::string title;         // the top-level window's title
  std::string class_name;    // the changed window's class
  std::string text;          // the new text (kTextChanged), or the window's text
  int value = 0;
  int value2 = 0;
  // For kCreated (of a top-level window), kDialogReady and kDialogEnded: the whole window.
  std::shared_ptr<const WindowSnapshot> snapshot;
};

// Implementations must be thread-safe: the model calls them from whichever thread acts, with
// no lock of the model held, so they may call back into the model (PostMessage, queries).
// They must not block the calling thread except in AnswerMessageBox.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // The ID* value of the chosen button; a value that is not one of the box's buttons is
  // replaced by the box's default answer.
  virtual int AnswerMessageBox(const MessageBoxRequest& box) = 0;
  // True when AnswerMessageBox waits for a person. The model then asks on a helper thread and
  // keeps serving messages sent to the box's thread, as a real message box's loop does.
  virtual bool AsksAPerson() const { return false; }
  // Whether a dialog with this title and class may be created; false makes the creation
  // fail (the way tests reach the failure paths of dialog creation).
  virtual bool AllowDialog(const std::string& title, const std::string& class_name) {
    (void)title;
    (void)class_name;
    return true;
  }
  virtual void OnEvent(const UiEvent& event) { (void)event; }
};

// The current front end (never null: the none front end when nothing was set).
std::shared_ptr<FrontEnd> CurrentFrontEnd();
// Replaces the current front end; null installs the none front end. Calls already running
// finish with the front end they started with.
void SetFrontEnd(std::shared_ptr<FrontEnd> front_end);

// No display: a box takes its default button; a modal dialog that waits for a button gets
// its default answer at once (os::ui::PressDefaultAnswer: nobody could press anything);
// nothing is drawn.
class NoneFrontEnd : public FrontEnd {
 public:
  int AnswerMessageBox(const MessageBoxRequest& box) override;
  void OnEvent(const UiEvent& event) override;
};

}  // namespace os::ui
