#include <gtest/gtest.h>

#include <string>

#include "download/url_parts.h"

namespace {

using pelisto::UrlParts;

struct UrlCase {
  const char* url;
  os::DWORD service;
  const char* server;
  const char* object;
  os::INTERNET_PORT port;
  const char* user = "";
  const char* password = "";
};

void PrintTo(const UrlCase& c, std::ostream* out) { *out << c.url; }

class HttpTransferUrl : public ::testing::TestWithParam<UrlCase> {};

TEST_P(HttpTransferUrl, SplitsIntoConnectionParts) {
  const UrlCase& c = GetParam();
  UrlParts parts;
  ASSERT_TRUE(pelisto::ParseUrlParts(c.url, &parts)) << c.url;
  EXPECT_EQ(parts.service, c.service);
  EXPECT_EQ(parts.server, c.server);
  EXPECT_EQ(parts.object, c.object);
  EXPECT_EQ(parts.port, c.port);
  EXPECT_EQ(parts.user, c.user);
  EXPECT_EQ(parts.password, c.password);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, HttpTransferUrl,
    ::testing::Values(UrlCase{"http://host/file.zip", pelisto::kServiceHttp, "host", "/file.zip", 80},
                      UrlCase{"https://host/file", pelisto::kServiceHttps, "host", "/file", 443},
                      UrlCase{"HTTP://Host:8080/a/b.cab?v=1&x=2#part", pelisto::kServiceHttp, "Host",
                              "/a/b.cab?v=1&x=2", 8080},
                      UrlCase{"http://user:pa:ss@host:81/x", pelisto::kServiceHttp, "host", "/x", 81, "user",
                              "pa:ss"},
                      UrlCase{"http://user@host/", pelisto::kServiceHttp, "host", "/", 80, "user", ""},
                      UrlCase{"ftp://files.example/pub/f.bin", pelisto::kServiceFtp, "files.example",
                              "/pub/f.bin", 21},
                      UrlCase{"http://host", pelisto::kServiceHttp, "host", "/", 80},
                      UrlCase{"http://host?q=/a", pelisto::kServiceHttp, "host", "/?q=/a", 80},
                      UrlCase{"http://[::1]:8080/x", pelisto::kServiceHttp, "[::1]", "/x", 8080},
                      UrlCase{"http://host/a/./b/../../../c/?d=/../e", pelisto::kServiceHttp, "host",
                              "/c/?d=/../e", 80},
                      UrlCase{"http://host:00443/x", pelisto::kServiceHttp, "host", "/x", 443}));

class HttpTransferUrlRefused : public ::testing::TestWithParam<std::string> {};

TEST_P(HttpTransferUrlRefused, FailsAndLeavesThePartsAlone) {
  UrlParts parts;
  parts.server = "untouched";
  EXPECT_FALSE(pelisto::ParseUrlParts(GetParam(), &parts)) << GetParam();
  EXPECT_EQ(parts.server, "untouched");
}

INSTANTIATE_TEST_SUITE_P(BadInput, HttpTransferUrlRefused,
                         ::testing::Values("server/path/file.zip", "gopherx://host/x", "mailto:me@host",
                                           "http:host/x", "http://host:0/x", "http://host:65536/x",
                                           "http://host:8a/x", "http://host:123456/x", "http://host:/x",
                                           "http:///x", "http://ho st/x", "http://host\t/x", "http://[::1/x",
                                           "http://h[o]st/x", "://host/x", "1http://host/x",
                                           "http://" + std::string(256, 'h') + "/x",
                                           "http://host/" + std::string(2100, 'p')));

TEST(HttpTransferUrlRetry, AnAddressWithoutSchemeIsTakenAsHttp) {
  for (std::string url : {"server/file.zip", "127.0.0.1:8080/file.zip", "localhost:8080/file.zip"}) {
    UrlParts parts;
    std::string given = url;
    ASSERT_TRUE(pelisto::ParseUrlWithRetry(&url, &parts)) << given;
    EXPECT_EQ(url, "http://" + given);
    EXPECT_EQ(parts.service, pelisto::kServiceHttp);
    EXPECT_EQ(parts.object, "/file.zip");
  }
  // An unknown scheme does not turn into a host name on the retry.
  std::string url = "foo://host/x";
  UrlParts parts;
  EXPECT_FALSE(pelisto::ParseUrlWithRetry(&url, &parts));
}

struct FlagCase {
  const char* url;
  os::DWORD flags;
  os::DWORD service;
  os::INTERNET_PORT port;
};

void PrintTo(const FlagCase& c, std::ostream* out) { *out << c.url; }

class HttpTransferFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(HttpTransferFlags, SecureOnlyForAnHttpsAddress) {
  const FlagCase& c = GetParam();
  UrlParts parts;
  ASSERT_TRUE(pelisto::ParseUrlParts(c.url, &parts));
  EXPECT_EQ(pelisto::ChooseRequestFlags(c.url, &parts), c.flags);
  EXPECT_EQ(parts.service, c.service);
  EXPECT_EQ(parts.port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, HttpTransferFlags,
    ::testing::Values(FlagCase{"https://host/file", 0x84C03000, pelisto::kServiceHttp, 443},
                      FlagCase{"http://host/https/file", 0x84400000, pelisto::kServiceHttp, 80},
                      FlagCase{"https://host:8443/file", 0x84C03000, pelisto::kServiceHttp, 8443},
                      // Capitals still ask for a secure transfer rather than a service no
                      // connection can be made for.
                      FlagCase{"HTTPS://host/file", 0x84C03000, pelisto::kServiceHttp, 443},
                      FlagCase{"ftp://host/https", 0x84400000, pelisto::kServiceFtp, 21}));

}  // namespace
