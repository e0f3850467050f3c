#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "actions/browser_version.h"
#include "download/download_step.h"
#include "download/http_download_dlg.h"
#include "download/output_file.h"
#include "os/base/text.h"
#include "os/image/integrity.h"
#include "os/reg/registry.h"
#include "os/ui/dialog.h"
#include "os/ui/window.h"
#include "resources/resource_ids.h"
#include "tests/download/download_dialog_fixture.h"

namespace pelisto::testing {
namespace {

using DownloadDialog = DownloadDialogTest;

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_P(DownloadDialog, DownloadsWithItsCaptionsStatusLinesAndBar) {
  const std::string url = server_.Url("/pattern/2047");
  ASSERT_EQ(Entry(url), 1) << ::testing::PrintToString(LogLines());
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(2047));
  EXPECT_TRUE(WorkFiles().empty()) << "the temporary work file goes once copied";

  const std::vector<std::string> captions = Texts(0);
  ASSERT_GE(captions.size(), 3u);
  EXPECT_EQ(captions[0], "2047 from 127.0.0.1");
  EXPECT_EQ(captions[1], "50% of 2047 Completed");
  EXPECT_EQ(captions[2], "100% of 2047 Completed");
  EXPECT_EQ(Ranges(), std::vector<int>{2});
  EXPECT_EQ(Positions(), (std::vector<int>{1, 1}));
  const std::vector<std::string> status = Texts(res::kDownloadStatusLine);
  EXPECT_TRUE(Contains(status, "Connecting to 127.0.0.1")) << ::testing::PrintToString(status);
  EXPECT_TRUE(Contains(status, "Connected to 127.0.0.1"));
  ASSERT_GE(status.size(), 2u);
  EXPECT_EQ(status[status.size() - 2], "Getting file information");
  EXPECT_EQ(status.back(), "Retrieving the file");
  EXPECT_TRUE(control_->events.empty()) << "the dialog path fires no events";
  EXPECT_EQ(LogLines(), (std::vector<std::string>{" Success to parse the URL@0",
                                                  " Download file Success '" + url + "' and path '" + kTarget + "'@0"}));
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kAnimation, "2047 from 127.0.0.1", res::kDownloadAnimationControl), 1)
      << "the animation starts before the request";
}

TEST_P(DownloadDialog, AnAddressWithoutSchemeIsFetchedOverHttp) {
  const std::string bare = server_.Url("/pattern/10").substr(std::string("http://").size());
  ASSERT_EQ(Entry(bare), 1);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(10));
  EXPECT_TRUE(control_->Logged(" Download file Success 'http://" + bare + "'"));
}

TEST_P(DownloadDialog, AnUnparsableAddressEndsBeforeTheDialog) {
  EXPECT_EQ(Entry("foo://host/x"), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Failed to parse the URL: http://foo://host/x\n"});
  EXPECT_EQ(LogLines(), std::vector<std::string>{" Failed to parse the URL: http://foo://host/x\n@0"});
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kCreated, "File Download"), 0);
}

TEST_P(DownloadDialog, ANotFoundAnswerShowsItsTextAndLeavesNoFile) {
  PutFile(kTarget, "installed before");
  const std::string url = server_.Url("/status/404");
  EXPECT_EQ(Entry(url), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Failed to receive a valid HTTP response from the server"});
  EXPECT_EQ(LogLines().back(), " Failed to download '" + url + "' and path '" + kTarget + "'@0");
  EXPECT_EQ(GetFile(kTarget), "installed before") << "the download went to a work file";
  EXPECT_TRUE(WorkFiles().empty());
  EXPECT_EQ(FilesBesideTarget(), 1u) << "no part file stays beside the target";
}

TEST_P(DownloadDialog, ARefusedConnectionShowsTheConnectText) {
  const std::string url = server_.Url("/pattern/10");
  server_.Stop();
  EXPECT_EQ(Entry(url), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"An error occurred connecting to the server, Error:12029"});
  EXPECT_FALSE(HostExists(kTarget));
}

TEST_P(DownloadDialog, ABodyCutShortShowsTheReadText) {
  EXPECT_EQ(Entry(server_.Url("/cut/100000")), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"An error occurred while downloading the file, Error:12030"});
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(DownloadDialog, ABodyThatDoesNotDecodeIsAFailedReadAndEndsWithoutAHang) {
  ServeBrokenGzip("/broken");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Entry(server_.Url("/broken")), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"An error occurred while downloading the file, Error:12175"});
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(DownloadDialog, WithoutALengthTheRateIsShownButNoPercent) {
  ServeSlowChunked("/slow-chunked", 6000, 500, 120);
  ASSERT_EQ(Entry(server_.Url("/slow-chunked")), 1);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(6000));
  EXPECT_EQ(Texts(0).size(), 1u) << "only the caption of the start";
  EXPECT_TRUE(Ranges().empty());
  EXPECT_TRUE(Positions().empty());
  EXPECT_TRUE(Texts(res::kDownloadTimeLeft).empty());
  const std::vector<std::string> rates = Texts(res::kDownloadRate);
  ASSERT_FALSE(rates.empty());
  EXPECT_NE(rates[0].find("/Sec"), std::string::npos) << rates[0];
}

TEST_P(DownloadDialog, EscMidTransferAbortsAndLeavesNoFile) {
  PutFile(kTarget, "installed before");
  Script("press esc on \"File Download\" progress 1003 5\n");
  const std::string url = server_.Url("/slow/40000?every_ms=5");
  EXPECT_EQ(Entry(url), 0);
  EXPECT_TRUE(Contains(Texts(res::kDownloadStatusLine), "Aborting transfer"));
  EXPECT_EQ(LogLines().back(), " Failed to download '" + url + "' and path '" + kTarget + "'@0");
  EXPECT_EQ(GetFile(kTarget), "installed before") << "a cancel never touches the installed file";
  EXPECT_TRUE(WorkFiles().empty());
  EXPECT_EQ(FilesBesideTarget(), 1u) << "no part file stays beside the target";
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_P(DownloadDialog, AScriptPressesEscAtAGivenPercent) {
  Script("press esc on \"File Download\" percent 1003 50\n");
  EXPECT_EQ(Entry(server_.Url("/slow/40960?every_ms=2")), 0);
  ASSERT_EQ(Ranges(), std::vector<int>{40});
  const std::vector<int> positions = Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_GE(positions.back(), 20) << "not before half the bar";
  EXPECT_LT(positions.back(), 40) << "the transfer stopped before its end";
  EXPECT_FALSE(HostExists(kTarget));
}

TEST_P(DownloadDialog, EscBeforeTheFirstByteEndsAtOnceEvenWhenTheServerStalls) {
  Script("press esc on \"File Download\"\n");
  EXPECT_EQ(Entry(server_.Url("/pattern/1000")), 0);
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(WorkFiles().empty());

  Script("press esc on \"File Download\" progress 1003 0\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Entry(server_.Url("/stall/body")), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
      << "Cancel does not wait for the server's next byte";
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(DownloadDialog, AWorkFileThatCannotBeOpenedAsksWithoutSkipAndStops) {
  if (Windows6()) GTEST_SKIP() << "the work file is a new temporary file on Windows 6";
  OutputFile holder;
  ASSERT_TRUE(holder.Open(kTarget));
  Script("press 2 on \"Install Failed!\"\n");
  EXPECT_EQ(Entry(server_.Url("/pattern/10")), 0);
  std::shared_ptr<const os::ui::WindowSnapshot> prompt = ui().front_end().SnapshotAtReady("Install Failed!");
  ASSERT_TRUE(prompt);
  EXPECT_FALSE(prompt->Control(res::kFileInUseSkip)->visible);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_P(DownloadDialog, AWorkFolderThatIsMissingEndsBeforeTheTransfer) {
  if (!Windows6()) GTEST_SKIP() << "no work folder before Windows 6";
  control_->protected_mode.writable_folder = WorkFolder() + "\\missing";
  EXPECT_EQ(Entry(server_.Url("/pattern/10")), 0);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_TRUE(control_->Logged(" Failed to download '"));
  EXPECT_FALSE(HostExists(kTarget));
}

TEST_P(DownloadDialog, ACopyIntoPlaceThatFailsIsShownAndLeavesNothing) {
  if (!Windows6()) GTEST_SKIP() << "the dialog writes the target itself before Windows 6";
  const std::string target = "C:\\Program Files\\Missing\\setup.bin";
  EXPECT_EQ(Entry(server_.Url("/pattern/10"), target), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Failed to Copy File " + target});
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(DownloadDialog, RetryAtTheFileInUsePromptOpensAgain) {
  if (Windows6()) GTEST_SKIP() << "the work file is a new temporary file on Windows 6";
  auto holder = std::make_unique<OutputFile>();
  ASSERT_TRUE(holder->Open(kTarget));
  Script("press 1 on \"Install Failed!\" repeat\n");
  // Retry is pressed until the other handle is gone.
  std::thread release([&] {
    ui().WaitFor(os::ui::UiEventKind::kDialogReady, "Install Failed!");
    holder->Close();
  });
  EXPECT_EQ(Entry(server_.Url("/pattern/10")), 1);
  release.join();
  EXPECT_GE(ui().Count(os::ui::UiEventKind::kDialogReady, "Install Failed!"), 1);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(10));
}

// The use-temporary-file flag: the copy rule reads the target's extension exactly.
TEST_P(DownloadDialog, AnUpperCaseZipTargetIsCopiedAndALowerCaseOneOfAnotherTypeIsNot) {
  if (!Windows6()) GTEST_SKIP() << "the dialog writes the target itself before Windows 6";
  const std::string upper = "C:\\Program Files\\Vendor\\setup.ZIP";
  ASSERT_EQ(Entry(server_.Url("/pattern/3000"), upper, "exe"), 1);
  EXPECT_TRUE(GetFile(upper) == HttpServer::Pattern(3000));
  EXPECT_TRUE(WorkFiles().empty());

  const std::string lower = "C:\\Program Files\\Vendor\\other.zip";
  ASSERT_EQ(Entry(server_.Url("/pattern/3000"), lower, "exe"), 1);
  EXPECT_FALSE(HostExists(lower)) << "neither copied nor unpacked";
  ASSERT_EQ(WorkFiles().size(), 1u) << "the download stays in the work file";
  EXPECT_TRUE(GetFile(WorkFolder() + "\\" + WorkFiles()[0]) == HttpServer::Pattern(3000));
}

// The object path goes out in UTF-8 from browser version 7 on, in the code page before.
TEST_P(DownloadDialog, TheObjectPathIsSentInUtf8ForNewerBrowsers) {
  os::ImageSettings settings = machine().settings();
  settings.code_page = os::CP_KOREAN;
  Reconfigure(settings);
  const std::string name = os::Utf8ToAnsi("설치.exe");
  ASSERT_NE(name, "설치.exe") << "the name's bytes differ in the two code pages";
  std::vector<std::string> paths;
  server_.Route(".*exe", [&](const httplib::Request& req, httplib::Response& res) {
    paths.push_back(req.path);
    ServeBytes(res, "x");
  });
  for (const char* version : {"8.0000", "6.0"}) {
    {
      os::ImpersonationScope elevated(os::Token{os::IntegrityLevel::kHigh});
      os::HKEY key = nullptr;
      ASSERT_EQ(os::RegCreateKeyExA(os::HKEY_LOCAL_MACHINE, kBrowserVersionKey, 0, nullptr, 0, os::KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                0);
      os::RegSetValueExA(key, "IE", 0, os::REG_SZ, reinterpret_cast<const os::BYTE*>(version),
                         static_cast<os::DWORD>(std::strlen(version) + 1));
      os::RegCloseKey(key);
    }
    EXPECT_EQ(Entry(server_.Url("/" + name)), 1) << version;
  }
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], "/설치.exe") << "UTF-8 for version 8";
  EXPECT_EQ(paths[1], "/" + name) << "the code page's bytes for version 6";
}

TEST_P(DownloadDialog, TheUrlAndFlagsFollowTheTransferRules) {
  CHttpDownloadDlg dialog(*control_);
  dialog.SetUrl("https://127.0.0.1:1/a/b/setup.exe");
  dialog.SetTargetPath(WorkFolder() + "\\setup.exe");
  server_.Stop();
  EXPECT_EQ(dialog.DoModal(), os::IDCANCEL);
  EXPECT_EQ(dialog.RequestFlags() & kSecureRequestFlags, kSecureRequestFlags);
  EXPECT_EQ(dialog.RequestFlags() & ~(kSecureRequestFlags | 0xF180u), 0u) << "the lenient re-send adds 0xF180";
  EXPECT_EQ(dialog.Parts().service, kServiceHttp);
  EXPECT_EQ(dialog.DisplayFileName(), "setup.exe");
  EXPECT_EQ(CHttpDownloadDlg::DisplayNameOf("/a/bc"), "bc");
  EXPECT_EQ(CHttpDownloadDlg::DisplayNameOf("/a/b"), "/a/b") << "shorter than 2 characters";
  EXPECT_EQ(CHttpDownloadDlg::DisplayNameOf("dir\\file.bin"), "file.bin");
  EXPECT_EQ(CHttpDownloadDlg::DisplayNameOf("x"), "x");
}

INSTANTIATE_TEST_SUITE_P(Versions, DownloadDialog, ::testing::Values(5, 6), PrintOsMajor);

}  // namespace
}  // namespace pelisto::testing
