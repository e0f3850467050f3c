#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/ungzip_file.h"
#include "os/base/text.h"
#include "os/reg/registry.h"
#include "tests/archive/gzip_action_test.h"
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
class FailingOps : public pelisto::PrivilegedOps {
 public:
  explicit FailingOps(pelisto::PrivilegedOps& real) : real_(real) {}
  bool fail_copy = false;
  bool fail_delete = false;

  bool Brokered() const override { return real_.Brokered(); }
  int CopyFile(const std::string& s, const std::string& d, os::BOOL f) override {
    return fail_copy ? 0 : real_.CopyFile(s, d, f);
  }
  int MoveFile(const std::string& s, const std::string& d) override { return real_.MoveFile(s, d); }
  int MoveFileReplacing(const std::string& s, const std::string& d) override {
    return real_.MoveFileReplacing(s, d);
  }
  int DeleteFile(const std::string& p) override { return fail_delete ? 0 : real_.DeleteFile(p); }
  int CreateDirectory(const std::string& p) override { return real_.CreateDirectory(p); }
  os::HRESULT CreateDirectoryResult(const std::string& p) override { return real_.CreateDirectoryResult(p); }
  int WriteFileAtomically(const std::string& p, std::string_view b) override { return real_.WriteFileAtomically(p, b); }
  int CreateFileIfMissing(const std::string& p) override { return real_.CreateFileIfMissing(p); }
  int AppendToFile(const std::string& p, std::string_view t) override { return real_.AppendToFile(p, t); }
  int RunProgram(const std::string& p) override { return real_.RunProgram(p); }
  os::LONG CreateShellLink(const std::string& t, const std::string& l, const std::string& d,
                           const std::string& i, const std::string& a) override {
    return real_.CreateShellLink(t, l, d, i, a);
  }
  os::LONG CreateInternetShortcut(const std::string& u, const std::string& p, const std::string& d,
                                  const std::string& i, os::LONG n) override {
    return real_.CreateInternetShortcut(u, p, d, i, n);
  }
  int RegisterComponent(const std::string& p) override { return real_.RegisterComponent(p); }
  int UnregisterComponent(const std::string& p) override { return real_.UnregisterComponent(p); }
  int RegisterExtractedComponent(const std::string& p) override { return real_.RegisterExtractedComponent(p); }
  int WriteRegString(os::HKEY r, const std::string& k, const std::string& n, const std::string& t) override {
    return real_.WriteRegString(r, k, n, t);
  }
  int WriteRegNumber(os::HKEY r, const std::string& k, const std::string& n, os::LONG v) override {
    return real_.WriteRegNumber(r, k, n, v);
  }
  std::string ReadRegString(os::HKEY r, const std::string& k, const std::string& n) override {
    return real_.ReadRegString(r, k, n);
  }

 private:
  pelisto::PrivilegedOps& real_;
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

TEST_F(GzipBrokerFailure, AFailedCopyIsShownAndFailsTheStep) {
  FailingOpsContext& c = Failing();
  c.ops.fail_copy = true;
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

TEST_F(GzipBrokerFailure, AFailedDeleteIsShownAndTheStepGoesOn) {
  FailingOpsContext& c = Failing();
  c.ops.fail_delete = true;
  c.settings.self_ui = os::FALSE;  // the broker's boxes do not ask selfUi
  PutFile(kGz, Gzip("new"));
  EXPECT_EQ(Outcome(c, kGz, "Viewer.ocx"), "");
  EXPECT_EQ(GetFile(kOut), "new");
  EXPECT_EQ(BoxTexts(), Strings{os::Utf8ToAnsi("파일을 삭제하지 못했습니다.")});
  EXPECT_EQ(c.events.back(), "EndUnZip(1)");
}

}  // namespace
