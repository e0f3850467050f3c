// The fixture of the install-step tests (content check, install by type, shortcuts, program
// starts): a fresh image of a chosen Windows version with a D: drive, the control's thread as
// a browser runs it (an OLE apartment), a run context whose per-user data folder is set as
// the control sets it, and configuration documents made from element texts.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "os/com/apartment.h"
#include "os/shell/folders.h"
#include "platform/broker_client.h"
#include "platform/xml_document_wrapper.h"
#include "platform/xml_node_wrapper.h"
#include "tests/support/fake_run_context.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {

class InstallTest : public UiTest {
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

  // A document of `elements` under one root, loaded from a file of the image.
  IXMLDocumentWrapper Document(const std::string& elements, const std::string& name = "new.xml") {
    const std::string path = "C:\\work\\" + name;
    PutFile(path, "<list>" + elements + "</list>");
    IXMLDocumentWrapper doc;
    EXPECT_EQ(doc.Create(), 0);
    EXPECT_TRUE(doc.Load(path)) << doc.ParseErrorReason();
    return doc;
  }
  // The first `content` element of `doc`.
  static IXMLNodeWrapper FirstContent(IXMLDocumentWrapper& doc) {
    EXPECT_TRUE(doc.InitIteration());
    return doc.GetNextNode();
  }

  std::unique_ptr<FakeRunContext> context_;
};

}  // namespace pelisto::testing
