// Writes the seeds of the fuzz targets whose inputs are binary (zip archives, gzip files,
// broker frames) below the folder given: <folder>/<target>/<n>. Made at build time so that
// no binary file is kept in the tree.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/broker_protocol.h"
#include "tests/archive/zip_builder.h"
#include "tests/support/gzip_files.h"

namespace {
namespace fs = std::filesystem;
using pelisto::testing::BuildZip;
using pelisto::testing::Folder;
using pelisto::testing::GzipBytes;
using pelisto::testing::kStored;

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
                  {BuildZip({{.name = "readme.txt", .data = text, .method = kStored}}),
                   BuildZip({Folder("bin/"), {.name = "bin/tool.dll", .data = text + text},
                             {.name = "patch/a.ocx", .data = "MZ", .method = kStored}}),
                   BuildZip({{.name = "..\\evil.txt", .data = "x", .method = kStored}, {.name = "C:/abs.txt", .data = "y"},
                             {.name = "/root.txt", .data = "z", .method = kStored}})});
  ok = Write(root / "gzip-header",
             {GzipBytes({.content = text}), GzipBytes({.content = text, .name = "pkg.exe"}),
              GzipBytes({.content = text, .extra = "ab\x01", .name = "..\\up.dll", .comment = "a comment",
                         .header_crc = true}),
              GzipBytes({.content = "", .name = "C:\\Windows\\x.dll"})}) && ok;
  ok = Write(root / "broker-request", Frames()) && ok;
  if (!ok) {
    std::fprintf(stderr, "fuzz-make-seeds: cannot write the seeds below %s\n", argv[1]);
    return 1;
  }
  return 0;
}
