#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "os/com/hresult.h"
#include "control/pelisto_ctrl.h"
#include "tests/control/control_fakes.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::CPelistoCtrl;
using pelisto::RunError;
using pelisto::testing::FakeStarter;
using pelisto::testing::FakeStatusDialog;
using pelisto::testing::RecordingEventSink;

struct RuleCase {
  const char* name;
  int self_ui;
  int dlg_not_close;
  bool dialog_up;
  os::LONG page_answer;
  os::LONG dialog_answer;
  bool to_page;
  bool to_dialog;
  bool cancels;
};

void PrintTo(const RuleCase& c, std::ostream* out) { *out << c.name; }

class ControlEventRule : public pelisto::testing::UiTest,
                         public ::testing::WithParamInterface<RuleCase> {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    const RuleCase& c = GetParam();
    pelisto::ControlOptions options;
    options.status_dialog = std::make_unique<FakeStatusDialog>(&starter_);
    control_ = std::make_unique<CPelistoCtrl>(std::move(options));
    pelisto::PropertyBag bag;
    bag.Write("selfUi", os::Variant::Long(c.self_ui));
    bag.Write("dlgNotClose", os::Variant::Long(c.dlg_not_close));
    control_->Load(bag);
    control_->SetEventSink(&sink_);
    if (c.dialog_up) {
      ASSERT_TRUE(control_->StartStatusDialog());
    }
    sink_.answers = {{"TotalDownloadFileNumber", c.page_answer}, {"IsDownload", c.page_answer}};
    starter_.answer = c.dialog_answer;
  }

  FakeStarter starter_;
  RecordingEventSink sink_;
  std::unique_ptr<CPelistoCtrl> control_;
};

TEST_P(ControlEventRule, TotalDownloadFileNumber) {
  const RuleCase& c = GetParam();
  std::string raised;
  try {
    control_->NotifyTotalDownloadFileNumber(5);
  } catch (const RunError& e) {
    raised = e.what();
  }
  EXPECT_EQ(raised, c.cancels ? "Canceled at TotalDownloadFileNumber" : "");
  ASSERT_EQ(sink_.fired.size(), c.to_page ? 1u : 0u);
  if (c.to_page) {
    EXPECT_EQ(sink_.fired[0].name, "TotalDownloadFileNumber");
    EXPECT_EQ(sink_.fired[0].args[0].lVal(), 5);
    EXPECT_TRUE(sink_.fired[0].had_cancel);
  }
  EXPECT_EQ(starter_.calls, c.to_dialog ? std::vector<std::string>{"TotalDownloadFileNumber 5"}
                                        : std::vector<std::string>{});
}

TEST_P(ControlEventRule, IsDownload) {
  const RuleCase& c = GetParam();
  std::string raised;
  try {
    control_->NotifyIsDownload(pelisto::VERSION_CHECKING, "viewer");
  } catch (const RunError& e) {
    raised = e.what();
  }
  EXPECT_EQ(raised, c.cancels ? "Canceled By User Status is 4" : "");
  ASSERT_EQ(sink_.fired.size(), c.to_page ? 1u : 0u);
  if (c.to_page) {
    EXPECT_EQ(sink_.fired[0].args[0].lVal(), 4);
    EXPECT_EQ(sink_.fired[0].args[1].bstrVal(), "viewer");
  }
  EXPECT_EQ(starter_.calls, c.to_dialog ? std::vector<std::string>{"IsDownload 4 viewer"}
                                        : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlEventRule,
    ::testing::Values(
        // The control's own dialogs without the status dialog: the page hears nothing.
        RuleCase{"OwnUi", 1, 0, false, 1, 0, false, false, false},
        RuleCase{"PageCancels", 0, 0, false, 1, 0, true, false, true},
        RuleCase{"PageWritesTwo", 0, 0, false, 2, 0, true, false, false},
        RuleCase{"PageGoesOn", 0, 0, false, 0, 0, true, false, false},
        RuleCase{"DialogCancels", 1, 1, true, 0, 1, true, true, true},
        RuleCase{"PageCancelsBesideDialog", 1, 1, true, 1, 0, true, true, true},
        RuleCase{"BothOneIsStillOne", 1, 1, true, 1, 1, true, true, true},
        // 1 | 2 is 3, not exactly 1: the run goes on.
        RuleCase{"OrIsThree", 1, 1, true, 1, 2, true, true, false},
        RuleCase{"NoDialogUp", 1, 1, false, 1, 0, true, false, true},
        RuleCase{"DialogWithoutSelfUi", 0, 1, true, 0, 1, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

class ControlEvents : public pelisto::testing::UiTest {};

TEST_F(ControlEvents, DownloadEventsCarryTheirArgumentsAndThePagesCancel) {
  CPelistoCtrl control;
  RecordingEventSink sink;
  control.SetEventSink(&sink);
  sink.answers = {{"StartDownload", 1}, {"Downloading", 2}};
  EXPECT_EQ(control.FireStartDownload("http://h/a.zip", "C:\\w\\a.zip", 1234), 1);
  EXPECT_EQ(control.FireDownloading(1024), 2);
  EXPECT_EQ(control.FireChangeStatus(21, 7, 4), 0);
  control.FireUnZipFileNumber(3);
  EXPECT_EQ(control.FireUnZipping("a.txt"), 0);
  control.FireEndUnZip(1);
  std::vector<std::string> names;
  for (const auto& f : sink.fired) names.push_back(f.name + (f.had_cancel ? "*" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{"StartDownload*", "Downloading*", "ChangeStatus*",
                                             "UnZipFileNumber", "UnZipping*", "EndUnZip"}));
  ASSERT_EQ(sink.fired[0].args.size(), 3u);
  EXPECT_EQ(sink.fired[0].args[0].bstrVal(), "http://h/a.zip");
  EXPECT_EQ(sink.fired[0].args[1].bstrVal(), "C:\\w\\a.zip");
  EXPECT_EQ(sink.fired[0].args[2].lVal(), 1234);
}

TEST_F(ControlEvents, StatusDialogGetsTheLanguageAndTheHideFlag) {
  FakeStarter starter;
  auto dialog = std::make_unique<FakeStatusDialog>(&starter);
  FakeStatusDialog* seen = dialog.get();
  pelisto::ControlOptions options;
  options.status_dialog = std::move(dialog);
  CPelistoCtrl control(std::move(options));
  EXPECT_EQ(control.StatusSink(), nullptr);
  pelisto::PropertyBag bag;
  bag.Write("language", os::Variant::Text("ENG"));
  bag.Write("hideDownloadCancel", os::Variant::Text("-1"));
  control.Load(bag);
  ASSERT_TRUE(control.StartStatusDialog());
  EXPECT_EQ(seen->started_with, "ENG hide");
  EXPECT_EQ(control.StatusSink(), &starter);
  control.CloseStatusDialog();
  EXPECT_EQ(control.StatusSink(), nullptr);
}

TEST_F(ControlEvents, TheStatusDialogWindowIsTheSinkWhileItIsUp) {
  CPelistoCtrl control;
  control.Load(pelisto::PropertyBag());
  EXPECT_EQ(control.StatusSink(), nullptr);
  ASSERT_TRUE(control.StartStatusDialog());
  EXPECT_NE(control.StatusSink(), nullptr);
  control.CloseStatusDialog();
  EXPECT_EQ(control.StatusSink(), nullptr);
}

}  // namespace
