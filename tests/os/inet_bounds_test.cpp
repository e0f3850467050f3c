// The WinINet layer against servers that frame their answers unsoundly or send them too
// slowly: what the image's transfer bounds end, and what they leave alone.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "tests/os/inet_fixture.h"
#include "tests/support/raw_http_server.h"

namespace pelisto::testing {
namespace {

using Clock = std::chrono::steady_clock;

class InetBounds : public InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    std::string error;
    ASSERT_TRUE(raw_.Start(&error)) << error;
  }
  void TearDown() override {
    raw_.Stop();
    InetTest::TearDown();
  }
  void SetBounds(os::DWORD min_rate, os::DWORD window_ms, os::DWORD timeout_ms = 86400000) {
    os::ImageSettings s = machine().settings();
    s.transfer.min_rate = min_rate;
    s.transfer.rate_window_ms = window_ms;
    s.transfer.timeout_ms = timeout_ms;
    Reconfigure(s);
  }
  // Opens session, connection and request for `path` on the raw server.
  void OpenRaw(InetHandles* h, const std::string& path) {
    h->session = os::InternetOpenA("Pelisto-Test/1.0", os::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(h->session, nullptr);
    h->connection = os::InternetConnectA(h->session, "127.0.0.1", static_cast<os::INTERNET_PORT>(raw_.port()),
                                         nullptr, nullptr, os::INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(h->connection, nullptr);
    h->request = os::HttpOpenRequestA(h->connection, nullptr, path.c_str(), nullptr, nullptr, nullptr, 0, 0);
    ASSERT_NE(h->request, nullptr);
  }
  // The send's outcome: 0 when it succeeded, else the error it set.
  static os::DWORD Send(os::HINTERNET request) {
    os::SetLastError(kSentinel);
    return os::HttpSendRequestA(request, nullptr, 0, nullptr, 0) ? 0 : os::GetLastError();
  }

  RawHttpServer raw_;
};

struct FramingCase {
  const char* name;
  std::string query;  // the raw server's /length parameters
  bool sound;
};
void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.name; }

class InetFraming : public InetBounds, public ::testing::WithParamInterface<FramingCase> {};

INSTANTIATE_TEST_SUITE_P(
    Lengths, InetFraming,
    ::testing::Values(FramingCase{"One", "value=5", true}, FramingCase{"SameTwice", "value=5&value=5", true},
                      FramingCase{"Conflicting", "value=3&value=5", false},
                      FramingCase{"TwentyDigits", "value=12345678901234567890", false},
                      FramingCase{"PastSignedRange", "value=9223372036854775808&body=", false},
                      FramingCase{"Letters", "value=5x", false}, FramingCase{"Negative", "value=-5", false},
                      FramingCase{"List", "value=5,5", false}, FramingCase{"Empty", "value=", false},
                      FramingCase{"ChunkedAlone", "chunked", true},
                      FramingCase{"LengthBesideChunked", "value=3&chunked", false}),
    [](const ::testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST_P(InetFraming, OnlyOneClearLengthIsAccepted) {
  InetHandles h;
  OpenRaw(&h, "/length?" + GetParam().query);
  if (!GetParam().sound) {
    EXPECT_EQ(Send(h.request), os::ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return;
  }
  ASSERT_EQ(Send(h.request), 0u);
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_EQ(body, "12345");
  os::DWORD error = 0;
  const bool framed_by_length = GetParam().query.find("value=") != std::string::npos;
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_CONTENT_LENGTH, &error), framed_by_length ? "5" : "");
}

TEST_F(InetBounds, EndlessHeadersEndTheSend) {
  InetHandles h;
  OpenRaw(&h, "/header-flood");
  EXPECT_EQ(Send(h.request), os::ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

TEST_F(InetBounds, DrippingHeadersEndWithinOneRateWindow) {
  SetBounds(64, 1000);
  InetHandles h;
  OpenRaw(&h, "/drip-headers?every_ms=300&lines=100");  // about 45 bytes a second
  const auto start = Clock::now();
  EXPECT_EQ(Send(h.request), os::ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST_F(InetBounds, DrippingBodyFailsTheReadAfterTheBytesThatCame) {
  SetBounds(1000, 1000);
  InetHandles h;
  Open(&h, "/slow/100000?every_ms=500");  // 200 bytes a second
  ASSERT_EQ(Send(h.request), 0u);
  std::string body;
  const auto start = Clock::now();
  EXPECT_EQ(ReadAll(h.request, &body), os::ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(body, HttpServer::Pattern(body.size()));
}

TEST_F(InetBounds, ServerAboveTheMinimumRatePasses) {
  SetBounds(100, 500);
  InetHandles h;
  Open(&h, "/slow/4000?every_ms=50");  // 2000 bytes a second for 2 s: four windows
  ASSERT_EQ(Send(h.request), 0u);
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_EQ(body, HttpServer::Pattern(4000));
}

TEST_F(InetBounds, SlowReaderIsNotTheServersRate) {
  // More than the client buffers, so the server waits on the caller; the caller takes 1.5 s
  // over its first chunk. Judged over the time since the send, that is some 0.3 MB/s.
  SetBounds(1u << 20, 500);
  InetHandles h;
  Open(&h, "/pattern/800000");
  ASSERT_EQ(Send(h.request), 0u);
  std::string body;
  char buffer[1024];
  for (bool first = true;; first = false) {
    os::DWORD got = 0;
    ASSERT_TRUE(os::InternetReadFile(h.request, buffer, sizeof buffer, &got)) << os::GetLastError();
    if (got == 0) break;
    body.append(buffer, got);
    if (first) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  EXPECT_EQ(body, HttpServer::Pattern(800000));
}

TEST_F(InetBounds, ExchangeTimeoutEndsAFastEnoughButEndlessBody) {
  SetBounds(1, 60000, 1500);
  InetHandles h;
  Open(&h, "/slow/1000000?every_ms=10");  // 10 KB a second: 100 s in all
  const auto start = Clock::now();
  ASSERT_EQ(Send(h.request), 0u);
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), os::ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_GT(body.size(), 0u);
}

}  // namespace
}  // namespace pelisto::testing
