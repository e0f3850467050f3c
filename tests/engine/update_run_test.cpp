// The comparison run end to end against the loopback server, on Windows 5 and 6.
#include "engine/config_update_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/stored_copy.h"
#include "os/base/text.h"
#include "os/ui/window.h"
#include "platform/xml_document_wrapper.h"
#include "tests/support/action_test.h"
#include "tests/support/http_server.h"

namespace pelisto::testing {
namespace {

constexpr char kWork[] = "C:\\cfg\\Veltrane\\pold";
constexpr char kLocal[] = "C:\\cfg\\Veltrane\\pold\\update.xml";
constexpr char kStored[] = "C:\\cfg\\Veltrane\\pold\\update.xml.old";

class UpdateRun : public ActionTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ActionTest::SetUp();
    server_.Route("/site/update.xml", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, config_);
    });
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    context_ = &Context(GetParam());
    context_->settings.config_dir = "C:\\cfg";
    context_->settings.self_ui = os::FALSE;
  }
  std::string File(const std::string& name, const std::string& content) {
    WriteHostFile(server_.root() + "/" + name, content);
    return server_.Url("/files/" + name);
  }
  // A plain file entry: installed by its download alone.
  std::string Entry(const std::string& name, const std::string& ver, const std::string& type = "") {
    return "<content name='" + name + "' ver='" + ver + "' url='" + server_.Url("/files/" + name) +
           "' target='C:\\Demo' type='" + type + "'/>";
  }
  os::BOOL Run() { return RunConfigUpdate(*context_, server_.Url("/site/update.xml")); }
  int FileRequests() {
    int n = 0;
    for (const LoggedRequest& r : server_.Requests()) n += r.path.rfind("/files/", 0) == 0;
    return n;
  }
  bool LoggedAt(const std::string& text, unsigned level) {
    for (const auto& line : context_->log) {
      if (line.text == context_->log_time + text && line.level == level) return true;
    }
    return false;
  }

  HttpServer server_;
  std::string config_;
  FakeRunContext* context_ = nullptr;
};

TEST_P(UpdateRun, FirstRunInstallsAndStoresTheCopySecondRunDownloadsNothingMore) {
  File("a.txt", "alpha");
  File("b.txt", "beta");
  config_ = "<list>" + Entry("a.txt", "1.0") + Entry("b.txt", "1.0") + "</list>";
  ASSERT_EQ(Run(), os::TRUE);
  EXPECT_EQ(GetFile("C:\\Demo\\a.txt"), "alpha");
  EXPECT_EQ(GetFile("C:\\Demo\\b.txt"), "beta");
  EXPECT_FALSE(HostExists(kLocal)) << "the downloaded configuration is removed";
  ASSERT_TRUE(HostExists(kStored));
  EXPECT_EQ(context_->state.work_folder, kWork);
  EXPECT_EQ(context_->log_folders.back(), kWork);
  EXPECT_TRUE(LoggedAt(" " + std::string(kLocal) + " parsing success", 0));
  EXPECT_EQ(FileRequests(), 2);

  // The stored copy reads back as the document that was applied.
  IXMLDocumentWrapper stored;
  ASSERT_EQ(stored.Create(), os::S_OK);
  ASSERT_TRUE(stored.Load(kStored)) << stored.ParseErrorReason();
  EXPECT_EQ(stored.CountContentNodes(), 2);

  server_.ClearLog();
  ASSERT_EQ(Run(), os::TRUE);
  EXPECT_EQ(FileRequests(), 0) << "every version is equal and every file is there";
  EXPECT_TRUE(context_->Logged(" Equal Version 1.0 a.txt"));
}

TEST_P(UpdateRun, AFailedInstallStopsTheWalkAndKeepsTheStoredCopy) {
  for (const char* name : {"e1", "e2", "e4", "e5"}) File(name, name);
  File("e3.zip", "this is not a zip archive");
  PutFile(kStored, "<list/>");
  config_ = "<list>" + Entry("e1", "1") + Entry("e2", "1") + Entry("e3.zip", "1", "zip") +
            Entry("e4", "1") + Entry("e5", "1") + "</list>";
  EXPECT_EQ(Run(), os::FALSE);
  EXPECT_EQ(GetFile("C:\\Demo\\e1"), "e1");
  EXPECT_EQ(GetFile("C:\\Demo\\e2"), "e2");
  EXPECT_FALSE(HostExists("C:\\Demo\\e4"));
  EXPECT_FALSE(HostExists("C:\\Demo\\e5"));
  EXPECT_EQ(GetFile(kStored), "<list/>") << "the next run retries";
  EXPECT_TRUE(LoggedAt(" " + std::string(kLocal) + " parsing error !!! ", 1));
}

struct BadRun {
  const char* name;
  const char* config;        // served
  const char* stored;        // the stored copy before, null: none
  const char* line;          // logged at level 2
};


class UpdateRunBadDocument : public UpdateRun {};

TEST_P(UpdateRunBadDocument, FailsWithTheLineAndLeavesTheStoredCopy) {
  for (const BadRun& c : {
           BadRun{"Empty", "", nullptr, "  current XML load error "},
           BadRun{"NoRoot", "<?xml version='1.0'?>", nullptr, "  current XML load error "},
           BadRun{"TwoRoots", "<a/><b/>", nullptr, "  current XML load error "},
           BadRun{"UndefinedEntity", "<a>&undefined;</a>", nullptr, "  current XML load error "},
           BadRun{"Garbage", "\x01\x02garbage", nullptr, "  current XML load error "},
           BadRun{"TruncatedStoredCopy", "<list/>", "<list><content url='a'", "  old XML load error "},
           BadRun{"GarbageStoredCopy", "<list/>", "\xFF\xFE\x00garbage", "  old XML load error "},
       }) {
    config_ = c.config;
    if (c.stored != nullptr) PutFile(kStored, c.stored);
    context_->log.clear();
    EXPECT_EQ(Run(), os::FALSE) << c.name;
    EXPECT_TRUE(LoggedAt(c.line, 2)) << c.name;
    EXPECT_TRUE(LoggedAt(" " + std::string(kLocal) + " parsing error !!! ", 1)) << c.name;
    if (c.stored != nullptr) {
      EXPECT_EQ(GetFile(kStored), c.stored) << c.name;
    } else {
      EXPECT_FALSE(HostExists(kStored)) << c.name;
    }
  }
}

TEST_P(UpdateRun, ADocumentWithoutContentIsStored) {
  config_ = "<list><item url='x'/></list>";
  EXPECT_EQ(Run(), os::TRUE);
  EXPECT_TRUE(HostExists(kStored));
  for (const std::string& event : context_->events) {
    EXPECT_EQ(event.rfind("StartDownload", 0) == 0 || event.rfind("Downloading", 0) == 0, true)
        << "only the configuration's download: " << event;
  }
}

TEST_P(UpdateRun, ACancelAtTheCountEndsTheRun) {
  File("a.txt", "alpha");
  config_ = "<list>" + Entry("a.txt", "1.0") + "</list>";
  context_->dialog_cancel = 1;  // the run-level events only
  EXPECT_EQ(Run(), os::FALSE);
  EXPECT_TRUE(LoggedAt(" Canceled at TotalDownloadFileNumber", 2));
  EXPECT_FALSE(HostExists(kStored));
  EXPECT_FALSE(HostExists("C:\\Demo\\a.txt"));
}

TEST_P(UpdateRun, AFailedConfigurationDownloadIsNotCopyed) {
  context_->settings.self_ui = os::TRUE;
  EXPECT_EQ(RunConfigUpdate(*context_, server_.Url("/site/missing.xml")), os::FALSE);
  const std::string local = std::string(kWork) + "\\missing.xml";
  EXPECT_TRUE(LoggedAt(" " + local + " is not copyed !!!", 1));
  EXPECT_EQ(context_->messages, std::vector<std::string>{local + " is not copyed !!!"});
}

TEST_P(UpdateRun, AnAddressWhoseNameIsNoFileNameIsRefusedBeforeAnyTransfer) {
  EXPECT_EQ(RunConfigUpdate(*context_, server_.Url("/site/") + "..\\..\\evil.xml"), os::FALSE);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_TRUE(context_->Logged(" is not copyed !!!"));
}

TEST_P(UpdateRun, AConfigDirThatCannotBeAFolderIsAnInvalidPath) {
  PutFile("C:\\blocked", "a file in the way");
  context_->settings.config_dir = "C:\\blocked";
  context_->settings.self_ui = os::TRUE;
  EXPECT_EQ(Run(), os::FALSE);
  EXPECT_EQ(context_->messages.back(), "C:\\blocked is invalid path ! ");
  EXPECT_TRUE(LoggedAt("C:\\blocked is invalid path !", 1));
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_P(UpdateRun, TheFirstFolderSymbolOfConfigDirIsReplacedInTheProperty) {
  config_ = "<list/>";
  context_->settings.config_dir = "{program}\\Site";
  EXPECT_EQ(Run(), os::TRUE);
  EXPECT_EQ(context_->settings.config_dir, context_->folders.program_files + "\\Site");
}

TEST_P(UpdateRun, AnEmptyConfigDirIsFilledIn) {
  config_ = "<list/>";
  context_->settings.config_dir.clear();
  EXPECT_EQ(Run(), os::TRUE);
  std::string expected;
  if (GetParam() >= 6) {
    expected = context_->protected_mode.local_low_folder;
  } else {
    os::SHGetFolderPathA(nullptr, os::CSIDL_APPDATA, nullptr, 0, &expected);
    expected += "\\LocalLow";
  }
  EXPECT_EQ(context_->settings.config_dir, expected);
  EXPECT_EQ(context_->state.work_folder, expected + "\\Veltrane\\pold");
}

TEST_P(UpdateRun, AnotherRunsStatusDialogStopsTheRunSilently) {
  os::WNDCLASSA wc;
  wc.lpfnWndProc = os::DefWindowProcA;
  wc.lpszClassName = kRunGuardClass;
  os::RegisterClassA(&wc);
  os::HWND other = os::CreateWindowExA(0, kRunGuardClass, kRunGuardTitle, 0, 0, 0, 10, 10,
                                       nullptr, 0, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_TRUE(AnotherRunIsUp());
  EXPECT_EQ(Run(), os::FALSE);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_TRUE(context_->messages.empty());
  os::DestroyWindow(other);
  EXPECT_FALSE(AnotherRunIsUp());
}

INSTANTIATE_TEST_SUITE_P(Windows, UpdateRun, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Windows, UpdateRunBadDocument, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

// The stored copy's declaration names the encoding its text is in.
class UpdateRunStoredCopy : public ActionTest, public ::testing::WithParamInterface<os::UINT> {};

TEST_P(UpdateRunStoredCopy, DeclaresTheImageCodePage) {
  os::UINT page = GetParam();
  os::ImageSettings s = machine().settings();
  s.code_page = page;
  Reconfigure(s);
  os::SetAnsiCodePage(page);
  FakeRunContext& context = Context(6);
  const std::string hangul = os::Utf8ToAnsi("\xED\x95\x9C");
  PutFile("C:\\cfg\\new.xml", "<?xml version='1.0' encoding='UTF-8'?><list><content name='" +
                                  std::string("\xED\x95\x9C") + "'/></list>");
  IXMLDocumentWrapper doc;
  ASSERT_EQ(doc.Create(), os::S_OK);
  ASSERT_TRUE(doc.Load("C:\\cfg\\new.xml"));
  ASSERT_EQ(WriteStoredCopy(context, doc, "C:\\cfg\\new.xml.old"), 1);
  const std::string written = GetFile("C:\\cfg\\new.xml.old");
  const std::string declaration = std::string("<?xml version=\"1.0\" encoding=\"") +
                                  (page == os::CP_KOREAN ? "EUC-KR" : "UTF-8") + "\"?>";
  EXPECT_EQ(written.rfind(declaration, 0), 0u) << written;
  EXPECT_NE(written.find(hangul), std::string::npos) << "the text is in the image's page";
  IXMLDocumentWrapper back;
  ASSERT_EQ(back.Create(), os::S_OK);
  EXPECT_TRUE(back.Load("C:\\cfg\\new.xml.old")) << back.ParseErrorReason();
  os::SetAnsiCodePage(os::CP_UTF8);
}

INSTANTIATE_TEST_SUITE_P(CodePages, UpdateRunStoredCopy, ::testing::Values(os::CP_UTF8, os::CP_KOREAN),
                         [](const auto& info) { return "CodePage" + std::to_string(info.param); });

}  // namespace
}  // namespace pelisto::testing
