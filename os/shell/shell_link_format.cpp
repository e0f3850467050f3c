#include "os/shell/shell_link_format.h"

#include <cstdint>

namespace os {
namespace {

constexpr DWORD kHeaderSize = 0x4C;
// {00021401-0000-0000-C000-000000000046}, as the file stores a GUID.
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// LinkFlags.
constexpr DWORD kHasLinkInfo = 0x00000002;
constexpr DWORD kHasName = 0x00000004;
constexpr DWORD kHasArguments = 0x00000020;
constexpr DWORD kHasIconLocation = 0x00000040;
constexpr DWORD kIsUnicode = 0x00000080;

// LinkInfo.
constexpr DWORD kVolumeIdAndLocalBasePath = 0x00000001;
constexpr DWORD kLinkInfoHeaderSize = 0x1C;
constexpr DWORD kLinkInfoHeaderSizeUnicode = 0x24;
constexpr DWORD kVolumeIdHeaderSize = 0x10;

void PutU16(std::string* out, std::uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutFileTime(std::string* out, const FILETIME& t) {
  PutU32(out, t.dwLowDateTime);
  PutU32(out, t.dwHighDateTime);
}

void PutWide(std::string* out, const std::u16string& text) {
  for (char16_t c : text) PutU16(out, static_cast<std::uint16_t>(c));
}

bool IsPlainAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string LinkInfo(const ShellLinkData& link) {
  const bool unicode = !IsPlainAscii(link.local_base_path);
  const DWORD header_size = unicode ? kLinkInfoHeaderSizeUnicode : kLinkInfoHeaderSize;

  std::string volume;
  PutU32(&volume, 0);  // size, set below
  PutU32(&volume, link.drive_type);
  PutU32(&volume, link.drive_serial);
  PutU32(&volume, kVolumeIdHeaderSize);  // the label follows the header
  volume.push_back('\0');                // an empty label
  const DWORD volume_size = static_cast<DWORD>(volume.size());
  for (int i = 0; i < 4; ++i) volume[i] = static_cast<char>((volume_size >> (8 * i)) & 0xFF);

  std::string body = volume;
  const DWORD volume_offset = header_size;
  const DWORD base_offset = volume_offset + static_cast<DWORD>(body.size());
  body += link.local_base_path;
  body.push_back('\0');
  const DWORD suffix_offset = header_size + static_cast<DWORD>(body.size());
  body.push_back('\0');  // no common path suffix
  DWORD base_offset_unicode = 0, suffix_offset_unicode = 0;
  if (unicode) {
    base_offset_unicode = header_size + static_cast<DWORD>(body.size());
    PutWide(&body, link.local_base_path_wide);
    PutU16(&body, 0);
    suffix_offset_unicode = header_size + static_cast<DWORD>(body.size());
    PutU16(&body, 0);
  }

  std::string info;
  PutU32(&info, header_size + static_cast<DWORD>(body.size()));
  PutU32(&info, header_size);
  PutU32(&info, kVolumeIdAndLocalBasePath);
  PutU32(&info, volume_offset);
  PutU32(&info, base_offset);
  PutU32(&info, 0);  // no network location
  PutU32(&info, suffix_offset);
  if (unicode) {
    PutU32(&info, base_offset_unicode);
    PutU32(&info, suffix_offset_unicode);
  }
  return info + body;
}

}  // namespace

bool EncodeShellLink(const ShellLinkData& link, std::string* bytes) {
  if (link.local_base_path.empty() || link.local_base_path.find('\0') != std::string::npos ||
      link.local_base_path_wide.find(u'\0') != std::u16string::npos) {
    return false;
  }
  for (const std::u16string* s :
       {&link.description, &link.arguments, &link.icon_location, &link.local_base_path_wide}) {
    if (s->size() > kShellLinkMaxString) return false;
  }

  DWORD flags = kHasLinkInfo | kIsUnicode;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.icon_location.empty()) flags |= kHasIconLocation;

  std::string out;
  PutU32(&out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kLinkClsid), sizeof kLinkClsid);
  PutU32(&out, flags);
  PutU32(&out, link.file_attributes);
  PutFileTime(&out, link.creation_time);
  PutFileTime(&out, link.access_time);
  PutFileTime(&out, link.write_time);
  PutU32(&out, link.file_size);
  PutU32(&out, static_cast<std::uint32_t>(link.icon_index));
  PutU32(&out, link.show_command);
  PutU16(&out, 0);  // no hot key
  PutU16(&out, 0);  // reserved
  PutU32(&out, 0);
  PutU32(&out, 0);

  out += LinkInfo(link);
  // The string data, in the order the format fixes.
  for (const std::u16string* s : {&link.description, &link.arguments, &link.icon_location}) {
    if (s->empty()) continue;
    PutU16(&out, static_cast<std::uint16_t>(s->size()));
    PutWide(&out, *s);
  }
  PutU32(&out, 0);  // terminal block
  *bytes = std::move(out);
  return true;
}

}  // namespace os
