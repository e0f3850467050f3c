#include "archive/gzip_header.h"

#include "os/image/win_path.h"

namespace pelisto {
namespace {

std::uint8_t Byte(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint8_t>(bytes[at]);
}

// The part after the last folder separator or drive colon.
std::string_view LastComponent(std::string_view name) {
  const std::size_t cut = name.find_last_of("\\/:");
  return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

}  // namespace

bool ParseGzipHeader(std::string_view bytes, GzipHeader* header) {
  if (bytes.size() < kGzipHeaderSize) return false;
  GzipHeader h;
  h.id1 = Byte(bytes, 0);
  h.id2 = Byte(bytes, 1);
  h.method = Byte(bytes, 2);
  h.flags = Byte(bytes, 3);
  h.mtime = static_cast<std::uint32_t>(Byte(bytes, 4)) | static_cast<std::uint32_t>(Byte(bytes, 5)) << 8 |
            static_cast<std::uint32_t>(Byte(bytes, 6)) << 16 | static_cast<std::uint32_t>(Byte(bytes, 7)) << 24;
  h.extra_flags = Byte(bytes, 8);
  h.os = Byte(bytes, 9);
  *header = h;
  return true;
}

bool HasGzipMagic(const GzipHeader& header) { return header.id1 == kGzipId1 && header.id2 == kGzipId2; }

std::string StoredNameFromBytes(std::string_view bytes) {
  GzipHeader header;
  if (!ParseGzipHeader(bytes, &header) || (header.flags & kGzipFlagName) == 0) return {};
  std::size_t at = kGzipHeaderSize;
  if (header.flags & kGzipFlagExtra) {
    if (bytes.size() - at < 2) return {};
    const std::size_t extra = Byte(bytes, at) | static_cast<std::size_t>(Byte(bytes, at + 1)) << 8;
    at += 2;
    if (bytes.size() - at < extra) return {};
    at += extra;
  }
  const std::string_view rest = bytes.substr(at, kMaxGzipStoredName + 1);
  const std::size_t end = rest.find('\0');
  if (end == std::string_view::npos) return {};
  return std::string(rest.substr(0, end));
}

std::string GzipOutputFileName(std::string_view stored_name, std::string_view default_name) {
  for (std::string_view candidate : {stored_name, default_name}) {
    const std::string_view name = LastComponent(candidate);
    if (os::IsPlainFileName(name)) return std::string(name);
  }
  return {};
}

std::string GzipOutputPath(const std::string& gzip_path, const std::string& file_name) {
  const std::size_t slash = gzip_path.rfind('\\');
  if (slash == std::string::npos) return file_name;
  return gzip_path.substr(0, slash) + "\\" + file_name;
}

}  // namespace pelisto
