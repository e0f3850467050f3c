#include "tests/support/gzip_files.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace pelisto::testing {
namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string RawDeflate(const std::string& content) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&z, content.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::uint64_t StatusField(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) return std::stoull(line.substr(key.size())) * 1024;
  }
  return 0;
}

}  // namespace

std::string GzipBytes(const GzipMember& m) {
  std::string out = {'\x1f', '\x8b', 8};
  std::uint8_t flags = 0;
  if (m.header_crc) flags |= 0x02;
  if (m.extra) flags |= 0x04;
  if (m.name) flags |= 0x08;
  if (m.comment) flags |= 0x10;
  out.push_back(static_cast<char>(flags));
  PutLe(out, 0x5F000000u, 4);  // mtime
  out.push_back(0);
  out.push_back(11);  // NTFS
  if (m.extra) {
    PutLe(out, static_cast<std::uint32_t>(m.extra->size()), 2);
    out += *m.extra;
  }
  if (m.name) out += *m.name + '\0';
  if (m.comment) out += *m.comment + '\0';
  if (m.header_crc) {
    PutLe(out, crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())) & 0xFFFF, 2);
  }
  out += RawDeflate(m.content);
  std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(m.content.data()), static_cast<uInt>(m.content.size()));
  PutLe(out, crc + (m.bad_crc ? 1 : 0), 4);
  PutLe(out, static_cast<std::uint32_t>(m.content.size()) + (m.bad_length ? 1 : 0), 4);
  return out;
}

std::string Gzip(const std::string& content, const std::optional<std::string>& name) {
  GzipMember m;
  m.content = content;
  m.name = name;
  return GzipBytes(m);
}

bool WriteZerosGzip(const std::string& host_path, std::uint64_t size) {
  // After a full flush the compressor starts from an empty history, so every further MiB of
  // zeros compresses to the same bytes: one MiB is compressed and its bytes repeated.
  constexpr std::size_t kChunk = 1 << 20;
  if (size % kChunk != 0) return false;
  const std::vector<char> zeros(kChunk, 0);
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  std::string chunk(deflateBound(&z, kChunk) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  z.avail_in = kChunk;
  z.next_out = reinterpret_cast<Bytef*>(chunk.data());
  z.avail_out = static_cast<uInt>(chunk.size());
  const bool flushed = deflate(&z, Z_FULL_FLUSH) == Z_OK;
  chunk.resize(chunk.size() - z.avail_out);
  std::string tail(64, '\0');
  z.next_out = reinterpret_cast<Bytef*>(tail.data());
  z.avail_out = static_cast<uInt>(tail.size());
  const bool finished = deflate(&z, Z_FINISH) == Z_STREAM_END;
  tail.resize(tail.size() - z.avail_out);
  deflateEnd(&z);
  if (!flushed || !finished) return false;

  const uLong chunk_crc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), kChunk);
  uLong crc = 0;
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  std::string header = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 2, 3};
  out << header;
  for (std::uint64_t i = 0; i < size / kChunk; ++i) {
    out << chunk;
    crc = crc32_combine(crc, chunk_crc, kChunk);
  }
  out << tail;
  std::string trailer;
  PutLe(trailer, static_cast<std::uint32_t>(crc), 4);
  PutLe(trailer, static_cast<std::uint32_t>(size), 4);
  out << trailer;
  out.close();
  return !out.fail();
}

void ResetPeakMemory() {
  // "5" resets the peak resident set the kernel keeps for the process.
  std::ofstream("/proc/self/clear_refs") << "5";
}

std::uint64_t PeakMemory() { return StatusField("VmHWM"); }
std::uint64_t CurrentMemory() { return StatusField("VmRSS"); }

}  // namespace pelisto::testing
