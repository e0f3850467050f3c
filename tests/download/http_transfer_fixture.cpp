#include "tests/download/http_transfer_fixture.h"

#include <algorithm>
#include <filesystem>

#include "os/com/apartment.h"
#include "platform/broker_client.h"

namespace pelisto::testing {

os::LONG ScriptedControl::FireStartDownload(const std::string& url, const std::string& file_name,
                                            os::LONG file_length) {
  FakeRunContext::FireStartDownload(url, file_name, file_length);
  return start_answer;
}

os::LONG ScriptedControl::FireDownloading(os::LONG read_file_length) {
  FakeRunContext::FireDownloading(read_file_length);
  return ++downloading_calls >= downloading_answer_from ? downloading_answer : 0;
}

os::LONG ScriptedControl::FireChangeStatus(os::LONG status, os::LONG status_info, os::LONG status_info_length) {
  FakeRunContext::FireChangeStatus(status, status_info, status_info_length);
  return status_answer;
}

std::vector<std::string> ScriptedControl::EventsNamed(const std::string& name) const {
  std::vector<std::string> out;
  for (const std::string& e : events) {
    if (e.rfind(name + "(", 0) == 0) out.push_back(e);
  }
  return out;
}

void RecordingStarter::StartDownload(const std::string& url, const std::string& file_name, os::LONG file_length,
                                  os::LONG* cancel) {
  calls.push_back("StartDownload(" + url + "," + file_name + "," + std::to_string(file_length) + ")");
  *cancel = start_answer;
}

void RecordingStarter::Downloading(os::LONG read_file_length, os::LONG* cancel) {
  calls.push_back("Downloading(" + std::to_string(read_file_length) + ")");
  if (on_downloading) on_downloading();
  *cancel = downloading_answer;
}

void RecordingStarter::ChangeStatus(os::LONG status, os::LONG, os::LONG, os::LONG* cancel) {
  calls.push_back("ChangeStatus(" + std::to_string(status) + ")");
  *cancel = status_answer;
}

void HttpTransferTest::SetUp() {
  UiTest::SetUp();
  os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
  std::string error;
  ASSERT_TRUE(server_.Start(&error)) << error;
  control_ = std::make_unique<ScriptedControl>();
  std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
}

void HttpTransferTest::TearDown() {
  control_.reset();
  pelisto::ReleaseBroker();
  os::CoUninitialize();
  server_.Stop();
  UiTest::TearDown();
}

std::string HttpTransferTest::WorkFolder() { return machine().FolderPath(os::KnownFolder::kLocalAppDataLow); }

os::LONG HttpTransferTest::Fetch(const std::string& url, const std::string& target, IStarterDownload* sink) {
  // The control of the image as it is now: tests change its version after SetUp.
  control_->windows6 = machine().settings().os_major >= 6;
  HttpDownload download(control_->Privileged(), url, target, WorkFolder());
  download.SetControl(control_.get());
  download.SetSink(sink);
  work_path_ = download.WorkPath();
  os::LONG result = download.Download();
  error_ = download.ErrorMessage();
  cancel_ = download.CancelFlag();
  return result;
}

std::vector<std::string> HttpTransferTest::WorkFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Host(WorkFolder()), ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t HttpTransferTest::FilesBesideTarget(const std::string& target) {
  size_t n = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(Host(target)).parent_path(), ec)) {
    n += entry.is_regular_file();
  }
  return n;
}

}  // namespace pelisto::testing
