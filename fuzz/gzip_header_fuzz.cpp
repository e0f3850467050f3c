// Feeds arbitrary bytes, as the start of a downloaded gzip file, to the header and
// stored-name parsing and to the rule that makes an output file name of the name. Besides
// surviving every input, the name must lie inside the bytes, be no longer than the bound,
// and the file name made of it must be a plain name that stays in the gzip file's folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "archive/gzip_header.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  pelisto::GzipHeader header;
  Require(pelisto::ParseGzipHeader(bytes, &header) == (size >= pelisto::kGzipHeaderSize));

  const std::string stored = pelisto::StoredNameFromBytes(bytes);
  Require(stored.size() <= pelisto::kMaxGzipStoredName);
  Require(stored.find('\0') == std::string::npos);
  Require(stored.empty() || bytes.find(stored) != std::string_view::npos);

  // The last bytes also stand in for a configuration's default name.
  const std::string_view fallback = bytes.substr(size - std::min<std::size_t>(size, 24));
  const std::string name = pelisto::GzipOutputFileName(stored, fallback);
  Require(name.find_first_of("\\/:") == std::string::npos);
  Require(name != "." && name != "..");
  if (!name.empty()) {
    const std::string path = pelisto::GzipOutputPath("D:\\dl\\pkg.gz", name);
    Require(path.compare(0, 6, "D:\\dl\\") == 0 && path.size() == 6 + name.size());
  }
  return 0;
}
