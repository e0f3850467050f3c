// Zip archives made in memory for the tests, well-formed or broken on purpose: each field that
// a reader must not trust can be set to a lie.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelisto::testing {

inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;
// Version made by: MS-DOS attributes only, or a Unix mode in the high 16 bits.
inline constexpr std::uint16_t kMadeByDos = 20;
inline constexpr std::uint16_t kMadeByUnix = (3 << 8) | 30;

// DOS date (high 16 bits) and time (low 16 bits).
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

struct ZipMember {
  std::string name{};
  std::string data{};
  std::uint16_t method = kDeflated;  // another method stores `data` as it is
  std::uint32_t dos_date = DosDateTime(2021, 6, 15, 10, 20, 30);
  std::uint32_t external = 0;         // 0x10: a folder
  std::uint16_t made_by = kMadeByDos;
  std::uint16_t flags = 0;
  bool data_descriptor = false;       // sizes and CRC after the data (flag bit 3)
  bool bad_crc = false;               // a CRC that does not match the data
  std::optional<std::uint64_t> declared_size{};        // the uncompressed size claimed
  std::optional<std::uint64_t> declared_compressed{};  // the compressed size claimed
  std::string comment{};
};

struct ZipLayout {
  std::string prefix{};          // bytes in front (a program the archive is appended to)
  bool zip64 = false;          // zip64 extra fields and end records
  std::int64_t cd_offset_shift = 0;  // added to the central directory's recorded offset
  std::optional<std::uint64_t> declared_entries{};  // the entry count the end record claims
};

std::string BuildZip(const std::vector<ZipMember>& members, const ZipLayout& layout = {});

// A member that is a folder (name ending in "/", attribute 0x10).
ZipMember Folder(const std::string& name);
// A Unix symbolic link to `target`.
ZipMember Symlink(const std::string& name, const std::string& target);

}  // namespace pelisto::testing
