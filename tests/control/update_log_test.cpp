#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/com/hresult.h"
#include "control/pelisto_ctrl.h"
#include "control/update_log.h"
#include "os/com/apartment.h"
#include "os/base/text.h"
#include "os/fs/file_api.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::ControlSettings;
using pelisto::UpdateLog;

// 7 December 2026, 05:30:00.
os::SYSTEMTIME Day(int day = 7) {
  os::SYSTEMTIME st;
  st.wYear = 2026;
  st.wMonth = 12;
  st.wDay = static_cast<os::WORD>(day);
  st.wHour = 5;
  st.wMinute = 30;
  return st;
}

class UpdateLogTest : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    SetOsMajor(5);
    PutFile("C:\\work\\keep", "");  // the run's work folder exists
  }
  void TearDown() override {
    pelisto::ReleaseBroker();
    os::CoUninitialize();
    UiTest::TearDown();
  }

  // A log on the image's current version, dated by `today`.
  UpdateLog& MakeLog() {
    context_ = std::make_unique<pelisto::testing::FakeRunContext>();
    context_->windows6 = machine().settings().os_major >= 6;
    log_ = std::make_unique<UpdateLog>(settings_, context_->Privileged(), [this] { return today_; },
                                       [this](const std::string& text) {
                                         messages_.push_back(text);
                                       });
    return *log_;
  }

  ControlSettings settings_;
  os::SYSTEMTIME today_ = Day();
  std::unique_ptr<pelisto::testing::FakeRunContext> context_;  // the privileged steps' owner
  std::unique_ptr<UpdateLog> log_;
  std::vector<std::string> messages_;
};

TEST_F(UpdateLogTest, DayFileInPloLogAndTimeStamp) {
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  EXPECT_EQ(log.path(), "C:\\work\\PloLog\\Log20261207.log");
  EXPECT_EQ(GetFile(log.path()), "");
  EXPECT_EQ(log.GetLogTime(), "[2026-12-07_05:30:00]");

  // A run that passes midnight keeps the file of the day it started.
  today_ = Day(8);
  log.WriteLog("late line", 2);
  EXPECT_EQ(GetFile("C:\\work\\PloLog\\Log20261207.log"), "late line\r\n");
  EXPECT_FALSE(HostExists("C:\\work\\PloLog\\Log20261208.log"));
}

struct LevelCase {
  os::LONG log_level;
  std::string expected;  // which of the lines "0", "1", "2" are written
};

void PrintTo(const LevelCase& c, std::ostream* out) { *out << "logLevel " << c.log_level; }

class UpdateLogLevel : public UpdateLogTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(UpdateLogLevel, WritesLinesAtOrAboveTheLevel) {
  settings_.log_level = GetParam().log_level;
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  for (unsigned level : {0u, 1u, 2u}) log.WriteLog(std::to_string(level), level);
  EXPECT_EQ(GetFile(log.path()), GetParam().expected) << "logLevel " << GetParam().log_level;
}

INSTANTIATE_TEST_SUITE_P(Levels, UpdateLogLevel,
                         ::testing::Values(LevelCase{0, "0\r\n1\r\n2\r\n"},
                                           LevelCase{1, "1\r\n2\r\n"}, LevelCase{2, "2\r\n"},
                                           LevelCase{3, ""},
                                           // Compared unsigned: a negative level drops all.
                                           LevelCase{-1, ""}));

// On Windows 5 (direct writes) and 6 (through the broker), on a Korean image: the broker takes
// wide text, so the bytes survive only where the code page knows them, as on Windows.
class UpdateLogPaths : public UpdateLogTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    UpdateLogTest::SetUp();
    os::ImageSettings s = machine().settings();
    s.os_major = GetParam();
    s.code_page = os::CP_KOREAN;
    Reconfigure(s);
  }
};

TEST_P(UpdateLogPaths, AppendsToTheDaysFileAndNeverTruncates) {
  PutFile("C:\\work\\PloLog\\Log20261207.log", "earlier run\r\n");
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  log.WriteLog("\r\n[Pelisto Log File -getConfig]\r\n", 2);
  log.WriteLog("[2026-12-07_05:30:00] bytes \xB0\xA1 as given", 1);
  log.CreateLogFile("C:\\work");
  log.WriteLog("second", 2);
  EXPECT_EQ(GetFile("C:\\work\\PloLog\\Log20261207.log"),
            "earlier run\r\n\r\n[Pelisto Log File -getConfig]\r\n\r\n"
            "[2026-12-07_05:30:00] bytes \xB0\xA1 as given\r\nsecond\r\n");
  EXPECT_TRUE(messages_.empty());
}

TEST_P(UpdateLogPaths, FallsBackToDriveCWhenTheFolderCannotBeMade) {
  UpdateLog& log = MakeLog();
  // CreateDirectory makes one level only: below a missing folder it fails.
  log.CreateLogFile("C:\\missing\\work");
  EXPECT_EQ(log.path(), "c:\\Log20261207.log");
  log.WriteLog("line", 2);
  EXPECT_EQ(GetFile("C:\\Log20261207.log"), "line\r\n");
  EXPECT_FALSE(HostExists("C:\\missing"));
}

TEST_P(UpdateLogPaths, AFileNamedPloLogInTheWayFallsBackToDriveC) {
  PutFile("C:\\work\\PloLog", "not a folder");
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  EXPECT_EQ(log.path(), "c:\\Log20261207.log");
  log.WriteLog("line", 2);
  EXPECT_EQ(GetFile("C:\\Log20261207.log"), "line\r\n");
  EXPECT_EQ(GetFile("C:\\work\\PloLog"), "not a folder");
  EXPECT_TRUE(messages_.empty());
}

TEST_P(UpdateLogPaths, DisabledLogWritesNothing) {
  settings_.enable_log = os::FALSE;
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  log.WriteLog("\r\n[Pelisto Log File -getConfig]\r\n", 2);
  EXPECT_EQ(log.path(), "");
  EXPECT_FALSE(HostExists("C:\\work\\PloLog"));
  EXPECT_TRUE(ui().Boxes().empty()) << "no broker was asked for";
}

TEST_P(UpdateLogPaths, LineForADeletedFileIsLostQuietly) {
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  ASSERT_TRUE(os::DeleteFileA(log.path()));
  log.WriteLog("lost", 2);
  if (GetParam() < 6) {
    EXPECT_FALSE(HostExists("C:\\work\\PloLog\\Log20261207.log")) << "direct writes never create";
  } else {
    // The broker opens with "a+", which creates the file again.
    EXPECT_EQ(GetFile("C:\\work\\PloLog\\Log20261207.log"), "lost\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, UpdateLogPaths, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_F(UpdateLogTest, OnWindows6TheBrokerWritesWhereTheControlMayNot) {
  SetOsMajor(6);
  PutFile("C:\\Program Files\\Vendor\\keep", "");
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\Program Files\\Vendor");
  EXPECT_EQ(log.path(), "C:\\Program Files\\Vendor\\PloLog\\Log20261207.log");
  log.WriteLog("through the broker", 2);
  EXPECT_EQ(GetFile(log.path()), "through the broker\r\n");
  EXPECT_EQ(os::FileOpen(log.path(), "ab"), nullptr) << "the control itself cannot write there";
}

TEST_F(UpdateLogTest, CreateErrorEmptiesThePathAndTellsTheUser) {
  os::ImageSettings s = machine().settings();
  s.os_major = 6;
  s.refuse_elevation = true;
  Reconfigure(s);
  UpdateLog& log = MakeLog();
  log.CreateLogFile("C:\\work");
  EXPECT_EQ(log.path(), "");
  EXPECT_EQ(messages_, std::vector<std::string>{"Pelisto Log File Create Error!"});
  log.WriteLog("lost", 2);
  EXPECT_FALSE(HostExists("C:\\Log20261207.log"));
}

// Through the control: the create error goes through ShowMessage, so only a control that
// shows its own boxes (selfUi TRUE, dlgNotClose FALSE) shows it.
class UpdateLogCreateError : public UpdateLogTest,
                             public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(UpdateLogCreateError, BoxIsGatedBySelfUi) {
  os::ImageSettings s = machine().settings();
  s.os_major = 6;
  s.refuse_elevation = true;
  Reconfigure(s);
  pelisto::CPelistoCtrl control;
  pelisto::PropertyBag bag;
  bag.Write("selfUi", os::Variant::Long(GetParam().first));
  bag.Write("dlgNotClose", os::Variant::Long(GetParam().second));
  control.Load(bag);
  control.CreateLogFile("C:\\work");
  int create_errors = 0;
  for (const auto& box : ui().Boxes()) {
    create_errors += box.text == "Pelisto Log File Create Error!";
  }
  EXPECT_EQ(create_errors, GetParam().first && !GetParam().second ? 1 : 0);
  EXPECT_EQ(control.LogFilePath(), "");
}

INSTANTIATE_TEST_SUITE_P(Gating, UpdateLogCreateError,
                         ::testing::Values(std::pair{1, 0}, std::pair{1, 1}, std::pair{0, 0},
                                           std::pair{0, 1}));

}  // namespace
