// Gzip files made by the tests and benchmarks: every header field settable, and the trailer's CRC and
// length writable wrong on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace pelisto::testing {

struct GzipMember {
  std::string content;
  std::optional<std::string> extra;    // FEXTRA with these bytes
  std::optional<std::string> name;     // FNAME (the zero byte is added)
  std::optional<std::string> comment;  // FCOMMENT (the zero byte is added)
  bool header_crc = false;             // FHCRC
  bool bad_crc = false;                // the trailer's CRC32 off by one
  bool bad_length = false;             // the trailer's ISIZE off by one
};

// One member: header, raw deflate data, trailer.
std::string GzipBytes(const GzipMember& member);
// The common case: `content` with an optional stored name.
std::string Gzip(const std::string& content, const std::optional<std::string>& name = std::nullopt);

// A gzip file of `size` zero bytes (a multiple of 1 MiB) written to the host file
// `host_path` in a few hundred KiB per 256 MiB, without compressing (or holding) the whole
// content. False when it could not be written.
bool WriteZerosGzip(const std::string& host_path, std::uint64_t size);

// The process's peak resident set since the last ResetPeakMemory, in bytes; 0 where the
// kernel does not keep it.
void ResetPeakMemory();
std::uint64_t PeakMemory();
std::uint64_t CurrentMemory();

}  // namespace pelisto::testing
