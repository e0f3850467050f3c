#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/os/inet_fixture.h"

namespace pelisto::testing {
namespace {

using os::DWORD;

// Sets an environment variable for the test's duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    had_ = std::getenv(name) != nullptr;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

class InetProxy : public InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    std::string error;
    ASSERT_TRUE(proxy_.Start(&error)) << error;
    proxy_.Route("/proxy", [](const httplib::Request& req, httplib::Response& res) {
      ServeBytes(res, "via proxy " + req.path);
    });
  }
  void TearDown() override {
    proxy_.Stop();
    InetTest::TearDown();
  }
  std::string Fetch(DWORD access) {
    InetHandles h;
    Open(&h, "/pattern/10", 0, nullptr, nullptr, access);
    EXPECT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
    std::string body;
    EXPECT_EQ(ReadAll(h.request, &body), 0u);
    return body;
  }
  HttpServer proxy_;
};

TEST_F(InetProxy, PreconfigGoesThroughTheEnvironmentsProxy) {
  ScopedEnv http("http_proxy", proxy_.Url(""));
  ScopedEnv none("no_proxy", "");
  EXPECT_EQ(Fetch(os::INTERNET_OPEN_TYPE_PRECONFIG), "via proxy " + server_.Url("/pattern/10"));
  EXPECT_EQ(server_.RequestCount(), 0u);
  ASSERT_EQ(proxy_.RequestCount(), 1u);
  EXPECT_EQ(proxy_.Requests()[0].Header("User-Agent"), "Pelisto-Test/1.0");
}

TEST_F(InetProxy, DirectIgnoresTheEnvironment) {
  ScopedEnv http("http_proxy", proxy_.Url(""));
  EXPECT_TRUE(Fetch(os::INTERNET_OPEN_TYPE_DIRECT) == HttpServer::Pattern(10));
  EXPECT_EQ(proxy_.RequestCount(), 0u);
}

TEST_F(InetProxy, NoProxyListBypassesTheProxy) {
  ScopedEnv http("http_proxy", proxy_.Url(""));
  ScopedEnv bypass("no_proxy", "localhost,127.0.0.1");
  EXPECT_TRUE(Fetch(os::INTERNET_OPEN_TYPE_PRECONFIG) == HttpServer::Pattern(10));
  EXPECT_EQ(proxy_.RequestCount(), 0u);
}

TEST_F(InetProxy, ExplicitProxyAndBypassList) {
  ScopedEnv none("http_proxy", "");
  std::string proxy = "127.0.0.1:" + std::to_string(proxy_.port());
  for (const char* bypass : {"", "<local>;127.0.0.1"}) {
    InetHandles h;
    h.session = os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), bypass, 0);
    h.connection = os::InternetConnectA(h.session, "127.0.0.1", static_cast<os::INTERNET_PORT>(server_.port()),
                                        nullptr, nullptr, os::INTERNET_SERVICE_HTTP, 0, 0);
    h.request = os::HttpOpenRequestA(h.connection, nullptr, "/pattern/10", nullptr, nullptr, nullptr, 0, 0);
    ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
    std::string body;
    EXPECT_EQ(ReadAll(h.request, &body), 0u);
    bool bypassed = *bypass != '\0';
    EXPECT_EQ(body.rfind("via proxy", 0) == 0, !bypassed) << "bypass '" << bypass << "'";
  }
}

TEST_F(InetProxy, AccessTypeMustBeKnown) {
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::InternetOpenA("t", 2, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0), nullptr);
}

}  // namespace
}  // namespace pelisto::testing
