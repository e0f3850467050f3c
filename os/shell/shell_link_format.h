// The Shell Link binary format (".lnk" files): what a shell link object saves, so that the
// shell and other readers of the format find the link's target, description, arguments and
// icon. A pure encoder over values already gathered: nothing here touches a file.
//
// Layout written: the 76-byte header (size 0x4C, the link class identifier, the flags, the
// target's attributes, times and size, the icon index, the show command), a LinkInfo with a
// VolumeID (fixed drive, serial number, empty label) and the local base path (in the ANSI
// code page, and also in UTF-16 when the path is not plain ASCII), the string data that is
// set (description, arguments, icon location; counted UTF-16 strings), and the terminal
// block. No item ID list, no relative path, no working folder, no extra data blocks.
#pragma once

#include <cstddef>
#include <string>

#include "os/base/types.h"

namespace os {

inline constexpr DWORD SW_SHOWNORMAL = 1;
inline constexpr DWORD DRIVE_FIXED = 3;

// The counted strings of the format hold at most this many UTF-16 units.
inline constexpr std::size_t kShellLinkMaxString = 0xFFFF;

struct ShellLinkData {
  // The target's absolute Windows path, as the ANSI code page writes it and as UTF-16.
  std::string local_base_path;
  std::u16string local_base_path_wide;
  DWORD drive_type = DRIVE_FIXED;
  DWORD drive_serial = 0;

  // The target as it was when the link was made (all zero for a target that does not exist).
  DWORD file_attributes = 0;
  FILETIME creation_time;
  FILETIME access_time;
  FILETIME write_time;
  DWORD file_size = 0;

  // Empty strings are left out of the file (their flags stay clear).
  std::u16string description;
  std::u16string arguments;
  std::u16string icon_location;
  int icon_index = 0;
  DWORD show_command = SW_SHOWNORMAL;
};

// Stores the file's bytes in `*bytes`. False (and `*bytes` untouched) when the base path is
// empty or holds a zero character, or a string is longer than kShellLinkMaxString units.
bool EncodeShellLink(const ShellLinkData& link, std::string* bytes);

}  // namespace os
