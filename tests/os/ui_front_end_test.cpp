#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/ui/dialog.h"
#include "os/ui/dialog_window.h"
#include "os/ui/front_end_select.h"
#include "os/ui/message_box.h"
#include "os/ui/message_queue.h"
#include "os/ui/tty_front_end.h"
#include "os/ui/window.h"
#include "tests/support/ui_script.h"

namespace {
using os::ui::UiEventKind;
using pelisto::testing::UiTest;

os::DialogTemplate AskTemplate(const std::string& title) {
  os::DialogTemplate t;
  t.title = title;
  t.cx = 120;
  t.cy = 60;
  t.controls = {{11, os::ControlKind::kProgress, "", 4, 4, 100, 8},
                {221, os::ControlKind::kButton, "S&kip", 4, 40, 30, 14},
                {os::IDOK, os::ControlKind::kDefaultButton, "&Retry", 40, 40, 30, 14},
                {os::IDCANCEL, os::ControlKind::kButton, "&Stop Install", 76, 40, 30, 14}};
  return t;
}

// A dialog that lets 221 end it with its id, and moves its bar by 10 on every timer tick
// when asked to.
class AskDialog : public os::ui::DialogWindow {
 public:
  bool tick = false;
  bool hide_ok = false;
  bool hide_buttons = false;
  bool disable_cancel = false;

 protected:
  os::BOOL OnInitDialog() override {
    if (hide_ok) ShowItem(os::IDOK, false);
    if (hide_buttons) {
      for (int id : {221, os::IDOK, os::IDCANCEL}) ShowItem(id, false);
    }
    if (disable_cancel) EnableItem(os::IDCANCEL, false);
    if (tick) os::SetTimer(hwnd(), 1, 10, nullptr);
    return os::TRUE;
  }
  bool OnCommand(int id, int code, os::HWND control) override {
    if (id == 221) {
      EndDialog(221);
      return true;
    }
    return DialogWindow::OnCommand(id, code, control);
  }
  bool OnMessage(os::UINT message, os::WPARAM, os::LPARAM, os::LRESULT*) override {
    if (message != os::WM_TIMER) return false;
    os::LRESULT pos = SendDlgItemMessage(11, os::PBM_GETPOS, 0, 0);
    SendDlgItemMessage(11, os::PBM_SETPOS, static_cast<os::WPARAM>(pos + 10), 0);
    if (pos + 10 >= 100) EndDialog(77);  // ran out: nobody pressed anything
    return true;
  }
};

class UiModelHeadless : public UiTest {};

TEST_F(UiModelHeadless, PressesByTitleOnTheNthAppearanceAndEscapesTheRest) {
  Script("press 221 on \"Install Failed!\" appear 2\n");
  std::vector<os::INT_PTR> results;
  for (int i = 0; i < 3; ++i) {
    AskDialog d;
    results.push_back(d.DoModal(AskTemplate("Install Failed!")));
  }
  EXPECT_EQ(results, (std::vector<os::INT_PTR>{os::IDCANCEL, 221, os::IDCANCEL}));
}

TEST_F(UiModelHeadless, PressesWhenTheProgressBarGetsThere) {
  Script("press 2 on \"bar\" progress 11 30\n");
  AskDialog d;
  d.tick = true;
  EXPECT_EQ(d.DoModal(AskTemplate("bar")), os::IDCANCEL);
  std::vector<int> positions = ui().PositionsOf("bar", 11);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 30);
}

TEST_F(UiModelHeadless, UnmetConditionGivesEscAfterTheTimeLimit) {
  Script("timeout 80\npress 1 on \"slow\" progress 11 1000\n");
  AskDialog d;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(d.DoModal(AskTemplate("slow")), os::IDCANCEL);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
}

TEST_F(UiModelHeadless, RefusedPressFallsBackToEsc) {
  Script("press 1 on \"hidden ok\"\n");
  AskDialog d;
  d.hide_ok = true;
  EXPECT_EQ(d.DoModal(AskTemplate("hidden ok")), os::IDCANCEL);
  std::vector<os::ui::UiEvent> events = ui().Events();
  int refused = 0;
  for (const auto& e : events) {
    if (e.kind == UiEventKind::kButtonPressed && e.control_id == os::IDOK && e.value == 0) ++refused;
  }
  EXPECT_EQ(refused, 1);
}

TEST_F(UiModelHeadless, DefaultAnswerIsTheDefaultButtonWhenEscCannotWork) {
  AskDialog d;
  d.disable_cancel = true;
  EXPECT_EQ(d.DoModal(AskTemplate("no cancel")), os::IDOK);
}

TEST_F(UiModelHeadless, DialogsWithoutButtonsAreLeftToFinishByThemselves) {
  AskDialog d;
  d.tick = true;
  d.hide_buttons = true;
  EXPECT_EQ(d.DoModal(AskTemplate("busy")), 77);
}

TEST_F(UiModelHeadless, FailRuleMakesOnlyTheNthCreationFail) {
  Script("fail \"made\" nth 2\n");
  std::vector<bool> made;
  for (int i = 0; i < 3; ++i) {
    os::SetLastError(0);
    os::HWND h = os::CreateDialogIndirectParamA(AskTemplate("made"), nullptr, nullptr, 0);
    made.push_back(h != nullptr);
    if (h == nullptr) {
      EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
    } else {
      os::DestroyWindow(h);
    }
  }
  EXPECT_EQ(made, (std::vector<bool>{true, false, true}));
}

TEST_F(UiModelHeadless, SnapshotAtReadyShowsTheInitialisedDialog) {
  AskDialog d;
  d.hide_ok = true;
  d.DoModal(AskTemplate("snap"));
  auto snap = ui().front_end().SnapshotAtReady("snap");
  ASSERT_TRUE(snap);
  EXPECT_TRUE(snap->modal);
  EXPECT_FALSE(snap->Control(os::IDOK)->visible);
  EXPECT_TRUE(snap->Control(221)->visible);
}

TEST_F(UiModelHeadless, NoneFrontEndEscapesWaitingDialogs) {
  os::ui::SetFrontEnd(std::make_shared<os::ui::NoneFrontEnd>());
  AskDialog d;
  EXPECT_EQ(d.DoModal(AskTemplate("nobody")), os::IDCANCEL);
}

TEST_F(UiModelHeadless, HostLoadsAScriptFileOrSaysWhatIsWrong) {
  std::string error;
  EXPECT_FALSE(os::ui::LoadHeadlessScript(prefix() + "/missing.ui", &error));
  EXPECT_EQ(error, prefix() + "/missing.ui: cannot be read");
  pelisto::testing::WriteHostFile(prefix() + "/bad.ui", "box yes\nbox perhaps\n");
  EXPECT_FALSE(os::ui::LoadHeadlessScript(prefix() + "/bad.ui", &error));
  EXPECT_EQ(error, prefix() + "/bad.ui: line 2: unknown answer 'perhaps'");
  pelisto::testing::WriteHostFile(prefix() + "/deaf.ui", "transcript \"" + prefix() + "/no/such/dir/t.txt\"\n");
  EXPECT_FALSE(os::ui::LoadHeadlessScript(prefix() + "/deaf.ui", &error));
  EXPECT_EQ(error, prefix() + "/deaf.ui: transcript \"" + prefix() + "/no/such/dir/t.txt\" cannot be written");
  pelisto::testing::WriteHostFile(prefix() + "/good.ui", "box no repeat\n");
  ASSERT_TRUE(os::ui::LoadHeadlessScript(prefix() + "/good.ui", &error)) << error;
  EXPECT_EQ(os::MessageBoxA(nullptr, "?", "", os::MB_YESNO), os::IDNO);
  EXPECT_FALSE(os::ui::SelectFrontEnd("fancy", &error));
  EXPECT_EQ(error, "unknown front end 'fancy' (auto, tty, none, headless)");
  EXPECT_EQ(os::MessageBoxA(nullptr, "?", "", os::MB_YESNO), os::IDNO);  // still the script
  ASSERT_TRUE(os::ui::SelectFrontEnd("none", &error));
  EXPECT_TRUE(std::dynamic_pointer_cast<os::ui::NoneFrontEnd>(os::ui::CurrentFrontEnd()));
}

// The tty front end against a terminal whose input is a list of lines.
class FakeTerminal : public os::ui::Terminal {
 public:
  explicit FakeTerminal(std::deque<std::string> input, std::string* output) : input_(std::move(input)), output_(output) {}
  void Write(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mu_);
    *output_ += text;
  }
  int Width() const override { return 60; }
  bool ReadLine(std::string* line, const std::atomic<bool>&) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (input_.empty()) return false;
    *line = input_.front();
    input_.pop_front();
    return true;
  }

 private:
  std::mutex mu_;
  std::deque<std::string> input_;
  std::string* output_;
};

class UiModelTty : public UiTest {};

TEST_F(UiModelTty, BoxesAreAnsweredByNumberOrLetterAndEndOfInputTakesTheDefault) {
  std::string out;
  os::ui::SetFrontEnd(std::make_shared<os::ui::TtyFrontEnd>(
      std::make_unique<FakeTerminal>(std::deque<std::string>{"2", "maybe", "y", ""}, &out)));
  EXPECT_EQ(os::MessageBoxA(nullptr, "Replace?", "Pelisto/Check", os::MB_YESNO), os::IDNO);
  EXPECT_EQ(os::MessageBoxA(nullptr, "Replace?", "Pelisto/Check", os::MB_YESNO | os::MB_DEFBUTTON2), os::IDYES);
  EXPECT_EQ(os::MessageBoxA(nullptr, "Enter", "", os::MB_RETRYCANCEL | os::MB_DEFBUTTON2), os::IDCANCEL);
  EXPECT_EQ(os::MessageBoxA(nullptr, "eof", "", os::MB_OKCANCEL), os::IDOK);
  EXPECT_NE(out.find("[Pelisto/Check]\nReplace?\n1) Yes  2) No  (Enter: Yes) > "), std::string::npos) << out;
  os::ui::SetFrontEnd(nullptr);
}

TEST_F(UiModelTty, DialogButtonsAreAskedByTheirMnemonic) {
  std::string out;
  os::ui::SetFrontEnd(
      std::make_shared<os::ui::TtyFrontEnd>(std::make_unique<FakeTerminal>(std::deque<std::string>{"x", "k"}, &out)));
  AskDialog d;
  EXPECT_EQ(d.DoModal(AskTemplate("Install Failed!")), 221);
  os::ui::SetFrontEnd(nullptr);
  EXPECT_NE(out.find("Install Failed!: k) Skip  r) Retry  s) Stop Install"), std::string::npos) << out;
  EXPECT_NE(out.find("[ Skip ] [ Retry ] [ Stop Install ]"), std::string::npos) << out;
}

TEST_F(UiModelTty, RendersRowsBarsAndKoreanTextInUtf8) {
  os::ImageSettings s = machine().settings();
  s.code_page = os::CP_KOREAN;
  Reconfigure(s);
  os::ui::WindowSnapshot snap;
  snap.title = os::Utf8ToAnsi("설치 실패");
  auto control = [](int id, os::ControlKind kind, const std::string& text, int x, int y, bool visible = true) {
    os::ui::ControlSnapshot c;
    c.id = id;
    c.kind = kind;
    c.text = os::Utf8ToAnsi(text);
    c.rect = os::RECT{x, y, x + 10, y + 8};
    c.visible = visible;
    return c;
  };
  snap.controls.push_back(control(-1, os::ControlKind::kStatic, "상태:", 8, 9));
  snap.controls.push_back(control(1001, os::ControlKind::kStatic, "DOWNLOADING", 56, 10));
  os::ui::ControlSnapshot bar = control(218, os::ControlKind::kProgress, "", 7, 39);
  bar.range_max = 100;
  bar.position = 33;
  snap.controls.push_back(bar);
  snap.controls.push_back(control(2, os::ControlKind::kButton, "취소(&c)", 102, 89));
  snap.controls.push_back(control(3, os::ControlKind::kButton, "hidden", 150, 89, false));
  std::vector<std::string> lines = os::ui::RenderDialog(snap, 30);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "== 설치 실패 ==");
  EXPECT_EQ(lines[1], "상태: DOWNLOADING");
  EXPECT_EQ(lines[2], "[#######---------------]  33%");
  EXPECT_EQ(lines[3], "[ 취소(c) ]");
  EXPECT_EQ(os::ui::DisplayWidth("상태: ab"), 8);
  std::vector<std::string> narrow = os::ui::RenderDialog(snap, 20);
  EXPECT_EQ(narrow[1], "상태: DOWNLOADING");  // 17 columns: fits
  snap.controls[1].text = "DOWNLOADING and much more";
  narrow = os::ui::RenderDialog(snap, 20);
  EXPECT_EQ(os::ui::DisplayWidth(narrow[1]), 20);
  EXPECT_EQ(os::ui::WithoutMnemonic("A&&B &Retry"), "A&B Retry");
}

}  // namespace
