#include "host/output_format.h"

#include <cstdio>

#include "os/base/text.h"

namespace pelisto {
namespace {

os::LONG NumberOf(const os::Variant& value) {
  if (value.vt() == os::VT_BOOL) return value.boolVal() != os::VARIANT_FALSE ? 1 : 0;
  return value.lVal();
}

bool NeedsQuotes(const std::string& text) {
  if (text.empty()) return true;
  for (unsigned char c : text) {
    if (c <= ' ' || c == '"' || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::string JsonValue(const os::Variant& value) {
  switch (value.vt()) {
    case os::VT_BSTR: return JsonString(os::AnsiToUtf8(value.bstrVal()));
    case os::VT_I4:
    case os::VT_BOOL: return std::to_string(NumberOf(value));
    default: return "null";
  }
}

std::string TextValue(const os::Variant& value) {
  switch (value.vt()) {
    case os::VT_BSTR: {
      std::string text = os::AnsiToUtf8(value.bstrVal());
      return NeedsQuotes(text) ? JsonString(text) : text;
    }
    case os::VT_I4:
    case os::VT_BOOL: return std::to_string(NumberOf(value));
    default: return "none";
  }
}

std::string EventLine(const std::string& name, const std::vector<os::Variant>& args, bool json) {
  std::string line;
  if (json) {
    line = "{\"event\":" + JsonString(name) + ",\"args\":[";
    for (size_t i = 0; i < args.size(); ++i) line += (i ? "," : "") + JsonValue(args[i]);
    return line + "]}";
  }
  line = "event " + name;
  for (const os::Variant& arg : args) line += " " + TextValue(arg);
  return line;
}

std::string ResultLine(const os::Variant& value, bool json) {
  if (json) return "{\"result\":" + JsonValue(value) + "}";
  return "result: " + TextValue(value);
}

}  // namespace pelisto
