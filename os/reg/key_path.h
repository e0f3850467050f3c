// Key path texts as the registry calls take them: the rules for separators and name lengths,
// and the names of the predefined root keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/base/types.h"

namespace os::reg {

// Longest key name (one level) and value name, counted in UTF-16 units as Windows counts them.
inline constexpr std::size_t kMaxKeyNameChars = 255;
inline constexpr std::size_t kMaxValueNameChars = 16383;

// Splits a subkey text into its levels. A null or empty text gives no levels. Trailing
// separators are ignored; a leading separator gives ERROR_BAD_PATHNAME; an empty level between
// two names ("A\\B") and a level longer than kMaxKeyNameChars give ERROR_INVALID_PARAMETER.
// `levels` is changed only on success.
DWORD SplitSubKey(const char* subkey, std::vector<std::string>* levels);

// True when `name` is longer than Windows allows for a value name.
bool ValueNameTooLong(std::string_view name);

// The name of the predefined root key numbered `root` ("HKEY_LOCAL_MACHINE"), or null.
const char* RootName(std::uint32_t root);
// True for the predefined keys the image keeps (HKCR, HKCU, HKLM, HKU, HKCC).
bool IsKnownRoot(std::uint32_t root);
// Every root the image keeps, in number order.
const std::vector<std::uint32_t>& KnownRoots();

// The levels joined with "\" (the form kept for the integrity rule and for messages).
std::string JoinLevels(const std::vector<std::string>& levels);

}  // namespace os::reg
