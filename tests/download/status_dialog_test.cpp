#include <gtest/gtest.h>

#include <climits>

#include "download/download_ui_dlg.h"
#include "download/status_dialog_runner.h"
#include "os/base/text.h"
#include "os/sysinfo/version.h"
#include "os/ui/dialog.h"
#include "os/ui/message_queue.h"
#include "os/ui/thread_id.h"
#include "os/ui/window.h"
#include "tests/support/ui_script.h"

namespace {
using os::ui::UiEventKind;
using pelisto::ProgressManager;
using pelisto::StatusDialogRunner;
using pelisto::testing::UiTest;

constexpr char kTitle[] = "File Download";

struct PercentCase {
  os::LONG total;
  os::LONG count;
  int percent;
};

void PrintTo(const PercentCase& c, std::ostream* out) { *out << c.count << "_of_" << c.total; }

class StatusDialogProgress : public ::testing::TestWithParam<PercentCase> {};

TEST_P(StatusDialogProgress, PercentOfTotal) {
  ProgressManager m;
  m.SetTotal(GetParam().total);
  EXPECT_EQ(m.Percent(GetParam().count), GetParam().percent);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, StatusDialogProgress,
    ::testing::Values(PercentCase{3, 1, 33}, PercentCase{3, 2, 66}, PercentCase{3, 3, 100},
                      PercentCase{100, 97, 97}, PercentCase{100, 98, 100},  // 98 % done shows 100
                      PercentCase{2048, 1024, 50}, PercentCase{-1, 5, -500},  // unknown length
                      PercentCase{-1, INT_MAX, INT_MIN},                     // clamped, no overflow
                      PercentCase{1, INT_MAX, 100}, PercentCase{0, 0, 100},   // nothing to do is done
                      PercentCase{0, 7, 100}));

TEST(StatusDialogProgressDefault, StepIsOneBeforeAnyTotal) {
  ProgressManager m;
  EXPECT_EQ(m.Percent(42), 42);
  EXPECT_EQ(m.Percent(98), 100);
}

class StatusDialogTest : public UiTest {
 protected:
  void TearDown() override {
    runner_.Close();
    UiTest::TearDown();
  }
  StatusDialogRunner runner_;
};

TEST_F(StatusDialogTest, StartsOnItsOwnThreadAndIsFoundByTheSingleRunGuard) {
  ASSERT_TRUE(runner_.Start("ENG", false));
  ASSERT_NE(runner_.dialog(), nullptr);
  EXPECT_TRUE(runner_.ready());
  EXPECT_TRUE(runner_.running());
  os::HWND found = os::FindWindowA("", kTitle);
  ASSERT_NE(found, nullptr);
  std::string cls;
  os::GetClassNameA(found, &cls, 256);
  EXPECT_EQ(cls, "StartDownload");
  EXPECT_TRUE(os::IsWindowVisible(found));
  EXPECT_EQ(os::GetForegroundWindow(), found);
  EXPECT_NE(os::GetWindowThreadProcessId(found, nullptr), os::GetCurrentThreadId());
  runner_.Close();
  EXPECT_EQ(runner_.dialog(), nullptr);
  EXPECT_FALSE(runner_.running());
  EXPECT_EQ(os::FindWindowA("", kTitle), nullptr);
}

TEST_F(StatusDialogTest, RunBarFollowsTheWorkItems) {
  ASSERT_TRUE(runner_.Start("ENG", false));
  pelisto::IStarterDownload* d = runner_.dialog();
  os::LONG cancel = -1;
  d->TotalDownloadFileNumber(3, &cancel);
  EXPECT_EQ(cancel, 0);
  d->IsDownload(pelisto::DOWNLOADING, "a.ocx", &cancel);
  d->IsDownload(pelisto::DOWNLOADING, "b.ocx", &cancel);
  d->IsDownload(pelisto::WRITE_REGISTRY, "c.ocx", &cancel);
  EXPECT_EQ(ui().PositionsOf(kTitle, 218), (std::vector<int>{0, 33, 66, 100}));
  // The same status twice changes the status line once.
  EXPECT_EQ(ui().TextsOf(kTitle, 1001), (std::vector<std::string>{"DOWNLOADING", "WRITE_REGISTRY"}));
  EXPECT_EQ(ui().TextsOf(kTitle, 1002), (std::vector<std::string>{"a.ocx", "b.ocx", "c.ocx"}));
}

TEST_F(StatusDialogTest, LocalFileCheckingCountsButMovesNothing) {
  ASSERT_TRUE(runner_.Start("ENG", false));
  pelisto::IStarterDownload* d = runner_.dialog();
  os::LONG cancel = 0;
  d->TotalDownloadFileNumber(4, &cancel);
  d->IsDownload(pelisto::DOWNLOADING, "a", &cancel);
  d->IsDownload(pelisto::LOCAL_FILE_CHECKING, "b", &cancel);
  d->IsDownload(pelisto::CHECK_INSTALLED, "c", &cancel);
  EXPECT_EQ(ui().PositionsOf(kTitle, 218), (std::vector<int>{0, 25, 75}));
  EXPECT_EQ(ui().TextsOf(kTitle, 1002), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(ui().TextsOf(kTitle, 1001),
            (std::vector<std::string>{"DOWNLOADING", "LOCAL_FILE_CHECKING", "CHECK_INSTALLED"}));
}

TEST_F(StatusDialogTest, UnknownStatusChangesNoTextButCountsAsTheLastStatus) {
  ASSERT_TRUE(runner_.Start("ENG", false));
  pelisto::IStarterDownload* d = runner_.dialog();
  d->IsDownload(9, "x", nullptr);
  d->IsDownload(-1, "y", nullptr);
  d->IsDownload(pelisto::UNZIPPING, "z", nullptr);
  d->IsDownload(pelisto::UNZIPPING, "z2", nullptr);
  EXPECT_EQ(ui().TextsOf(kTitle, 1001), std::vector<std::string>{"UNZIPPING"});
}

TEST_F(StatusDialogTest, FileBarFollowsTheTransfer) {
  ASSERT_TRUE(runner_.Start("ENG", false));
  pelisto::IStarterDownload* d = runner_.dialog();
  os::LONG cancel = -1;
  d->StartDownload("http://host/dl/setup.exe", "C:\\dl\\setup.exe", 2048, &cancel);
  EXPECT_EQ(cancel, 0);
  d->Downloading(1024, &cancel);
  d->Downloading(2007, &cancel);  // 97.99 %
  d->Downloading(2008, &cancel);  // 98.05 %
  EXPECT_EQ(ui().PositionsOf(kTitle, 204), (std::vector<int>{0, 50, 97, 100}));
  EXPECT_EQ(ui().TextsOf(kTitle, 208), std::vector<std::string>{"C:\\dl\\setup.exe"});
  // Unknown length: negative percentages leave the bar at its start.
  d->StartDownload("http://host/dl/x", "x", -1, &cancel);
  d->Downloading(300, &cancel);
  EXPECT_EQ(ui().PositionsOf(kTitle, 204).back(), 0);
  // The notifications without a display change nothing.
  size_t before = ui().Events().size();
  d->ChangeStatus(10, 0, 0, &cancel);
  d->UnZipFileNumber(3);
  d->UnZipping("a.txt", &cancel);
  d->EndUnZip(1);
  d->ErrorNotify("x");
  EXPECT_EQ(ui().Events().size(), before);
}

TEST_F(StatusDialogTest, StartFailsCleanlyWhenTheDialogCannotBeMade) {
  Script("fail \"File Download\" nth 1\n");
  EXPECT_FALSE(runner_.Start("ENG", false));
  EXPECT_EQ(runner_.dialog(), nullptr);
  EXPECT_FALSE(runner_.ready());
  EXPECT_EQ(os::FindWindowA("", kTitle), nullptr);
  runner_.Close();
  runner_.Close();
  EXPECT_TRUE(runner_.Start("ENG", false));  // the next creation is allowed
  EXPECT_NE(runner_.dialog(), nullptr);
}

TEST_F(StatusDialogTest, CancelIsReportedByEveryLaterCall) {
  Script("press 2 on \"File Download\"\n");
  ASSERT_TRUE(runner_.Start("ENG", false));
  ASSERT_TRUE(ui().WaitFor(UiEventKind::kDialogEnded, kTitle));
  pelisto::IStarterDownload* d = runner_.dialog();
  ASSERT_NE(d, nullptr);  // the thread and its loop go on until the run closes it
  std::vector<os::LONG> flags(6, -1);
  d->StartDownload("u", "f", 10, &flags[0]);
  d->Downloading(5, &flags[1]);
  d->ChangeStatus(0, 0, 0, &flags[2]);
  d->UnZipping("m", &flags[3]);
  d->TotalDownloadFileNumber(2, &flags[4]);
  d->IsDownload(0, "c", &flags[5]);
  EXPECT_EQ(flags, std::vector<os::LONG>(6, 1));
  EXPECT_TRUE(runner_.running());
  EXPECT_FALSE(os::IsWindowVisible(os::FindWindowA("StartDownload", "")));
}

TEST_F(StatusDialogTest, HiddenCancelCannotBePressedEscapedOrClosed) {
  Script("press 2 on \"File Download\"\npress esc on \"File Download\" progress 218 50\n");
  ASSERT_TRUE(runner_.Start("ENG", true));
  pelisto::IStarterDownload* d = runner_.dialog();
  os::HWND hwnd = os::FindWindowA("StartDownload", "");
  os::PostMessageA(hwnd, os::WM_CLOSE, 0, 0);
  os::LONG cancel = -1;
  d->TotalDownloadFileNumber(2, &cancel);
  d->IsDownload(0, "a", &cancel);  // 50 %: the script presses Esc now
  ASSERT_TRUE(ui().WaitFor(UiEventKind::kButtonPressed, kTitle));
  // A message sent after the posted ones is served after them: they have all been handled.
  os::SendMessageA(hwnd, os::WM_NULL, 0, 0);
  d->IsDownload(0, "b", &cancel);
  EXPECT_EQ(cancel, 0);
  auto snap = ui().front_end().SnapshotAtReady(kTitle);
  ASSERT_TRUE(snap);
  EXPECT_FALSE(snap->Control(2)->visible);
  EXPECT_TRUE(os::IsWindowVisible(hwnd));
  EXPECT_EQ(ui().Count(UiEventKind::kDialogEnded, kTitle), 0);
}

TEST_F(StatusDialogTest, LanguageIsAppliedOnTheDialogsThread) {
  os::SetThreadUILanguage(os::kLangEnglish);
  ASSERT_TRUE(runner_.Start("kor", false));
  auto snap = ui().front_end().SnapshotAtReady(kTitle);
  ASSERT_TRUE(snap);
  EXPECT_EQ(os::AnsiToUtf8(snap->controls[0].text), "상태:");
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangEnglish);  // the caller's thread keeps its own
  ASSERT_TRUE(runner_.Start("ENG", false));                // closes the first one
  snap = ui().front_end().SnapshotAtReady(kTitle);
  EXPECT_EQ(snap->controls[0].text, "Status:");
  EXPECT_EQ(ui().Count(UiEventKind::kDestroyed, kTitle), 1);
}

TEST_F(StatusDialogTest, DestructorAfterCloseAndDialogEndingOnItsOwnAreHarmless) {
  {
    StatusDialogRunner runner;
    ASSERT_TRUE(runner.Start("ENG", false));
    runner.Close();
  }
  StatusDialogRunner runner;
  ASSERT_TRUE(runner.Start("ENG", false));
  pelisto::IStarterDownload* d = runner.dialog();
  os::HWND hwnd = os::FindWindowA("StartDownload", "");
  os::PostMessageA(hwnd, os::WM_QUIT, 0, 0);  // someone else ends its loop
  ASSERT_TRUE(ui().WaitFor(UiEventKind::kDestroyed, kTitle));
  os::LONG cancel = -1;
  d->IsDownload(0, "late", &cancel);  // the object outlives its window until Close
  EXPECT_EQ(cancel, 0);
  runner.Close();
  EXPECT_EQ(runner.dialog(), nullptr);
}

}  // namespace
