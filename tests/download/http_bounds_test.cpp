// The dialogless transfer against hostile servers: bodies that decode to far more than was
// received, bodies past the size bound, unsound framing and servers too slow to finish. Each
// ends with result 0, the failure's text and nothing left at the target.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "download/http_download.h"
#include "download/http_request_sequence.h"
#include "download/output_file.h"
#include "os/base/error.h"
#include "tests/download/http_transfer_fixture.h"
#include "tests/support/raw_http_server.h"

namespace pelisto::testing {
namespace {

using Clock = std::chrono::steady_clock;

class HttpBounds : public HttpTransferTest {
 protected:
  void UseWindows(int major) {
    SetOsMajor(major);
    std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
  }
  // The failure left no file at the target and no work file behind.
  void ExpectNothingLeft(int major) {
    EXPECT_FALSE(HostExists(kTarget)) << "Windows " << major;
    EXPECT_TRUE(WorkFiles().empty()) << "Windows " << major;
  }
};

class HttpBoundsBomb : public HttpBounds, public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

INSTANTIATE_TEST_SUITE_P(EncodingsAndPaths, HttpBoundsBomb,
                         ::testing::Combine(::testing::Values("gzip", "deflate"), ::testing::Values(5, 6)),
                         [](const ::testing::TestParamInfo<std::tuple<const char*, int>>& info) {
                           return std::string(std::get<0>(info.param)) + "Windows" +
                                  std::to_string(std::get<1>(info.param));
                         });

// 256 MiB of zeros in about 250 KB: the default ratio stops it some 40 MB in.
TEST_P(HttpBoundsBomb, StopsAtTheRatioBound) {
  const auto [encoding, major] = GetParam();
  UseWindows(major);
  EXPECT_EQ(Fetch(server_.Url(std::string("/bomb/") + encoding + "/256")), 0);
  EXPECT_EQ(error_.rfind(std::string(kTarget) + " transfer stopped: the decoded body grew past ", 0), 0u) << error_;
  EXPECT_NE(error_.find("(transfer_max_ratio 100)"), std::string::npos) << error_;
  ExpectNothingLeft(major);
}

// The bound lives in the sequence, so any path that runs it (the download dialog's worker
// as well as HttpDownload) gets the failure, its code and its wording.
class BareObserver : public HttpRequestSequence::Observer {
 public:
  void OnStatus(os::DWORD, void*, os::DWORD) override {}
  void OnStart(os::LONG) override {}
  void OnChunk(std::int64_t) override {}
  bool Cancelled() const override { return false; }
};

TEST_F(HttpBounds, SequenceEndsTheBodyForEveryPath) {
  os::ImageSettings s = machine().settings();
  s.transfer.max_bytes = 50000;
  Reconfigure(s);
  SequenceRequest request;
  request.url = server_.Url("/bomb/gzip/1");
  ASSERT_TRUE(ParseUrlWithRetry(&request.url, &request.parts));
  request.flags = ChooseRequestFlags(request.url, &request.parts);
  request.object = request.parts.object;
  const std::string path = WorkFolder() + "\\sequence.bin";
  OutputFile out;
  ASSERT_TRUE(out.Open(path));
  BareObserver observer;
  HttpRequestSequence sequence;
  EXPECT_EQ(sequence.Run(request, &out, &observer), HttpRequestSequence::Result::kFailed);
  EXPECT_EQ(sequence.failure(), SequenceFailure::kTooLarge);
  EXPECT_EQ(sequence.failure_code(), os::ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(sequence.failure_detail(), "the body passed 50000 bytes (transfer_max_bytes)");
  sequence.CloseHandles();
  ASSERT_TRUE(out.Close());
  EXPECT_LE(GetFile(path).size(), 50000u) << "nothing past the bound";
}

TEST_F(HttpBounds, CompressedBodiesWithinTheRatioStillDecode) {
  // 16 MiB of zeros passes on the allowance alone, through to its checked end.
  for (const char* encoding : {"gzip", "deflate"}) {
    EXPECT_EQ(Fetch(server_.Url(std::string("/bomb/") + encoding + "/16")), 1) << encoding << ": " << error_;
    EXPECT_EQ(std::filesystem::file_size(Host(kTarget)), 16u << 20) << encoding;
  }
}

TEST_F(HttpBounds, SizeBoundHoldsForPlainBodies) {
  os::ImageSettings s = machine().settings();
  s.transfer.max_bytes = 10000;
  Reconfigure(s);
  for (int major : {5, 6}) {
    UseWindows(major);
    EXPECT_EQ(Fetch(server_.Url("/pattern/10000")), 1) << "exactly the bound passes: " << error_;
    EXPECT_EQ(GetFile(kTarget), HttpServer::Pattern(10000));
    std::filesystem::remove(Host(kTarget));
    EXPECT_EQ(Fetch(server_.Url("/pattern/10001")), 0);
    EXPECT_EQ(error_, std::string(kTarget) + " transfer stopped: the body passed 10000 bytes (transfer_max_bytes)");
    ExpectNothingLeft(major);
  }
}

TEST_F(HttpBounds, ConflictingLengthsFailBeforeTheStart) {
  RawHttpServer raw;
  std::string error;
  ASSERT_TRUE(raw.Start(&error)) << error;
  for (int major : {5, 6}) {
    UseWindows(major);
    control_->events.clear();
    EXPECT_EQ(Fetch(raw.Url("/length?value=3&value=5")), 0);
    EXPECT_EQ(error_, "Failed in call to HttpSendRequest, Error:12152\n");
    EXPECT_TRUE(control_->EventsNamed("StartDownload").empty());
    ExpectNothingLeft(major);
  }
}

TEST_F(HttpBounds, DrippingHeadersEndTheSendWithItsText) {
  os::ImageSettings s = machine().settings();
  s.transfer.rate_window_ms = 1000;
  Reconfigure(s);
  RawHttpServer raw;
  std::string error;
  ASSERT_TRUE(raw.Start(&error)) << error;
  const auto start = Clock::now();
  EXPECT_EQ(Fetch(raw.Url("/drip-headers?every_ms=500&lines=100")), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(error_, "Failed in call to HttpSendRequest, Error:12002\n");
  ExpectNothingLeft(6);
}

TEST_F(HttpBounds, DrippingBodyEndsTheReadWithItsText) {
  os::ImageSettings s = machine().settings();
  s.transfer.min_rate = 1000;
  s.transfer.rate_window_ms = 1000;
  Reconfigure(s);
  EXPECT_EQ(Fetch(server_.Url("/slow/100000?every_ms=500")), 0);
  EXPECT_EQ(error_, "Failed in call to InternetReadFile, Error:12002");
  EXPECT_FALSE(control_->EventsNamed("Downloading").empty()) << "the page could cancel meanwhile";
  ExpectNothingLeft(6);
}

}  // namespace
}  // namespace pelisto::testing
