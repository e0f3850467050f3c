// The download dialog as a person sees it on a terminal: the tty front end on a terminal
// that records what is written.
#include <gtest/gtest.h>

#include <mutex>

#include "os/ui/tty_front_end.h"
#include "tests/download/download_dialog_fixture.h"

namespace pelisto::testing {
namespace {

// What was written; it outlives the terminal, which goes with its front end.
struct Screen {
  std::mutex mu;
  std::string written;
  int writes = 0;
};

class RecordingTerminal : public os::ui::Terminal {
 public:
  explicit RecordingTerminal(std::shared_ptr<Screen> screen) : screen_(std::move(screen)) {}
  void Write(const std::string& text) override {
    std::lock_guard<std::mutex> lock(screen_->mu);
    screen_->written += text;
    ++screen_->writes;
  }
  int Width() const override { return 80; }
  bool ReadLine(std::string*, const std::atomic<bool>&) override { return false; }

 private:
  std::shared_ptr<Screen> screen_;
};

class DownloadDialogTty : public DownloadDialogTest {
 protected:
  void UseTerminal() {
    os::ui::SetFrontEnd(std::make_shared<os::ui::TtyFrontEnd>(std::make_unique<RecordingTerminal>(screen_)));
  }
  // Ends the front end (its last redraw included) and returns all it wrote.
  std::string Written() {
    os::ui::SetFrontEnd(nullptr);
    std::lock_guard<std::mutex> lock(screen_->mu);
    return screen_->written;
  }
  void TearDown() override {
    os::ui::SetFrontEnd(nullptr);  // joins the front end's threads before the image goes
    DownloadDialogTest::TearDown();
  }
  std::shared_ptr<Screen> screen_ = std::make_shared<Screen>();
};

TEST_P(DownloadDialogTty, RedrawsInPlaceAFewTimesASecondAndLeavesOneLine) {
  UseTerminal();
  // About 100 chunks over 1.6 s: a redraw for each would be 100 writes and more.
  ServeSlow("/setup.exe", 10240, 100, 15);
  ASSERT_EQ(Entry(server_.Url("/setup.exe")), 1);
  const std::string out = Written();
  EXPECT_NE(out.find("== setup.exe from 127.0.0.1 =="), std::string::npos) << out;
  EXPECT_NE(out.find("% of setup.exe Completed\n"), std::string::npos);
  EXPECT_NE(out.find("remain time: "), std::string::npos);
  EXPECT_NE(out.find(" copied)"), std::string::npos);
  EXPECT_NE(out.find("transfer rate: "), std::string::npos);
  EXPECT_EQ(out.find("[ Button1 ]"), std::string::npos) << "the hidden Cancel button is not drawn";
  EXPECT_LE(screen_->writes, 25) << "at most a few redraws a second";
  // The block is replaced by the one line the dialog leaves, and nothing is drawn after it.
  const std::string final_line =
      "setup.exe from 127.0.0.1: 100% of setup.exe Completed | Retrieving the file";
  const size_t at = out.rfind(final_line);
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(out.find('\n', at), out.size() - 1) << out.substr(at);
  EXPECT_EQ(out.rfind("\x1b[J"), at - 3) << "cleared just before it";
}

TEST_P(DownloadDialogTty, TheFinalLineSumsUpAFailure) {
  UseTerminal();
  EXPECT_EQ(Entry(server_.Url("/status/404")), 0);
  const std::string out = Written();
  EXPECT_NE(out.find("Failed to receive a valid HTTP response from the server"), std::string::npos) << out;
  EXPECT_NE(out.find("404 from 127.0.0.1: "), std::string::npos) << out;
}

TEST(DownloadDialogTtyLine, FinalLineKeepsTextsAndPercentsAndDropsButtons) {
  os::ui::WindowSnapshot snap;
  snap.title = "50% of a.zip Completed";
  auto control = [](int id, os::ControlKind kind, const std::string& text, int x, int y) {
    os::ui::ControlSnapshot c;
    c.id = id;
    c.kind = kind;
    c.text = text;
    c.rect = os::RECT{x, y, x + 10, y + 8};
    return c;
  };
  snap.controls.push_back(control(1001, os::ControlKind::kStatic, "Retrieving the file", 4, 47));
  os::ui::ControlSnapshot bar = control(1003, os::ControlKind::kProgress, "", 5, 74);
  bar.range_max = 2;
  bar.position = 1;
  snap.controls.push_back(bar);
  snap.controls.push_back(control(-1, os::ControlKind::kStatic, "remain time:", 6, 91));
  snap.controls.push_back(control(1004, os::ControlKind::kStatic, "1 sec", 124, 91));
  snap.controls.push_back(control(2, os::ControlKind::kButton, "Cancel", 224, 1));
  EXPECT_EQ(os::ui::FinalLine(snap, "a.zip from host", 100),
            "a.zip from host: 50% of a.zip Completed | Retrieving the file | 50% | remain time: 1 sec");
  snap.title = "a.zip from host";
  EXPECT_EQ(os::ui::FinalLine(snap, "a.zip from host", 30), "a.zip from host: Retrieving th");
}

INSTANTIATE_TEST_SUITE_P(Versions, DownloadDialogTty, ::testing::Values(5, 6), PrintOsMajor);

}  // namespace
}  // namespace pelisto::testing
