#include <gtest/gtest.h>

#include "tests/os/inet_fixture.h"

namespace pelisto::testing {
namespace {

using os::DWORD;

// An HTTPS server with one kind of self-signed certificate, started per test.
class InetTlsTest : public InetTest {
 protected:
  void StartTls(CertKind kind) {
    HttpServer::Options options;
    options.https = true;
    options.cert = kind;
    tls_ = std::make_unique<HttpServer>(options);
    std::string error;
    ASSERT_TRUE(tls_->Start(&error)) << error;
  }
  // One GET of /pattern/2000 with the request flags and (when not 0) security flags given;
  // returns 0 or the error of the send.
  DWORD Fetch(DWORD request_flags, DWORD security_flags) {
    InetHandles h;
    Open(&h, "/pattern/2000", request_flags, nullptr, tls_.get());
    if (security_flags != 0) {
      EXPECT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_SECURITY_FLAGS, &security_flags,
                                         sizeof security_flags));
    }
    os::SetLastError(kSentinel);
    if (!os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) return os::GetLastError();
    std::string body;
    DWORD rc = ReadAll(h.request, &body);
    EXPECT_TRUE(body == HttpServer::Pattern(2000));
    return rc;
  }
  std::unique_ptr<HttpServer> tls_;
};

struct TlsCase {
  CertKind cert;
  DWORD security_flags;
  DWORD error;  // 0: the fetch succeeds
  const char* name;
};

void PrintTo(const TlsCase& c, std::ostream* out) { *out << c.name; }

class InetTls : public InetTlsTest, public ::testing::WithParamInterface<TlsCase> {};

constexpr DWORD kCa = os::SECURITY_FLAG_IGNORE_UNKNOWN_CA;
constexpr DWORD kCn = os::SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
constexpr DWORD kDate = os::SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

TEST_P(InetTls, EachIgnoreFlagLetsOnlyItsOwnFaultThrough) {
  const TlsCase& c = GetParam();
  StartTls(c.cert);
  EXPECT_EQ(Fetch(0, c.security_flags), c.error) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, InetTls,
    ::testing::Values(
        TlsCase{CertKind::kValid, 0, os::ERROR_INTERNET_INVALID_CA, "self-signed, strict"},
        TlsCase{CertKind::kValid, kCn | kDate | os::SECURITY_FLAG_IGNORE_REVOCATION, os::ERROR_INTERNET_INVALID_CA,
                "self-signed, other flags"},
        TlsCase{CertKind::kValid, kCa, 0, "self-signed, unknown CA ignored"},
        TlsCase{CertKind::kWrongName, kCa, os::ERROR_INTERNET_SEC_CERT_CN_INVALID, "wrong name, CA ignored"},
        TlsCase{CertKind::kWrongName, kCa | kCn, 0, "wrong name, CA and name ignored"},
        TlsCase{CertKind::kExpired, kCa, os::ERROR_INTERNET_SEC_CERT_DATE_INVALID, "expired, CA ignored"},
        TlsCase{CertKind::kExpired, kCa | kDate, 0, "expired, CA and date ignored"}));

TEST_F(InetTlsTest, TheSecureSendSequenceSucceedsOnTheThirdSend) {
  StartTls(CertKind::kValid);
  // Request flags with "ignore name and date": the unknown CA still fails, twice; then the
  // security option adds the rest and the same request goes through.
  InetHandles h;
  const DWORD flags = 0x84C03000;
  Open(&h, "/pattern/2000", flags, nullptr, tls_.get());
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_INVALID_CA);
  EXPECT_FALSE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  DWORD security = flags | 0xF180;
  ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security));
  DWORD now = 0, length = sizeof now;
  ASSERT_TRUE(os::InternetQueryOptionA(h.request, os::INTERNET_OPTION_SECURITY_FLAGS, &now, &length));
  EXPECT_EQ(now, 0xF181u) << "the ignore bits and the secure bit, nothing else";
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) << os::GetLastError();
  std::string body;
  EXPECT_EQ(ReadAll(h.request, &body), 0u);
  EXPECT_TRUE(body == HttpServer::Pattern(2000));
}

TEST_F(InetTlsTest, ALenientConnectionIsNotReusedOnceStrict) {
  StartTls(CertKind::kValid);
  InetHandles h;
  Open(&h, "/pattern/2000", 0, nullptr, tls_.get());
  DWORD security = kCa;
  ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security));
  ASSERT_TRUE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  std::string body;
  ASSERT_EQ(ReadAll(h.request, &body), 0u);
  security = 0;
  ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security));
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_INVALID_CA);
}

TEST_F(InetTlsTest, PlainHttpServerOnASecureRequestIsAChannelError) {
  InetHandles h;
  Open(&h, "/pattern/10", os::INTERNET_FLAG_SECURE);
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}

TEST_F(InetTlsTest, RedirectFromHttpsToHttpIsRefusedUnlessAllowed) {
  StartTls(CertKind::kValid);
  std::string target = "/redirect/to?url=" + server_.Url("/pattern/100");
  for (DWORD extra : {0u, static_cast<DWORD>(os::SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP)}) {
    InetHandles h;
    Open(&h, target, 0, nullptr, tls_.get());
    DWORD security = kCa | extra;
    ASSERT_TRUE(os::InternetSetOptionA(h.request, os::INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security));
    os::SetLastError(kSentinel);
    os::BOOL sent = os::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0);
    if (extra == 0) {
      EXPECT_FALSE(sent);
      EXPECT_EQ(os::GetLastError(), os::ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
      EXPECT_EQ(server_.RequestCount(), 0u) << "the plain server must not be asked";
    } else {
      ASSERT_TRUE(sent) << os::GetLastError();
      std::string body;
      EXPECT_EQ(ReadAll(h.request, &body), 0u);
      EXPECT_EQ(body.size(), 100u);
    }
  }
}

}  // namespace
}  // namespace pelisto::testing
