// Opened registry keys: every HKEY that RegOpenKeyExA / RegCreateKeyExA hand out is a number
// that resolves to a RegKeyObject through one process-wide table. Numbers are never reused, so
// a closed or made-up handle is always told apart (ERROR_INVALID_HANDLE) and never reaches
// another caller's key. The predefined keys (0x80000000 ...) are not in the table.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "os/reg/registry.h"
#include "os/reg/store.h"

namespace os {

struct RegKeyObject {
  // The store of the machine the key was opened on; a handle outliving its machine is invalid.
  std::weak_ptr<reg::Store> store;
  reg::KeyId id = 0;
  std::uint32_t root = 0;  // the predefined key the path starts from
  std::string path;        // levels below the root, joined with "\"
  REGSAM access = 0;       // rights granted when the handle was opened
};

namespace reg {

HKEY AddKeyHandle(RegKeyObject object);
// Copies the object behind `key` into `*object`; false for a closed or unknown handle.
bool LookupKeyHandle(HKEY key, RegKeyObject* object);
// Forgets `key`; false for a closed or unknown handle.
bool RemoveKeyHandle(HKEY key);

}  // namespace reg
}  // namespace os
