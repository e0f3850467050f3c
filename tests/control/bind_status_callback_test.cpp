#include "control/bind_status_callback.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "control/pelisto_ctrl.h"
#include "os/com/hresult.h"
#include "tests/control/control_fakes.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {
namespace {

class BindStatusCallback : public UiTest {};

TEST_F(BindStatusCallback, OnlyProgressIsImplementedAndTheReferencesAreNotCounted) {
  CCallback callback(nullptr);
  os::IBindStatusCallback& c = callback;
  void* out = &callback;
  EXPECT_EQ(c.QueryInterface(os::IBindStatusCallback::kIid, &out), os::E_NOTIMPL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(c.AddRef(), 0u);
  EXPECT_EQ(c.Release(), 0u);
  os::LONG priority = 0;
  os::DWORD flags = 0;
  EXPECT_EQ(c.OnStartBinding(0, nullptr), os::E_NOTIMPL);
  EXPECT_EQ(c.GetPriority(&priority), os::E_NOTIMPL);
  EXPECT_EQ(c.OnLowResource(0), os::E_NOTIMPL);
  EXPECT_EQ(c.OnProgress(1, 2, 3, nullptr), os::S_OK) << "without a control";
  EXPECT_EQ(c.OnStopBinding(os::S_OK, nullptr), os::E_NOTIMPL);
  EXPECT_EQ(c.GetBindInfo(&flags, nullptr), os::E_NOTIMPL);
  EXPECT_EQ(c.OnDataAvailable(0, 0, nullptr, nullptr), os::E_NOTIMPL);
  EXPECT_EQ(c.OnObjectAvailable(os::IBindStatusCallback::kIid, nullptr), os::E_NOTIMPL);
}

TEST_F(BindStatusCallback, ProgressFiresTheEventAndOnlyAnAnswerOfOneAborts) {
  std::filesystem::create_directories(Host("C:\\work"));
  CPelistoCtrl control;
  control.ResetState();
  RecordingEventSink page;
  control.SetEventSink(&page);
  control.CreateLogFile("C:\\work");
  os::IBindStatusCallback& callback = control.BindStatusCallback();

  page.answers["DownloadProgress"] = 2;
  EXPECT_EQ(callback.OnProgress(10, 100, os::BINDSTATUS_DOWNLOADINGDATA, u"x"), os::S_OK);
  ASSERT_EQ(page.fired.size(), 1u);
  EXPECT_EQ(page.fired[0].name, "DownloadProgress");
  EXPECT_EQ(page.fired[0].args[0].lVal(), 10);
  EXPECT_EQ(page.fired[0].args[1].lVal(), 100);
  EXPECT_EQ(page.fired[0].args[2].lVal(), 5);
  EXPECT_TRUE(page.fired[0].had_cancel);

  page.answers["DownloadProgress"] = 1;
  EXPECT_EQ(callback.OnProgress(20, 100, os::BINDSTATUS_DOWNLOADINGDATA, nullptr), os::E_ABORT);
  EXPECT_NE(GetFile(control.LogFilePath()).find(" OnProgress User Cancel..\r\n"), std::string::npos);
}

}  // namespace
}  // namespace pelisto::testing
