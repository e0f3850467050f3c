#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "os/base/error.h"
#include "os/ui/dialog.h"
#include "os/ui/dialog_window.h"
#include "os/ui/message_queue.h"
#include "os/ui/thread_id.h"
#include "os/ui/window.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::testing::MessageLoopThread;
using pelisto::testing::UiTest;

constexpr os::UINT kAsk = os::WM_APP + 1;
constexpr os::UINT kAnswerBack = os::WM_APP + 2;

// A window class whose procedure records the thread it runs on and answers kAsk with
// lParam + 1, asking the window named in wParam first when there is one.
std::atomic<os::DWORD> g_proc_thread{0};

os::LRESULT RecordingProc(os::HWND hwnd, os::UINT message, os::WPARAM wparam, os::LPARAM lparam) {
  if (message == kAsk) {
    g_proc_thread = os::GetCurrentThreadId();
    os::LRESULT extra = 0;
    if (wparam != 0) extra = os::SendMessageA(reinterpret_cast<os::HWND>(wparam), kAnswerBack, 0, 0);
    return lparam + 1 + extra;
  }
  if (message == kAnswerBack) return 100;
  return os::DefWindowProcA(hwnd, message, wparam, lparam);
}

void RegisterRecordingClass() {
  os::WNDCLASSA wc;
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "PelistoTestRecorder";
  os::RegisterClassA(&wc);  // already there after the first test: fine
}

os::HWND MakeRecorder(const std::string& title = "recorder") {
  RegisterRecordingClass();
  return os::CreateWindowExA(0, "PelistoTestRecorder", title, 0, 0, 0, 100, 100, nullptr, 0, nullptr);
}

class UiModelQueue : public UiTest {};

TEST_F(UiModelQueue, SendToAnotherThreadRunsOnTheOwnerAndReturnsItsResult) {
  std::atomic<os::HWND> remote{nullptr};
  MessageLoopThread owner([&] { remote = MakeRecorder(); });
  ASSERT_NE(remote.load(), nullptr);
  EXPECT_EQ(os::SendMessageA(remote, kAsk, 0, 41), 42);
  EXPECT_EQ(g_proc_thread.load(), owner.thread_id());
  EXPECT_NE(g_proc_thread.load(), os::GetCurrentThreadId());
}

TEST_F(UiModelQueue, SenderServesMessagesSentBackWhileItWaits) {
  std::atomic<os::HWND> remote{nullptr};
  MessageLoopThread owner([&] { remote = MakeRecorder(); });
  os::HWND local = MakeRecorder("local");
  // The owner, while handling kAsk, sends kAnswerBack to our window: we must serve it.
  EXPECT_EQ(os::SendMessageA(remote, kAsk, reinterpret_cast<os::WPARAM>(local), 1), 102);
  os::DestroyWindow(local);
}

TEST_F(UiModelQueue, PostedMessagesComeInOrderAndQuitOnlyWhenTheQueueIsEmpty) {
  os::HWND hwnd = MakeRecorder();
  os::PostQuitMessage(3);
  ASSERT_TRUE(os::PostMessageA(hwnd, os::WM_APP + 10, 1, 0));
  ASSERT_TRUE(os::PostThreadMessageA(os::GetCurrentThreadId(), os::WM_APP + 11, 2, 0));
  os::MSG msg;
  ASSERT_EQ(os::GetMessageA(&msg, nullptr, 0, 0), os::TRUE);
  EXPECT_EQ(msg.message, os::WM_APP + 10);
  EXPECT_EQ(msg.hwnd, hwnd);
  ASSERT_EQ(os::GetMessageA(&msg, nullptr, 0, 0), os::TRUE);
  EXPECT_EQ(msg.message, os::WM_APP + 11);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(os::GetMessageA(&msg, nullptr, 0, 0), os::FALSE);
  EXPECT_EQ(msg.message, os::WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE));
  os::DestroyWindow(hwnd);
}

TEST_F(UiModelQueue, PeekHonoursRangeAndRemoveFlag) {
  os::PostThreadMessageA(os::GetCurrentThreadId(), os::WM_APP + 1, 0, 0);
  os::PostThreadMessageA(os::GetCurrentThreadId(), os::WM_APP + 5, 0, 0);
  os::MSG msg;
  ASSERT_TRUE(os::PeekMessageA(&msg, nullptr, os::WM_APP + 4, os::WM_APP + 6, os::PM_NOREMOVE));
  EXPECT_EQ(msg.message, os::WM_APP + 5);
  ASSERT_TRUE(os::PeekMessageA(&msg, nullptr, os::WM_APP + 4, os::WM_APP + 6, os::PM_REMOVE));
  EXPECT_FALSE(os::PeekMessageA(&msg, nullptr, os::WM_APP + 4, os::WM_APP + 6, os::PM_REMOVE));
  ASSERT_TRUE(os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE));
  EXPECT_EQ(msg.message, os::WM_APP + 1);
}

TEST_F(UiModelQueue, WindowsOfAnEndedThreadAreGoneAndRefuseMessages) {
  os::HWND remote = nullptr;
  std::thread([&] { remote = MakeRecorder("short-lived"); }).join();
  ASSERT_NE(remote, nullptr);
  EXPECT_FALSE(os::IsWindow(remote));
  os::SetLastError(0);
  EXPECT_EQ(os::SendMessageA(remote, kAsk, 0, 1), 0);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(os::PostMessageA(remote, kAsk, 0, 0));
  EXPECT_EQ(os::FindWindowA("", "short-lived"), nullptr);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDestroyed, "short-lived"), 1);
}

TEST_F(UiModelQueue, OnlyTheOwnerMayDestroyAWindow) {
  std::atomic<os::HWND> remote{nullptr};
  MessageLoopThread owner([&] { remote = MakeRecorder(); });
  os::SetLastError(0);
  EXPECT_FALSE(os::DestroyWindow(remote));
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(os::IsWindow(remote));
}

std::vector<os::UINT_PTR> g_timer_calls;
void RecordTimer(os::HWND, os::UINT, os::UINT_PTR id, os::DWORD) { g_timer_calls.push_back(id); }

class UiModelTimer : public UiTest {};

TEST_F(UiModelTimer, WindowTimerRepeatsUntilKilledAndYieldsToPostedMessages) {
  os::HWND hwnd = MakeRecorder();
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(os::SetTimer(hwnd, 7, 20, nullptr), 7u);
  os::PostMessageA(hwnd, os::WM_APP, 0, 0);
  os::MSG msg;
  ASSERT_TRUE(os::GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, os::WM_APP);  // posted first, whatever the timer says
  for (int tick = 0; tick < 3; ++tick) {
    ASSERT_TRUE(os::GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, os::WM_TIMER);
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(msg.wParam, 7u);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_TRUE(os::KillTimer(hwnd, 7));
  EXPECT_FALSE(os::KillTimer(hwnd, 7));
  EXPECT_FALSE(os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE));
  os::DestroyWindow(hwnd);
}

TEST_F(UiModelTimer, ThreadTimerCallsItsProcedureButAForgedOneIsNotCalled) {
  g_timer_calls.clear();
  os::UINT_PTR a = os::SetTimer(nullptr, 0, 10, RecordTimer);
  os::UINT_PTR b = os::SetTimer(nullptr, 0, 10, RecordTimer);
  ASSERT_NE(a, 0u);
  ASSERT_NE(a, b);
  ASSERT_TRUE(os::KillTimer(nullptr, b));
  os::MSG msg;
  ASSERT_TRUE(os::GetMessageA(&msg, nullptr, 0, 0));
  ASSERT_EQ(msg.message, os::WM_TIMER);
  os::DispatchMessageA(&msg);
  EXPECT_EQ(g_timer_calls, std::vector<os::UINT_PTR>{a});
  // A WM_TIMER posted with a procedure that belongs to no timer must not be called.
  os::KillTimer(nullptr, a);
  os::MSG forged = msg;
  forged.wParam = 999;
  os::DispatchMessageA(&forged);
  EXPECT_EQ(g_timer_calls.size(), 1u);
}

TEST_F(UiModelTimer, TimerOfAWindowOnAnotherThreadWakesThatThread) {
  struct Flag {
    std::promise<void> fired;
  };
  static Flag* flag = nullptr;
  Flag f;
  flag = &f;
  std::atomic<os::HWND> remote{nullptr};
  MessageLoopThread owner([&] { remote = MakeRecorder(); });
  ASSERT_NE(os::SetTimer(remote, 1, 10,
                         [](os::HWND hwnd, os::UINT, os::UINT_PTR id, os::DWORD) {
                           os::KillTimer(hwnd, id);
                           flag->fired.set_value();
                         }),
            0u);
  EXPECT_EQ(f.fired.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

// Dialogs made from a small template: a text, a progress bar, OK and Cancel. Without
// buttons, the front end leaves a modal run alone (nothing to answer).
os::DialogTemplate SmallTemplate(const std::string& title, bool buttons = true) {
  os::DialogTemplate t;
  t.title = title;
  t.cx = 100;
  t.cy = 50;
  t.controls = {{10, os::ControlKind::kStatic, "text", 2, 2, 50, 8},
                {11, os::ControlKind::kProgress, "", 2, 12, 90, 8},
                {os::IDOK, os::ControlKind::kDefaultButton, "OK", 2, 30, 40, 14},
                {os::IDCANCEL, os::ControlKind::kButton, "Cancel", 50, 30, 40, 14}};
  if (!buttons) t.controls.resize(2);
  return t;
}

class ScriptedDialog : public os::ui::DialogWindow {
 public:
  std::function<void(ScriptedDialog&)> on_init;
  std::function<bool(ScriptedDialog&, os::UINT, os::WPARAM)> on_message;
  std::vector<int> commands;

 protected:
  os::BOOL OnInitDialog() override {
    if (on_init) on_init(*this);
    return os::TRUE;
  }
  bool OnCommand(int id, int code, os::HWND control) override {
    commands.push_back(id);
    return DialogWindow::OnCommand(id, code, control);
  }
  bool OnMessage(os::UINT message, os::WPARAM wparam, os::LPARAM, os::LRESULT*) override {
    return on_message && on_message(*this, message, wparam);
  }
};

class UiModelDialog : public UiTest {};

TEST_F(UiModelDialog, ModalDialogsNestAndReturnTheirResults) {
  std::vector<std::string> order;
  ScriptedDialog outer;
  outer.on_init = [&](ScriptedDialog& d) { os::PostMessageA(d.hwnd(), os::WM_APP, 0, 0); };
  outer.on_message = [&](ScriptedDialog& d, os::UINT message, os::WPARAM) {
    if (message != os::WM_APP) return false;
    ScriptedDialog inner;
    inner.on_init = [&](ScriptedDialog& i) { os::SetTimer(i.hwnd(), 1, 10, nullptr); };
    inner.on_message = [&](ScriptedDialog& i, os::UINT m, os::WPARAM id) {
      if (m != os::WM_TIMER || id != 1) return false;
      order.push_back("inner ends");
      i.EndDialog(42);
      return true;
    };
    os::INT_PTR r = inner.DoModal(SmallTemplate("inner", false));
    order.push_back("inner returned " + std::to_string(r));
    d.EndDialog(7);
    return true;
  };
  EXPECT_EQ(outer.DoModal(SmallTemplate("outer", false)), 7);
  EXPECT_EQ(order, (std::vector<std::string>{"inner ends", "inner returned 42"}));
  EXPECT_EQ(os::FindWindowA("", "outer"), nullptr);
  EXPECT_EQ(os::FindWindowA("", "inner"), nullptr);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDialogEnded, "inner"), 1);
}

TEST_F(UiModelDialog, EndDialogDuringInitialisationNeverShowsTheDialog) {
  ScriptedDialog d;
  d.on_init = [](ScriptedDialog& self) { self.EndDialog(5); };
  EXPECT_EQ(d.DoModal(SmallTemplate("gone")), 5);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kShown, "gone"), 0);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDialogReady, "gone"), 0);
}

TEST_F(UiModelDialog, QuitEndsTheModalLoopAndIsPostedAgainForTheOuterLoop) {
  ScriptedDialog d;
  d.on_init = [](ScriptedDialog&) { os::PostQuitMessage(9); };
  EXPECT_EQ(d.DoModal(SmallTemplate("quit", false)), 0);
  os::MSG msg;
  EXPECT_EQ(os::GetMessageA(&msg, nullptr, 0, 0), os::FALSE);
  EXPECT_EQ(msg.wParam, 9u);
}

TEST_F(UiModelDialog, EscAndCloseTakeTheCancelPathUnlessCancelIsDisabled) {
  for (bool disabled : {false, true}) {
    ScriptedDialog d;
    d.on_init = [&](ScriptedDialog& self) {
      if (disabled) self.EnableItem(os::IDCANCEL, false);
      self.ShowItem(os::IDCANCEL, false);  // hidden, yet Esc still reaches an enabled one
      os::ui::PressEscape(self.hwnd());
      os::PostMessageA(self.hwnd(), os::WM_CLOSE, 0, 0);
      os::PostMessageA(self.hwnd(), os::WM_APP, 0, 0);
    };
    d.on_message = [](ScriptedDialog& self, os::UINT m, os::WPARAM) {
      if (m == os::WM_APP) self.EndDialog(99);
      return m == os::WM_APP;
    };
    os::INT_PTR r = d.DoModal(SmallTemplate("esc"));
    if (disabled) {
      EXPECT_EQ(r, 99);
      EXPECT_TRUE(d.commands.empty());
    } else {
      EXPECT_EQ(r, os::IDCANCEL);
      EXPECT_EQ(d.commands, std::vector<int>{os::IDCANCEL});
    }
  }
}

TEST_F(UiModelDialog, EnterPressesTheDefaultButton) {
  ScriptedDialog d;
  d.on_init = [](ScriptedDialog& self) {
    os::PostMessageA(self.hwnd(), os::WM_KEYDOWN, os::VK_RETURN, 0);
  };
  EXPECT_EQ(d.DoModal(SmallTemplate("enter")), os::IDOK);
}

TEST_F(UiModelDialog, FrontEndPressesOnlyVisibleEnabledButtons) {
  ScriptedDialog d;
  std::vector<bool> pressed;
  d.on_init = [&](ScriptedDialog& self) {
    self.ShowItem(os::IDOK, false);
    pressed.push_back(os::ui::PressButton(self.hwnd(), os::IDOK));      // hidden
    self.ShowItem(os::IDOK, true);
    self.EnableItem(os::IDOK, false);
    pressed.push_back(os::ui::PressButton(self.hwnd(), os::IDOK));      // disabled
    pressed.push_back(os::ui::PressButton(self.hwnd(), 12345));         // missing
    pressed.push_back(os::ui::PressButton(self.hwnd(), os::IDCANCEL));  // fine
  };
  EXPECT_EQ(d.DoModal(SmallTemplate("press")), os::IDCANCEL);
  EXPECT_EQ(pressed, (std::vector<bool>{false, false, false, true}));
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kButtonPressed, "press", os::IDOK), 2);
}

TEST_F(UiModelDialog, ModelessDialogServesTextsAndProgressSentFromAnotherThread) {
  ScriptedDialog d;
  std::atomic<os::HWND> hwnd{nullptr};
  MessageLoopThread owner([&] {
    ASSERT_TRUE(d.Create(SmallTemplate("modeless")));
    hwnd = d.hwnd();
  });
  ASSERT_TRUE(os::SetDlgItemTextA(hwnd, 10, "from the caller"));
  EXPECT_EQ(d.GetDlgItemText(10), "from the caller");
  EXPECT_EQ(ui().TextsOf("modeless", 10), std::vector<std::string>{"from the caller"});
  d.SendDlgItemMessage(11, os::PBM_SETRANGE, 0, os::MAKELPARAM(0, 100));
  d.SendDlgItemMessage(11, os::PBM_SETPOS, 33, 0);
  EXPECT_EQ(d.SendDlgItemMessage(11, os::PBM_GETPOS, 0, 0), 33);
  EXPECT_EQ(ui().PositionsOf("modeless", 11), std::vector<int>{33});
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDialogReady, "modeless"), 1);
  os::PostMessageA(hwnd, os::WM_CLOSE, 0, 0);  // the cancel path hides it, the loop goes on
  ASSERT_TRUE(ui().WaitFor(os::ui::UiEventKind::kDialogEnded, "modeless"));
  EXPECT_TRUE(os::IsWindow(hwnd));
  EXPECT_FALSE(os::IsWindowVisible(hwnd));
  owner.Stop();  // the thread's end takes the window with it
  EXPECT_FALSE(os::IsWindow(hwnd));
}

struct ProgressCase {
  const char* name;
  std::vector<std::pair<os::UINT, std::pair<os::WPARAM, os::LPARAM>>> messages;
  int position;
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

class UiModelProgress : public UiTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(UiModelProgress, PositionStaysInRange) {
  os::HWND dlg = os::CreateDialogIndirectParamA(SmallTemplate("bar"), nullptr, nullptr, 0);
  ASSERT_NE(dlg, nullptr);
  for (const auto& [message, args] : GetParam().messages) {
    os::SendDlgItemMessageA(dlg, 11, message, args.first, args.second);
  }
  EXPECT_EQ(os::SendDlgItemMessageA(dlg, 11, os::PBM_GETPOS, 0, 0), GetParam().position);
  os::DestroyWindow(dlg);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, UiModelProgress,
    ::testing::Values(
        ProgressCase{"packed_range", {{os::PBM_SETRANGE, {0, 0x00640000}}, {os::PBM_SETPOS, {66, 0}}}, 66},
        ProgressCase{"negative_is_min", {{os::PBM_SETPOS, {static_cast<os::WPARAM>(-100), 0}}}, 0},
        ProgressCase{"above_is_max", {{os::PBM_SETRANGE32, {0, 2}}, {os::PBM_SETPOS, {5, 0}}}, 2},
        ProgressCase{"narrowed_range_clamps", {{os::PBM_SETPOS, {80, 0}}, {os::PBM_SETRANGE32, {0, 50}}}, 50},
        ProgressCase{"stepit_counts",
                     {{os::PBM_SETRANGE32, {0, 3}}, {os::PBM_SETSTEP, {1, 0}}, {os::PBM_STEPIT, {0, 0}},
                      {os::PBM_STEPIT, {0, 0}}, {os::PBM_STEPIT, {0, 0}}},
                     3},
        ProgressCase{"stepit_wraps",
                     {{os::PBM_SETRANGE32, {0, 100}}, {os::PBM_SETPOS, {95, 0}}, {os::PBM_STEPIT, {0, 0}}},
                     5},
        ProgressCase{"deltapos", {{os::PBM_SETPOS, {10, 0}}, {os::PBM_DELTAPOS, {15, 0}}}, 25}));

// A replaced procedure swallows the close command and hands the rest to the old one.
os::WNDPROC g_previous = nullptr;
int g_swallowed = 0;
os::LRESULT GuardProc(os::HWND hwnd, os::UINT message, os::WPARAM wparam, os::LPARAM lparam) {
  if (message == os::WM_SYSCOMMAND && wparam == os::SC_CLOSE) {
    ++g_swallowed;
    return 0;
  }
  return os::CallWindowProcA(g_previous, hwnd, message, wparam, lparam);
}

class UiModelWindow : public UiTest {};

TEST_F(UiModelWindow, ReplacedProcedureSeesMessagesFirst) {
  g_swallowed = 0;
  os::HWND frame = MakeRecorder("frame");
  g_previous = reinterpret_cast<os::WNDPROC>(
      os::SetWindowLongPtrA(frame, os::GWLP_WNDPROC, reinterpret_cast<os::LONG_PTR>(GuardProc)));
  ASSERT_EQ(g_previous, RecordingProc);
  os::SendMessageA(frame, os::WM_SYSCOMMAND, os::SC_CLOSE, 0);
  EXPECT_EQ(g_swallowed, 1);
  EXPECT_TRUE(os::IsWindow(frame));
  EXPECT_EQ(os::SendMessageA(frame, kAsk, 0, 1), 2);  // handed on
  os::SendMessageA(frame, os::WM_SYSCOMMAND, os::SC_MINIMIZE, 0);
  EXPECT_TRUE(os::IsIconic(frame));
  os::PostMessageA(frame, os::WM_SYSCOMMAND, os::SC_CLOSE, 0);
  os::MSG msg;
  ASSERT_TRUE(os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE));
  os::DispatchMessageA(&msg);
  EXPECT_EQ(g_swallowed, 2);
  os::DestroyWindow(frame);
}

TEST_F(UiModelWindow, ChildrenClimbToTheirFrameAndTextsTruncateLikeWin32) {
  os::HWND frame = MakeRecorder("Pelisto frame");
  os::HWND child = os::CreateWindowExA(0, "EDIT", "http://example.test/page.html", os::WS_CHILD | os::WS_VISIBLE,
                                       0, 0, 10, 10, frame, 5, nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(os::GetParent(child), frame);
  EXPECT_EQ(os::GetAncestor(child, os::GA_ROOT), frame);
  EXPECT_EQ(os::GetAncestor(frame, os::GA_PARENT), os::GetDesktopWindow());
  EXPECT_EQ(os::GetDlgCtrlID(child), 5);
  std::string text;
  EXPECT_EQ(os::GetWindowTextA(child, &text, 8), 7);
  EXPECT_EQ(text, "http://");
  EXPECT_EQ(os::GetClassNameA(child, &text, 100), 4);
  EXPECT_EQ(text, "EDIT");
  std::vector<os::HWND> seen;
  os::EnumChildWindows(
      frame, [](os::HWND h, os::LPARAM l) { reinterpret_cast<std::vector<os::HWND>*>(l)->push_back(h); return os::TRUE; },
      reinterpret_cast<os::LPARAM>(&seen));
  EXPECT_EQ(seen, std::vector<os::HWND>{child});
  os::DestroyWindow(frame);
  EXPECT_FALSE(os::IsWindow(child));
}

}  // namespace
