// Internal to os/ui: the objects behind window handles and thread queues, and the helpers the
// calls of window.cpp, message_queue.cpp, dialog.cpp and controls.cpp share.
//
// Locking: Model::mu guards the window table, every Window's mutable fields, the class table
// and the queue table. Queue::mu guards one queue. Model::mu may be held while taking a
// Queue::mu, never the other way round. No lock is held while a window procedure, a timer
// procedure or the front end runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/ui/front_end.h"
#include "os/ui/messages.h"
#include "os/ui/window.h"

namespace os::ui::internal {

using Clock = std::chrono::steady_clock;

struct Window {
  HWND hwnd = nullptr;
  DWORD thread_id = 0;
  HWND parent = nullptr;
  std::string class_name;
  bool top_level = false;
  std::int64_t created_ns = 0;  // wall clock, to order windows across processes
  ControlKind kind = ControlKind::kStatic;

  // Guarded by Model::mu.
  bool unicode = false;  // its procedure takes wide-character messages (IsWindowUnicode)
  bool alive = true;
  bool destroying = false;
  WNDPROC proc = nullptr;
  std::string text;
  DWORD style = 0;  // without WS_VISIBLE / WS_DISABLED, which the two flags below hold
  bool visible = false;
  bool enabled = true;
  int show_state = 0;  // 0 normal, 1 minimised, 2 maximised
  int id = 0;
  RECT rect;  // pixels: screen for top-level windows, parent client area for children
  RECT template_rect;  // dialog units, for controls made from a template
  LONG_PTR user_data = 0;
  std::vector<HWND> children;

  bool is_dialog = false;
  DLGPROC dlg_proc = nullptr;
  LONG_PTR dlg_user = 0;
  LONG_PTR msg_result = 0;
  bool modal = false;
  bool ended = false;
  INT_PTR end_result = 0;
  int def_id = IDOK;
  int font_size = 8;

  std::vector<PaintedText> painted;

  int range_min = 0, range_max = 100, position = 0, step = 10;
  bool playing = false;
  int clip = 0;
};

struct Queue;

struct SentMessage {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  LRESULT result = 0;
  bool done = false;  // guarded by the sender's Queue::mu
  std::shared_ptr<Queue> sender;
};

struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  UINT elapse_ms = 0;
  TIMERPROC proc = nullptr;
  Clock::time_point due;
};

struct Queue {
  explicit Queue(DWORD id) : thread_id(id) {}
  const DWORD thread_id;
  std::mutex mu;
  std::condition_variable cv;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quit_code = 0;
  bool alive = true;
  UINT_PTR next_timer_id = 1;
};

struct Model {
  std::mutex mu;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows;
  std::vector<HWND> top_levels;              // creation order
  std::map<std::string, WNDCLASSA> classes;  // key: lower-case name
  std::set<std::string> unicode_classes;     // keys of classes registered with RegisterClassW
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
  HWND foreground = nullptr;
  HWND desktop = nullptr;
  // The shell's taskbar: a window of no thread of this process, found by FindWindowA but not
  // listed as one of this process's windows. Its rectangle, like the desktop's, comes from
  // os/ui/screen.h.
  HWND taskbar = nullptr;
  std::uint32_t next_handle = 0x100;
};

// Puts the standard classes into a new model (controls.cpp).
void RegisterBuiltInClassesLocked(Model& m);

// The process's model; never destroyed, so windows may outlive static objects.
Model& TheModel();

std::shared_ptr<Window> FindLocked(Model& m, HWND hwnd);
std::shared_ptr<Window> Find(HWND hwnd);
// Find, or ERROR_INVALID_WINDOW_HANDLE and null.
std::shared_ptr<Window> FindOrFail(HWND hwnd);
HWND TopOfLocked(Model& m, const Window& w);

// The calling thread's queue, made on first use; the thread's windows and queue go away
// when the thread ends.
std::shared_ptr<Queue> CurrentQueue();
std::shared_ptr<Queue> QueueOf(DWORD thread_id);

// A new handle of this process.
HWND NewHandleLocked(Model& m);
// True when the handle was made by another process.
bool IsForeignHandle(HWND hwnd);

struct CreateParams {
  std::string class_name;
  std::string text;
  DWORD style = 0;
  RECT rect;
  HWND parent = nullptr;
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  bool send_create = true;
  void* create_param = nullptr;
};
// Makes the window on the calling thread; null with the last error set on failure. Reports
// nothing and publishes nothing: the caller does, once the window is complete.
HWND CreateWindowObject(const CreateParams& params, std::shared_ptr<Window>* out);

// The window procedure (or DefWindowProcA when none) on the calling thread.
LRESULT CallProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Runs a message that another thread sent, and releases its sender.
void ServeSent(const std::shared_ptr<SentMessage>& sent);
// Runs `work` on a helper thread while the calling thread serves messages sent to it.
int WaitServingSentMessages(const std::function<int()>& work);

// An event about `w` (and its top-level window), made with Model::mu held.
UiEvent MakeEventLocked(Model& m, const Window& w, UiEventKind kind);
void SnapshotLocked(Model& m, const Window& top, WindowSnapshot* out);
std::shared_ptr<const WindowSnapshot> SnapshotOf(HWND hwnd);
// Hands the event to the current front end (no lock may be held).
void Report(const UiEvent& event);

// Rewrites this process's entry in the machine-wide list of top-level windows.
void PublishTopLevelWindows();

// Text, range and state changes that report to the front end.
void SetTextAndReport(HWND hwnd, const std::string& text);

// Pixels per dialog unit for a font size: x and y base units.
void DialogBaseUnits(int font_size, int* base_x, int* base_y);

}  // namespace os::ui::internal
