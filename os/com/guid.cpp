#include "os/com/guid.h"

#include <cstdio>
#include <cstring>

namespace os {

bool GUID::operator==(const GUID& o) const {
  return Data1 == o.Data1 && Data2 == o.Data2 && Data3 == o.Data3 &&
         std::memcmp(Data4, o.Data4, sizeof Data4) == 0;
}

bool GUID::operator<(const GUID& o) const {
  if (Data1 != o.Data1) return Data1 < o.Data1;
  if (Data2 != o.Data2) return Data2 < o.Data2;
  if (Data3 != o.Data3) return Data3 < o.Data3;
  return std::memcmp(Data4, o.Data4, sizeof Data4) < 0;
}

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

bool GuidFromString(std::string_view text, GUID* out) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::uint8_t bytes[16];
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    int hi = hex(text[i]), lo = hex(text[i + 1]);
    if (hi < 0 || lo < 0 || n >= 16) return false;
    bytes[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
    i += 2;
  }
  if (n != 16) return false;
  GUID g;
  g.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
  g.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(g.Data4, bytes + 8, 8);
  *out = g;
  return true;
}

}  // namespace os
