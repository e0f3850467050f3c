// What the HttpTransfer* suites share: a fresh image with a headless front end, a loopback
// server, a control that records events and answers them from a script, and a status-dialog
// sink that does the same.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/http_download.h"
#include "download/starter_download.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/http_server.h"
#include "tests/support/null_starter_download.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {

// The page: FakeRunContext's records, with the Downloading answer given from the n-th chunk on.
class ScriptedControl : public FakeRunContext {
 public:
  os::LONG start_answer = 0;
  os::LONG downloading_answer = 0;
  int downloading_answer_from = 1;  // the first Downloading event that gets the answer
  os::LONG status_answer = 0;

  os::LONG FireStartDownload(const std::string& url, const std::string& file_name, os::LONG file_length) override;
  os::LONG FireDownloading(os::LONG read_file_length) override;
  os::LONG FireChangeStatus(os::LONG status, os::LONG status_info, os::LONG status_info_length) override;

  int downloading_calls = 0;
  // The events of one name, in order ("StartDownload(...)" entries for "StartDownload").
  std::vector<std::string> EventsNamed(const std::string& name) const;
};

// The status dialog's side: records its calls and answers each kind with a fixed value.
class RecordingStarter : public NullStarterDownload {
 public:
  os::LONG start_answer = 0;
  os::LONG downloading_answer = 0;
  os::LONG status_answer = 0;
  std::vector<std::string> calls;
  std::function<void()> on_downloading;  // called at each Downloading, before it answers

  void StartDownload(const std::string& url, const std::string& file_name, os::LONG file_length,
                     os::LONG* cancel) override;
  void Downloading(os::LONG read_file_length, os::LONG* cancel) override;
  void ChangeStatus(os::LONG status, os::LONG status_info, os::LONG status_info_length, os::LONG* cancel) override;
};

class HttpTransferTest : public UiTest {
 protected:
  static constexpr char kTarget[] = "C:\\Program Files\\Vendor\\setup.bin";

  void SetUp() override;
  void TearDown() override;

  // The folder the work files go to (the control's writable folder).
  std::string WorkFolder();
  // Downloads `url` to `target` with the control (and `sink` when given); keeps the object's
  // error message and cancel flag.
  os::LONG Fetch(const std::string& url, const std::string& target = kTarget, IStarterDownload* sink = nullptr);
  // Files left in the work folder.
  std::vector<std::string> WorkFiles();
  // How many files the folder of `target` holds (a part file left beside it counts).
  size_t FilesBesideTarget(const std::string& target = kTarget);

  HttpServer server_;
  std::unique_ptr<ScriptedControl> control_;
  std::string error_;
  os::LONG cancel_ = 0;
  std::string work_path_;
};

}  // namespace pelisto::testing
