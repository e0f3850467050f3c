#include <gtest/gtest.h>

#include "download/file_in_use_dlg.h"
#include "os/base/text.h"
#include "os/sysinfo/version.h"
#include "os/ui/message_box.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::CFileInUseDlg;
using pelisto::testing::UiTest;

constexpr char kTitle[] = "Install Failed!";

struct ButtonsCase {
  const char* name;
  const char* disable;
  const char* hidden;
  bool show_skip;
  // Expected visible / enabled of Skip, Retry, Stop.
  bool skip_visible, retry_visible, stop_visible;
  bool skip_enabled, retry_enabled, stop_enabled;
};

void PrintTo(const ButtonsCase& c, std::ostream* out) { *out << c.name; }

class FileInUseButtons : public UiTest, public ::testing::WithParamInterface<ButtonsCase> {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    CFileInUseDlg::SetButtonLists(GetParam().disable, GetParam().hidden);
  }
  void TearDown() override {
    CFileInUseDlg::SetButtonLists("", "");
    UiTest::TearDown();
  }
};

TEST_P(FileInUseButtons, ListsDisableAndHideByWord) {
  const ButtonsCase& c = GetParam();
  CFileInUseDlg dlg;
  dlg.SetFile("C:\\Program Files\\Vendor\\app.ocx");
  dlg.SetShowSkip(c.show_skip);
  dlg.DoModal();
  auto snap = ui().front_end().SnapshotAtReady(kTitle);
  ASSERT_TRUE(snap);
  auto state = [&](int id) { return std::make_pair(snap->Control(id)->visible, snap->Control(id)->enabled); };
  EXPECT_EQ(state(221), std::make_pair(c.skip_visible, c.skip_enabled)) << "Skip";
  EXPECT_EQ(state(1), std::make_pair(c.retry_visible, c.retry_enabled)) << "Retry";
  EXPECT_EQ(state(2), std::make_pair(c.stop_visible, c.stop_enabled)) << "Stop";
}

INSTANTIATE_TEST_SUITE_P(
    Lists, FileInUseButtons,
    ::testing::Values(
        ButtonsCase{"nothing_set", "", "", true, true, true, true, true, true, true},
        ButtonsCase{"skip_not_allowed", "", "", false, false, true, true, true, true, true},
        ButtonsCase{"hidden_skip_stop", "", "skip,stop", true, false, true, false, true, true, true},
        ButtonsCase{"hidden_upper_case", "", "RETRY", true, true, true, true, true, true, true},
        ButtonsCase{"disable_retry", "retry", "", true, true, true, true, true, false, true},
        ButtonsCase{"disable_nostop", "nostop", "", true, true, true, true, true, true, false},
        ButtonsCase{"disabled_and_hidden", "stop", "stop", true, true, true, false, true, true, false},
        ButtonsCase{"list_without_words", "none,at,all", "x", false, false, true, true, true, true, true},
        // Nothing left to press and Stop disabled: Stop stays enabled so Esc still works.
        ButtonsCase{"no_way_out", "skip,retry,stop", "", true, true, true, true, false, false, true},
        ButtonsCase{"no_way_out_hidden", "stop", "retry", false, false, false, true, true, true, true}));

class FileInUseResult : public UiTest {};

TEST_F(FileInUseResult, EachButtonEndsWithItsResult) {
  Script("press 221 on \"Install Failed!\" appear 1\n"
         "press 1 on \"Install Failed!\" appear 2\n"
         "press 2 on \"Install Failed!\" appear 3\n"
         "press esc on \"Install Failed!\" appear 4\n");
  std::vector<os::INT_PTR> results;
  for (int i = 0; i < 4; ++i) {
    CFileInUseDlg dlg;
    dlg.SetShowSkip(true);
    results.push_back(dlg.DoModal());
  }
  EXPECT_EQ(results, (std::vector<os::INT_PTR>{221, 1, 2, 2}));
}

TEST_F(FileInUseResult, SkipIsNeverShownWhenTheCallerDoesNotAllowIt) {
  Script("press 221 on \"Install Failed!\"\n");
  CFileInUseDlg dlg;
  EXPECT_EQ(dlg.DoModal(), CFileInUseDlg::kStop);  // the press is refused; nobody else answers
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kButtonPressed, kTitle, 221), 1);
}

TEST_F(FileInUseResult, ARetryLoopGetsANewDialogEachTime) {
  Script("press 1 on \"Install Failed!\" appear 1\npress 1 on \"Install Failed!\" appear 2\n");
  int prompts = 0;
  os::INT_PTR answer = CFileInUseDlg::kRetry;
  while (answer == CFileInUseDlg::kRetry) {
    CFileInUseDlg dlg;
    dlg.SetFile("C:\\x.dll");
    answer = dlg.DoModal();
    ++prompts;
  }
  EXPECT_EQ(prompts, 3);
  EXPECT_EQ(answer, CFileInUseDlg::kStop);
}

TEST_F(FileInUseResult, ShowsTheFileInItsLanguageAndComesToTheFront) {
  os::ImageSettings s = machine().settings();
  s.code_page = os::CP_KOREAN;
  Reconfigure(s);
  os::SetThreadUILanguage(os::kLangKorean);
  std::string path = os::Utf8ToAnsi("C:\\프로그램\\뷰어.ocx");
  CFileInUseDlg dlg;
  dlg.SetFile(path);
  dlg.DoModal();
  auto snap = ui().front_end().SnapshotAtReady(kTitle);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->Control(216)->text, path);
  EXPECT_EQ(os::AnsiToUtf8(snap->Control(1)->text), "재시도(&r)");
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kForeground, kTitle), 1);
  os::SetThreadUILanguage(os::kLangEnglish);
  CFileInUseDlg english;
  english.DoModal();
  EXPECT_EQ(ui().front_end().SnapshotAtReady(kTitle)->Control(1)->text, "&Retry");
}

}  // namespace
