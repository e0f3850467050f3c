#include "download/content_decoder.h"

#include <zlib.h>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filter/zlib.hpp>
#include <exception>
#include <optional>

namespace pelisto {
namespace {

namespace bio = boost::iostreams;

constexpr int kWindowBits = 15;
constexpr std::streamsize kFilterBuffer = 4096;
constexpr size_t kZlibHeaderSize = 2;

// Where the decompressors put their output: the caller's string.
struct AppendSink {
  using char_type = char;
  using category = bio::sink_tag;
  std::string* out;
  std::streamsize write(const char* data, std::streamsize size) {
    out->append(data, static_cast<size_t>(size));
    return size;
  }
};

}  // namespace

class ChunkDecoder::Impl {
 public:
  explicit Impl(ChunkFormat format) : format_(format) {
    if (format == ChunkFormat::kGzip) {
      gzip_.emplace(kWindowBits, kFilterBuffer);
    } else {
      zlib_.emplace(kWindowBits, kFilterBuffer);
    }
  }

  int Decode(const char* data, size_t size, std::string* out) {
    if (spent_) return kDecodeCorrupt;
    AppendSink sink{out};
    int rc = Guarded([&] {
      // The zlib filter stops taking input at the end of its stream; bytes after it are
      // ignored, as browsers ignore them.
      if (gzip_) {
        gzip_->write(sink, data, static_cast<std::streamsize>(size));
      } else {
        zlib_->write(sink, data, static_cast<std::streamsize>(size));
      }
    });
    if (rc == kDecodeOk) fed_ += size;
    return rc;
  }

  int Finish(std::string* out) {
    if (spent_) return kDecodeCorrupt;
    if (fed_ == 0) return kDecodeOk;
    AppendSink sink{out};
    int rc = Guarded([&] {
      if (gzip_) {
        gzip_->close(sink, BOOST_IOS::out);
      } else {
        zlib_->close(sink, BOOST_IOS::out);
      }
    });
    spent_ = true;
    return rc;
  }

 private:
  template <typename Step>
  int Guarded(Step step) {
    try {
      step();
      return kDecodeOk;
    } catch (const bio::zlib_error& e) {
      spent_ = true;
      const bool header = fed_ < kZlibHeaderSize;
      return format_ == ChunkFormat::kZlib && header && e.error() == bio::zlib::data_error ? kDecodeNotZlib
                                                                                          : kDecodeCorrupt;
    } catch (const bio::gzip_error&) {
      spent_ = true;
      return kDecodeCorrupt;
    } catch (const std::exception&) {
      spent_ = true;
      return kDecodeStreamFailed;
    }
  }

  ChunkFormat format_;
  std::optional<bio::gzip_decompressor> gzip_;
  std::optional<bio::zlib_decompressor> zlib_;
  size_t fed_ = 0;      // bytes taken
  bool spent_ = false;  // failed or finished
};

ChunkDecoder::ChunkDecoder(ChunkFormat format) : impl_(std::make_unique<Impl>(format)) {}
ChunkDecoder::~ChunkDecoder() = default;
int ChunkDecoder::Decode(const char* data, size_t size, std::string* out) { return impl_->Decode(data, size, out); }
int ChunkDecoder::Finish(std::string* out) { return impl_->Finish(out); }

class RawDeflateDecoder::Impl {
 public:
  Impl() { ready_ = inflateInit2(&stream_, -kWindowBits) == Z_OK; }
  ~Impl() {
    if (ready_) inflateEnd(&stream_);
  }

  int Decode(const char* data, size_t size, std::string* out) {
    if (!ready_) return kDecodeStreamFailed;
    if (spent_) return kDecodeCorrupt;
    fed_ = true;
    if (ended_) return kDecodeOk;
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    char buffer[16384];
    do {
      stream_.next_out = reinterpret_cast<Bytef*>(buffer);
      stream_.avail_out = sizeof buffer;
      int rc = inflate(&stream_, Z_NO_FLUSH);
      out->append(buffer, sizeof buffer - stream_.avail_out);
      if (rc == Z_STREAM_END) {
        ended_ = true;
        break;
      }
      if (rc == Z_BUF_ERROR) break;  // needs more input
      if (rc != Z_OK) {
        spent_ = true;
        return rc == Z_MEM_ERROR ? kDecodeStreamFailed : kDecodeCorrupt;
      }
    } while (stream_.avail_out == 0 || stream_.avail_in > 0);
    return kDecodeOk;
  }

  int Finish(std::string*) {
    if (!ready_) return kDecodeStreamFailed;
    if (spent_) return kDecodeCorrupt;
    spent_ = true;
    return !fed_ || ended_ ? kDecodeOk : kDecodeCorrupt;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  bool fed_ = false;
  bool ended_ = false;
  bool spent_ = false;
};

RawDeflateDecoder::RawDeflateDecoder() : impl_(std::make_unique<Impl>()) {}
RawDeflateDecoder::~RawDeflateDecoder() = default;
int RawDeflateDecoder::Decode(const char* data, size_t size, std::string* out) {
  return impl_->Decode(data, size, out);
}
int RawDeflateDecoder::Finish(std::string* out) { return impl_->Finish(out); }

ContentDecoder::ContentDecoder(const std::string& encoding) {
  if (encoding == "gzip") {
    mode_ = Mode::kGzip;
    chunk_ = std::make_unique<ChunkDecoder>(ChunkFormat::kGzip);
  } else if (encoding == "deflate") {
    mode_ = Mode::kZlib;
    chunk_ = std::make_unique<ChunkDecoder>(ChunkFormat::kZlib);
  }
}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::Decodes() const { return mode_ != Mode::kNone; }

bool ContentDecoder::DecodeChunk(const char* data, size_t size, std::string* out) {
  out->clear();
  int rc = kDecodeOk;
  switch (mode_) {
    case Mode::kNone:
      out->assign(data, size);
      return true;
    case Mode::kGzip:
    case Mode::kZlib:
      rc = chunk_->Decode(data, size, out);
      if (rc == kDecodeNotZlib) {
        // The raw decoder starts from the body's first byte, which an earlier chunk of a
        // byte or so may have held.
        std::string body = head_;
        body.append(data, size);
        out->clear();
        chunk_.reset();
        raw_ = std::make_unique<RawDeflateDecoder>();
        mode_ = Mode::kRaw;
        rc = raw_->Decode(body.data(), body.size(), out);
      } else if (rc == kDecodeOk && mode_ == Mode::kZlib && head_.size() + size < kZlibHeaderSize) {
        head_.append(data, size);
      } else {
        head_.clear();
      }
      break;
    case Mode::kRaw:
      rc = raw_->Decode(data, size, out);
      break;
  }
  if (rc != kDecodeOk) out->clear();
  return rc == kDecodeOk;
}

bool ContentDecoder::Finish(std::string* out) {
  out->clear();
  int rc = kDecodeOk;
  if (mode_ == Mode::kRaw) {
    rc = raw_->Finish(out);
  } else if (chunk_) {
    rc = chunk_->Finish(out);
  }
  if (rc != kDecodeOk) out->clear();
  return rc == kDecodeOk;
}

}  // namespace pelisto
