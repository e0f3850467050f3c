// `pelisto reg query KEY [VALUE]`: prints a key of the image's registry the way the system's
// `reg query` does.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace pelisto {

// Prints the key's full name, then its values (or only `value_name`; an empty name is the
// default value), one "    NAME    TYPE    DATA" line each, then the full names of its subkeys.
// Returns 0 when found, 1 when the key or value does not exist or cannot be read (a message on
// `err`), 2 when `key_path` names no root key.
int RegQuery(const std::string& key_path, const std::optional<std::string>& value_name,
             std::FILE* out, std::FILE* err);

// The data of a value as `reg query` shows it: texts as they are, REG_DWORD as 0x hex,
// other types as upper-case hex bytes; REG_MULTI_SZ items joined by "\0".
std::string RegDataText(unsigned type, const std::string& data);
std::string RegTypeName(unsigned type);

}  // namespace pelisto
