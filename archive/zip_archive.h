// One open zip archive read through minizip's 64-bit calls: the central directory walked
// member by member, each member's record and its data.
//
// The archive's bytes come from outside and are not trusted: nothing here allocates by a size
// the archive declares (names and comments are read into fixed buffers, data in the caller's
// blocks), every walk ends at the end of the central directory or at the first unreadable
// record, and a member's data never yields more than its declared size.
//
// Not thread-safe: one thread at a time per object. The destructor closes what is open.
#pragma once

#include <minizip/ioapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "archive/zip64_member_reader.h"

namespace pelisto {

// A member's central-directory record as stored (the name's separators untouched).
struct ZipEntry {
  std::string name;             // at most kNameLimit bytes of the stored name
  std::size_t stored_name_size = 0;  // the stored name's whole length
  std::string comment;          // at most kCommentLimit bytes
  std::uint32_t version_made_by = 0;
  std::uint32_t version_needed = 0;
  std::uint32_t flags = 0;
  std::uint32_t compression_method = 0;
  std::uint32_t dos_date = 0;   // date in the high 16 bits, time in the low 16 bits
  std::uint32_t crc = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint32_t internal_attributes = 0;
  std::uint32_t external_attributes = 0;
};

class ZipArchive {
 public:
  static constexpr std::size_t kNameLimit = 260;
  static constexpr std::size_t kCommentLimit = 255;
  // Bit 11 of the flags: the name and comment are UTF-8.
  static constexpr std::uint32_t kUtf8Flag = 0x800;
  // The methods this reader decodes.
  static constexpr std::uint32_t kMethodStored = 0;
  static constexpr std::uint32_t kMethodDeflated = 8;

  // What reading a member's data ended with.
  enum class ReadEnd { kComplete, kReadError, kCrcMismatch };

  ZipArchive() = default;
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Opens the archive `name` through `io` (minizip's file functions; `name` is handed to its
  // open function). An archive already open is closed first. False when it cannot be read as
  // a zip archive; afterwards the current member is the first.
  bool Open(const std::string& name, const zlib_filefunc64_def& io);
  // Opens an archive held in memory; `bytes` must outlive the archive.
  bool OpenMemory(std::string_view bytes);
  bool OpenMemory(std::string&&) = delete;  // a temporary would not outlive the archive
  // Closes an open member and the archive. True when the archive's close succeeded; false
  // when nothing was open.
  bool Close();
  // True also for an archive without members (EntryCount() 0).
  bool IsOpen() const { return file_ != nullptr || empty_; }

  // Members the central directory declares (0 without archive).
  std::uint64_t EntryCount() const;
  // Moves to the first / next member; false at the end of the directory or on a record that
  // cannot be read. An open member is closed first.
  bool First();
  bool Next();
  // The current member's record; false when it cannot be read.
  bool Info(ZipEntry* entry) const;

  // Opens the current member's data; false for a method this reader cannot decode, an
  // encrypted member it cannot read, or a local header that does not match.
  bool OpenData();
  // Up to `size` bytes of the open member's data: the count, 0 at its end, -1 on a read error.
  int Read(void* buffer, unsigned size);
  // Closes the open member: kComplete only when exactly the declared size was read and the
  // CRC matches; kCrcMismatch when the CRC differs; kReadError otherwise (also when the data
  // was not read to its end).
  ReadEnd CloseData();

 private:
  static constexpr std::size_t kExtraLimit = 0xFFFF;

  static bool IsEmptyArchive(const void* name, const zlib_filefunc64_def& io);
  static bool ApplyZip64Sizes(const unsigned char* extra, std::size_t size, ZipEntry* entry);
  bool ReadInfo(ZipEntry* entry, bool* sizes_from_zip64) const;

  void* file_ = nullptr;  // unzFile
  bool empty_ = false;    // an archive of nothing but its end record
  bool data_open_ = false;
  std::uint64_t data_expected_ = 0;
  std::uint64_t data_read_ = 0;
  bool own_check_ = false;  // sizes from the zip64 field: the size and CRC are checked here
  std::uint32_t crc_wanted_ = 0;
  std::uint32_t crc_ = 0;
  mutable std::unique_ptr<unsigned char[]> extra_;  // the current record's extra field
  std::string name_;
  zlib_filefunc64_def io_{};
  std::string_view memory_;
  Zip64MemberReader zip64_data_;
};

}  // namespace pelisto
