#include "archive/gunzip.h"

#include <zlib.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "archive/zlib_wrapper.h"
#include "download/output_file.h"
#include "os/fs/file_api.h"

namespace pelisto {
namespace {

// zlib reads the compressed file in this size and inflates straight into the caller's
// block when the block is larger than its own buffer, so the decompressed bytes are copied
// only once, into the disk write. Measured by bench-gunzip.
constexpr unsigned kInputBuffer = 128 * 1024;
constexpr unsigned kOutputBlock = 256 * 1024;

// Up to `limit` bytes from the start of `path`; false when it cannot be opened.
bool ReadPrefix(const std::string& path, std::size_t limit, std::string* bytes) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(os::FileOpen(path, "rb"), &std::fclose);
  if (!file) return false;
  bytes->resize(limit);
  const std::size_t got = std::fread(bytes->data(), 1, limit, file.get());
  bytes->resize(got);
  return true;
}

// The folder part of a Windows-form path (everything before its last "\"), with the "\"
// of a drive's root kept; empty when there is none.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return {};
  std::string folder = path.substr(0, slash);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  return folder;
}

// A file in the way that a rename could not replace: found before any work is done.
bool Replaceable(const std::string& destination) {
  const os::DWORD attributes = os::GetFileAttributesA(destination);
  if (attributes == os::INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & (os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_READONLY)) == 0;
}

// Decodes `in` into `out`: kGunzipOk at a clean end of the last member.
int Stream(ZlibWrapper& in, OutputFile& out, const std::atomic<bool>* stop) {
  std::vector<char> block(kOutputBlock);
  for (bool first = true;; first = false) {
    if (stop != nullptr && stop->load()) return kGunzipStopped;
    const int got = in.ReadSome(block.data(), kOutputBlock);
    const int error = in.ErrorNumber();
    if (got < 0 || error != Z_OK) return error != Z_OK ? error : Z_ERRNO;
    // zlib hands out anything that does not start as gzip unchanged; that is no gzip file.
    if (first && in.IsDirect()) return Z_DATA_ERROR;
    if (got == 0) return kGunzipOk;
    if (!out.Write(block.data(), static_cast<std::size_t>(got))) return kGunzipWriteFailed;
  }
}

}  // namespace

int ReadGzipHeader(const std::string& path, GzipHeader* header) {
  std::string bytes;
  if (!ReadPrefix(path, kGzipHeaderSize, &bytes)) return -1;
  return ParseGzipHeader(bytes, header) ? 0 : -1;
}

bool IsGzipFile(const std::string& path) {
  GzipHeader header;
  return ReadGzipHeader(path, &header) == 0 && HasGzipMagic(header);
}

std::string GetGzipStoredName(const std::string& path) {
  GzipHeader header;
  if (ReadGzipHeader(path, &header) != 0 || (header.flags & kGzipFlagName) == 0) return {};
  std::string bytes;
  if (!ReadPrefix(path, kGzipNameWindow, &bytes)) return {};
  return StoredNameFromBytes(bytes);
}

int GunzipFile(const std::string& source, const std::string& destination, const std::atomic<bool>* stop) {
  ZlibWrapper in(source, ZlibWrapper::kReadMode);
  if (!in.IsOpen()) return kGunzipOpenFailed;
  in.SetBufferSize(kInputBuffer);

  const std::string folder = FolderOf(destination);
  if (folder.empty() || !Replaceable(destination)) return kGunzipOpenFailed;
  std::string temp;
  if (os::GetTempFileNameA(folder, "gzt", 0, &temp) == 0) return kGunzipOpenFailed;

  OutputFile out;
  int result = out.Open(temp) ? Stream(in, out, stop) : kGunzipOpenFailed;
  in.Close();
  if (!out.Close() && result == kGunzipOk) result = kGunzipWriteFailed;
  if (result == kGunzipOk &&
      !os::MoveFileExA(temp, destination, os::MOVEFILE_REPLACE_EXISTING)) {
    result = kGunzipOpenFailed;
  }
  if (result != kGunzipOk) os::DeleteFileA(temp);
  return result;
}

}  // namespace pelisto
