#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "control/privileged_ops.h"
#include "os/base/error.h"
#include "os/com/apartment.h"
#include "os/reg/registry.h"
#include "platform/broker_client.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::PrivilegedOps;
using pelisto::testing::FakeRunContext;

constexpr char kVendor[] = "C:\\Program Files\\Vendor";

// The privileged steps on Windows 5 (the direct calls) and 6 (the broker process). The
// targets lie in C:\Program Files, which on Windows 6 only the elevated broker may write.
class PrivilegedOpsTest : public pelisto::testing::UiTest,
                          public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
    SetOsMajor(GetParam());
    PutFile(std::string(kVendor) + "\\keep", "");
    context_ = std::make_unique<FakeRunContext>();
  }
  void TearDown() override {
    context_.reset();
    pelisto::ReleaseBroker();
    os::CoUninitialize();
    UiTest::TearDown();
  }

  PrivilegedOps& ops() { return context_->Privileged(); }
  static std::string In(const std::string& name) { return std::string(kVendor) + "\\" + name; }

  // The names in the vendor folder, sorted.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Host(kVendor))) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<FakeRunContext> context_;
};

TEST_P(PrivilegedOpsTest, ChosenOnceFromTheVersion) {
  EXPECT_EQ(ops().Brokered(), GetParam() >= 6);
  EXPECT_EQ(&ops(), &context_->Privileged());
}

TEST_P(PrivilegedOpsTest, WholeFileWritesReplaceAndLeaveNoTemporaryFile) {
  PutFile(In("config.xml"), "old content");
  EXPECT_EQ(ops().WriteFileAtomically(In("config.xml"), "<new/>"), 1);
  EXPECT_EQ(GetFile(In("config.xml")), "<new/>");
  EXPECT_EQ(ops().WriteFileAtomically(In("empty.xml"), ""), 1);
  EXPECT_EQ(GetFile(In("empty.xml")), "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"config.xml", "empty.xml", "keep"}));
  EXPECT_EQ(ops().WriteFileAtomically(In("Missing\\config.xml"), "x"), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"config.xml", "empty.xml", "keep"}));
}

TEST_P(PrivilegedOpsTest, LogFileIsCreatedOnceAndAppendedTo) {
  EXPECT_EQ(ops().CreateFileIfMissing(In("Log.log")), 1);
  EXPECT_EQ(GetFile(In("Log.log")), "");
  EXPECT_EQ(ops().AppendToFile(In("Log.log"), "one\r\n"), 1);
  EXPECT_EQ(ops().CreateFileIfMissing(In("Log.log")), 1) << "an existing file is kept";
  EXPECT_EQ(ops().AppendToFile(In("Log.log"), "two\r\n"), 1);
  EXPECT_EQ(GetFile(In("Log.log")), "one\r\ntwo\r\n");
  EXPECT_EQ(ops().CreateFileIfMissing(In("Missing\\Log.log")), 0);
}

TEST_P(PrivilegedOpsTest, FilesAndFolders) {
  PutFile(In("a.dat"), "payload");
  EXPECT_EQ(ops().CopyFile(In("a.dat"), In("b.dat"), os::FALSE), 1);
  EXPECT_EQ(ops().MoveFile(In("b.dat"), In("c.dat")), 1);
  EXPECT_EQ(GetFile(In("c.dat")), "payload");
  EXPECT_EQ(ops().DeleteFile(In("c.dat")), 1);
  EXPECT_EQ(ops().DeleteFile(In("c.dat")), 0);
  EXPECT_EQ(ops().CreateDirectory(In("Sub")), 1);
  EXPECT_EQ(ops().CreateDirectory(In("Sub")), 1) << "an existing folder counts as success";
  EXPECT_EQ(ops().CreateDirectoryResult(In("Sub")),
            os::HRESULT_FROM_WIN32(os::ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ops().CreateDirectoryResult(In("Sub2")), os::S_OK);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Sub", "Sub2", "a.dat", "keep"}));
}

// A work file in the user's folder takes the place of an installed one in one call.
TEST_P(PrivilegedOpsTest, AReplacingMovePutsAWorkFileInPlace) {
  const std::string work = "C:\\Users\\user\\AppData\\Local\\tmp1.tmp";
  PutFile(work, "new");
  PutFile(In("app.ocx"), "old");
  EXPECT_EQ(ops().MoveFileReplacing(work, In("app.ocx")), 1);
  EXPECT_EQ(GetFile(In("app.ocx")), "new");
  EXPECT_FALSE(HostExists(work));
  PutFile(work, "fresh");
  EXPECT_EQ(ops().MoveFileReplacing(work, In("fresh.dat")), 1) << "no file there before";
  EXPECT_EQ(GetFile(In("fresh.dat")), "fresh");
  EXPECT_EQ(ops().MoveFileReplacing(work, In("other.dat")), 0) << "the work file is gone";
  PutFile(work, "x");
  EXPECT_EQ(ops().MoveFileReplacing(work, In("Missing\\a.dat")), 0);
  EXPECT_EQ(GetFile(work), "x") << "a failed move leaves the work file";
  EXPECT_EQ(Names(), (std::vector<std::string>{"app.ocx", "fresh.dat", "keep"}));
}

// The broker moves only regular files: never a folder, never a link (whatever it leads to),
// and never onto a folder.
TEST_P(PrivilegedOpsTest, TheBrokersReplacingMoveTakesOnlyARegularFile) {
  if (GetParam() < 6) GTEST_SKIP() << "the direct move acts with the control's own rights";
  PutFile(In("app.ocx"), "installed");
  PutFile(In("Folder\\inside"), "kept");
  const std::string low = "C:\\Users\\user\\AppData\\Local\\";
  PutFile(low + "Sub\\f", "in a folder");
  EXPECT_EQ(ops().MoveFileReplacing(low + "Sub", In("app.ocx")), 0);
  EXPECT_EQ(ops().MoveFileReplacing(low + "Sub", In("NewFolder")), 0);
  std::filesystem::create_symlink(Host(In("keep")), Host(low) + "/link.tmp");
  EXPECT_EQ(ops().MoveFileReplacing(low + "link.tmp", In("app.ocx")), 0);
  PutFile(low + "plain.tmp", "plain");
  EXPECT_EQ(ops().MoveFileReplacing(low + "plain.tmp", In("Folder")), 0);
  EXPECT_EQ(GetFile(In("app.ocx")), "installed");
  EXPECT_EQ(GetFile(In("Folder\\inside")), "kept");
  EXPECT_EQ(GetFile(low + "Sub\\f"), "in a folder");
  EXPECT_EQ(GetFile(low + "plain.tmp"), "plain");
  EXPECT_TRUE(std::filesystem::is_symlink(Host(low) + "/link.tmp"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"Folder", "app.ocx", "keep"}));
}

TEST_P(PrivilegedOpsTest, MachineRegistryValues) {
  const std::string key = "SOFTWARE\\Veltrane\\Plo\\Config\\viewer";
  EXPECT_EQ(ops().WriteRegString(os::HKEY_LOCAL_MACHINE, key, "ver", "1.05"), 1);
  EXPECT_EQ(ops().WriteRegNumber(os::HKEY_LOCAL_MACHINE, key, "count", 7), 1);
  EXPECT_EQ(ops().ReadRegString(os::HKEY_LOCAL_MACHINE, key, "ver"), "1.05");
  // Only the direct write has log lines of its own.
  EXPECT_EQ(context_->log.size(), GetParam() >= 6 ? 0u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Versions, PrivilegedOpsTest, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

}  // namespace
