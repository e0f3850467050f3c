// The fixture of the install actions' tests (archives, content entries, shortcuts, program
// starts): a fresh image of a chosen Windows version with a D: drive for downloads, the
// control's thread as a browser runs it (an OLE apartment), and a run context whose per-user
// data folder is set as the control sets it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "os/com/apartment.h"
#include "os/shell/folders.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {

class ActionTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::OleInitialize(nullptr);
  }
  void TearDown() override {
    context_.reset();
    ReleaseBroker();
    os::OleUninitialize();
    UiTest::TearDown();
  }

  // The context after the image's version is set; it replaces the previous one.
  FakeRunContext& Context(int os_major) {
    os::ImageSettings s = machine().settings();
    s.os_major = os_major;
    s.drives['D'] = "drive_d";
    std::filesystem::create_directories(prefix() + "/drive_d");
    Reconfigure(s);
    context_ = std::make_unique<FakeRunContext>();
    if (os_major >= 6) {
      os::SHGetFolderPathA(nullptr, os::CSIDL_LOCAL_APPDATA, nullptr, 0,
                           &context_->protected_mode.writable_folder);
    }
    return *context_;
  }

  // The names of the files in the per-user data folder (the work files of Windows 6).
  std::vector<std::string> WorkFiles() {
    std::vector<std::string> names;
    if (!context_ || context_->protected_mode.writable_folder.empty()) return names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(Host(context_->protected_mode.writable_folder), ec)) {
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    }
    return names;
  }

  std::unique_ptr<FakeRunContext> context_;
};

}  // namespace pelisto::testing
