#include <gtest/gtest.h>

#include "tests/download/http_transfer_fixture.h"

namespace pelisto::testing {
namespace {

struct EncodedCase {
  const char* path;
  const char* name;
  std::string (*compress)(const std::string&);
};

void PrintTo(const EncodedCase& c, std::ostream* out) { *out << c.path; }

class HttpTransferEncoding : public HttpTransferTest, public ::testing::WithParamInterface<EncodedCase> {};

TEST_P(HttpTransferEncoding, AMultiChunkBodyIsDecodedIntact) {
  ASSERT_EQ(Fetch(server_.Url(GetParam().path)), 1) << error_;
  EXPECT_TRUE(GetFile(kTarget) == HttpServer::Text()) << GetFile(kTarget).size() << " bytes";
  // Progress counts the bytes received, not the bytes decoded.
  std::vector<std::string> progress = control_->EventsNamed("Downloading");
  ASSERT_GT(progress.size(), 1u);
  EXPECT_EQ(progress.back(), "Downloading(" + std::to_string(GetParam().compress(HttpServer::Text()).size()) + ")");
}

INSTANTIATE_TEST_SUITE_P(Bodies, HttpTransferEncoding,
                         ::testing::Values(EncodedCase{"/gzip", "gzip", &HttpServer::Gzip},
                                           EncodedCase{"/deflate", "zlib", &HttpServer::Zlib},
                                           EncodedCase{"/deflate-raw", "raw", &HttpServer::RawDeflate}),
                         [](const auto& info) { return std::string(info.param.name); });

class HttpTransferEncodingEdges : public HttpTransferTest {
 protected:
  void Serve(const std::string& path, const std::string& encoding, const std::string& body) {
    server_.Route(path, [encoding, body](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Encoding", encoding);
      ServeBytes(res, body);
    });
  }
};

TEST_F(HttpTransferEncodingEdges, UpperCaseGzipIsWrittenAsReceived) {
  const std::string gzip = HttpServer::Gzip(HttpServer::Text());
  Serve("/upper", "GZIP", gzip);
  ASSERT_EQ(Fetch(server_.Url("/upper")), 1) << error_;
  EXPECT_TRUE(GetFile(kTarget) == gzip);
}

TEST_F(HttpTransferEncodingEdges, ACorruptBodyFailsAndLeavesNoFile) {
  std::string gzip = HttpServer::Gzip(HttpServer::Text());
  for (size_t i = 2500; i < 2600; ++i) gzip[i] ^= 0x21;
  Serve("/corrupt", "gzip", gzip);
  for (int major : {6, 5}) {
    SetOsMajor(major);
    std::filesystem::create_directories(Host("C:\\Program Files\\Vendor"));
    EXPECT_EQ(Fetch(server_.Url("/corrupt")), 0) << "Windows " << major;
    EXPECT_EQ(error_, "Failed in call to InternetReadFile, Error:12175") << "a body that does not decode fails its read";
    EXPECT_FALSE(HostExists(kTarget)) << "Windows " << major;
    EXPECT_TRUE(WorkFiles().empty());
  }
}

TEST_F(HttpTransferEncodingEdges, GarbageUnderDeflateFailsOnTheFirstChunk) {
  Serve("/garbage", "deflate", HttpServer::Pattern(5000));
  EXPECT_EQ(Fetch(server_.Url("/garbage")), 0);
  EXPECT_TRUE(control_->EventsNamed("Downloading").empty());
  EXPECT_FALSE(HostExists(kTarget));
}

}  // namespace
}  // namespace pelisto::testing
