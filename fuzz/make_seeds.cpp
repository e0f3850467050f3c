// Writes the seeds of the fuzz targets whose inputs are binary (zip archives, gzip files,
// broker frames) below the folder given: <folder>/<target>/<n>. Made at build time so that
// no binary file is kept in the tree.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/broker_protocol.h"

namespace {
namespace fs = std::filesystem;

void Le(std::string* out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string Deflate(const std::string& data, int window_bits) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Member {
  std::string name;
  std::string data;
  bool deflate;
  std::uint32_t external = 0;  // 0x10: a folder
};

// A zip archive with a local header, data and a central record per member and the end
// record, as archivers write them.
std::string Zip(const std::vector<Member>& members) {
  std::string out, central;
  for (const Member& m : members) {
    const std::string stored = m.deflate ? Deflate(m.data, -15) : m.data;
    const std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size()));
    const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
    Le(&out, 0x04034b50, 4); Le(&out, 20, 2); Le(&out, 0, 2); Le(&out, m.deflate ? 8 : 0, 2);
    Le(&out, 0, 4); Le(&out, crc, 4); Le(&out, static_cast<std::uint32_t>(stored.size()), 4);
    Le(&out, static_cast<std::uint32_t>(m.data.size()), 4); Le(&out, static_cast<std::uint32_t>(m.name.size()), 2);
    Le(&out, 0, 2);
    out += m.name;
    out += stored;
    Le(&central, 0x02014b50, 4); Le(&central, 20, 2); Le(&central, 20, 2); Le(&central, 0, 2);
    Le(&central, m.deflate ? 8 : 0, 2); Le(&central, 0, 4); Le(&central, crc, 4);
    Le(&central, static_cast<std::uint32_t>(stored.size()), 4); Le(&central, static_cast<std::uint32_t>(m.data.size()), 4);
    Le(&central, static_cast<std::uint32_t>(m.name.size()), 2); Le(&central, 0, 2); Le(&central, 0, 2);
    Le(&central, 0, 2); Le(&central, 0, 2); Le(&central, m.external, 4); Le(&central, offset, 4);
    central += m.name;
  }
  const std::uint32_t central_offset = static_cast<std::uint32_t>(out.size());
  out += central;
  Le(&out, 0x06054b50, 4); Le(&out, 0, 2); Le(&out, 0, 2);
  Le(&out, static_cast<std::uint32_t>(members.size()), 2); Le(&out, static_cast<std::uint32_t>(members.size()), 2);
  Le(&out, static_cast<std::uint32_t>(central.size()), 4); Le(&out, central_offset, 4); Le(&out, 0, 2);
  return out;
}

// A gzip file with the optional header fields that `flags` names.
std::string Gzip(std::uint8_t flags, const std::string& name, const std::string& data) {
  std::string out = {'\x1f', '\x8b', '\x08', static_cast<char>(flags), 0, 0, 0, 0, 0, '\x03'};
  if (flags & 0x04) {
    Le(&out, 4, 2);
    out += "ab\x01\x00";
  }
  if (flags & 0x08) out += name + '\0';
  if (flags & 0x10) out += std::string("a comment") + '\0';
  if (flags & 0x02) Le(&out, 0, 2);
  out += Deflate(data, -15);
  Le(&out, crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())), 4);
  Le(&out, static_cast<std::uint32_t>(data.size()), 4);
  return out;
}

// Every operation in both directions, its fields filled with plausible values.
std::vector<std::string> Frames() {
  std::vector<std::string> frames;
  for (std::uint16_t op = 0; op < pelisto::kBrokerOpCount; ++op) {
    for (bool reply : {false, true}) {
      bool known = false;
      const auto fields = pelisto::BrokerFields(static_cast<pelisto::BrokerOp>(op), reply, &known);
      if (!known) continue;
      pelisto::BrokerMessage message;
      message.op = static_cast<pelisto::BrokerOp>(op);
      message.reply = reply;
      message.id = 7u + op;
      for (pelisto::BrokerField kind : fields) {
        switch (kind) {
          case pelisto::BrokerField::kNumber: message.numbers.push_back(op); break;
          case pelisto::BrokerField::kPath: message.texts.push_back(u"C:\\Program Files\\Tool\\a.dll"); break;
          case pelisto::BrokerField::kName: message.texts.push_back(u"w+"); break;
          case pelisto::BrokerField::kText: message.texts.push_back(u"line of the log\r\n"); break;
        }
      }
      std::string frame;
      if (pelisto::EncodeBrokerMessage(message, &frame) == pelisto::BrokerStatus::kOk) frames.push_back(frame);
    }
  }
  return frames;
}

bool Write(const fs::path& folder, const std::vector<std::string>& seeds) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  int n = 0;
  for (const std::string& seed : seeds) {
    if (seed.empty()) continue;
    std::ofstream file(folder / ("seed-" + std::to_string(++n)), std::ios::binary | std::ios::trunc);
    file << seed;
    if (!file) return false;
  }
  return n > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz-make-seeds FOLDER\n");
    return 2;
  }
  const fs::path root = argv[1];
  const std::string text = "version=2.6.1.3\r\nlines of a file that compresses a little, a little\r\n";
  bool ok = Write(root / "zip-archive",
                  {Zip({{"readme.txt", text, false}}),
                   Zip({{"bin/", "", false, 0x10}, {"bin/tool.dll", text + text, true}, {"patch/a.ocx", "MZ", false}}),
                   Zip({{"..\\evil.txt", "x", false}, {"C:/abs.txt", "y", true}, {"/root.txt", "z", false}})});
  ok = Write(root / "gzip-header",
             {Gzip(0, "", text), Gzip(0x08, "pkg.exe", text), Gzip(0x1E, "..\\up.dll", text),
              Gzip(0x08, "C:\\Windows\\x.dll", "")}) && ok;
  ok = Write(root / "broker-request", Frames()) && ok;
  if (!ok) {
    std::fprintf(stderr, "fuzz-make-seeds: cannot write the seeds below %s\n", argv[1]);
    return 1;
  }
  return 0;
}
