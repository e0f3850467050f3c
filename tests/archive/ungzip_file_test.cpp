#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/ungzip_file.h"
#include "os/base/text.h"
#include "os/reg/registry.h"
#include "tests/archive/gzip_action_test.h"
#include "tests/support/forwarding_privileged_ops.h"
#include "tests/support/gzip_files.h"
#include "tests/fixtures/fixture_ids.h"

namespace {
namespace fs = std::filesystem;
using pelisto::RunError;
using pelisto::testing::FakeRunContext;
using pelisto::testing::Gzip;
using pelisto::testing::GzipBytes;
using pelisto::testing::GzipMember;
using Strings = std::vector<std::string>;

constexpr char kGz[] = "D:\\dl\\pkg.gz";
constexpr char kOut[] = "D:\\dl\\Viewer.ocx";

// The RunError text UnGZipFile ends with; empty when it returned.
std::string Outcome(FakeRunContext& c, const std::string& gz, const std::string& name, bool reg = false,
                    bool dialog = false) {
  try {
    pelisto::UnGZipFile(c, gz, name, reg, dialog);
  } catch (const RunError& e) {
    return e.what();
  }
  return "";
}

// The privileged steps of the context with chosen operations failing.
class FailingOps : public pelisto::testing::ForwardingPrivilegedOps {
 public:
  using ForwardingPrivilegedOps::ForwardingPrivilegedOps;
  bool fail_place = false;  // the broker's copy and move
  bool fail_delete = false;
  int deletes = 0;

  int CopyFile(const std::string& s, const std::string& d, os::BOOL f) override {
    return fail_place ? 0 : real().CopyFile(s, d, f);
  }
  int MoveFileReplacing(const std::string& s, const std::string& d) override {
    return fail_place ? 0 : real().MoveFileReplacing(s, d);
  }
  int DeleteFile(const std::string& p) override {
    ++deletes;
    return fail_delete ? 0 : real().DeleteFile(p);
  }
};

class FailingOpsContext : public FakeRunContext {
 public:
  FailingOpsContext() : ops(FakeRunContext::Privileged()) {}
  pelisto::PrivilegedOps& Privileged() override { return ops; }
  FailingOps ops;
};

// Every case on the direct path (Windows 5) and the broker's (Windows 6).
class GzipAction : public pelisto::testing::GzipActionTest, public ::testing::WithParamInterface<int> {};

TEST_P(GzipAction, WritesTheDefaultNameBesideTheGzipFileWithItsEvents) {
  FakeRunContext& c = Context(GetParam());
  PutFile(kGz, Gzip("component bytes"));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile(kOut), "component bytes");
  EXPECT_EQ(c.events, (Strings{"UnZipFileNumber(1)", "UnZipping(D:\\dl\\Viewer.ocx)", "EndUnZip(1)"}));
  EXPECT_TRUE(c.messages.empty());
  EXPECT_TRUE(ui().Boxes().empty());
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(GzipAction, TakesTheStoredNameAfterTheExtraField) {
  FakeRunContext& c = Context(GetParam());
  GzipMember m;
  m.content = "stored";
  m.extra = std::string("XY\x03\x00\x00\x00\x00", 7);
  m.name = "Real.ocx";
  PutFile(kGz, GzipBytes(m));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile("D:\\dl\\Real.ocx"), "stored");
  EXPECT_FALSE(HostExists(kOut));
}

TEST_P(GzipAction, AStoredNameNeverLeavesTheGzipFilesFolder) {
  FakeRunContext& c = Context(GetParam());
  PutFile(kGz, Gzip("planted", std::string("..\\..\\Windows\\system32\\evil.dll")));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile("D:\\dl\\evil.dll"), "planted");
  EXPECT_FALSE(HostExists("C:\\Windows\\system32\\evil.dll"));

  PutFile(kGz, Gzip("dots", std::string("..")));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile(kOut), "dots");

  // Neither name usable: no file at all.
  PutFile(kGz, Gzip("nowhere", std::string("..")));
  EXPECT_EQ(Outcome(c, kGz, ".."), "Failed Un GZip");
}

TEST_P(GzipAction, ANonGzipFileIsRefusedBeforeAnyEvent) {
  FakeRunContext& c = Context(GetParam());
  PutFile(kGz, "PK\x03\x04 not gzip at all");
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "Invalid Gzip File Format");
  EXPECT_EQ(c.messages, Strings{"Invalid Gzip File : D:\\dl\\pkg.gz"});
  EXPECT_TRUE(c.events.empty());
  EXPECT_FALSE(HostExists(kOut));
}

TEST_P(GzipAction, ADamagedFileWithTheMagicFailsInTheDecompression) {
  FakeRunContext& c = Context(GetParam());
  PutFile(kOut, "installed before");
  PutFile(kGz, std::string("\x1f\x8b") + std::string(100, 'z'));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "Failed Un GZip");
  EXPECT_EQ(c.events, (Strings{"UnZipFileNumber(1)", "UnZipping(D:\\dl\\Viewer.ocx)", "EndUnZip(0)"}));
  EXPECT_EQ(GetFile(kOut), "installed before");
  EXPECT_TRUE(c.messages.empty());
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(GzipAction, ThePagesCancelAtUnZippingStopsBeforeAnyWrite) {
  FakeRunContext& c = Context(GetParam());
  c.page_cancel = 1;
  PutFile(kGz, Gzip("x"));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "Caceled UnGZipping");
  EXPECT_EQ(c.events, (Strings{"UnZipFileNumber(1)", "UnZipping(D:\\dl\\Viewer.ocx)"}));
  EXPECT_FALSE(HostExists(kOut));

  // Only exactly 1 cancels.
  c.page_cancel = 3;
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile(kOut), "x");
}

// A protected folder: the download lands there through the broker, and so must the output.
TEST_P(GzipAction, WritesIntoAProtectedFolderWithoutTheDialog) {
  FakeRunContext& c = Context(GetParam());
  const std::string gz = "C:\\Program Files\\Vendor\\pkg.gz";
  PutFile(gz, Gzip("into program files"));
  EXPECT_EQ(Outcome(c, gz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile("C:\\Program Files\\Vendor\\Viewer.ocx"), "into program files");
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(GzipAction, RegistersTheOutputWhenAsked) {
  FakeRunContext& c = Context(GetParam());
  const std::string gz = "C:\\Program Files\\Vendor\\selfreg.gz";
  const std::string component = pelisto::testing::ReadHostFile(std::string(PELISTO_FIXTURE_DIR) + "/" +
                                                                pelisto::fixtures::kSelfRegOcx);
  ASSERT_FALSE(component.empty());
  PutFile(gz, Gzip(component, std::string(pelisto::fixtures::kSelfRegOcx)));
  EXPECT_EQ(Outcome(c, gz, "Viewer.ocx", true), "");
  const std::string output = "C:\\Program Files\\Vendor\\selfreg.ocx";
  EXPECT_TRUE(c.Logged(" Start regsvr32 - " + output));
  EXPECT_FALSE(c.Logged("failed"));
  os::HKEY key = nullptr;
  const std::string clsid = std::string("CLSID\\") + pelisto::fixtures::kSelfRegClsid;
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, clsid.c_str(), 0, os::KEY_READ, &key), 0);
  os::RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Windows, GzipAction, ::testing::Values(5, 6));

// Windows 6: the broker's copy and delete and their boxes.
class GzipBrokerFailure : public pelisto::testing::GzipActionTest {
 protected:
  FailingOpsContext& Failing() {
    Context(6);
    context_ = std::make_unique<FailingOpsContext>();
    os::SHGetFolderPathA(nullptr, os::CSIDL_LOCAL_APPDATA, nullptr, 0, &context_->protected_mode.writable_folder);
    return static_cast<FailingOpsContext&>(*context_);
  }
  // The texts of the boxes shown, from the `from`-th on.
  Strings BoxTexts(std::size_t from = 0) {
    Strings texts;
    const auto boxes = ui().Boxes();
    for (std::size_t i = from; i < boxes.size(); ++i) texts.push_back(boxes[i].text);
    return texts;
  }
};

TEST_F(GzipBrokerFailure, AFailedPlacementIsShownAndFailsTheStep) {
  FailingOpsContext& c = Failing();
  c.ops.fail_place = true;
  PutFile(kOut, "installed before");
  PutFile(kGz, Gzip("new"));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "Failed Un GZip");
  EXPECT_EQ(BoxTexts(), Strings{os::Utf8ToAnsi("파일을 복사하지 못했습니다.")});
  EXPECT_EQ(c.events.back(), "EndUnZip(0)");
  EXPECT_EQ(GetFile(kOut), "installed before");
  EXPECT_TRUE(WorkFiles().empty());

  // The dialog's path the same way.
  const std::size_t shown = ui().Boxes().size();
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx", false, true), "Failed Un GZip");
  EXPECT_EQ(GetFile(kOut), "installed before");
  EXPECT_EQ(BoxTexts(shown), Strings{os::Utf8ToAnsi("파일을 복사하지 못했습니다.")});
  EXPECT_TRUE(WorkFiles().empty());
}

// The work file is moved into place: nothing is left to delete, so a delete that would fail
// shows nothing.
TEST_F(GzipBrokerFailure, APlacedOutputAsksForNoDelete) {
  FailingOpsContext& c = Failing();
  c.ops.fail_delete = true;
  c.settings.self_ui = os::FALSE;
  PutFile(kGz, Gzip("new"));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile(kOut), "new");
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(c.ops.deletes, 0);
  EXPECT_EQ(c.events.back(), "EndUnZip(1)");
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(GzipBrokerFailure, AWorkFileThatCanNeitherMoveNorGoShowsBothBoxes) {
  FailingOpsContext& c = Failing();
  c.ops.fail_place = true;
  c.ops.fail_delete = true;
  c.settings.self_ui = os::FALSE;  // the broker's boxes do not ask selfUi
  PutFile(kOut, "installed before");
  PutFile(kGz, Gzip("new"));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "Failed Un GZip");
  EXPECT_EQ(BoxTexts(), (Strings{os::Utf8ToAnsi("파일을 복사하지 못했습니다."), os::Utf8ToAnsi("파일을 삭제하지 못했습니다.")}));
  EXPECT_EQ(GetFile(kOut), "installed before");
}

}  // namespace
