#include "tests/support/image_test.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "os/base/text.h"
#include "os/image/integrity.h"
#include "os/ui/front_end.h"
#include "os/ui/headless_front_end.h"

namespace pelisto::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "pelisto-test-XXXXXX").string();
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) std::abort();
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only files behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

void ImageTest::SetUp() {
  dir_ = std::make_unique<TempDir>();
  std::string error;
  machine_ = os::Machine::Open(dir_->path(), &error);
  ASSERT_TRUE(machine_) << error;
  // The broker is built with the programs, not beside the test programs.
  machine_->mutable_settings().broker_path = PELISTO_BIN_DIR "/pelisto-broker";
  ASSERT_TRUE(machine_->Save(&error)) << error;
  os::SetCurrentMachine(machine_.get());
  os::SetAnsiCodePage(machine_->settings().code_page);
  os::ResetProcessIntegrity();
  previous_front_end_ = os::ui::CurrentFrontEnd();
  os::ui::SetFrontEnd(std::make_shared<os::ui::HeadlessFrontEnd>());
}

void ImageTest::TearDown() {
  os::ui::SetFrontEnd(previous_front_end_);
  previous_front_end_.reset();
  os::SetCurrentMachine(nullptr);
  os::ResetProcessIntegrity();
  machine_.reset();
  dir_.reset();
}

void ImageTest::Reconfigure(const os::ImageSettings& settings) {
  machine_->mutable_settings() = settings;
  std::string error;
  ASSERT_TRUE(machine_->Save(&error)) << error;
  os::SetCurrentMachine(nullptr);
  machine_ = os::Machine::Open(dir_->path(), &error);
  ASSERT_TRUE(machine_) << error;
  os::SetCurrentMachine(machine_.get());
  os::SetAnsiCodePage(machine_->settings().code_page);
}

void ImageTest::SetOsMajor(int major) {
  os::ImageSettings s = machine_->settings();
  s.os_major = major;
  Reconfigure(s);
}

std::string ImageTest::Host(const std::string& win_path) {
  std::string host;
  os::DWORD rc = machine_->ToHostPath(win_path, &host);
  EXPECT_EQ(rc, 0u) << "cannot map " << win_path;
  return host;
}

void ImageTest::PutFile(const std::string& win_path, const std::string& content) {
  std::string host = Host(win_path);
  fs::create_directories(fs::path(host).parent_path());
  WriteHostFile(host, content);
}

std::string ImageTest::GetFile(const std::string& win_path) { return ReadHostFile(Host(win_path)); }

bool ImageTest::HostExists(const std::string& win_path) {
  std::error_code ec;
  return fs::exists(Host(win_path), ec);
}

std::string ReadHostFile(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteHostFile(const std::string& host_path, const std::string& content) {
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace pelisto::testing
