// GUIDs (class, interface and folder identifiers) and their registry text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace os {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  bool operator==(const GUID& o) const;
  bool operator!=(const GUID& o) const { return !(*this == o); }
  bool operator<(const GUID& o) const;
};
using IID = GUID;
using CLSID = GUID;

// "{88D969C0-F192-11D4-A65F-0040963251E5}": 38 characters, upper-case hexadecimal.
std::string GuidToString(const GUID& g);
// Accepts the registry form with or without braces, any case. False on anything else.
bool GuidFromString(std::string_view text, GUID* out);

}  // namespace os
