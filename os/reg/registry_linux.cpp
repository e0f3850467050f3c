#include <cstring>

#include "os/base/error.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/reg/key_path.h"
#include "os/reg/key_table.h"
#include "os/reg/registry.h"
#include "os/reg/store.h"

namespace os {
namespace {

constexpr REGSAM kDelete = 0x00010000;
constexpr REGSAM kWriteDac = 0x00040000;
constexpr REGSAM kWriteOwner = 0x00080000;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;
// Rights that change the key, its values or its subkeys.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDelete | kWriteDac | kWriteOwner;

// What a key handle stands for once resolved.
struct Target {
  std::shared_ptr<reg::Store> store;
  reg::KeyId id = 0;
  std::uint32_t root = 0;
  std::string path;
  REGSAM access = 0;
  bool predefined = false;
};

bool PredefinedRoot(HKEY key, std::uint32_t* root) {
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value < 0x80000000u || value > 0xFFFFFFFFu) return false;
  *root = static_cast<std::uint32_t>(value);
  return reg::IsKnownRoot(*root);
}

DWORD Resolve(HKEY key, Target* target) {
  std::uint32_t root = 0;
  if (PredefinedRoot(key, &root)) {
    Machine* machine = CurrentMachine();
    if (machine == nullptr) return ERROR_PATH_NOT_FOUND;
    target->store = machine->registry().shared_from_this();
    target->id = reg::RootKeyId(root);
    target->root = root;
    target->predefined = true;
    target->access = KEY_ALL_ACCESS;  // checked against the caller's token on each use
    return ERROR_SUCCESS;
  }
  RegKeyObject object;
  if (!reg::LookupKeyHandle(key, &object)) return ERROR_INVALID_HANDLE;
  target->store = object.store.lock();
  if (!target->store) return ERROR_INVALID_HANDLE;
  target->id = object.id;
  target->root = object.root;
  target->path = std::move(object.path);
  target->access = object.access;
  return ERROR_SUCCESS;
}

std::string ChildPath(const std::string& base, const std::vector<std::string>& levels) {
  std::string below = reg::JoinLevels(levels);
  if (base.empty()) return below;
  if (below.empty()) return base;
  return base + "\\" + below;
}

DWORD MayWrite(const reg::Store& store, std::uint32_t root, const std::string& path) {
  return CheckRegistryWrite(store.machine(), CurrentToken(), root, path);
}

// The rights a new handle gets for `sam`, or ERROR_ACCESS_DENIED when the caller's token may
// not have them on `path` (os/image/integrity.h).
DWORD GrantAccess(const reg::Store& store, std::uint32_t root, const std::string& path,
                  REGSAM sam, REGSAM* granted) {
  REGSAM wanted = sam & ~(kGenericAll | kGenericExecute | kGenericWrite | kGenericRead |
                          kMaximumAllowed);
  if (sam & (kGenericRead | kGenericExecute)) wanted |= KEY_READ;
  if (sam & kGenericWrite) wanted |= KEY_WRITE;
  if (sam & kGenericAll) wanted |= KEY_ALL_ACCESS;
  const bool may_write = MayWrite(store, root, path) == ERROR_SUCCESS;
  if (sam & kMaximumAllowed) wanted |= may_write ? KEY_ALL_ACCESS : KEY_READ;
  if ((wanted & kWriteRights) != 0 && !may_write) return ERROR_ACCESS_DENIED;
  *granted = wanted;
  return ERROR_SUCCESS;
}

// Whether the handle allows `right`. The predefined keys are not opened by anyone, so the
// caller's token decides for them at each use.
DWORD AllowUse(const Target& target, REGSAM right) {
  if (target.predefined) {
    if ((right & kWriteRights) == 0) return ERROR_SUCCESS;
    return MayWrite(*target.store, target.root, target.path);
  }
  return (target.access & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY NewHandle(const Target& parent, reg::KeyId id, std::string path, REGSAM access) {
  RegKeyObject object;
  object.store = parent.store;
  object.id = id;
  object.root = parent.root;
  object.path = std::move(path);
  object.access = access;
  return reg::AddKeyHandle(std::move(object));
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, const char* subkey, DWORD /*options*/, REGSAM sam, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  *result = nullptr;
  // HKEY_CLASSES_ROOT is reached through a full path on Windows, which takes "\CLSID" as well.
  if (subkey != nullptr && target.predefined && target.root == 0x80000000) {
    while (*subkey == '\\') ++subkey;
  }
  std::vector<std::string> levels;
  if (DWORD rc = reg::SplitSubKey(subkey, &levels)) return static_cast<LONG>(rc);
  if (levels.empty() && target.predefined) {
    *result = key;
    return ERROR_SUCCESS;
  }
  reg::KeyId id = 0;
  if (DWORD rc = target.store->FindKey(target.id, levels, &id)) return static_cast<LONG>(rc);
  std::string path = ChildPath(target.path, levels);
  REGSAM granted = 0;
  if (DWORD rc = GrantAccess(*target.store, target.root, path, sam, &granted)) {
    return static_cast<LONG>(rc);
  }
  *result = NewHandle(target, id, std::move(path), granted);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subkey, DWORD /*reserved*/, const char* /*key_class*/,
                     DWORD /*options*/, REGSAM sam, const void* /*security*/, HKEY* result,
                     DWORD* disposition) {
  if (result == nullptr || subkey == nullptr) return ERROR_INVALID_PARAMETER;
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  *result = nullptr;
  std::vector<std::string> levels;
  if (DWORD rc = reg::SplitSubKey(subkey, &levels)) return static_cast<LONG>(rc);
  std::string path = ChildPath(target.path, levels);

  reg::KeyId id = 0;
  bool created = false;
  DWORD rc = target.store->FindKey(target.id, levels, &id);
  if (rc == ERROR_FILE_NOT_FOUND) {
    // Making a key is a write below its parent, whatever rights the new handle asks for.
    if (DWORD denied = MayWrite(*target.store, target.root, path)) return static_cast<LONG>(denied);
  } else if (rc != ERROR_SUCCESS) {
    return static_cast<LONG>(rc);
  }
  REGSAM granted = 0;
  if (DWORD denied = GrantAccess(*target.store, target.root, path, sam, &granted)) {
    return static_cast<LONG>(denied);
  }
  if (rc == ERROR_FILE_NOT_FOUND) {
    if (DWORD failed = target.store->CreateKey(target.id, levels, &id, &created)) {
      return static_cast<LONG>(failed);
    }
  }
  *result = NewHandle(target, id, std::move(path), granted);
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  std::uint32_t root = 0;
  if (PredefinedRoot(key, &root)) return ERROR_SUCCESS;
  return reg::RemoveKeyHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  if (DWORD rc = AllowUse(target, KEY_SET_VALUE)) return static_cast<LONG>(rc);
  if (data == nullptr && size != 0) return ERROR_NOACCESS;
  const std::string_view value_name = name == nullptr ? std::string_view() : name;
  if (reg::ValueNameTooLong(value_name)) return ERROR_INVALID_PARAMETER;
  const std::string_view bytes =
      size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
  return static_cast<LONG>(target.store->SetValue(target.id, value_name, type, bytes));
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  if (DWORD rc = AllowUse(target, KEY_QUERY_VALUE)) return static_cast<LONG>(rc);
  const std::string_view value_name = name == nullptr ? std::string_view() : name;
  if (reg::ValueNameTooLong(value_name)) return ERROR_FILE_NOT_FOUND;
  DWORD stored_type = REG_NONE;
  std::string bytes;
  if (DWORD rc = target.store->QueryValue(target.id, value_name, &stored_type, &bytes)) {
    return static_cast<LONG>(rc);
  }
  if (type != nullptr) *type = stored_type;
  const auto needed = static_cast<DWORD>(bytes.size());
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed != 0) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  if (DWORD rc = AllowUse(target, KEY_SET_VALUE)) return static_cast<LONG>(rc);
  const std::string_view value_name = name == nullptr ? std::string_view() : name;
  if (reg::ValueNameTooLong(value_name)) return ERROR_FILE_NOT_FOUND;
  return static_cast<LONG>(target.store->DeleteValue(target.id, value_name));
}

LONG RegDeleteKeyA(HKEY key, const char* subkey) {
  if (subkey == nullptr) return ERROR_INVALID_PARAMETER;
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  std::vector<std::string> levels;
  if (DWORD rc = reg::SplitSubKey(subkey, &levels)) return static_cast<LONG>(rc);
  if (levels.empty()) {
    // The key of the handle itself: the handle must have been opened with the right to delete.
    if (target.predefined || (target.access & kDelete) == 0) return ERROR_ACCESS_DENIED;
    return static_cast<LONG>(target.store->DeleteKey(target.id));
  }
  reg::KeyId id = 0;
  if (DWORD rc = target.store->FindKey(target.id, levels, &id)) return static_cast<LONG>(rc);
  if (DWORD rc = MayWrite(*target.store, target.root, ChildPath(target.path, levels))) {
    return static_cast<LONG>(rc);
  }
  DWORD rc = target.store->DeleteKey(id);
  // Deleted by someone else since it was found: it is gone all the same, but not by this call.
  return static_cast<LONG>(rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) {
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  if (DWORD rc = AllowUse(target, KEY_ENUMERATE_SUB_KEYS)) return static_cast<LONG>(rc);
  return static_cast<LONG>(target.store->EnumKey(target.id, index, name));
}

LONG RegEnumValueA(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data) {
  Target target;
  if (DWORD rc = Resolve(key, &target)) return static_cast<LONG>(rc);
  if (DWORD rc = AllowUse(target, KEY_QUERY_VALUE)) return static_cast<LONG>(rc);
  reg::ValueEntry entry;
  if (DWORD rc = target.store->EnumValue(target.id, index, &entry)) return static_cast<LONG>(rc);
  if (name != nullptr) *name = std::move(entry.name);
  if (type != nullptr) *type = entry.type;
  if (data != nullptr) *data = std::move(entry.data);
  return ERROR_SUCCESS;
}

std::string RegErrorText(LONG code) {
  const auto error = static_cast<DWORD>(code);
  std::string text = Win32ErrorText(error);
  Machine* machine = CurrentMachine();
  const bool store_failed = error == ERROR_REGISTRY_CORRUPT || error == ERROR_REGISTRY_IO_FAILED;
  if (store_failed && machine != nullptr) {
    std::string detail = machine->registry().LastFailure();
    if (!detail.empty()) text += " " + detail;
  }
  return text;
}

}  // namespace os
