#include "actions/install_by_type.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "os/fs/file_api.h"
#include "os/reg/registry.h"
#include "tests/actions/install_fixture.h"
#include "tests/archive/zip_builder.h"
#include "tests/fixtures/fixture_ids.h"
#include "tests/support/gzip_files.h"
#include "tests/support/shortcut_readers.h"

namespace pelisto {
namespace {
using testing::FakeRunContext;
using Strings = std::vector<std::string>;

constexpr const char* kT = testing::kStamp;
constexpr char kDesktop[] = "C:\\Users\\user\\Desktop";

class InstallByTypeTest : public testing::InstallTest, public ::testing::WithParamInterface<int> {
 protected:
  // The context of the test's Windows version, with the silent actions (no dialogs).
  FakeRunContext& Silent() {
    FakeRunContext& c = Context(GetParam());
    c.settings.self_ui = os::FALSE;
    return c;
  }
  static ContentEntry Entry(const std::string& name, const std::string& type) {
    ContentEntry e;
    e.name = name;
    e.type = type;
    return e;
  }
  std::string Component() {
    return testing::ReadHostFile(std::string(PELISTO_FIXTURE_DIR) + "/" + fixtures::kSelfRegOcx);
  }
  // True when the test component's class is registered.
  static bool ComponentRegistered() {
    os::HKEY key = nullptr;
    const std::string clsid = std::string("CLSID\\") + fixtures::kSelfRegClsid;
    if (os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, clsid.c_str(), 0, os::KEY_READ, &key) != 0) return false;
    os::RegCloseKey(key);
    return true;
  }
  // The file once something has written it, waiting up to 10 s (a program the broker
  // started runs on its own).
  std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 200 && !HostExists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return GetFile(path);
  }
  bool Windows6() const { return GetParam() >= 6; }
};

TEST_P(InstallByTypeTest, AnExeRunsWithoutItsArgument) {
  FakeRunContext& c = Silent();
  const std::string program = "C:\\Program Files\\App\\setup.exe";
  PutFile(program, "#!/bin/sh\necho \"$# $PELISTO_INTEGRITY\" > ran.txt\n");
  ContentEntry e = Entry("setup.exe", "EXE");
  e.argument = "/quiet /norestart";
  EXPECT_EQ(InstallByType(c, e, program), 1);
  if (Windows6()) {
    // Started by the elevated broker, which writes none of the direct start's lines.
    EXPECT_EQ(WaitForFile("C:\\Program Files\\App\\ran.txt"), "0 high\n");
    EXPECT_FALSE(c.Logged("execute file"));
  } else {
    // The direct start waited for the program's end.
    EXPECT_EQ(GetFile("C:\\Program Files\\App\\ran.txt"), "0 medium\n");
    EXPECT_EQ(Lines(c), (Strings{std::string("0:") + kT + " Start execute file - " + program,
                                 std::string("0:") + kT + " Success create processing - " + program,
                                 std::string("0:") + kT + " End execute file - " + program}));
  }
}

TEST_P(InstallByTypeTest, ZipInCapitalsUnpacksAndDeletesTheArchiveWhenAsked) {
  FakeRunContext& c = Silent();
  c.settings.delete_zip_file = os::TRUE;
  const std::string archive = "C:\\Program Files\\App\\a.zip";
  PutFile(archive, testing::BuildZip({{.name = "bin/tool.txt", .data = "tool"}}));
  EXPECT_EQ(InstallByType(c, Entry("a.zip", "ZIP"), archive), 1);
  EXPECT_EQ(GetFile("C:\\Program Files\\App\\bin\\tool.txt"), "tool");
  EXPECT_FALSE(HostExists(archive));
  EXPECT_EQ(c.events.back(), "EndUnZip(1)");
  EXPECT_FALSE(c.Logged("Failed delete Zip File"));
}

TEST_P(InstallByTypeTest, AFailedUnzipStopsTheRunAndKeepsTheArchive) {
  FakeRunContext& c = Silent();
  c.settings.delete_zip_file = os::TRUE;
  const std::string archive = "D:\\app\\broken.zip";
  PutFile(archive, "not an archive");
  EXPECT_EQ(InstallByType(c, Entry("broken.zip", "zip"), archive), 0);
  EXPECT_EQ(GetFile(archive), "not an archive");
  EXPECT_EQ(c.events.back(), "EndUnZip(0)");
}

// An archive downloaded as Brindle.ocx.zip registers the Brindle.ocx it held, beside it.
TEST_P(InstallByTypeTest, TheBrindleArchiveRegistersTheFileItsNameStandsFor) {
  FakeRunContext& c = Silent();
  const std::string archive = "D:\\app\\Brindle.ocx.zip";
  PutFile(archive, testing::BuildZip({{.name = "Brindle.ocx", .data = Component()}}));
  EXPECT_EQ(InstallByType(c, Entry("BRINDLE.OCX", "zip"), archive), 1);
  EXPECT_TRUE(c.Logged(" Start regsvr32 - D:\\app\\Brindle.ocx"));
  EXPECT_TRUE(ComponentRegistered());
  EXPECT_EQ(GetFile(archive).substr(0, 2), "PK") << "kept without deleteZipFile";
}

TEST_P(InstallByTypeTest, OtherTypesOnlyDownload) {
  FakeRunContext& c = Silent();
  PutFile("D:\\app\\setup.msi", "package");
  for (const char* type : {"msi", "", "unknown"}) {
    EXPECT_EQ(InstallByType(c, Entry("setup.msi", type), "D:\\app\\setup.msi"), 1) << type;
  }
  EXPECT_EQ(GetFile("D:\\app\\setup.msi"), "package");
  EXPECT_TRUE(c.log.empty());
  EXPECT_TRUE(c.events.empty());
}

TEST_P(InstallByTypeTest, RegRegistersTheDownloadedComponent) {
  FakeRunContext& c = Silent();
  PutFile("D:\\app\\selfreg.ocx", Component());
  EXPECT_EQ(InstallByType(c, Entry("selfreg.ocx", "Reg"), "D:\\app\\selfreg.ocx"), 1);
  EXPECT_TRUE(ComponentRegistered());
}

struct GzCase {
  const char* label;
  const char* type;
  const char* name;
  bool registers;
};
void PrintTo(const GzCase& g, std::ostream* os) { *os << g.label; }

class InstallByTypeGzip : public InstallByTypeTest {};

class InstallByTypeGzipRegistration : public testing::InstallTest,
                                      public ::testing::WithParamInterface<std::tuple<int, GzCase>> {};

// The register flag of "gz" looks for ".ocx" with case; "gzreg" always registers.
TEST_P(InstallByTypeGzipRegistration, FollowsTypeAndName) {
  const auto [os_major, g] = GetParam();
  FakeRunContext& c = Context(os_major);
  c.settings.self_ui = os::FALSE;
  const std::string component = testing::ReadHostFile(std::string(PELISTO_FIXTURE_DIR) + "/" + fixtures::kSelfRegOcx);
  PutFile("D:\\app\\viewer.gz", testing::Gzip(component));
  ContentEntry e;
  e.name = g.name;
  e.type = g.type;
  EXPECT_EQ(InstallByType(c, e, "D:\\app\\viewer.gz"), 1);
  EXPECT_EQ(GetFile(std::string("D:\\app\\") + g.name), component);
  EXPECT_EQ(c.Logged(" Start regsvr32 - D:\\app\\" + std::string(g.name)), g.registers);
  os::HKEY key = nullptr;
  const std::string clsid = std::string("CLSID\\") + fixtures::kSelfRegClsid;
  const bool registered = os::RegOpenKeyExA(os::HKEY_CLASSES_ROOT, clsid.c_str(), 0, os::KEY_READ, &key) == 0;
  if (registered) os::RegCloseKey(key);
  EXPECT_EQ(registered, g.registers);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallByTypeGzipRegistration,
    ::testing::Combine(::testing::Values(5, 6),
                       ::testing::Values(GzCase{"OcxLower", "gz", "viewer.ocx", true},
                                         GzCase{"OcxUpper", "GZ", "viewer.OCX", false},
                                         GzCase{"GzReg", "gzreg", "viewer.bin", true})),
    [](const auto& i) {
      return "Windows" + std::to_string(std::get<0>(i.param)) + "_" + std::get<1>(i.param).label;
    });

TEST_P(InstallByTypeGzip, DeleteZipFileRemovesTheDownloadButNeverTheOutput) {
  FakeRunContext& c = Silent();
  c.settings.delete_zip_file = os::TRUE;
  PutFile("D:\\app\\pkg.gz", testing::Gzip("content", std::string("data.txt")));
  EXPECT_EQ(InstallByType(c, Entry("fallback.txt", "gz"), "D:\\app\\pkg.gz"), 1);
  EXPECT_EQ(GetFile("D:\\app\\data.txt"), "content");
  EXPECT_FALSE(HostExists("D:\\app\\pkg.gz"));

  // A stored name that is the file's own name (trailing dot and case as Windows reads them):
  // the output took the download's place and is what stays.
  for (const char* stored : {"tool.dat", "TOOL.DAT."}) {
    PutFile("D:\\app\\tool.dat", testing::Gzip("installed", std::string(stored)));
    EXPECT_EQ(InstallByType(c, Entry("tool.dat", "gz"), "D:\\app\\tool.dat"), 1) << stored;
    EXPECT_EQ(GetFile("D:\\app\\tool.dat"), "installed") << stored;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, InstallByTypeTest, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });
INSTANTIATE_TEST_SUITE_P(Windows, InstallByTypeGzip, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });

// The shortcut types need no file: both are made on the desktop and read back by the tools
// other programs read them with.
TEST_P(InstallByTypeTest, LinkTypesMakeTheirShortcutsWithoutAFile) {
  FakeRunContext& c = Silent();
  ContentEntry program = Entry("app", "MakeProgramLnk");
  program.lnkName = "My App";
  program.url = "C:\\Program Files\\App\\app.exe";
  program.target = "C:\\Program Files\\App\\app.ico";
  program.argument = "/start";
  EXPECT_EQ(InstallByType(c, program, ""), 1);
  const auto info = testing::ReadWithLnkinfo(Host(std::string(kDesktop) + "\\My App.lnk"));
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_EQ(info.fields.at("Local path"), program.url);
  EXPECT_EQ(info.fields.at("Description"), "My App");
  EXPECT_EQ(info.fields.at("Command line arguments"), "/start");
  EXPECT_EQ(info.fields.at("Icon location"), program.target);

  // No icon of its own: the run's icon source.
  c.state.icon_source = "C:\\Program Files\\App\\site.ico";
  ContentEntry site = Entry("site", "makeinternetlnk");
  site.lnkName = "Site";
  site.url = "http://example.test/start";
  EXPECT_EQ(InstallByType(c, site, ""), 1);
  EXPECT_EQ(testing::IniSection(GetFile(std::string(kDesktop) + "\\Site.url"), "InternetShortcut"),
            (std::map<std::string, std::string>{{"URL", "http://example.test/start"},
                                                {"IconFile", "C:\\Program Files\\App\\site.ico"},
                                                {"IconIndex", "0"}}));
  EXPECT_FALSE(c.Logged("Do not creat"));
  EXPECT_TRUE(c.messages.empty());
}

// Only the direct path meets a handle of its own process (share modes are kept per process).
class InstallByTypeDirect : public testing::InstallTest {};

TEST_F(InstallByTypeDirect, ZipReportsAnArchiveItCannotDelete) {
  FakeRunContext& c = Context(5);
  c.settings.self_ui = os::FALSE;
  c.settings.delete_zip_file = os::TRUE;
  const std::string archive = "D:\\app\\a.zip";
  PutFile(archive, testing::BuildZip({{.name = "x.txt", .data = "x"}}));
  os::HANDLE held = os::CreateFileA(archive, os::GENERIC_READ, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(os::IsValidHandle(held));
  ContentEntry e;
  e.type = "zip";
  EXPECT_EQ(InstallByType(c, e, archive), 1);
  os::CloseHandle(held);
  EXPECT_TRUE(c.Logged("Failed delete Zip File " + archive));
  EXPECT_TRUE(HostExists(archive));
  EXPECT_EQ(GetFile("D:\\app\\x.txt"), "x");
}

}  // namespace
}  // namespace pelisto
