#include <gtest/gtest.h>

#include <string>

#include "download/content_decoder.h"
#include "tests/support/http_server.h"

namespace {

using pelisto::ContentDecoder;
using pelisto::testing::HttpServer;

struct Body {
  const char* name;
  const char* encoding;
  std::string (*compress)(const std::string&);
};

const Body kBodies[] = {
    {"gzip", "gzip", &HttpServer::Gzip},
    {"zlib", "deflate", &HttpServer::Zlib},
    {"raw", "deflate", &HttpServer::RawDeflate},
};

// Feeds `data` in pieces of `chunk` bytes; false at the first failure. `*out` gets every byte
// the decoder yielded, `*failed_at` the offset of the piece that failed.
bool DecodeInPieces(const std::string& encoding, const std::string& data, size_t chunk, std::string* out,
                    size_t* failed_at = nullptr) {
  ContentDecoder decoder(encoding);
  std::string piece;
  for (size_t at = 0; at < data.size(); at += chunk) {
    if (!decoder.DecodeChunk(data.data() + at, std::min(chunk, data.size() - at), &piece)) {
      EXPECT_TRUE(piece.empty()) << "a failed chunk yields nothing";
      if (failed_at != nullptr) *failed_at = at;
      return false;
    }
    *out += piece;
  }
  if (!decoder.Finish(&piece)) {
    if (failed_at != nullptr) *failed_at = data.size();
    return false;
  }
  *out += piece;
  return true;
}

class HttpTransferDecoder : public ::testing::TestWithParam<std::tuple<Body, size_t>> {};

TEST_P(HttpTransferDecoder, DecodesABodySplitAnywhere) {
  const auto& [body, chunk] = GetParam();
  const std::string compressed = body.compress(HttpServer::Text());
  ASSERT_GT(compressed.size(), 1024u) << "the body must span several read chunks";
  std::string out;
  ASSERT_TRUE(DecodeInPieces(body.encoding, compressed, chunk, &out)) << body.name << " in " << chunk;
  EXPECT_TRUE(out == HttpServer::Text()) << body.name << " in " << chunk << ": " << out.size() << " bytes";
}

TEST_P(HttpTransferDecoder, ACutOffStreamFailsAtTheEnd) {
  const auto& [body, chunk] = GetParam();
  std::string compressed = body.compress(HttpServer::Text());
  compressed.resize(compressed.size() - 9);
  std::string out;
  size_t failed_at = 0;
  EXPECT_FALSE(DecodeInPieces(body.encoding, compressed, chunk, &out, &failed_at)) << body.name;
  EXPECT_EQ(failed_at, compressed.size()) << "every chunk decodes; only the missing end is noticed";
}

TEST_P(HttpTransferDecoder, ADamagedStreamFails) {
  const auto& [body, chunk] = GetParam();
  std::string compressed = body.compress(HttpServer::Text());
  for (size_t i = compressed.size() / 2; i < compressed.size() / 2 + 16; ++i) compressed[i] ^= 0x5A;
  std::string out;
  EXPECT_FALSE(DecodeInPieces(body.encoding, compressed, chunk, &out)) << body.name;
  EXPECT_LT(out.size(), HttpServer::Text().size());
}

INSTANTIATE_TEST_SUITE_P(Bodies, HttpTransferDecoder,
                         ::testing::Combine(::testing::ValuesIn(kBodies),
                                            ::testing::Values<size_t>(1, 7, 1024, 4096, 1 << 20)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST(HttpTransferDecoderCodes, TheZlibDecoderRefusesRawDeflateOnlyAtTheStart) {
  const std::string raw = HttpServer::RawDeflate(HttpServer::Text());
  pelisto::ChunkDecoder zlib(pelisto::ChunkFormat::kZlib);
  std::string out;
  EXPECT_EQ(zlib.Decode(raw.data(), 1024, &out), pelisto::kDecodeNotZlib);

  // The same damage later in a zlib stream is bad data, not a reason to change decoders.
  std::string stream = HttpServer::Zlib(HttpServer::Text());
  for (size_t i = 2000; i < 2100; ++i) stream[i] ^= 0x33;
  pelisto::ChunkDecoder later(pelisto::ChunkFormat::kZlib);
  int rc = pelisto::kDecodeOk;
  for (size_t at = 0; at < stream.size() && rc == pelisto::kDecodeOk; at += 1024) {
    rc = later.Decode(stream.data() + at, std::min<size_t>(1024, stream.size() - at), &out);
  }
  EXPECT_EQ(rc, pelisto::kDecodeCorrupt);
}

TEST(HttpTransferDecoderCodes, OnlyTheExactNamesDecode) {
  for (const char* encoding : {"GZIP", "Deflate", "x-gzip", "br", "", "gzip "}) {
    EXPECT_FALSE(ContentDecoder(encoding).Decodes()) << encoding;
  }
  ContentDecoder nothing_fed("gzip");
  std::string out;
  EXPECT_TRUE(nothing_fed.Finish(&out)) << "an empty body is an empty file";
  EXPECT_TRUE(out.empty());
}

}  // namespace
