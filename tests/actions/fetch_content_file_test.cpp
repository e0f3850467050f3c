#include "actions/fetch_content_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "actions/content_check.h"
#include "actions/create_directories.h"
#include "tests/actions/install_fixture.h"
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
    for (os::BOOL stop : {os::TRUE, os::FALSE}) {
      SCOPED_TRACE(std::string(h.label) + (stop ? " stop" : " go on"));
      FakeRunContext& c = Silent();
      c.settings.stop_not_find_content = stop;
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
      if (h.requested) {
        // The file that did not match is gone, and the line names both digests.
        EXPECT_FALSE(HostExists(kLocal));
        EXPECT_TRUE(c.Logged(std::string(" actual ") + kPayloadSha));
      } else {
        EXPECT_EQ(GetFile(kLocal), "old version");
      }
    }
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
