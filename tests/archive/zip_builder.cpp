#include "tests/archive/zip_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace pelisto::testing {
namespace {

void Put16(std::string* out, std::uint64_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string* out, std::uint64_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, (v >> 16) & 0xFFFF);
}
void Put64(std::string* out, std::uint64_t v) {
  Put32(out, v & 0xFFFFFFFFu);
  Put32(out, v >> 32);
}

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Written {
  std::uint64_t offset;
  std::uint32_t crc;
  std::uint64_t compressed;
  std::uint64_t size;
};

constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;

}  // namespace

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

ZipMember Folder(const std::string& name) {
  ZipMember m;
  m.name = name;
  m.method = kStored;
  m.external = 0x10;
  return m;
}

ZipMember Symlink(const std::string& name, const std::string& target) {
  ZipMember m;
  m.name = name;
  m.data = target;
  m.method = kStored;
  m.made_by = kMadeByUnix;
  m.external = (0120777u << 16);
  return m;
}

std::string BuildZip(const std::vector<ZipMember>& members, const ZipLayout& layout) {
  std::string out = layout.prefix;
  const std::uint64_t base = out.size();
  std::vector<Written> written;
  for (const ZipMember& m : members) {
    const std::string body = m.method == kDeflated ? RawDeflate(m.data) : m.data;
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size())));
    if (m.bad_crc) crc ^= 0x5A5A5A5Au;
    const Written w{out.size() - base, crc, m.declared_compressed.value_or(body.size()),
                    m.declared_size.value_or(m.data.size())};
    written.push_back(w);
    const std::uint16_t flags = static_cast<std::uint16_t>(m.flags | (m.data_descriptor ? 8 : 0));
    Put32(&out, 0x04034b50);
    Put16(&out, layout.zip64 ? 45 : 20);
    Put16(&out, flags);
    Put16(&out, m.method);
    Put16(&out, m.dos_date & 0xFFFF);
    Put16(&out, m.dos_date >> 16);
    const bool lie_later = m.data_descriptor;
    Put32(&out, lie_later ? 0 : w.crc);
    Put32(&out, lie_later ? 0 : (layout.zip64 ? kMax32 : w.compressed));
    Put32(&out, lie_later ? 0 : (layout.zip64 ? kMax32 : w.size));
    Put16(&out, m.name.size());
    Put16(&out, layout.zip64 ? 20 : 0);
    out += m.name;
    if (layout.zip64) {
      Put16(&out, 0x0001);
      Put16(&out, 16);
      Put64(&out, w.size);
      Put64(&out, w.compressed);
    }
    out += body;
    if (m.data_descriptor) {
      Put32(&out, 0x08074b50);
      Put32(&out, w.crc);
      if (layout.zip64) {
        Put64(&out, w.compressed);
        Put64(&out, w.size);
      } else {
        Put32(&out, w.compressed);
        Put32(&out, w.size);
      }
    }
  }
  const std::uint64_t cd_start = out.size() - base;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ZipMember& m = members[i];
    const Written& w = written[i];
    Put32(&out, 0x02014b50);
    Put16(&out, m.made_by);
    Put16(&out, layout.zip64 ? 45 : 20);
    Put16(&out, m.flags | (m.data_descriptor ? 8 : 0));
    Put16(&out, m.method);
    Put16(&out, m.dos_date & 0xFFFF);
    Put16(&out, m.dos_date >> 16);
    Put32(&out, w.crc);
    Put32(&out, layout.zip64 ? kMax32 : w.compressed);
    Put32(&out, layout.zip64 ? kMax32 : w.size);
    Put16(&out, m.name.size());
    Put16(&out, layout.zip64 ? 20 : 0);
    Put16(&out, m.comment.size());
    Put16(&out, 0);
    Put16(&out, 0);
    Put32(&out, m.external);
    // Offsets below 4 GiB stay in the record, as the usual tools write them.
    Put32(&out, w.offset);
    out += m.name;
    if (layout.zip64) {
      Put16(&out, 0x0001);
      Put16(&out, 16);
      Put64(&out, w.size);
      Put64(&out, w.compressed);
    }
    out += m.comment;
  }
  const std::uint64_t cd_size = out.size() - base - cd_start;
  const std::uint64_t entries = layout.declared_entries.value_or(members.size());
  const std::uint64_t cd_offset = static_cast<std::uint64_t>(static_cast<std::int64_t>(cd_start) +
                                                             layout.cd_offset_shift);
  if (layout.zip64) {
    const std::uint64_t record = out.size() - base;
    Put32(&out, 0x06064b50);
    Put64(&out, 44);
    Put16(&out, 45);
    Put16(&out, 45);
    Put32(&out, 0);
    Put32(&out, 0);
    Put64(&out, entries);
    Put64(&out, entries);
    Put64(&out, cd_size);
    Put64(&out, cd_offset);
    Put32(&out, 0x07064b50);
    Put32(&out, 0);
    Put64(&out, record);
    Put32(&out, 1);
  }
  Put32(&out, 0x06054b50);
  Put16(&out, 0);
  Put16(&out, 0);
  Put16(&out, layout.zip64 ? 0xFFFF : entries);
  Put16(&out, layout.zip64 ? 0xFFFF : entries);
  Put32(&out, layout.zip64 ? kMax32 : cd_size);
  Put32(&out, layout.zip64 ? kMax32 : cd_offset);
  Put16(&out, 0);
  return out;
}

}  // namespace pelisto::testing
