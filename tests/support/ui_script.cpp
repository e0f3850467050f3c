#include "tests/support/ui_script.h"

#include <gtest/gtest.h>

#include "os/ui/message_queue.h"
#include "os/ui/thread_id.h"

namespace pelisto::testing {
using os::ui::UiEvent;
using os::ui::UiEventKind;

HeadlessUi::HeadlessUi(std::string_view script) : previous_(os::ui::CurrentFrontEnd()) {
  std::string error;
  front_end_ = os::ui::HeadlessFrontEnd::FromScript(script, &error);
  if (!front_end_) {
    ADD_FAILURE() << "headless script: " << error;
    front_end_ = std::make_shared<os::ui::HeadlessFrontEnd>();
  }
  os::ui::SetFrontEnd(front_end_);
}

HeadlessUi::~HeadlessUi() { os::ui::SetFrontEnd(previous_); }

std::vector<std::string> HeadlessUi::TextsOf(std::string_view title, int control_id) const {
  std::vector<std::string> out;
  for (const UiEvent& e : Events()) {
    if (e.kind == UiEventKind::kTextChanged && e.title == title && e.control_id == control_id) {
      out.push_back(e.text);
    }
  }
  return out;
}

std::vector<std::string> HeadlessUi::TextsPainted(std::string_view title) const {
  std::vector<std::string> out;
  for (const UiEvent& e : Events()) {
    if (e.kind == UiEventKind::kPainted && e.title == title) out.push_back(e.text);
  }
  return out;
}

std::vector<int> HeadlessUi::PositionsOf(std::string_view title, int control_id) const {
  std::vector<int> out;
  for (const UiEvent& e : Events()) {
    if (e.kind == UiEventKind::kProgressPos && e.title == title && e.control_id == control_id) {
      out.push_back(e.value);
    }
  }
  return out;
}

int HeadlessUi::Count(UiEventKind kind, std::string_view title, int control_id) const {
  int n = 0;
  for (const UiEvent& e : Events()) {
    if (e.kind == kind && e.title == title && e.control_id == control_id) ++n;
  }
  return n;
}

bool HeadlessUi::WaitFor(UiEventKind kind, std::string_view title, int control_id,
                         os::DWORD timeout_ms) const {
  std::string t(title);
  return front_end_->WaitForEvent(
      [&](const UiEvent& e) { return e.kind == kind && e.title == t && e.control_id == control_id; },
      timeout_ms);
}

MessageLoopThread::MessageLoopThread(std::function<void()> setup) {
  std::promise<os::DWORD> ready;
  std::future<os::DWORD> id = ready.get_future();
  thread_ = std::thread([&ready, setup = std::move(setup)] {
    os::MSG msg;
    os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_NOREMOVE);  // makes the queue
    if (setup) setup();
    ready.set_value(os::GetCurrentThreadId());
    while (os::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      os::TranslateMessage(&msg);
      os::DispatchMessageA(&msg);
    }
  });
  thread_id_ = id.get();
}

MessageLoopThread::~MessageLoopThread() { Stop(); }

void MessageLoopThread::Stop() {
  if (!thread_.joinable()) return;
  os::PostThreadMessageA(thread_id_, os::WM_QUIT, 0, 0);
  thread_.join();
}

void UiTest::SetUp() {
  ImageTest::SetUp();
  ui_ = std::make_unique<HeadlessUi>();
}

void UiTest::TearDown() {
  ui_.reset();
  ImageTest::TearDown();
}

void UiTest::Script(std::string_view script) {
  ui_.reset();
  ui_ = std::make_unique<HeadlessUi>(script);
}

}  // namespace pelisto::testing
