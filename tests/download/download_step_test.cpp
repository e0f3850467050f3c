#include "download/download_step.h"

#include <gtest/gtest.h>

#include "download/output_file.h"
#include "tests/download/download_dialog_fixture.h"

namespace pelisto::testing {
namespace {

// The control with a status dialog up: its sink is the one StatusSink hands out.
class ControlWithStatusDialog : public ScriptedControl {
 public:
  RecordingStarter sink;
  IStarterDownload* StatusSink() override { return &sink; }
};

class DownloadStep : public DownloadDialogTest {
 protected:
  os::LONG Dialogless(const std::string& url, const std::string& target = kTarget) {
    return DownloadEntryFile(*control_, url, target, "exe", 0, 1);
  }
  void WithStatusDialog() {
    auto control = std::make_unique<ControlWithStatusDialog>();
    control->windows6 = control_->windows6;
    control->protected_mode = control_->protected_mode;
    control->settings = control_->settings;
    control->settings.dlg_not_close = os::TRUE;
    sink_ = &control->sink;
    control_ = std::move(control);
  }
  RecordingStarter* sink_ = nullptr;
};

TEST_P(DownloadStep, TheDialoglessPathFiresTheEventsAndLogsItsSuccess) {
  const std::string url = server_.Url("/pattern/1500");
  ASSERT_EQ(Dialogless(url), 1);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(1500));
  EXPECT_EQ(control_->events, (std::vector<std::string>{"StartDownload(" + url + "," + kTarget + ",1500)",
                                                        "Downloading(1024)", "Downloading(1500)"}))
      << "no ChangeStatus without the status dialog";
  EXPECT_EQ(LogLines(), std::vector<std::string>{" Download file Success '" + url + "' and path '" + kTarget + "'@0"});
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kCreated, "File Download"), 0);
}

TEST_P(DownloadStep, ACancelAtStartDownloadLeavesNoFile) {
  PutFile(kTarget, "installed before");
  control_->start_answer = 1;
  EXPECT_EQ(Dialogless(server_.Url("/pattern/5000")), 0);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{" StartDownload User Cancel..@1", " [[Abort by User]]@1"}));
  EXPECT_EQ(GetFile(kTarget), "installed before") << "the target is replaced only by a whole body";
  EXPECT_TRUE(WorkFiles().empty());
  EXPECT_EQ(FilesBesideTarget(), 1u) << "no part file stays beside the target";
}

TEST_P(DownloadStep, APageValueOfTwoDoesNotCancel) {
  control_->start_answer = 2;
  control_->downloading_answer = 2;
  EXPECT_EQ(Dialogless(server_.Url("/pattern/3000")), 1);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
}

TEST_P(DownloadStep, ANotFoundAnswerOnTheDialoglessPathLogsTheStatusMessage) {
  EXPECT_EQ(Dialogless(server_.Url("/status/404")), 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{" Failed to retrieve a HTTP 200 status, Status Code:404\n@1"});
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_P(DownloadStep, AnAddressWithoutSchemeOnTheDialoglessPath) {
  const std::string bare = server_.Url("/pattern/10").substr(std::string("http://").size());
  EXPECT_EQ(Dialogless(bare), 1);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(10));
}

TEST_P(DownloadStep, SkipAtTheFileInUsePromptIsTheDialoglessPathsOnly) {
  if (Windows6()) GTEST_SKIP() << "the work file is a new temporary file on Windows 6";
  OutputFile holder;
  ASSERT_TRUE(holder.Open(kTarget));
  Script("press 221 on \"Install Failed!\"\n");
  EXPECT_EQ(Dialogless(server_.Url("/pattern/10")), -1);
  EXPECT_EQ(LogLines(), std::vector<std::string>{std::string(" Skip Download File ") + kTarget + "@1"});

  // The dialog's prompt has no Skip: the press is refused and the prompt stops.
  Script("press 221 on \"Install Failed!\"\n");
  EXPECT_EQ(Entry(server_.Url("/pattern/10")), 0);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kButtonPressed, "Install Failed!", 221), 1);
}

TEST_P(DownloadStep, TheStatusDialogIsTheSinkOnlyWhileItStaysOpen) {
  WithStatusDialog();
  const std::string url = server_.Url("/pattern/1500");
  ASSERT_EQ(Dialogless(url), 1);
  ASSERT_FALSE(sink_->calls.empty());
  EXPECT_EQ(sink_->calls.back(), "Downloading(1500)");
  EXPECT_FALSE(static_cast<ScriptedControl&>(*control_).EventsNamed("ChangeStatus").empty())
      << "ChangeStatus reaches the page when the sink is there";

  sink_->start_answer = 1;
  EXPECT_EQ(Dialogless(url), 0) << "the status dialog's own cancel";
  EXPECT_TRUE(control_->Logged(" [[Abort by User]]"));
}

TEST_P(DownloadStep, TheConfigurationFileUsesTheDialogOnlyWhenTheStatusDialogDoesNotStay) {
  const std::string url = server_.Url("/pattern/100");
  ASSERT_EQ(DownloadConfigFile(*control_, url, kTarget, 1, 1), 1);
  EXPECT_TRUE(control_->events.empty()) << "the dialog fires no events";
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kCreated, "File Download"), 1);

  control_->settings.dlg_not_close = os::TRUE;
  control_->events.clear();
  ASSERT_EQ(DownloadConfigFile(*control_, url, kTarget, 1, 1), 1);
  EXPECT_EQ(control_->EventsNamed("StartDownload").size(), 1u);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kCreated, "File Download"), 1);
}

TEST_P(DownloadStep, TheConfigurationFilesFailuresAreNotableAndItsParseBoxIsGated) {
  const std::string url = server_.Url("/status/500");
  EXPECT_EQ(DownloadConfigFile(*control_, url, kTarget, 1, 1), 0);
  EXPECT_EQ(LogLines().back(), " Failed to download '" + url + "' and path '" + kTarget + "'@1");

  control_->log.clear();
  EXPECT_EQ(DownloadConfigFile(*control_, "foo://host/x", kTarget, 1, 1), 0);
  EXPECT_EQ(control_->messages, std::vector<std::string>{"Failed to parse the URL: http://foo://host/x\n"})
      << "through ShowMessage";
  EXPECT_EQ(BoxTexts().size(), 1u) << "only the 500 box of the dialog";
  EXPECT_EQ(LogLines(), std::vector<std::string>{" Failed to parse the URL: http://foo://host/x\n@2"});
}

TEST_P(DownloadStep, TheConfigurationDialogWorksInTheLocalLowFolderOnWindowsSix) {
  if (!Windows6()) GTEST_SKIP() << "no work folder before Windows 6";
  const std::string local_low = WorkFolder() + "\\Config";
  std::filesystem::create_directories(Host(local_low));
  control_->protected_mode.local_low_folder = local_low;
  // A ".zip" target keeps the download in its work file, which shows where it was written.
  const std::string target = "C:\\Program Files\\Vendor\\conf.zip";
  ASSERT_EQ(DownloadConfigFile(*control_, server_.Url("/pattern/100"), target, 1, 1), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Host(local_low)), {}), 1);
  EXPECT_FALSE(HostExists(target));
}

INSTANTIATE_TEST_SUITE_P(Versions, DownloadStep, ::testing::Values(5, 6), PrintOsMajor);

}  // namespace
}  // namespace pelisto::testing
