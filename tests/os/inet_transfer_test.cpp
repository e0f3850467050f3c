#include <gtest/gtest.h>

#include <chrono>

#include "tests/os/inet_fixture.h"

namespace pelisto::testing {
namespace {

using os::DWORD;

class InetTransfer : public InetTest {};

TEST_F(InetTransfer, ReadsTheExactBytesIn1024ByteReads) {
  InetHandles h;
  Open(&h, "/pattern/100001");
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  std::string body;
  std::vector<DWORD> sizes;
  ASSERT_EQ(ReadAll(h.request, &body, 1024, &sizes), 0u);
  EXPECT_TRUE(body == HttpServer::Pattern(100001)) << "body differs, size " << body.size();
  EXPECT_EQ(sizes.back(), 0u);
  // The end stays the end.
  char buf[16];
  DWORD got = kSentinel;
  EXPECT_TRUE(os::InternetReadFile(h.request, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(InetTransfer, EmptyBodyEndsAtTheFirstRead) {
  InetHandles h;
  Open(&h, "/pattern/0");
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  std::string body;
  std::vector<DWORD> sizes;
  EXPECT_EQ(ReadAll(h.request, &body, 1024, &sizes), 0u);
  EXPECT_EQ(sizes, std::vector<DWORD>{0});
}

TEST_F(InetTransfer, QueriesStatusLengthAndAbsentEncoding) {
  InetHandles h;
  Open(&h, "/pattern/5000");
  DWORD error = 0;
  QueryText(h.request, os::HTTP_QUERY_STATUS_CODE, &error);
  EXPECT_EQ(error, os::ERROR_INTERNET_INCORRECT_HANDLE_STATE) << "queried before the send";
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_STATUS_CODE, &error), "200");
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_CONTENT_LENGTH, &error), "5000");
  QueryText(h.request, os::HTTP_QUERY_CONTENT_ENCODING, &error);
  EXPECT_EQ(error, os::ERROR_HTTP_HEADER_NOT_FOUND);

  // Too small a buffer: the size needed, with the NUL, and nothing written.
  char small[3] = {'x', 'x', 'x'};
  DWORD length = sizeof small;
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::HttpQueryInfoA(h.request, os::HTTP_QUERY_CONTENT_LENGTH, small, &length, nullptr));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(std::string(small, 3), "xxx");
  // Exactly large enough.
  char exact[5];
  length = sizeof exact;
  ASSERT_TRUE(os::HttpQueryInfoA(h.request, os::HTTP_QUERY_CONTENT_LENGTH, exact, &length, nullptr));
  EXPECT_EQ(length, 4u);
  EXPECT_STREQ(exact, "5000");

  DWORD number = 0;
  length = sizeof number;
  ASSERT_TRUE(os::HttpQueryInfoA(h.request, os::HTTP_QUERY_STATUS_CODE | os::HTTP_QUERY_FLAG_NUMBER, &number,
                                 &length, nullptr));
  EXPECT_EQ(number, 200u);
  char custom[64] = "Content-Type";
  length = sizeof custom;
  ASSERT_TRUE(os::HttpQueryInfoA(h.request, os::HTTP_QUERY_CUSTOM, custom, &length, nullptr));
  EXPECT_STREQ(custom, "application/octet-stream");
}

TEST_F(InetTransfer, ChunkedBodyHasNoLength) {
  InetHandles h;
  Open(&h, "/chunked/50000");
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  DWORD error = 0;
  QueryText(h.request, os::HTTP_QUERY_CONTENT_LENGTH, &error);
  EXPECT_EQ(error, os::ERROR_HTTP_HEADER_NOT_FOUND);
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_TRUE(body == HttpServer::Pattern(50000));
}

struct EncodingCase {
  const char* path;
  const char* encoding;
  std::string (*encode)(const std::string&);
};

void PrintTo(const EncodingCase& c, std::ostream* out) { *out << c.path; }

class InetEncoding : public InetTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(InetEncoding, BodyIsHandedOverUndecoded) {
  const EncodingCase& c = GetParam();
  InetHandles h;
  Open(&h, c.path);
  // A client that offers encodings must still get the bytes as sent.
  const char* offer = "Accept-Encoding: gzip, deflate\r\n";
  ASSERT_TRUE(os::HttpSendRequestA(h.request, offer, 0xFFFFFFFF, nullptr, 0));
  DWORD error = 0;
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_CONTENT_ENCODING, &error), c.encoding);
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  std::string expected = c.encode(HttpServer::Text());
  ASSERT_GT(expected.size(), 2048u) << "the body must span several reads";
  EXPECT_TRUE(body == expected) << c.path << ": " << body.size() << " bytes, expected " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(Bodies, InetEncoding,
                         ::testing::Values(EncodingCase{"/gzip", "gzip", &HttpServer::Gzip},
                                           EncodingCase{"/deflate", "deflate", &HttpServer::Zlib},
                                           EncodingCase{"/deflate-raw", "deflate", &HttpServer::RawDeflate}));

TEST_F(InetTransfer, SendAgainStartsANewExchange) {
  InetHandles h;
  Open(&h, "/pattern/300000");
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  char buf[1024];
  DWORD got = 0;
  ASSERT_TRUE(os::InternetReadFile(h.request, buf, sizeof buf, &got));
  ASSERT_EQ(got, 1024u);
  // Mid-body: the rest is dropped and the body starts over.
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_TRUE(body == HttpServer::Pattern(300000)) << body.size();
  // After the end, once more.
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  body.clear();
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_EQ(body.size(), 300000u);
  EXPECT_EQ(server_.RequestCount(), 3u);
}

class InetStatus : public InetTest, public ::testing::WithParamInterface<int> {};

TEST_P(InetStatus, ErrorStatusIsAnAnswerNotAFailure) {
  int code = GetParam();
  InetHandles h;
  Open(&h, "/status/" + std::to_string(code));
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  DWORD error = 0;
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_STATUS_CODE, &error), std::to_string(code));
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_EQ(body, "status " + std::to_string(code) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Codes, InetStatus, ::testing::Values(404, 401, 407, 500));

TEST_F(InetTransfer, FollowsARedirectAndReportsIt) {
  StatusLog log;
  InetHandles h;
  Open(&h, "/redirect/once", 0, &log);
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  DWORD error = 0;
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_STATUS_CODE, &error), "200");
  EXPECT_EQ(log.TextOf(os::INTERNET_STATUS_REDIRECT), server_.Url("/pattern/4096"));
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_TRUE(body == HttpServer::Pattern(4096));
}

struct RedirectCase {
  const char* path;
  bool succeeds;
};

void PrintTo(const RedirectCase& c, std::ostream* out) { *out << c.path; }

class InetRedirect : public InetTest, public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(InetRedirect, FollowsUpToFiveHops) {
  InetHandles h;
  Open(&h, GetParam().path);
  os::SetLastError(kSentinel);
  os::BOOL sent = os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0);
  if (GetParam().succeeds) {
    ASSERT_TRUE(sent) << os::GetLastError();
    std::string body;
    EXPECT_EQ(ReadAll(h.request, &body), 0u);
    EXPECT_EQ(body.size(), 100u);
  } else {
    EXPECT_FALSE(sent);
    EXPECT_EQ(os::GetLastError(), os::ERROR_HTTP_REDIRECT_FAILED);
  }
}

INSTANTIATE_TEST_SUITE_P(Chains, InetRedirect,
                         ::testing::Values(RedirectCase{"/redirect/chain/5", true},
                                           RedirectCase{"/redirect/chain/6", false},
                                           RedirectCase{"/redirect/loop", false}));

TEST_F(InetTransfer, NoAutoRedirectHandsTheRedirectOver) {
  InetHandles h;
  Open(&h, "/redirect/once", os::INTERNET_FLAG_NO_AUTO_REDIRECT);
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  DWORD error = 0;
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_STATUS_CODE, &error), "302");
  EXPECT_EQ(QueryText(h.request, os::HTTP_QUERY_LOCATION, &error), "/pattern/4096");
}

class InetCutBody : public InetTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(InetCutBody, FailsAfterTheBytesThatArrived) {
  InetHandles h;
  Open(&h, GetParam());
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), os::ERROR_INTERNET_CONNECTION_ABORTED) << GetParam();
  EXPECT_TRUE(body == HttpServer::Pattern(50000)) << GetParam() << ": " << body.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Drops, InetCutBody, ::testing::Values("/cut/100000", "/cut-chunked/100000"));

TEST_F(InetTransfer, StalledServerTimesOutInsteadOfHanging) {
  InetHandles h;
  Open(&h, "/stall/headers");
  DWORD timeout = 300;
  ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
  auto start = std::chrono::steady_clock::now();
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_TIMEOUT);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(InetTransfer, BodyStallTimesOutAfterTheBytesThatCame) {
  InetHandles h;
  DWORD timeout = 300;
  Open(&h, "/stall/body");
  ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), os::ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(body.size(), 1000u);
}

TEST_F(InetTransfer, ReceiveTimeoutBoundsEachWaitNotTheWholeBody) {
  InetHandles h;
  Open(&h, "/slow/1000?every_ms=40");
  DWORD timeout = 300;
  ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  auto start = std::chrono::steady_clock::now();
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_TRUE(body == HttpServer::Pattern(1000));
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300)) << "the drip was too fast to tell";
}

TEST_F(InetTransfer, TimeoutsAreInheritedFromTheSession) {
  os::HINTERNET session = os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  DWORD value = 0, length = sizeof value;
  ASSERT_TRUE(os::InternetQueryOptionA(session, os::INTERNET_OPTION_CONNECT_TIMEOUT, &value, &length));
  EXPECT_EQ(value, 60000u);
  ASSERT_TRUE(os::InternetQueryOptionA(session, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &value, &length));
  EXPECT_EQ(value, 30000u);
  value = 1234;
  ASSERT_TRUE(os::InternetSetOptionA(session, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value));
  os::HINTERNET connection = os::InternetConnectA(session, "127.0.0.1", 1, nullptr, nullptr,
                                                  os::INTERNET_SERVICE_HTTP, 0, 0);
  os::HINTERNET request = os::HttpOpenRequestA(connection, nullptr, "/", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_TRUE(os::InternetQueryOptionA(request, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &value, &length));
  EXPECT_EQ(value, 1234u);
  os::InternetCloseHandle(session);
}

TEST_F(InetTransfer, SendsAgentAcceptTypesAndEncodedPath) {
  WriteHostFile(server_.root() + "/a b.txt", "spaced");
  InetHandles h;
  Open(&h, "/files/a b.txt");
  ASSERT_TRUE(os::HttpSendRequestA(h.request, "X-Extra: one\r\n", 0xFFFFFFFF, nullptr, 0));
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_EQ(body, "spaced");
  std::vector<LoggedRequest> log = server_.Requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "GET");
  EXPECT_EQ(log[0].path, "/files/a b.txt");
  EXPECT_EQ(log[0].Header("User-Agent"), "Pelisto-Test/1.0");
  EXPECT_EQ(log[0].Header("Accept"), "*/*");
  EXPECT_EQ(log[0].Header("X-Extra"), "one");
  EXPECT_EQ(log[0].Header("Accept-Encoding"), "") << "nothing may ask for encoded bodies";
}

TEST_F(InetTransfer, CredentialsAnswerAChallenge) {
  server_.Route("/private", [](const httplib::Request& req, httplib::Response& res) {
    // "user:secret"
    if (req.get_header_value("Authorization") == "Basic dXNlcjpzZWNyZXQ=") {
      ServeBytes(res, "welcome");
      return;
    }
    res.status = 401;
    res.set_header("WWW-Authenticate", "Basic realm=\"private\"");
    ServeBytes(res, "denied");
  });
  for (const char* password : {"secret", "wrong"}) {
    os::HINTERNET session = os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    os::HINTERNET connection = os::InternetConnectA(session, "127.0.0.1", static_cast<os::INTERNET_PORT>(server_.port()),
                                                    "user", password, os::INTERNET_SERVICE_HTTP, 0, 0);
    os::HINTERNET request = os::HttpOpenRequestA(connection, nullptr, "/private", nullptr, nullptr, nullptr, 0, 0);
    ASSERT_TRUE(os::HttpSendRequestA(request, nullptr, 0, nullptr, 0)) << password;
    DWORD error = 0;
    std::string body;
    EXPECT_EQ(ReadAll(request, &body), 0u);
    bool right = std::string(password) == "secret";
    EXPECT_EQ(QueryText(request, os::HTTP_QUERY_STATUS_CODE, &error), right ? "200" : "401") << password;
    EXPECT_EQ(body, right ? "welcome" : "denied") << password;
    os::InternetCloseHandle(session);
  }
}

TEST_F(InetTransfer, PostSendsTheBody) {
  server_.Route("/echo", [](const httplib::Request& req, httplib::Response& res) {
    ServeBytes(res, req.method + ":" + req.body);
  });
  InetHandles h;
  h.session = os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  h.connection = os::InternetConnectA(h.session, "127.0.0.1", static_cast<os::INTERNET_PORT>(server_.port()),
                                      nullptr, nullptr, os::INTERNET_SERVICE_HTTP, 0, 0);
  h.request = os::HttpOpenRequestA(h.connection, "POST", "/echo", nullptr, nullptr, nullptr, 0, 0);
  const char data[] = "a=1&b=2";
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, data, sizeof data - 1));
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_EQ(body, "POST:a=1&b=2");
}

TEST_F(InetTransfer, UnreachableServerCannotConnect) {
  // Take a port that was just in use and is closed now.
  HttpServer gone;
  std::string error;
  ASSERT_TRUE(gone.Start(&error)) << error;
  int port = gone.port();
  gone.Stop();
  InetHandles h;
  h.session = os::InternetOpenA("t", os::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  h.connection = os::InternetConnectA(h.session, "127.0.0.1", static_cast<os::INTERNET_PORT>(port), nullptr,
                                      nullptr, os::INTERNET_SERVICE_HTTP, 0, 0);
  h.request = os::HttpOpenRequestA(h.connection, nullptr, "/", nullptr, nullptr, nullptr, 0, 0);
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_CANNOT_CONNECT);
  DWORD got = kSentinel;
  char buf[8];
  EXPECT_FALSE(os::InternetReadFile(h.request, buf, sizeof buf, &got));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

}  // namespace
}  // namespace pelisto::testing
