// Decoding of "gzip" and "deflate" response bodies as the read loop receives them, one chunk
// of at most 1024 bytes per call.
//
// A compressed body longer than one chunk is not a complete stream in any single call, so
// every decoder here keeps its state from one chunk to the next for the life of one body;
// a chunk's output may be held back until the decompressor's 4096-byte block fills, and
// Finish() hands out the rest. One object per body, used from one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace pelisto {

// Results of the per-chunk calls.
inline constexpr int kDecodeOk = 0;
inline constexpr int kDecodeStreamFailed = 6;  // the chain's input or output did not stay good
inline constexpr int kDecodeNotZlib = 7;       // a "deflate" body that has no zlib header
inline constexpr int kDecodeCorrupt = 8;       // the decompressor reported bad or missing data

enum class ChunkFormat {
  kGzip,  // gzip members
  kZlib,  // zlib stream, window bits 15
};

// The gzip or zlib decompressor of Boost.Iostreams, fed chunk by chunk.
class ChunkDecoder {
 public:
  explicit ChunkDecoder(ChunkFormat format);
  ~ChunkDecoder();
  ChunkDecoder(const ChunkDecoder&) = delete;
  ChunkDecoder& operator=(const ChunkDecoder&) = delete;

  // Feeds one chunk and appends what it yields to `*out`. kDecodeNotZlib only for a zlib
  // decoder that refuses the stream's 2-byte header; after any failure the decoder is spent
  // and every later call fails.
  int Decode(const char* data, size_t size, std::string* out);
  // Appends the output still held back. kDecodeCorrupt when the stream has not ended (a
  // truncated body); kDecodeOk when nothing was ever fed.
  int Finish(std::string* out);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The second deflate decoder: raw deflate data (no zlib header) with an inflate loop of its
// own, which some servers send as "deflate". Same contract as ChunkDecoder.
class RawDeflateDecoder {
 public:
  RawDeflateDecoder();
  ~RawDeflateDecoder();
  RawDeflateDecoder(const RawDeflateDecoder&) = delete;
  RawDeflateDecoder& operator=(const RawDeflateDecoder&) = delete;

  int Decode(const char* data, size_t size, std::string* out);
  int Finish(std::string* out);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// What the read loop holds for one body: the decoder its Content-Encoding asks for. "gzip"
// and "deflate" are compared exactly (case-sensitive); any other text decodes nothing.
// "deflate" starts as a zlib stream and, when its header is refused with kDecodeNotZlib, is
// decoded as raw deflate from the body's first byte on.
class ContentDecoder {
 public:
  explicit ContentDecoder(const std::string& encoding);
  ~ContentDecoder();
  ContentDecoder(const ContentDecoder&) = delete;
  ContentDecoder& operator=(const ContentDecoder&) = delete;

  // True when the body is decoded at all.
  bool Decodes() const;
  // Replaces `*out` with the chunk's decoded bytes (possibly none yet). False when decoding
  // failed: `*out` is then empty, and nothing of the chunk may be written.
  bool DecodeChunk(const char* data, size_t size, std::string* out);
  // At the end of the body: replaces `*out` with the bytes still held back. False when the
  // compressed stream was cut short.
  bool Finish(std::string* out);

 private:
  enum class Mode { kNone, kGzip, kZlib, kRaw };
  Mode mode_ = Mode::kNone;
  std::unique_ptr<ChunkDecoder> chunk_;
  std::unique_ptr<RawDeflateDecoder> raw_;
  std::string head_;  // bytes a zlib decoder took before its header was complete
};

}  // namespace pelisto
