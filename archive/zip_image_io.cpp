#include "archive/zip_image_io.h"

#include <cstdint>
#include <cstdio>

#include "os/fs/file_api.h"

namespace pelisto {
namespace {

// minizip reads headers a few bytes at a time: a buffered stream keeps that cheap.
struct Stream {
  std::FILE* file;
  bool short_read = false;  // the last read came up short
};

Stream* AsStream(voidpf stream) { return static_cast<Stream*>(stream); }

voidpf Open(voidpf, const void* name, int mode) {
  if (name == nullptr) return nullptr;
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  std::FILE* file = os::FileOpen(static_cast<const char*>(name), "rb");
  return file == nullptr ? nullptr : new Stream{file};
}

uLong Read(voidpf, voidpf stream, void* buffer, uLong size) {
  Stream* s = AsStream(stream);
  const uLong n = static_cast<uLong>(std::fread(buffer, 1, size, s->file));
  s->short_read = n < size;
  return n;
}

uLong Write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T Tell(voidpf, voidpf stream) {
  const long at = std::ftell(AsStream(stream)->file);
  return at < 0 ? static_cast<ZPOS64_T>(-1) : static_cast<ZPOS64_T>(at);
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  int whence;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: whence = SEEK_SET; break;
    case ZLIB_FILEFUNC_SEEK_CUR: whence = SEEK_CUR; break;
    case ZLIB_FILEFUNC_SEEK_END: whence = SEEK_END; break;
    default: return -1;
  }
  // minizip moves back within a record by a wrapped-around (negative) offset.
  const auto distance = static_cast<long>(static_cast<std::int64_t>(offset));
  if (whence == SEEK_SET && distance < 0) return -1;
  return std::fseek(AsStream(stream)->file, distance, whence) == 0 ? 0 : -1;
}

int Close(voidpf, voidpf stream) {
  Stream* s = AsStream(stream);
  const int rc = std::fclose(s->file);
  delete s;
  return rc;
}

// A last read that came up short counts as an error: minizip otherwise takes a header cut off
// by the end of the file for one full of zeros.
int Error(voidpf, voidpf stream) {
  Stream* s = AsStream(stream);
  return s->short_read || std::ferror(s->file) != 0 ? 1 : 0;
}

zlib_filefunc64_def MakeFunctions() {
  zlib_filefunc64_def f{};
  f.zopen64_file = Open;
  f.zread_file = Read;
  f.zwrite_file = Write;
  f.ztell64_file = Tell;
  f.zseek64_file = Seek;
  f.zclose_file = Close;
  f.zerror_file = Error;
  f.opaque = nullptr;
  return f;
}

}  // namespace

const zlib_filefunc64_def& ImageZipFunctions() {
  static const zlib_filefunc64_def functions = MakeFunctions();
  return functions;
}

}  // namespace pelisto
