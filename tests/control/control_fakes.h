// Stand-ins for the page's handlers and the status dialog, for tests of the control.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "control/event_sink.h"
#include "control/status_dialog.h"
#include "tests/support/null_starter_download.h"

namespace pelisto::testing {

// Records every event and answers pCancel with a value set per event name.
class RecordingEventSink : public EventSink {
 public:
  struct Fired {
    std::string name;
    std::vector<os::Variant> args;
    bool had_cancel;
  };

  void OnEvent(const EventInfo& event, const std::vector<os::Variant>& args,
               os::LONG* cancel) override {
    fired.push_back({event.name, args, cancel != nullptr});
    if (cancel != nullptr) {
      EXPECT_EQ(*cancel, 0) << "pCancel is 0 on entry";
      auto it = answers.find(event.name);
      if (it != answers.end()) *cancel = it->second;
    }
  }

  std::map<std::string, os::LONG> answers;
  std::vector<Fired> fired;
};

// The status dialog's progress sink: records the run-level notifications and answers the
// cancel value it was given.
class FakeStarter : public NullStarterDownload {
 public:
  void TotalDownloadFileNumber(os::LONG file_number, os::LONG* cancel) override {
    calls.push_back("TotalDownloadFileNumber " + std::to_string(file_number));
    *cancel = answer;
  }
  void IsDownload(os::LONG status_code, const std::string& content_name,
                  os::LONG* cancel) override {
    calls.push_back("IsDownload " + std::to_string(status_code) + " " + content_name);
    *cancel = answer;
  }

  os::LONG answer = 0;
  std::vector<std::string> calls;
};

class FakeStatusDialog : public StatusDialog {
 public:
  explicit FakeStatusDialog(FakeStarter* starter) : starter_(starter) {}
  bool Start(const std::string& language, bool hide_cancel) override {
    started_with = language + (hide_cancel ? " hide" : " show");
    up_ = true;
    return true;
  }
  void Close() override { up_ = false; }
  IStarterDownload* Sink() override { return up_ ? starter_ : nullptr; }

  std::string started_with;

 private:
  FakeStarter* starter_;
  bool up_ = false;
};

}  // namespace pelisto::testing
