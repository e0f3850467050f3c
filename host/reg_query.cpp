#include "host/reg_query.h"

#include <cstring>
#include <vector>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/reg/registry.h"

namespace pelisto {
namespace {

constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";

std::string WithoutTrailingZeros(std::string text) {
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string ValueLine(const std::string& name, unsigned type, const std::string& data) {
  return "    " + (name.empty() ? std::string("(Default)") : os::AnsiToUtf8(name)) + "    " +
         RegTypeName(type) + "    " + RegDataText(type, data);
}

int Fail(std::FILE* err, os::LONG rc) {
  if (rc == os::ERROR_FILE_NOT_FOUND) {
    std::fprintf(err, "%s\n", kNotFound);
  } else {
    std::fprintf(err, "ERROR: %s\n", os::RegErrorText(rc).c_str());
  }
  return 1;
}

}  // namespace

std::string RegTypeName(unsigned type) {
  switch (type) {
    case os::REG_NONE: return "REG_NONE";
    case os::REG_SZ: return "REG_SZ";
    case os::REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case os::REG_BINARY: return "REG_BINARY";
    case os::REG_DWORD: return "REG_DWORD";
    case os::REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_UNKNOWN(" + std::to_string(type) + ")";
  }
}

std::string RegDataText(unsigned type, const std::string& data) {
  switch (type) {
    case os::REG_SZ:
    case os::REG_EXPAND_SZ: return os::AnsiToUtf8(WithoutTrailingZeros(data));
    case os::REG_MULTI_SZ: {
      std::string items = WithoutTrailingZeros(data), out;
      for (char c : items) out += c == '\0' ? std::string("\\0") : std::string(1, c);
      return os::AnsiToUtf8(out);
    }
    case os::REG_DWORD:
      if (data.size() == 4) {
        os::DWORD v;
        std::memcpy(&v, data.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", v);
        return buf;
      }
      [[fallthrough]];
    default: {
      std::string out;
      char buf[4];
      for (unsigned char c : data) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
      }
      return out;
    }
  }
}

int RegQuery(const std::string& key_path, const std::optional<std::string>& value_name,
             std::FILE* out, std::FILE* err) {
  os::HKEY root = nullptr;
  std::string subkey;
  if (!os::SplitKeyPath(key_path, &root, &subkey)) {
    std::fprintf(err, "ERROR: Invalid key name: %s\n", key_path.c_str());
    return 2;
  }
  while (!subkey.empty() && subkey.back() == '\\') subkey.pop_back();
  const std::string full = os::RootKeyName(root) + (subkey.empty() ? "" : "\\" + subkey);
  os::HKEY key = nullptr;
  os::LONG rc = os::RegOpenKeyExA(root, subkey.c_str(), 0, os::KEY_READ, &key);
  if (rc != os::ERROR_SUCCESS) return Fail(err, rc);

  std::vector<std::string> lines;
  if (value_name) {
    os::DWORD type = 0, size = 0;
    rc = os::RegQueryValueExA(key, value_name->c_str(), nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    if (rc == os::ERROR_SUCCESS) {
      rc = os::RegQueryValueExA(key, value_name->c_str(), nullptr, &type,
                                reinterpret_cast<os::BYTE*>(data.data()), &size);
      data.resize(size);
    }
    os::RegCloseKey(key);
    if (rc != os::ERROR_SUCCESS) return Fail(err, rc);
    lines.push_back(ValueLine(*value_name, type, data));
  } else {
    for (os::DWORD i = 0;; ++i) {
      std::string name, data;
      os::DWORD type = 0;
      rc = os::RegEnumValueA(key, i, &name, &type, &data);
      if (rc != os::ERROR_SUCCESS) break;
      lines.push_back(ValueLine(name, type, data));
    }
    std::vector<std::string> children;
    if (rc == static_cast<os::LONG>(os::ERROR_NO_MORE_ITEMS)) {
      for (os::DWORD i = 0;; ++i) {
        std::string name;
        rc = os::RegEnumKeyExA(key, i, &name);
        if (rc != os::ERROR_SUCCESS) break;
        children.push_back(full + "\\" + os::AnsiToUtf8(name));
      }
    }
    os::RegCloseKey(key);
    if (rc != static_cast<os::LONG>(os::ERROR_NO_MORE_ITEMS)) return Fail(err, rc);
    if (!children.empty()) lines.emplace_back();
    lines.insert(lines.end(), children.begin(), children.end());
  }
  std::fprintf(out, "\n%s\n", os::AnsiToUtf8(full).c_str());
  for (const std::string& line : lines) std::fprintf(out, "%s\n", line.c_str());
  return 0;
}

}  // namespace pelisto
