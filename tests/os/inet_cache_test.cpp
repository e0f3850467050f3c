#include <gtest/gtest.h>

#include <filesystem>

#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/image/integrity.h"
#include "os/inet/urlmon.h"
#include "tests/os/inet_fixture.h"

namespace pelisto::testing {
namespace {

using os::HRESULT;

class InetCache : public InetTest {
 protected:
  std::string CacheFolder() { return machine().FolderPath(os::KnownFolder::kInternetCache); }
  // Names of the files in the cache folder (host side).
  std::vector<std::string> CacheFiles() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Host(CacheFolder()), ec)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(InetCache, DownloadLandsInTheInternetCacheFolder) {
  WriteHostFile(server_.root() + "/setup.exe", HttpServer::Pattern(70000));
  std::string path;
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/files/setup.exe"), &path, os::MAX_PATH, 0, nullptr),
            os::S_OK);
  EXPECT_EQ(path, CacheFolder() + "\\setup[1].exe");
  EXPECT_TRUE(GetFile(path) == HttpServer::Pattern(70000));
  // A second fetch of the same name keeps the first file.
  std::string second;
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/files/setup.exe?v=2"), &second, os::MAX_PATH, 0,
                                        nullptr),
            os::S_OK);
  EXPECT_EQ(second, CacheFolder() + "\\setup[2].exe");
  EXPECT_EQ(CacheFiles(), (std::vector<std::string>{"setup[1].exe", "setup[2].exe"}));
}

TEST_F(InetCache, KeepsTheTransferSizeBound) {
  os::ImageSettings s = machine().settings();
  s.transfer.max_bytes = 4096;
  Reconfigure(s);
  std::string path;
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/pattern/4096"), &path, os::MAX_PATH, 0, nullptr),
            os::S_OK);
  EXPECT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/pattern/4097"), &path, os::MAX_PATH, 0, nullptr),
            os::HRESULT_FROM_WIN32(os::ERROR_FILE_TOO_LARGE));
  EXPECT_EQ(CacheFiles(), std::vector<std::string>{"4096[1]"}) << "nothing of the second body is kept";
}

TEST_F(InetCache, FollowsRedirectsAndNamesOddSegmentsSafely) {
  std::string path;
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/redirect/once"), &path, os::MAX_PATH, 0, nullptr),
            os::S_OK);
  EXPECT_EQ(path, CacheFolder() + "\\once[1]");
  EXPECT_TRUE(GetFile(path) == HttpServer::Pattern(4096));
  server_.Route("/odd/.*", [](const httplib::Request&, httplib::Response& res) { ServeBytes(res, "odd"); });
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/odd/..%5C..%5Cevil.dll"), &path, os::MAX_PATH, 0,
                                        nullptr),
            os::S_OK);
  EXPECT_EQ(path, CacheFolder() + "\\....evil[1].dll");
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/odd/"), &path, os::MAX_PATH, 0, nullptr), os::S_OK);
  EXPECT_EQ(path, CacheFolder() + "\\index[1].htm");
}

struct FailCase {
  const char* path;
  HRESULT hr;
};

void PrintTo(const FailCase& c, std::ostream* out) { *out << c.path; }

class InetCacheFailure : public InetCache, public ::testing::WithParamInterface<FailCase> {};

TEST_P(InetCacheFailure, FailsAndLeavesNothingBehind) {
  std::string path = "untouched";
  EXPECT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url(GetParam().path), &path, os::MAX_PATH, 0, nullptr),
            GetParam().hr);
  EXPECT_EQ(path, "untouched");
  EXPECT_TRUE(CacheFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, InetCacheFailure,
                         ::testing::Values(FailCase{"/status/401", os::INET_E_AUTHENTICATION_REQUIRED},
                                           FailCase{"/status/407", os::INET_E_AUTHENTICATION_REQUIRED},
                                           FailCase{"/status/404", os::INET_E_OBJECT_NOT_FOUND},
                                           FailCase{"/status/500", os::INET_E_DOWNLOAD_FAILURE},
                                           FailCase{"/cut/100000", os::INET_E_CANNOT_CONNECT},
                                           FailCase{"/redirect/loop", os::INET_E_REDIRECT_FAILED}));

TEST_F(InetCache, RefusesOtherSchemesAndShortBuffers) {
  std::string path = "untouched";
  EXPECT_EQ(os::URLDownloadToCacheFileA(nullptr, "ftp://127.0.0.1/x", &path, os::MAX_PATH, 0, nullptr),
            os::INET_E_UNKNOWN_PROTOCOL);
  EXPECT_EQ(os::URLDownloadToCacheFileA(nullptr, "http://", &path, os::MAX_PATH, 0, nullptr), os::INET_E_INVALID_URL);
  EXPECT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/pattern/10"), &path, 10, 0, nullptr),
            os::HRESULT_FROM_WIN32(os::ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(path, "untouched");
  EXPECT_TRUE(CacheFiles().empty());
}

TEST_F(InetCache, LowIntegrityCallerUsesTheLowCache) {
  os::ImageSettings s = machine().settings();
  s.protected_mode = true;
  Reconfigure(s);
  os::ResetProcessIntegrity();
  ASSERT_EQ(os::ProcessToken().level, os::IntegrityLevel::kLow);
  std::string path;
  ASSERT_EQ(os::URLDownloadToCacheFileA(nullptr, server_.Url("/pattern/10"), &path, os::MAX_PATH, 0, nullptr),
            os::S_OK);
  EXPECT_EQ(path, machine().FolderPath(os::KnownFolder::kInternetCacheLow) + "\\10[1]");
}

}  // namespace
}  // namespace pelisto::testing
