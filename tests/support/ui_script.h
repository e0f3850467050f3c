// Scripting the headless front end from tests: a fixture with a fresh machine image and a
// headless front end, and queries over what the front end recorded.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "os/ui/headless_front_end.h"
#include "tests/support/image_test.h"

namespace pelisto::testing {

// Installs a headless front end running `script` for the life of the object and puts the
// previous front end back afterwards. A script that does not parse fails the test.
class HeadlessUi {
 public:
  explicit HeadlessUi(std::string_view script = "");
  ~HeadlessUi();
  HeadlessUi(const HeadlessUi&) = delete;
  HeadlessUi& operator=(const HeadlessUi&) = delete;

  os::ui::HeadlessFrontEnd& front_end() { return *front_end_; }
  std::vector<os::ui::BoxRecord> Boxes() const { return front_end_->Boxes(); }
  std::vector<os::ui::UiEvent> Events() const { return front_end_->Events(); }

  // Every text given to control `control_id` (0: the title) of dialogs titled `title`, in
  // order, one entry per change (setting the same text twice gives two entries).
  std::vector<std::string> TextsOf(std::string_view title, int control_id) const;
  // Every text written into windows titled `title` (os/ui/gdi.h), in order.
  std::vector<std::string> TextsPainted(std::string_view title) const;
  // Every position given to that progress bar, in order.
  std::vector<int> PositionsOf(std::string_view title, int control_id) const;
  // How many events of `kind` the window titled `title` (or its control) had.
  int Count(os::ui::UiEventKind kind, std::string_view title, int control_id = 0) const;
  // Waits (at most `timeout_ms`) for an event of `kind` of a window titled `title`.
  bool WaitFor(os::ui::UiEventKind kind, std::string_view title, int control_id = 0,
               os::DWORD timeout_ms = 5000) const;

 private:
  std::shared_ptr<os::ui::HeadlessFrontEnd> front_end_;
  std::shared_ptr<os::ui::FrontEnd> previous_;
};

// A thread that runs `setup` and then a message loop until WM_QUIT; Stop() (or the
// destructor) posts the quit and joins. Windows made by `setup` belong to this thread.
class MessageLoopThread {
 public:
  explicit MessageLoopThread(std::function<void()> setup = {});
  ~MessageLoopThread();
  MessageLoopThread(const MessageLoopThread&) = delete;
  MessageLoopThread& operator=(const MessageLoopThread&) = delete;
  os::DWORD thread_id() const { return thread_id_; }
  void Stop();

 private:
  std::thread thread_;
  os::DWORD thread_id_ = 0;
};

// A fresh machine image with a headless front end; Script() replaces the script.
class UiTest : public ImageTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Script(std::string_view script);
  HeadlessUi& ui() { return *ui_; }

 private:
  std::unique_ptr<HeadlessUi> ui_;
};

}  // namespace pelisto::testing
