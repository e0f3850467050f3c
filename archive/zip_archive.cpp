#include "archive/zip_archive.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace pelisto {
namespace {

unzFile Handle(void* file) { return static_cast<unzFile>(file); }

// minizip's file functions over a buffer; the opaque value is the buffer, each open stream
// a cursor of its own (the zip64 reader opens a second one).
struct MemoryCursor {
  std::string_view bytes;
  std::uint64_t position = 0;
  bool short_read = false;  // the last read came up short
};

voidpf MemoryOpen(voidpf opaque, const void*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  return new MemoryCursor{*static_cast<std::string_view*>(opaque)};
}

uLong MemoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* cursor = static_cast<MemoryCursor*>(stream);
  const std::uint64_t left =
      cursor->position < cursor->bytes.size() ? cursor->bytes.size() - cursor->position : 0;
  const uLong n = static_cast<uLong>(std::min<std::uint64_t>(left, size));
  std::memcpy(buffer, cursor->bytes.data() + cursor->position, n);
  cursor->position += n;
  cursor->short_read = n < size;
  return n;
}

uLong MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T MemoryTell(voidpf, voidpf stream) { return static_cast<MemoryCursor*>(stream)->position; }

long MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* cursor = static_cast<MemoryCursor*>(stream);
  const std::uint64_t size = cursor->bytes.size();
  std::uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = cursor->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = size; break;
    default: return -1;
  }
  // minizip moves back within a record by a wrapped-around (negative) offset.
  const std::uint64_t target = base + offset;
  if (target > size) return -1;
  cursor->position = target;
  return 0;
}

int MemoryClose(voidpf, voidpf stream) {
  delete static_cast<MemoryCursor*>(stream);
  return 0;
}

// A last read that came up short counts as an error: minizip otherwise takes a header cut off
// by the end of the file for one full of zeros.
int MemoryError(voidpf, voidpf stream) { return static_cast<MemoryCursor*>(stream)->short_read ? 1 : 0; }

}  // namespace

ZipArchive::~ZipArchive() { Close(); }

bool ZipArchive::Open(const std::string& name, const zlib_filefunc64_def& io) {
  Close();
  name_ = name;
  io_ = io;
  zlib_filefunc64_def functions = io_;
  file_ = unzOpen2_64(name_.c_str(), &functions);
  if (file_ == nullptr) empty_ = IsEmptyArchive(name_.c_str(), io_);
  return IsOpen();
}

// minizip takes an end record at the file's very first byte for "not found", so it refuses
// the one archive that has nothing else: no members, no prefix.
bool ZipArchive::IsEmptyArchive(const void* name, const zlib_filefunc64_def& io) {
  constexpr std::size_t kEndRecord = 22;
  voidpf stream = io.zopen64_file(io.opaque, name, ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
  if (stream == nullptr) return false;
  unsigned char record[kEndRecord];
  bool empty = io.zread_file(io.opaque, stream, record, kEndRecord) == kEndRecord;
  std::uint64_t size = 0;
  if (empty && io.zseek64_file(io.opaque, stream, 0, ZLIB_FILEFUNC_SEEK_END) == 0) {
    size = io.ztell64_file(io.opaque, stream);
  } else {
    empty = false;
  }
  io.zclose_file(io.opaque, stream);
  if (!empty) return false;
  auto u16 = [&](std::size_t at) { return static_cast<unsigned>(record[at] | (record[at + 1] << 8)); };
  static const unsigned char kSignature[4] = {'P', 'K', 5, 6};
  if (std::memcmp(record, kSignature, 4) != 0) return false;
  for (std::size_t at = 4; at < 20; ++at) {
    if (record[at] != 0) return false;  // disks, counts, directory size and offset all 0
  }
  return size == kEndRecord + u16(20);
}

bool ZipArchive::OpenMemory(std::string_view bytes) {
  memory_ = bytes;
  zlib_filefunc64_def functions{};
  functions.zopen64_file = MemoryOpen;
  functions.zread_file = MemoryRead;
  functions.zwrite_file = MemoryWrite;
  functions.ztell64_file = MemoryTell;
  functions.zseek64_file = MemorySeek;
  functions.zclose_file = MemoryClose;
  functions.zerror_file = MemoryError;
  functions.opaque = &memory_;
  return Open("", functions);
}

bool ZipArchive::Close() {
  if (empty_) {
    empty_ = false;
    return true;
  }
  if (file_ == nullptr) return false;
  if (data_open_) CloseData();
  const bool closed = unzClose(Handle(file_)) == UNZ_OK;
  file_ = nullptr;
  return closed;
}

std::uint64_t ZipArchive::EntryCount() const {
  if (file_ == nullptr) return 0;
  unz_global_info64 info;
  if (unzGetGlobalInfo64(Handle(file_), &info) != UNZ_OK) return 0;
  return info.number_entry;
}

bool ZipArchive::First() {
  if (file_ == nullptr) return false;
  if (data_open_) CloseData();
  // minizip stops a walk at the declared count only once it is past the first member: an
  // archive that declares none would still offer what its directory holds.
  if (EntryCount() == 0) return false;
  return unzGoToFirstFile(Handle(file_)) == UNZ_OK;
}

bool ZipArchive::Next() {
  if (file_ == nullptr) return false;
  if (data_open_) CloseData();
  return unzGoToNextFile(Handle(file_)) == UNZ_OK;
}

bool ZipArchive::Info(ZipEntry* entry) const {
  bool sizes_from_zip64 = false;
  return ReadInfo(entry, &sizes_from_zip64);
}

bool ZipArchive::ReadInfo(ZipEntry* entry, bool* sizes_from_zip64) const {
  if (file_ == nullptr) return false;
  unz_file_info64 info;
  // One byte more than minizip fills: it leaves a name that fills the buffer unterminated.
  char name[kNameLimit + 1] = {};
  char comment[kCommentLimit + 1] = {};
  if (!extra_) extra_ = std::make_unique<unsigned char[]>(kExtraLimit);
  if (unzGetCurrentFileInfo64(Handle(file_), &info, name, kNameLimit, extra_.get(), kExtraLimit,
                              comment, kCommentLimit) != UNZ_OK) {
    return false;
  }
  entry->stored_name_size = info.size_filename;
  entry->name.assign(name, std::min<std::size_t>(info.size_filename, kNameLimit));
  entry->comment.assign(comment, std::min<std::size_t>(info.size_file_comment, kCommentLimit));
  entry->version_made_by = static_cast<std::uint32_t>(info.version);
  entry->version_needed = static_cast<std::uint32_t>(info.version_needed);
  entry->flags = static_cast<std::uint32_t>(info.flag);
  entry->compression_method = static_cast<std::uint32_t>(info.compression_method);
  entry->dos_date = static_cast<std::uint32_t>(info.dosDate);
  entry->crc = static_cast<std::uint32_t>(info.crc);
  entry->compressed_size = info.compressed_size;
  entry->uncompressed_size = info.uncompressed_size;
  entry->internal_attributes = static_cast<std::uint32_t>(info.internal_fa);
  entry->external_attributes = static_cast<std::uint32_t>(info.external_fa);
  *sizes_from_zip64 = ApplyZip64Sizes(extra_.get(), std::min<std::size_t>(info.size_file_extra, kExtraLimit),
                                      entry);
  return true;
}

// This build of minizip never applies the zip64 extra field of a central-directory record
// (it compares the 32-bit "use zip64" value with a 64-bit all-ones), so its sizes stay
// 0xFFFFFFFF. The real ones are read here; true when they were.
bool ZipArchive::ApplyZip64Sizes(const unsigned char* extra, std::size_t size, ZipEntry* entry) {
  constexpr std::uint64_t kUseZip64 = 0xFFFFFFFFu;
  const bool want_size = entry->uncompressed_size == kUseZip64;
  const bool want_compressed = entry->compressed_size == kUseZip64;
  if (!want_size && !want_compressed) return false;
  auto u16 = [&](std::size_t at) { return static_cast<std::size_t>(extra[at] | (extra[at + 1] << 8)); };
  auto u64 = [&](std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | extra[at + static_cast<std::size_t>(i)];
    return v;
  };
  for (std::size_t at = 0; at + 4 <= size;) {
    const std::size_t id = u16(at);
    const std::size_t length = u16(at + 2);
    const std::size_t data = at + 4;
    if (data + length > size) return false;
    if (id == 0x0001) {
      std::size_t field = data;
      bool applied = false;
      if (want_size && field + 8 <= data + length) {
        entry->uncompressed_size = u64(field);
        field += 8;
        applied = true;
      }
      if (want_compressed && field + 8 <= data + length) {
        entry->compressed_size = u64(field);
        applied = true;
      }
      return applied;
    }
    at = data + length;
  }
  return false;
}

bool ZipArchive::OpenData() {
  if (file_ == nullptr) return false;
  if (data_open_) CloseData();
  ZipEntry entry;
  bool sizes_from_zip64 = false;
  if (!ReadInfo(&entry, &sizes_from_zip64)) return false;
  // minizip passes other methods' bytes through as if they were stored.
  if (entry.compression_method != kMethodStored && entry.compression_method != kMethodDeflated) {
    return false;
  }
  // minizip checks the local header and finds where the data starts.
  if (unzOpenCurrentFile(Handle(file_)) != UNZ_OK) return false;
  data_open_ = true;
  data_expected_ = entry.uncompressed_size;
  data_read_ = 0;
  own_check_ = sizes_from_zip64;
  crc_wanted_ = entry.crc;
  crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
  if (own_check_ &&
      !zip64_data_.Open(io_, name_, unzGetCurrentFileZStreamPos64(Handle(file_)),
                        entry.compressed_size, entry.compression_method)) {
    CloseData();
    return false;
  }
  return true;
}

int ZipArchive::Read(void* buffer, unsigned size) {
  if (!data_open_) return -1;
  if (own_check_) {
    // A stream that yields more than its size is cut there; the CRC then decides.
    if (data_read_ >= data_expected_) return 0;
    size = static_cast<unsigned>(std::min<std::uint64_t>(size, data_expected_ - data_read_));
  }
  const int n = own_check_ ? zip64_data_.Read(buffer, size)
                           : unzReadCurrentFile(Handle(file_), buffer, size);
  if (n < 0) return -1;
  data_read_ += static_cast<unsigned>(n);
  if (own_check_) {
    crc_ = static_cast<std::uint32_t>(crc32(crc_, static_cast<const Bytef*>(buffer), static_cast<uInt>(n)));
  }
  return n;
}

ZipArchive::ReadEnd ZipArchive::CloseData() {
  if (!data_open_) return ReadEnd::kReadError;
  data_open_ = false;
  const int rc = unzCloseCurrentFile(Handle(file_));
  if (own_check_) {
    zip64_data_.Close();
    if (data_read_ != data_expected_) return ReadEnd::kReadError;
    return crc_ == crc_wanted_ ? ReadEnd::kComplete : ReadEnd::kCrcMismatch;
  }
  if (rc == UNZ_CRCERROR) return ReadEnd::kCrcMismatch;
  // minizip checks the CRC only once the declared size was read: a stream that ends early
  // would pass unchecked.
  if (rc != UNZ_OK || data_read_ != data_expected_) return ReadEnd::kReadError;
  return ReadEnd::kComplete;
}

}  // namespace pelisto
