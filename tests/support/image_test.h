// The fixture every test starts from: a fresh machine image in a temporary folder, made
// current for the process, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "os/image/machine.h"

namespace os::ui {
class FrontEnd;
}

namespace pelisto::testing {

// A temporary host folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Every test also runs with a headless front end: boxes and dialogs are recorded and take
// their default answers unless a test scripts them (tests/support/ui_script.h).
class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  os::Machine& machine() { return *machine_; }
  const std::string& prefix() const { return dir_->path(); }

  // Reopens the image with changed settings (for example another Windows version).
  void Reconfigure(const os::ImageSettings& settings);
  void SetOsMajor(int major);

  // The host path behind a Windows-form path; fails the test when it cannot be mapped.
  std::string Host(const std::string& win_path);
  // Host-side helpers that bypass the image's rules, for arranging and checking.
  void PutFile(const std::string& win_path, const std::string& content);
  std::string GetFile(const std::string& win_path);
  bool HostExists(const std::string& win_path);

 private:
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<os::Machine> machine_;
  std::shared_ptr<os::ui::FrontEnd> previous_front_end_;
};

// Reads or writes a whole host file.
std::string ReadHostFile(const std::string& host_path);
void WriteHostFile(const std::string& host_path, const std::string& content);

}  // namespace pelisto::testing
