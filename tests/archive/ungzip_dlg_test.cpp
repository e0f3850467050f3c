#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "archive/gunzip.h"
#include "archive/ungzip_dlg.h"
#include "archive/ungzip_file.h"
#include "os/ui/dialog.h"
#include "resources/resource_ids.h"
#include "tests/archive/gzip_action_test.h"
#include "tests/support/gzip_files.h"

namespace {
using pelisto::CUnGZipDlg;
using pelisto::RunError;
using pelisto::testing::FakeRunContext;
using pelisto::testing::Gzip;
using Strings = std::vector<std::string>;

constexpr char kTitle[] = "Pelisto UnGZip; ";
constexpr char kGz[] = "D:\\dl\\pkg.gz";
constexpr char kOut[] = "D:\\dl\\Viewer.ocx";

TEST(GzipDialogAnimation, RunsToNinetyNineAndStaysThere) {
  std::vector<int> positions{0};
  for (int i = 0; i < 12; ++i) positions.push_back(CUnGZipDlg::NextPosition(positions.back()));
  EXPECT_EQ(positions, (std::vector<int>{0, 10, 25, 35, 50, 75, 87, 93, 96, 98, 99, 99, 99}));
}

// A worker that holds on until the bar has stood at 99 for a while (as the front end saw it),
// or until it is stopped, then does the real work.
class SlowDialog : public CUnGZipDlg {
 public:
  SlowDialog(const pelisto::testing::HeadlessUi& ui, const std::string& source, const std::string& destination)
      : CUnGZipDlg(source, destination, 5), ui_(ui) {}
  std::atomic<bool> finished{false};
  bool wait_for_stop = false;

 protected:
  int Decompress(const std::string& source, const std::string& destination, const std::atomic<bool>& stop) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && !stop.load() && (wait_for_stop || TimesAt99() < 4)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int result = pelisto::GunzipFile(source, destination, &stop);
    finished = true;
    return result;
  }

 private:
  int TimesAt99() const {
    int n = 0;
    for (int p : ui_.PositionsOf(kTitle, pelisto::res::kUnGzipProgress)) n += p == 99;
    return n;
  }
  const pelisto::testing::HeadlessUi& ui_;
};

class GzipDialog : public pelisto::testing::GzipActionTest {};

TEST_F(GzipDialog, AnimatesInItsOrderAndEndsAtOneHundred) {
  Context(5);
  PutFile(kGz, Gzip("content"));
  SlowDialog dialog(ui(), kGz, kOut);
  EXPECT_EQ(dialog.DoModal(), os::IDOK);
  EXPECT_TRUE(dialog.finished);
  EXPECT_EQ(GetFile(kOut), "content");

  std::vector<int> positions = ui().PositionsOf(kTitle, pelisto::res::kUnGzipProgress);
  ASSERT_GE(positions.size(), 12u);
  EXPECT_EQ(std::vector<int>(positions.begin(), positions.begin() + 11),
            (std::vector<int>{0, 10, 25, 35, 50, 75, 87, 93, 96, 98, 99}));
  EXPECT_EQ(positions.back(), 100);
  for (std::size_t i = 11; i + 1 < positions.size(); ++i) EXPECT_EQ(positions[i], 99) << i;
  EXPECT_EQ(ui().TextsOf(kTitle, pelisto::res::kUnGzipSource), Strings{kGz});
  EXPECT_TRUE(ui().Boxes().empty());
}

TEST_F(GzipDialog, TheUsersEscStopsTheWorkerBeforeDoModalReturns) {
  Context(5);
  Script("press esc on \"Pelisto UnGZip; \"\n");
  PutFile(kGz, Gzip(std::string(3000000, 'a')));
  SlowDialog dialog(ui(), kGz, kOut);
  dialog.wait_for_stop = true;
  EXPECT_EQ(dialog.DoModal(), os::IDCANCEL);
  EXPECT_TRUE(dialog.finished);
  EXPECT_FALSE(HostExists(kOut));
}

TEST_F(GzipDialog, AnEmptySourceEndsWithCancelAtOnce) {
  Context(5);
  CUnGZipDlg dialog("", kOut);
  EXPECT_EQ(dialog.DoModal(), os::IDCANCEL);
  EXPECT_FALSE(HostExists(kOut));
}

// The whole step with its dialog on both paths.
class GzipDialogStep : public GzipDialog, public ::testing::WithParamInterface<int> {
 protected:
  std::string Run(FakeRunContext& c, const std::string& gz = kGz) {
    try {
      pelisto::UnGZipFile(c, gz, "Viewer.ocx", false, true);
    } catch (const RunError& e) {
      return e.what();
    }
    return "";
  }
};

TEST_P(GzipDialogStep, SucceedsWithTheBarAtOneHundredAndNoEvents) {
  FakeRunContext& c = Context(GetParam());
  const std::string gz = "C:\\Program Files\\Vendor\\pkg.gz";  // the broker's job on Windows 6
  PutFile(gz, Gzip("in place"));
  EXPECT_EQ(Run(c, gz), "");
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\Viewer.ocx"), "in place");
  EXPECT_EQ(ui().PositionsOf(kTitle, pelisto::res::kUnGzipProgress).back(), 100);
  EXPECT_TRUE(c.events.empty());
  EXPECT_TRUE(c.messages.empty());
  EXPECT_TRUE(ui().Boxes().empty());
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(GzipDialogStep, AFailedDecompressionShowsBothBoxesAndStopsTheInstallation) {
  FakeRunContext& c = Context(GetParam());
  PutFile(kOut, "installed before");
  PutFile(kGz, std::string("\x1f\x8b") + std::string(50, '#'));
  EXPECT_EQ(Run(c), "Failed stop installation Gzip.");
  ASSERT_EQ(ui().Boxes().size(), 1u);
  EXPECT_EQ(ui().Boxes()[0].text, "Failed UnCompress GZip File");
  EXPECT_EQ(c.messages, Strings{"Stop installation"});
  ASSERT_FALSE(c.log.empty());
  EXPECT_EQ(c.log.back().text, c.log_time + " Failed stop installation Gzip.");
  EXPECT_EQ(c.log.back().level, 2u);
  EXPECT_EQ(GetFile(kOut), "installed before");
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(GzipDialogStep, ADialogThatCannotBeMadeStopsTheInstallation) {
  FakeRunContext& c = Context(GetParam());
  Script("fail \"Pelisto UnGZip; \"\n");
  PutFile(kGz, Gzip("x"));
  EXPECT_EQ(Run(c), "Failed stop installation Gzip.");
  EXPECT_FALSE(HostExists(kOut));
  EXPECT_TRUE(WorkFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Windows, GzipDialogStep, ::testing::Values(5, 6));

}  // namespace
