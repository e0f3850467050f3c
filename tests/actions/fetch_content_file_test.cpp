#include "actions/fetch_content_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>
#include <string>
#include <vector>

#include "actions/content_check.h"
#include "actions/create_directories.h"
#include "tests/actions/install_fixture.h"
#include "tests/archive/zip_builder.h"
#include "tests/support/ui_script.h"
#include "os/fs/file_util.h"
#include "tests/support/forwarding_privileged_ops.h"
#include "tests/support/http_server.h"

namespace pelisto {
namespace {
using testing::FakeRunContext;
using testing::HttpServer;

// sha256 of "payload".
constexpr char kPayloadSha[] = "239f59ed55e737c77147cf55ad0c1b030b6d7ee748a7426952f9b852d5a935e5";

class ContentEntryFetch : public testing::InstallTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    server_.Route("/B/.*", [](const httplib::Request&, httplib::Response& res) {
      testing::ServeBytes(res, "payload");
    });
  }
  FakeRunContext& Silent() {
    FakeRunContext& c = Context(GetParam());
    c.settings.self_ui = os::FALSE;
    return c;
  }
  ContentEntry Entry(const std::string& path) {
    ContentEntry e;
    e.name = "a.bin";
    e.url = server_.Url(path);
    e.target = "C:\\Program Files\\App";
    return e;
  }
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Host(folder))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Paths() {
    std::vector<std::string> paths;
    for (const auto& r : server_.Requests()) paths.push_back(r.path);
    return paths;
  }
  HttpServer server_;
};

constexpr char kLocal[] = "C:\\Program Files\\App\\a.bin";

TEST_P(ContentEntryFetch, DownloadsIntoTheTargetFolder) {
  FakeRunContext& c = Silent();
  PutFile(kLocal, "old version");
  EXPECT_EQ(FetchContentFile(c, Entry("/B/a.bin")), kLocal);
  EXPECT_EQ(GetFile(kLocal), "payload");
}

// With its configuration at .../B/config.xml, ./files/a.zip comes from B/files/a.zip and
// ../a.zip from B/a.zip: the base folder itself, no level climbed.
TEST_P(ContentEntryFetch, RelativeAddressesComeFromTheConfigurationFolder) {
  FakeRunContext& c = Silent();
  c.state.config_url = server_.Url("/B/config.xml");
  for (const char* url : {"./files/a.zip", "../a.zip"}) {
    IXMLDocumentWrapper stored = Document("", "new.xml.old");
    IXMLDocumentWrapper fresh = Document(std::string("<content name=\"a.zip\" url=\"") + url + R"(" target="D:\dl"/>)");
    IXMLNodeWrapper node = FirstContent(fresh);
    ContentEntry entry;
    ASSERT_EQ(CheckContentEntry(c, stored, node, false, &entry, true, true), 1);
    if (!IsDirectory(entry.target)) CreateDirectories(c, entry.target, os::TRUE);
    EXPECT_EQ(FetchContentFile(c, entry), "D:\\dl\\a.zip");
  }
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/B/files/a.zip", "/B/a.zip"}));
}

struct HashCase {
  const char* label;
  std::string sha256;
  bool installs;
  bool requested;
  const char* line;  // a level-2 line that starts so; empty for none
};

class ContentEntryHashCheck : public ContentEntryFetch {};

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

TEST_P(ContentEntryHashCheck, MatchMismatchAndMalformed) {
  const std::vector<HashCase> cases = {
      {"Match", kPayloadSha, true, true, ""},
      {"MatchUpperCase", Upper(kPayloadSha), true, true, ""},
      {"Mismatch", std::string(64, '0'), false, true, " Content hash mismatch 'C:\\Program Files\\App\\a.bin' expected "},
      {"Short", std::string(63, 'a'), false, false, " Malformed content hash '"},
      {"NotHex", std::string(64, 'g'), false, false, " Malformed content hash '"}};
  for (const HashCase& h : cases) {
    for (const auto& [stop, dialog] : {std::pair{os::TRUE, os::FALSE}, {os::FALSE, os::FALSE}, {os::FALSE, os::TRUE}}) {
      SCOPED_TRACE(std::string(h.label) + (stop ? " stop" : " go on") + (dialog ? " dialog" : ""));
      testing::HeadlessUi ui;
      FakeRunContext& c = Silent();
      c.settings.stop_not_find_content = stop;
      c.settings.self_ui = dialog;
      server_.ClearLog();
      PutFile(kLocal, "old version");
      std::string result = "unset";
      try {
        result = FetchContentFile(c, Entry("/B/a.bin"), h.sha256);
        EXPECT_TRUE(h.installs || !stop) << "no RunError";
      } catch (const RunError& e) {
        EXPECT_FALSE(h.installs);
        EXPECT_TRUE(stop);
        EXPECT_EQ(std::string(e.what()), std::string(kLocal) + " is not copyed!!!");
      }
      EXPECT_EQ(server_.RequestCount(), h.requested ? 1u : 0u);
      if (h.installs) {
        EXPECT_EQ(result, kLocal);
        EXPECT_EQ(GetFile(kLocal), "payload");
        continue;
      }
      if (!stop) {
        EXPECT_EQ(result, "");
        EXPECT_EQ(c.log.back().text, std::string(kLocal) + " is not copyed!!!");
      }
      bool found = false;
      for (const auto& line : c.log) {
        found = found || (line.level == 2 && line.text.rfind(std::string(testing::kStamp) + h.line, 0) == 0);
      }
      EXPECT_TRUE(found) << h.line;
      // What did not match never took the previous version's place, and nothing of it stays.
      EXPECT_EQ(GetFile(kLocal), "old version");
      EXPECT_EQ(Names("C:\\Program Files\\App"), std::vector<std::string>{"a.bin"});
      if (h.requested) {
        EXPECT_TRUE(c.Logged(std::string(" actual ") + kPayloadSha));
        std::vector<std::string> boxes;
        for (const auto& b : ui.Boxes()) boxes.push_back(b.text);
        EXPECT_EQ(boxes, dialog ? std::vector<std::string>{std::string("Content hash mismatch ") + kLocal}
                                : std::vector<std::string>{});
      }
    }
  }
}

// From Windows 6 on the work file lies in a folder that low-integrity processes write: one
// swapped after its check is found where the broker placed it, and goes.
TEST_P(ContentEntryHashCheck, AWorkFileSwappedAfterItsCheckIsNotInstalled) {
  if (GetParam() < 6) GTEST_SKIP() << "the work file is beside the target, where the control alone writes";
  class Swapping final : public testing::ForwardingPrivilegedOps {
   public:
    using ForwardingPrivilegedOps::ForwardingPrivilegedOps;
    int CopyFile(const std::string& source, const std::string& destination, os::BOOL fail) override {
      ++copies;
      return real().CopyFile(source, destination, fail);
    }
    int MoveFileReplacing(const std::string& source, const std::string& destination) override {
      os::WriteFileAtomically(source, "planted");
      return real().MoveFileReplacing(source, destination);
    }
    int copies = 0;
  };
  FakeRunContext& c = Silent();
  c.settings.stop_not_find_content = os::FALSE;
  Swapping swapping(c.Privileged());
  c.privileged_override = &swapping;
  PutFile(kLocal, "old version");
  EXPECT_EQ(FetchContentFile(c, Entry("/B/a.bin"), kPayloadSha), "");
  EXPECT_TRUE(c.Logged(" Content hash mismatch 'C:\\Program Files\\App\\a.bin' expected "));
  EXPECT_FALSE(HostExists(kLocal));
  EXPECT_EQ(swapping.copies, 0) << "the broker moves the work file into place";
  EXPECT_TRUE(WorkFiles().empty());
  c.privileged_override = nullptr;
}

// The download dialog unpacks a "zip" before it closes: an archive that fails its hash is not
// unpacked, and the one there before stays.
TEST_P(ContentEntryHashCheck, AnArchiveThatFailsItsHashIsNotUnpacked) {
  const std::string archive = testing::BuildZip({{.name = "member.txt", .data = "planted"}});
  server_.Route("/Z/a.zip", [archive](const httplib::Request&, httplib::Response& res) {
    testing::ServeBytes(res, archive);
  });
  testing::HeadlessUi ui;
  FakeRunContext& c = Silent();
  c.settings.self_ui = os::TRUE;
  c.settings.stop_not_find_content = os::FALSE;
  ContentEntry e = Entry("/Z/a.zip");
  e.type = "zip";
  PutFile("C:\\Program Files\\App\\a.zip", "old archive");
  EXPECT_EQ(FetchContentFile(c, e, std::string(64, 'f')), "");
  EXPECT_TRUE(c.Logged(" Content hash mismatch 'C:\\Program Files\\App\\a.zip' expected "));
  EXPECT_EQ(GetFile("C:\\Program Files\\App\\a.zip"), "old archive");
  EXPECT_EQ(Names("C:\\Program Files\\App"), std::vector<std::string>{"a.zip"});
  std::string own;
  if (GetParam() >= 6) {
    os::SHGetFolderPathA(nullptr, os::CSIDL_LOCAL_APPDATA, nullptr, 0, &own);
    EXPECT_FALSE(HostExists(own + "Low\\Veltrane\\a.zip"));
  }
}

TEST_P(ContentEntryFetch, AFailedDownloadKeepsThePreviousVersionOrEndsTheRun) {
  FakeRunContext& c = Silent();
  c.settings.stop_not_find_content = os::FALSE;
  const ContentEntry e = Entry("/missing/a.bin");
  PutFile(kLocal, "old version");
  EXPECT_EQ(FetchContentFile(c, e), "");
  EXPECT_EQ(c.log.back().text, std::string(kLocal) + " is not copyed!!!");
  EXPECT_EQ(c.log.back().level, 2u);
  if (GetParam() >= 6) {
    EXPECT_EQ(GetFile(kLocal), "old version");
  }

  c.settings.stop_not_find_content = os::TRUE;
  try {
    FetchContentFile(c, e);
    FAIL() << "no RunError";
  } catch (const RunError& error) {
    EXPECT_EQ(std::string(error.what()), std::string(kLocal) + " is not copyed!!!");
  }
}

// The part after the last "/" must name a file directly in the target folder.
TEST_P(ContentEntryFetch, AnAddressWithoutAFileNameIsNotFetched) {
  FakeRunContext& c = Silent();
  c.settings.stop_not_find_content = os::FALSE;
  for (const char* path : {"/B/", "/B/..\\..\\Windows\\evil.exe", "/B/a.bin?x=1"}) {
    EXPECT_EQ(FetchContentFile(c, Entry(path)), "") << path;
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_FALSE(HostExists("C:\\Windows\\evil.exe"));
  EXPECT_TRUE(c.Logged(" Content file name is not a file name '..\\..\\Windows\\evil.exe'"));
}

INSTANTIATE_TEST_SUITE_P(Windows, ContentEntryFetch, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });
INSTANTIATE_TEST_SUITE_P(Windows, ContentEntryHashCheck, ::testing::Values(5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "Windows" + std::to_string(i.param); });

}  // namespace
}  // namespace pelisto
