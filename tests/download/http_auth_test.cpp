#include <gtest/gtest.h>

#include "download/http_request_sequence.h"
#include "tests/download/http_transfer_fixture.h"

namespace pelisto::testing {
namespace {

// A server that challenges the transfer's own session (its user agent) and serves the file
// to the browser's cache fetch, which holds the credentials; or challenges everyone.
class HttpTransferAuth : public HttpTransferTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    HttpTransferTest::SetUp();
    const int status = GetParam();
    server_.Route(R"(/auth/(\d+))", [status](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("User-Agent") == kApplicationName) {
        res.status = status;
        res.set_header(status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate", "Basic realm=\"test\"");
        ServeBytes(res, "<html>log in first</html>", "text/html");
        return;
      }
      ServeBytes(res, HttpServer::Pattern(std::stoul(req.matches[1].str())));
    });
    server_.Route("/challenge", [status](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      res.set_header(status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate", "Basic realm=\"test\"");
      ServeBytes(res, "<html>log in first</html>", "text/html");
    });
  }
  // Requests by the transfer's session and by the cache fetch.
  std::pair<int, int> RequestsByAgent() {
    int own = 0, cache = 0;
    for (const LoggedRequest& r : server_.Requests()) (r.Header("User-Agent") == kApplicationName ? own : cache)++;
    return {own, cache};
  }
};

TEST_P(HttpTransferAuth, TheCachedFileIsWrittenNotTheChallengePage) {
  ASSERT_EQ(Fetch(server_.Url("/auth/3000")), 1) << error_;
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Pattern(3000));
  EXPECT_EQ(control_->events,
            (std::vector<std::string>{"StartDownload(" + server_.Url("/auth/3000") + "," + kTarget + ",3000)",
                                      "Downloading(1024)", "Downloading(2048)", "Downloading(3000)"}));
  EXPECT_EQ(RequestsByAgent(), std::make_pair(1, 1));
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_P(HttpTransferAuth, ACancelAtStartDownloadAppliesToTheCachedFileToo) {
  control_->start_answer = 1;
  EXPECT_EQ(Fetch(server_.Url("/auth/3000")), 1);
  EXPECT_EQ(cancel_, 1);
  EXPECT_FALSE(HostExists(kTarget));
}

TEST_P(HttpTransferAuth, ResendsAreBoundedWhenTheCacheFetchKeepsFailing) {
  EXPECT_EQ(Fetch(server_.Url("/challenge")), 0);
  EXPECT_EQ(error_, "Failed to retrieve a HTTP 200 status, Status Code:" + std::to_string(GetParam()) + "\n");
  EXPECT_EQ(RequestsByAgent(), std::make_pair(1 + kMaxAuthResends, 1 + kMaxAuthResends));
  EXPECT_FALSE(HostExists(kTarget));
  EXPECT_TRUE(control_->events.empty()) << "no StartDownload without an accepted answer";
}

INSTANTIATE_TEST_SUITE_P(Challenges, HttpTransferAuth, ::testing::Values(401, 407),
                         [](const auto& info) { return "Status" + std::to_string(info.param); });

}  // namespace
}  // namespace pelisto::testing
