// The fixed gzip header, the name a gzip file may carry in it, and the rule that turns that
// name into the file name the decompressed content is written to. Pure functions over bytes
// already read: nothing here touches a file (archive/gunzip.h reads them from one), so the
// parsing can be fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelisto {

// The first 10 bytes of a gzip file, as they stand there.
struct GzipHeader {
  std::uint8_t id1 = 0;
  std::uint8_t id2 = 0;
  std::uint8_t method = 0;
  std::uint8_t flags = 0;
  std::uint32_t mtime = 0;  // little-endian in the file
  std::uint8_t extra_flags = 0;
  std::uint8_t os = 0;
};

inline constexpr std::size_t kGzipHeaderSize = 10;
inline constexpr std::uint8_t kGzipId1 = 0x1F;
inline constexpr std::uint8_t kGzipId2 = 0x8B;

inline constexpr std::uint8_t kGzipFlagText = 0x01;
inline constexpr std::uint8_t kGzipFlagHeaderCrc = 0x02;
inline constexpr std::uint8_t kGzipFlagExtra = 0x04;
inline constexpr std::uint8_t kGzipFlagName = 0x08;
inline constexpr std::uint8_t kGzipFlagComment = 0x10;

// The longest stored name taken as one (a Windows path holds at most 259 characters); a
// longer one counts as none, so a name without its zero byte cannot make a reader read on.
inline constexpr std::size_t kMaxGzipStoredName = 259;
// Bytes from the start of a file that can hold the header, the largest extra field and the
// longest stored name with its zero byte: what a stored name is looked for in.
inline constexpr std::size_t kGzipNameWindow = kGzipHeaderSize + 2 + 0xFFFF + kMaxGzipStoredName + 1;

// Fills `header` from the first 10 bytes of `bytes`; false (`header` untouched) when there
// are fewer.
bool ParseGzipHeader(std::string_view bytes, GzipHeader* header);

// True for the two identification bytes of gzip (0x1F 0x8B); nothing else is looked at.
bool HasGzipMagic(const GzipHeader& header);

// The name stored in the header at the start of `bytes`: empty when the header is short,
// the name flag is clear, the extra field or the name runs past `bytes`, or the name is
// longer than kMaxGzipStoredName. The bytes are returned as they stand (no folder part is
// removed: see GzipOutputFileName).
std::string StoredNameFromBytes(std::string_view bytes);

// The file name a gzip file's content is written to: the stored name reduced to a plain
// file name (everything up to the last "\", "/" or ":" dropped), or, when that leaves
// nothing usable, `default_name` reduced the same way. A name is unusable when it is empty,
// consists of dots and blanks only ("." and ".." among them), or holds a control character
// or one of * ? " < > |. Empty when neither name is usable.
std::string GzipOutputFileName(std::string_view stored_name, std::string_view default_name);

// Where the content of the gzip file `gzip_path` goes: the folder of `gzip_path`
// (everything before its last "\"), "\" and `file_name`; `file_name` alone when the path
// has no "\".
std::string GzipOutputPath(const std::string& gzip_path, const std::string& file_name);

}  // namespace pelisto
