// How the host prints values: one line per event or result, as text or as JSON.
#pragma once

#include <string>
#include <vector>

#include "os/com/variant.h"

namespace pelisto {

// A JSON string literal of `utf8`, quotes included.
std::string JsonString(const std::string& utf8);
// A value for JSON: texts as strings (converted to UTF-8), numbers and BOOLs as numbers
// (TRUE as 1), empty as null.
std::string JsonValue(const os::Variant& value);
// A value for a text line: numbers and BOOLs as decimal (TRUE as 1); texts in UTF-8, bare
// unless they are empty or hold blanks, quotes or control characters (then as in JSON).
std::string TextValue(const os::Variant& value);

// `event NAME ARG...` / {"event":"NAME","args":[...]}
std::string EventLine(const std::string& name, const std::vector<os::Variant>& args, bool json);
// `result: VALUE` ("none" for a method without a result) / {"result":VALUE}
std::string ResultLine(const os::Variant& value, bool json);

}  // namespace pelisto
