#include "os/reg/key_path.h"

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/reg/registry.h"

namespace os::reg {
namespace {

struct RootRow {
  std::uint32_t number;
  const char* name;
};

constexpr RootRow kRoots[] = {
    {0x80000000, "HKEY_CLASSES_ROOT"},  {0x80000001, "HKEY_CURRENT_USER"},
    {0x80000002, "HKEY_LOCAL_MACHINE"}, {0x80000003, "HKEY_USERS"},
    {0x80000005, "HKEY_CURRENT_CONFIG"},
};

// Length in UTF-16 units, as Windows measures names. Every character of the narrow code pages
// takes at least as many bytes as UTF-16 units, so only texts longer than `limit` bytes need
// converting.
bool LongerThan(std::string_view name, std::size_t limit) {
  if (name.size() <= limit) return false;
  const DWORD saved = GetLastError();  // registry calls leave the last error alone
  std::u16string wide;
  bool converted = MultiByteToWide(name, &wide);
  SetLastError(saved);
  return converted ? wide.size() > limit : true;
}

}  // namespace

DWORD SplitSubKey(const char* subkey, std::vector<std::string>* levels) {
  std::vector<std::string> parts;
  if (subkey == nullptr || *subkey == '\0') {
    *levels = std::move(parts);
    return ERROR_SUCCESS;
  }
  std::string_view text(subkey);
  if (text.front() == '\\') return ERROR_BAD_PATHNAME;
  // Separators at the end are tolerated; an empty level with a name after it is not.
  while (!text.empty() && text.back() == '\\') text.remove_suffix(1);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\\', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view level = text.substr(start, end - start);
    if (level.empty() || LongerThan(level, kMaxKeyNameChars)) return ERROR_INVALID_PARAMETER;
    parts.emplace_back(level);
    start = end + 1;
  }
  *levels = std::move(parts);
  return ERROR_SUCCESS;
}

bool ValueNameTooLong(std::string_view name) { return LongerThan(name, kMaxValueNameChars); }

const char* RootName(std::uint32_t root) {
  for (const RootRow& row : kRoots) {
    if (row.number == root) return row.name;
  }
  return nullptr;
}

bool IsKnownRoot(std::uint32_t root) { return RootName(root) != nullptr; }

const std::vector<std::uint32_t>& KnownRoots() {
  static const std::vector<std::uint32_t> roots = [] {
    std::vector<std::uint32_t> all;
    for (const RootRow& row : kRoots) all.push_back(row.number);
    return all;
  }();
  return roots;
}

std::string JoinLevels(const std::vector<std::string>& levels) {
  std::string out;
  for (const std::string& level : levels) {
    if (!out.empty()) out += '\\';
    out += level;
  }
  return out;
}

}  // namespace os::reg

namespace os {

std::string RootKeyName(HKEY root) {
  const auto value = reinterpret_cast<std::uintptr_t>(root);
  if (value > 0xFFFFFFFFu) return {};
  const char* name = reg::RootName(static_cast<std::uint32_t>(value));
  return name == nullptr ? std::string() : std::string(name);
}

bool SplitKeyPath(std::string_view path, HKEY* root, std::string* subkey) {
  struct Alias {
    const char* name;
    std::uint32_t root;
  };
  static constexpr Alias kAliases[] = {
      {"HKEY_CLASSES_ROOT", 0x80000000},  {"HKCR", 0x80000000},
      {"HKEY_CURRENT_USER", 0x80000001},  {"HKCU", 0x80000001},
      {"HKEY_LOCAL_MACHINE", 0x80000002}, {"HKLM", 0x80000002},
      {"HKEY_USERS", 0x80000003},         {"HKU", 0x80000003},
      {"HKEY_CURRENT_CONFIG", 0x80000005}, {"HKCC", 0x80000005},
  };
  const std::size_t sep = path.find('\\');
  const std::string_view head = path.substr(0, sep);
  for (const Alias& alias : kAliases) {
    if (!EqualsIgnoreCase(head, alias.name)) continue;
    if (root != nullptr) *root = PredefinedKey(alias.root);
    if (subkey != nullptr) {
      *subkey = sep == std::string_view::npos ? std::string() : std::string(path.substr(sep + 1));
    }
    return true;
  }
  return false;
}

}  // namespace os
