#include <gtest/gtest.h>

#include <functional>

#include "download/http_download.h"
#include "os/base/handle.h"
#include "os/fs/file_api.h"
#include "os/ui/headless_front_end.h"
#include "tests/download/http_transfer_fixture.h"

namespace pelisto::testing {
namespace {

class HttpTransferCancel : public HttpTransferTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    HttpTransferTest::SetUp();
    SetOsMajor(GetParam());
    std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
  }
};

TEST_P(HttpTransferCancel, AtStartDownloadNothingIsWrittenAndNoFileIsLeft) {
  control_->start_answer = 1;
  EXPECT_EQ(Fetch(server_.Url("/pattern/5000")), 1) << "a cancelled transfer still ran to its end";
  EXPECT_EQ(cancel_, 1);
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(WorkFiles().empty());
  EXPECT_TRUE(control_->EventsNamed("Downloading").empty());
  ASSERT_EQ(control_->log.size(), 1u);
  EXPECT_EQ(control_->log[0].text, control_->log_time + " StartDownload User Cancel..");
  EXPECT_EQ(control_->log[0].level, 1u);
}

TEST_P(HttpTransferCancel, AtDownloadingTheBytesWrittenGoWithTheFile) {
  control_->downloading_answer = 1;
  control_->downloading_answer_from = 3;
  EXPECT_EQ(Fetch(server_.Url("/pattern/50000")), 1);
  EXPECT_EQ(cancel_, 1);
  EXPECT_EQ(control_->EventsNamed("Downloading").size(), 3u) << "the loop ends at the cancel";
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(WorkFiles().empty());
  EXPECT_TRUE(control_->Logged(" Downloading User Cancel.."));
}

TEST_P(HttpTransferCancel, AStatusCancelIsSeenAtTheNextReadAfterStartDownload) {
  RecordingStarter sink;
  control_->status_answer = 1;
  EXPECT_EQ(Fetch(server_.Url("/pattern/5000"), kTarget, &sink), 1);
  EXPECT_EQ(cancel_, 1);
  EXPECT_EQ(control_->EventsNamed("StartDownload").size(), 1u);
  EXPECT_TRUE(control_->EventsNamed("Downloading").empty());
  EXPECT_FALSE(HostExists(kTarget));
}

TEST_P(HttpTransferCancel, ACancelKeepsWhatTheTargetHeld) {
  PutFile(kTarget, "installed before");
  control_->downloading_answer = 1;
  EXPECT_EQ(Fetch(server_.Url("/pattern/5000")), 1);
  EXPECT_EQ(GetFile(kTarget), "installed before") << "only the work file was written";
  EXPECT_EQ(FilesBesideTarget(), 1u) << "no part file stays beside the target";
}

INSTANTIATE_TEST_SUITE_P(Versions, HttpTransferCancel, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

struct OrCase {
  const char* name;
  os::LONG page;
  os::LONG sink;
  bool cancels;
};

void PrintTo(const OrCase& c, std::ostream* out) { *out << c.name; }

class HttpTransferCancelRule : public HttpTransferTest, public ::testing::WithParamInterface<OrCase> {};

TEST_P(HttpTransferCancelRule, OnlyAnOrOfExactlyOneCancels) {
  const OrCase& c = GetParam();
  RecordingStarter sink;
  control_->downloading_answer = c.page;
  sink.downloading_answer = c.sink;
  EXPECT_EQ(Fetch(server_.Url("/pattern/3000"), kTarget, &sink), 1);
  EXPECT_EQ(cancel_, c.cancels ? 1 : 0);
  EXPECT_EQ(HostExists(kTarget), !c.cancels);
  if (!c.cancels) {
    EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
  }
  EXPECT_EQ(control_->EventsNamed("Downloading").size(), c.cancels ? 1u : 3u);
}

INSTANTIATE_TEST_SUITE_P(Values, HttpTransferCancelRule,
                         ::testing::Values(OrCase{"page_1", 1, 0, true}, OrCase{"sink_1", 0, 1, true},
                                           OrCase{"both_1", 1, 1, true}, OrCase{"page_2", 2, 0, false},
                                           OrCase{"page_2_sink_1", 2, 1, false}, OrCase{"page_minus_1", -1, 0, false},
                                           OrCase{"none", 0, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpTransferTest, APageValueOfTwoDoesNotCancelAnyEvent) {
  RecordingStarter sink;
  control_->start_answer = 2;
  control_->downloading_answer = 2;
  control_->status_answer = 2;
  EXPECT_EQ(Fetch(server_.Url("/pattern/3000"), kTarget, &sink), 1);
  EXPECT_EQ(cancel_, 0);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
  EXPECT_TRUE(control_->log.empty());
}

// The file-in-use prompt. A handle that denies writing keeps the target from being opened;
// the front end tells the test when a prompt ends, so it can let the file go as a user
// closing the program would.
class OnPromptEnd : public os::ui::FrontEnd {
 public:
  OnPromptEnd(std::shared_ptr<os::ui::FrontEnd> inner, std::function<void()> ended)
      : inner_(std::move(inner)), ended_(std::move(ended)) {}
  int AnswerMessageBox(const os::ui::MessageBoxRequest& box) override { return inner_->AnswerMessageBox(box); }
  bool AllowDialog(const std::string& title, const std::string& class_name) override {
    return inner_->AllowDialog(title, class_name);
  }
  void OnEvent(const os::ui::UiEvent& event) override {
    inner_->OnEvent(event);
    if (event.kind == os::ui::UiEventKind::kDialogEnded && event.title == "Install Failed!") ended_();
  }

 private:
  std::shared_ptr<os::ui::FrontEnd> inner_;
  std::function<void()> ended_;
};

class HttpTransferFileInUse : public HttpTransferTest {
 protected:
  void SetUp() override {
    HttpTransferTest::SetUp();
    SetOsMajor(5);
    target_ = machine().FolderPath(os::KnownFolder::kDesktop) + "\\setup.bin";
    PutFile(target_, "running");
    holder_ = os::CreateFileA(target_, os::GENERIC_READ, 0, nullptr, os::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder_, os::INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    Release();
    HttpTransferTest::TearDown();
  }
  void Release() {
    if (holder_ != os::INVALID_HANDLE_VALUE) os::CloseHandle(holder_);
    holder_ = os::INVALID_HANDLE_VALUE;
  }
  int Prompts() { return ui().Count(os::ui::UiEventKind::kDialogReady, "Install Failed!"); }

  std::string target_;
  os::HANDLE holder_ = os::INVALID_HANDLE_VALUE;
};

TEST_F(HttpTransferFileInUse, SkipGivesMinusOneAndTheSkipMessage) {
  Script("press 221 on \"Install Failed!\"\n");
  EXPECT_EQ(Fetch(server_.Url("/pattern/100"), target_), -1);
  EXPECT_EQ(error_, "Skip Download File " + target_);
  EXPECT_EQ(Prompts(), 1);
  auto prompt = ui().front_end().SnapshotAtReady("Install Failed!");
  ASSERT_TRUE(prompt);
  EXPECT_EQ(prompt->Control(216)->text, target_);
  EXPECT_TRUE(prompt->Control(221)->visible) << "the dialogless transfer offers Skip";
  EXPECT_EQ(server_.RequestCount(), 0u);
  Release();
  EXPECT_EQ(GetFile(target_), "running");
}

TEST_F(HttpTransferFileInUse, StopGivesZeroAndTheNotCreateMessage) {
  Script("press 2 on \"Install Failed!\"\n");
  EXPECT_EQ(Fetch(server_.Url("/pattern/100"), target_), 0);
  EXPECT_EQ(error_, "Not Create File" + target_);
  EXPECT_EQ(Prompts(), 1);
  Release();
  EXPECT_EQ(GetFile(target_), "running") << "a file someone else holds is not deleted";
}

TEST_F(HttpTransferFileInUse, RetryOpensAgainUntilTheFileIsFree) {
  Script("press 1 on \"Install Failed!\" repeat\n");
  auto inner = os::ui::CurrentFrontEnd();
  int ended = 0;
  os::ui::SetFrontEnd(std::make_shared<OnPromptEnd>(inner, [&] {
    if (++ended == 2) Release();  // the user closes the program after the second prompt
  }));
  EXPECT_EQ(Fetch(server_.Url("/pattern/100"), target_), 1) << error_;
  os::ui::SetFrontEnd(inner);
  EXPECT_EQ(Prompts(), 2);
  EXPECT_TRUE(GetFile(target_) == HttpServer::Pattern(100));
}

}  // namespace
}  // namespace pelisto::testing
