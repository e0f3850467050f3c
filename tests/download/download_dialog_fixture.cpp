#include "tests/download/download_dialog_fixture.h"

#include <chrono>
#include <thread>

#include "download/download_step.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto::testing {
using os::ui::UiEvent;
using os::ui::UiEventKind;

std::string PrintOsMajor(const ::testing::TestParamInfo<int>& info) {
  return "Windows" + std::to_string(info.param);
}

void DownloadDialogTest::SetUp() {
  HttpTransferTest::SetUp();
  SetOsMajor(GetParam());
  std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
  control_->windows6 = Windows6();
  if (Windows6()) {
    control_->protected_mode.writable_folder = WorkFolder();
    control_->protected_mode.local_low_folder = WorkFolder();
  }
  control_->settings.language = "ENG";
  SetLanguage("ENG");
}

os::LONG DownloadDialogTest::Entry(const std::string& url, const std::string& target, const std::string& type) {
  return DownloadEntryFile(*control_, url, target, type, 1, 1);
}

std::vector<std::string> DownloadDialogTest::Texts(int id) {
  std::vector<std::string> out;
  for (const UiEvent& e : ui().Events()) {
    if (e.kind != UiEventKind::kTextChanged || e.control_id != id) continue;
    // Only the download dialog changes its caption; the prompt's edit field is 216.
    if (id == 0 && e.hwnd != e.top) continue;
    out.push_back(e.text);
  }
  return out;
}

std::vector<int> DownloadDialogTest::Positions() {
  std::vector<int> out;
  for (const UiEvent& e : ui().Events()) {
    if (e.kind == UiEventKind::kProgressPos && e.control_id == res::kDownloadProgress) out.push_back(e.value);
  }
  return out;
}

std::vector<int> DownloadDialogTest::Ranges() {
  std::vector<int> out;
  for (const UiEvent& e : ui().Events()) {
    if (e.kind == UiEventKind::kProgressRange && e.control_id == res::kDownloadProgress) out.push_back(e.value2);
  }
  return out;
}

std::vector<std::string> DownloadDialogTest::BoxTexts() {
  std::vector<std::string> out;
  for (const os::ui::BoxRecord& b : ui().Boxes()) out.push_back(b.text);
  return out;
}

std::vector<std::string> DownloadDialogTest::LogLines() const {
  std::vector<std::string> out;
  for (const FakeRunContext::LogLine& line : control_->log) {
    std::string text = line.text;
    if (text.rfind(control_->log_time, 0) == 0) text = text.substr(control_->log_time.size());
    out.push_back(text + "@" + std::to_string(line.level));
  }
  return out;
}

void DownloadDialogTest::ServeBrokenGzip(const std::string& path) {
  server_.Route(path, [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Encoding", "gzip");
    ServeBytes(res, std::string(3000, 'x'));
  });
}

void DownloadDialogTest::ServeSlow(const std::string& path, size_t size, size_t piece, int ms) {
  server_.Route(path, [this, size, piece, ms](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(size, "application/octet-stream",
                             [this, piece, ms](size_t offset, size_t length, httplib::DataSink& sink) {
                               if (server_.WaitForStop(ms)) return false;
                               std::string bytes = HttpServer::Pattern(offset + piece).substr(offset);
                               bytes.resize(std::min(piece, length));
                               return sink.write(bytes.data(), bytes.size());
                             });
  });
}

void DownloadDialogTest::ServeSlowChunked(const std::string& path, size_t size, size_t piece, int ms) {
  server_.Route(path, [this, size, piece, ms](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream",
                                     [this, size, piece, ms](size_t offset, httplib::DataSink& sink) {
                                       if (offset >= size) {
                                         sink.done();
                                         return true;
                                       }
                                       if (server_.WaitForStop(ms)) return false;
                                       std::string bytes = HttpServer::Pattern(offset + piece).substr(offset);
                                       bytes.resize(std::min(piece, size - offset));
                                       return sink.write(bytes.data(), bytes.size());
                                     });
  });
}

}  // namespace pelisto::testing
