#include "actions/registry_ops.h"

#include <climits>
#include <cstring>
#include <string_view>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/reg/key_helpers.h"

namespace pelisto {
namespace {

constexpr char kUpdateSuccess[] = " Registry Update Success.";
constexpr char kCreateSuccess[] = " Registry Create Success.";
constexpr char kWriteFailed[] = " Registry Write Failed!! Check Regsity setting.";
constexpr char kNumberRead[] = " Registry long data read success.";
constexpr char kNumberMissing[] = " Registry long data did not exist. ";

struct RootName {
  const char* name;
  os::HKEY root;
};

// The two lookups test the names in different orders; with whole-name comparisons the order
// decides nothing, but it is kept as each lookup has it.
const RootName kWriteRoots[] = {
    {"HKEY_CLASSES_ROOT", os::HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_USER", os::HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", os::HKEY_LOCAL_MACHINE}, {"HKEY_USERS", os::HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", os::HKEY_CURRENT_CONFIG},
};
const RootName kReadRoots[] = {
    {"HKEY_CLASSES_ROOT", os::HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_CONFIG", os::HKEY_CURRENT_CONFIG},
    {"HKEY_CURRENT_USER", os::HKEY_CURRENT_USER},   {"HKEY_LOCAL_MACHINE", os::HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", os::HKEY_USERS},
};

template <std::size_t N>
os::HKEY FindRoot(const RootName (&table)[N], const std::string& name, os::HKEY otherwise) {
  for (const RootName& row : table) {
    if (os::EqualsIgnoreCase(name, row.name)) return row.root;
  }
  return otherwise;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Opens the key and sets the value; when the key cannot be opened, creates it with every
// missing level and sets the value there. `shown` is the data as the log line shows it.
int WriteValue(RunContext& context, os::HKEY root, const std::string& key_path,
               const std::string& value_name, const std::string& shown, os::DWORD type,
               const void* data, os::DWORD size) {
  const char* success = kUpdateSuccess;
  os::ScopedHKEY key;
  os::LONG rc = os::RegOpenKeyExA(root, key_path.c_str(), 0, os::KEY_ALL_ACCESS, key.Receive());
  if (rc == os::ERROR_SUCCESS) {
    // A key that opened is not yet a written value (a value name that is too long, a key
    // deleted meanwhile): only the value's own result says the write happened.
    rc = os::RegSetValueExA(key.get(), value_name.c_str(), 0, type,
                            static_cast<const os::BYTE*>(data), size);
  } else {
    success = kCreateSuccess;
    rc = os::RegSetKeyValueA(root, key_path.c_str(), value_name.c_str(), type, data, size);
  }
  const std::string line =
      context.GetLogTime() + " " + key_path + " " + value_name + " " + shown;
  if (rc != os::ERROR_SUCCESS) {
    context.WriteLog(line + kWriteFailed, 2);
    return 0;
  }
  context.WriteLog(line + success, 0);
  return 1;
}

os::LONG DecimalValue(const std::string& data) {
  std::size_t i = 0;
  while (i < data.size() && IsBlank(data[i])) ++i;
  bool negative = false;
  if (i < data.size() && (data[i] == '+' || data[i] == '-')) negative = data[i++] == '-';
  long long value = 0;
  for (; i < data.size() && data[i] >= '0' && data[i] <= '9'; ++i) {
    value = value * 10 + (data[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;  // saturated either way
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<os::LONG>(value);
}

}  // namespace

os::HKEY WriteRootFromName(const std::string& root_name) {
  return FindRoot(kWriteRoots, root_name, os::HKEY_LOCAL_MACHINE);
}

os::HKEY RootKeyFromName(const std::string& root_name) {
  return FindRoot(kReadRoots, root_name, nullptr);
}

int ValueTypeFromName(const std::string& type_name) {
  if (os::EqualsIgnoreCase(type_name, "STRING")) return 0;
  if (os::EqualsIgnoreCase(type_name, "NUMBER")) return 1;
  return 2;
}

bool NumberModeFromRegMode(const std::string& reg_mode) { return reg_mode == "number"; }

int WriteRegistryValue(RunContext& context, const std::string& root_name,
                       const std::string& key_path, const std::string& value_name,
                       const std::string& data, bool number_mode) {
  const os::HKEY root = WriteRootFromName(root_name);
  PrivilegedOps& privileged = context.Privileged();
  if (number_mode) {
    return privileged.WriteRegNumber(root, key_path, value_name, DecimalValue(data));
  }
  return privileged.WriteRegString(root, key_path, value_name, data);
}

int WriteRegistryString(RunContext& context, os::HKEY root, const std::string& key_path,
                        const std::string& value_name, const std::string& data) {
  // With its terminating zero, as REG_SZ is stored for every reader of the value.
  return WriteValue(context, root, key_path, value_name, data, os::REG_SZ, data.c_str(),
                    static_cast<os::DWORD>(data.size() + 1));
}

int WriteRegistryNumber(RunContext& context, os::HKEY root, const std::string& key_path,
                        const std::string& value_name, os::LONG number) {
  const os::DWORD value = static_cast<os::DWORD>(number);
  return WriteValue(context, root, key_path, value_name, std::to_string(number), os::REG_DWORD,
                    &value, sizeof value);
}

std::string ReadRegistryValue(RunContext& context, const std::string& root_name,
                              const std::string& key_path, const std::string& value_name,
                              const std::string& type_name) {
  switch (ValueTypeFromName(type_name)) {
    case 0: return ReadRegistryString(RootKeyFromName(root_name), key_path, value_name);
    case 1:
      return std::to_string(
          ReadRegistryNumber(context, RootKeyFromName(root_name), key_path, value_name));
    default: return {};
  }
}

std::string ReadRegistryString(os::HKEY root, const std::string& key_path,
                               const std::string& value_name) {
  std::string data;
  if (os::RegGetValueA(root, key_path.c_str(), value_name.c_str(), os::RRF_RT_ANY, nullptr,
                       &data) != os::ERROR_SUCCESS) {
    return {};
  }
  // A text stored with its zero ends there; one stored without ends with its last byte.
  data.resize(std::strlen(data.c_str()));
  return data;
}

os::LONG ReadRegistryNumber(RunContext& context, os::HKEY root, const std::string& key_path,
                            const std::string& value_name) {
  os::ScopedHKEY key;
  // Reading needs no more than read access: asking for all access would make every value of a
  // machine-wide key unreadable to a control that is not elevated.
  if (os::RegOpenKeyExA(root, key_path.c_str(), 0, os::KEY_READ, key.Receive()) !=
      os::ERROR_SUCCESS) {
    return -1;
  }
  os::DWORD value = 0;
  os::DWORD type = os::REG_DWORD, size = sizeof value;
  const os::LONG rc = os::RegQueryValueExA(key.get(), value_name.c_str(), nullptr, &type,
                                           reinterpret_cast<os::BYTE*>(&value), &size);
  const std::string line = context.GetLogTime() + " " + key_path + " " + value_name;
  if (rc != os::ERROR_SUCCESS) {
    context.WriteLog(line + kNumberMissing, 2);
    return -1;
  }
  const os::LONG number = static_cast<os::LONG>(value);
  context.WriteLog(line + " " + std::to_string(number) + kNumberRead, 0);
  return number;
}

}  // namespace pelisto
