#include <gtest/gtest.h>

#include "download/http_download.h"
#include "os/fs/file_util.h"
#include "os/inet/wininet.h"
#include "tests/download/http_transfer_fixture.h"

namespace pelisto::testing {
namespace {

using HttpTransfer = HttpTransferTest;

TEST_F(HttpTransfer, DownloadsTheBodyAndReportsEachChunk) {
  ASSERT_EQ(Fetch(server_.Url("/pattern/2500")), 1) << error_;
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(2500));
  EXPECT_EQ(control_->events,
            (std::vector<std::string>{"StartDownload(" + server_.Url("/pattern/2500") + "," + kTarget + ",2500)",
                                      "Downloading(1024)", "Downloading(2048)", "Downloading(2500)"}));
  EXPECT_EQ(cancel_, 0);
  EXPECT_EQ(error_, "");
  EXPECT_TRUE(control_->log.empty());
}

TEST_F(HttpTransfer, AnAddressWithoutSchemeIsFetchedOverHttp) {
  const std::string url = server_.Url("/pattern/10").substr(std::string("http://").size());
  ASSERT_EQ(Fetch(url), 1) << error_;
  EXPECT_EQ(control_->EventsNamed("StartDownload").at(0),
            "StartDownload(http://" + url + "," + kTarget + ",10)");
  EXPECT_EQ(server_.Requests().at(0).Header("User-Agent"), kApplicationName);
  EXPECT_EQ(server_.Requests().at(0).Header("Accept"), "*/*");
}

TEST_F(HttpTransfer, AnUnparsableAddressIsNotValid) {
  EXPECT_EQ(Fetch("foo://host/x"), 0);
  EXPECT_EQ(error_, std::string("Not Valid URL") + kTarget);
  EXPECT_TRUE(WorkFiles().empty()) << "the work file made for the download goes with it";
  EXPECT_TRUE(control_->events.empty());
}

struct FailureCase {
  const char* path;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.path; }

class HttpTransferFailure : public HttpTransferTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HttpTransferFailure, EndsWithTheStepsMessageAndNoFile) {
  PutFile(kTarget, "installed before");
  EXPECT_EQ(Fetch(server_.Url(GetParam().path)), 0);
  EXPECT_EQ(error_, GetParam().message);
  EXPECT_EQ(GetFile(kTarget), "installed before") << "a failed download leaves the target as it was";
  EXPECT_TRUE(WorkFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HttpTransferFailure,
    ::testing::Values(FailureCase{"/status/404", "Failed to retrieve a HTTP 200 status, Status Code:404\n"},
                      FailureCase{"/status/206", "Failed to retrieve a HTTP 200 status, Status Code:206\n"},
                      FailureCase{"/redirect/loop", "Failed in call to HttpSendRequest, Error:12156\n"},
                      FailureCase{"/cut-chunked/100000", "Failed in call to InternetReadFile, Error:12030"}));

TEST_F(HttpTransfer, ARefusedConnectionFailsTheSend) {
  const std::string url = server_.Url("/pattern/10");
  server_.Stop();
  EXPECT_EQ(Fetch(url), 0);
  EXPECT_EQ(error_, "Failed in call to HttpSendRequest, Error:12029\n");
}

TEST_F(HttpTransfer, FtpIsParsedButNoConnectionIsMadeForIt) {
  EXPECT_EQ(Fetch("ftp://127.0.0.1/file"), 0);
  EXPECT_EQ(error_, "Failed to Connect Http Server");
}

TEST_F(HttpTransfer, ChunkedBodyHasNoLength) {
  ASSERT_EQ(Fetch(server_.Url("/chunked/3000")), 1) << error_;
  EXPECT_EQ(control_->EventsNamed("StartDownload").at(0),
            "StartDownload(" + server_.Url("/chunked/3000") + "," + kTarget + ",-1)");
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
}

TEST_F(HttpTransfer, AnEmptyBodyGivesAnEmptyFile) {
  PutFile(kTarget, "older content");
  ASSERT_EQ(Fetch(server_.Url("/pattern/0")), 1) << error_;
  EXPECT_TRUE(HostExists(kTarget));
  EXPECT_EQ(GetFile(kTarget), "");
  EXPECT_EQ(control_->events, (std::vector<std::string>{"StartDownload(" + server_.Url("/pattern/0") + "," +
                                                        kTarget + ",0)"}));
}

TEST_F(HttpTransfer, StatusGoesToThePageOnlyWithTheStatusDialog) {
  ASSERT_EQ(Fetch(server_.Url("/pattern/10")), 1);
  EXPECT_TRUE(control_->EventsNamed("ChangeStatus").empty());

  RecordingStarter sink;
  control_->events.clear();
  ASSERT_EQ(Fetch(server_.Url("/pattern/10"), kTarget, &sink), 1);
  std::vector<std::string> statuses = control_->EventsNamed("ChangeStatus");
  ASSERT_FALSE(statuses.empty());
  for (os::DWORD code : {os::INTERNET_STATUS_CONNECTED_TO_SERVER, os::INTERNET_STATUS_SENDING_REQUEST,
                         os::INTERNET_STATUS_REQUEST_SENT, os::INTERNET_STATUS_RESPONSE_RECEIVED}) {
    bool seen = false;
    for (const std::string& e : statuses) seen = seen || e.rfind("ChangeStatus(" + std::to_string(code) + ",", 0) == 0;
    EXPECT_TRUE(seen) << "status " << code;
  }
  size_t sink_statuses = 0;
  for (const std::string& c : sink.calls) sink_statuses += c.rfind("ChangeStatus(", 0) == 0;
  EXPECT_EQ(sink_statuses, statuses.size()) << "the sink hears every status the page does";
  EXPECT_EQ(sink.calls.back(), "Downloading(10)");
}

TEST_F(HttpTransfer, WindowsSixWritesAWorkFileAndCopiesItThroughTheBroker) {
  ASSERT_EQ(Fetch(server_.Url("/pattern/5000")), 1) << error_;
  EXPECT_EQ(work_path_.rfind(WorkFolder() + "\\tmp", 0), 0u) << work_path_;
  EXPECT_NE(work_path_, kTarget);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(5000)) << "only the elevated broker can write there";
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(HttpTransfer, WindowsFiveWritesBesideTheTargetAndMovesTheWholeBodyOverIt) {
  SetOsMajor(5);
  const std::string target = machine().FolderPath(os::KnownFolder::kDesktop) + "\\setup.bin";
  PutFile(target, "installed before");
  // While the body comes in, the target keeps what it held and a part file lies beside it.
  RecordingStarter sink;
  std::vector<std::string> seen;
  sink.on_downloading = [&] { seen.push_back(GetFile(target)); };
  ASSERT_EQ(Fetch(server_.Url("/pattern/5000"), target, &sink), 1) << error_;
  ASSERT_FALSE(seen.empty());
  for (const std::string& s : seen) EXPECT_EQ(s, "installed before");
  EXPECT_TRUE(GetFile(target) == HttpServer::Pattern(5000));
  EXPECT_EQ(FilesBesideTarget(target), 1u) << "the part file became the target";
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(HttpTransfer, APartFileADownloadKilledMidwayLeftIsTakenOverBeforeWindowsSix) {
  SetOsMajor(5);
  std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
  PutFile(os::PartFilePath(kTarget), "part of an earlier body");
  ASSERT_EQ(Fetch(server_.Url("/pattern/3000")), 1) << error_;
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
  EXPECT_EQ(FilesBesideTarget(), 1u);
}

TEST_F(HttpTransfer, ACutOffBodyIsAFailureOnBothPaths) {
  for (int major : {5, 6}) {
    SetOsMajor(major);
    std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
    PutFile(kTarget, "installed before");
    EXPECT_EQ(Fetch(server_.Url("/cut/50000")), 0) << "Windows " << major;
    EXPECT_EQ(error_, "Failed in call to InternetReadFile, Error:12030");
    EXPECT_EQ(GetFile(kTarget), "installed before") << "the work file is not placed, Windows " << major;
    EXPECT_EQ(FilesBesideTarget(), 1u) << "no part file stays beside the target";
    EXPECT_TRUE(WorkFiles().empty());
  }
}

TEST_F(HttpTransfer, NoWorkFileMeansNoFileCanBeCreatedAndNoPrompt) {
  HttpDownload download(control_->Privileged(), server_.Url("/pattern/10"), kTarget, "C:\\No\\Such\\Folder");
  EXPECT_EQ(download.WorkPath(), "");
  EXPECT_EQ(download.Download(), 0);
  EXPECT_EQ(download.ErrorMessage(), std::string("Not Create File") + kTarget);
  EXPECT_EQ(ui().Count(os::ui::UiEventKind::kDialogReady, "Install Failed!"), 0) << "a retry could never succeed";
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(HttpTransfer, TheBrokerRefusingTheCopyIsAFailure) {
  os::ImageSettings s = machine().settings();
  s.refuse_elevation = true;
  Reconfigure(s);
  EXPECT_EQ(Fetch(server_.Url("/pattern/100")), 0);
  EXPECT_EQ(error_, std::string("Failed to Copy File ") + kTarget);
  EXPECT_FALSE(HostExists(kTarget));
}

TEST_F(HttpTransfer, HttpsToASelfSignedServerGoesThroughOnTheLenientSend) {
  HttpServer::Options options;
  options.https = true;
  HttpServer tls(options);
  std::string error;
  ASSERT_TRUE(tls.Start(&error)) << error;
  const std::string url = tls.Url("/pattern/3000");
  HttpDownload download(control_->Privileged(), url, kTarget, WorkFolder());
  ASSERT_TRUE(download.ParseUrl());
  EXPECT_EQ(download.RequestFlags(), 0x84C03000u);
  EXPECT_EQ(download.ServiceType(), os::INTERNET_SERVICE_HTTP);
  ASSERT_EQ(download.Download(), 1) << download.ErrorMessage();
  EXPECT_EQ(download.RequestFlags(), 0x84C03000u | 0xF180u);
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
  EXPECT_EQ(tls.RequestCount(), 1u) << "the certificate stopped the first two sends before any request";
}

TEST_F(HttpTransfer, HttpsThatFailsForOtherReasonsEndsWithTheLenientSendsMessage) {
  // A plain server behind an https address: no send can succeed.
  std::string url = server_.Url("/pattern/10");
  url.replace(0, 4, "https");
  EXPECT_EQ(Fetch(url), 0);
  EXPECT_EQ(error_, "Failed HttpSendRequest");
}

}  // namespace
}  // namespace pelisto::testing
