// Helpers over the registry calls (os/reg/registry.h): a key handle closed when its scope
// ends, and one-call reads and writes of a value shaped like RegGetValueA and
// RegSetKeyValueA.
#pragma once

#include <string>
#include <utility>

#include "os/base/types.h"
#include "os/reg/registry.h"

namespace os {

// Holds an opened key and closes it when it goes. Predefined keys are never closed.
// Not synchronised: one object is used by one thread at a time.
class ScopedHKEY {
 public:
  ScopedHKEY() = default;
  explicit ScopedHKEY(HKEY key) : key_(key) {}
  ~ScopedHKEY() { Close(); }
  ScopedHKEY(ScopedHKEY&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  ScopedHKEY& operator=(ScopedHKEY&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  ScopedHKEY(const ScopedHKEY&) = delete;
  ScopedHKEY& operator=(const ScopedHKEY&) = delete;

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  // Closes the key held and returns the slot for a call that opens one.
  HKEY* Receive() {
    Close();
    return &key_;
  }
  // Hands the key over to the caller, who closes it.
  HKEY Release() { return std::exchange(key_, nullptr); }

 private:
  void Close();

  HKEY key_ = nullptr;
};

// RegGetValueA's type restrictions.
inline constexpr DWORD RRF_RT_REG_NONE = 0x00000001;
inline constexpr DWORD RRF_RT_REG_SZ = 0x00000002;
inline constexpr DWORD RRF_RT_REG_EXPAND_SZ = 0x00000004;
inline constexpr DWORD RRF_RT_REG_BINARY = 0x00000008;
inline constexpr DWORD RRF_RT_REG_DWORD = 0x00000010;
inline constexpr DWORD RRF_RT_REG_MULTI_SZ = 0x00000020;
inline constexpr DWORD RRF_RT_ANY = 0x0000FFFF;

// Reads the value `name` of `subkey` below `key`, opening the key for reading and closing it
// again. `flags` names the types accepted (RRF_RT_*); a value of another type gives
// ERROR_UNSUPPORTED_TYPE. On success `*type` (may be null) is its type and `*data` its bytes
// exactly as stored: unlike RegGetValueA no terminating zero is added or removed, so each
// caller applies its own rule for text. On failure `*data` is untouched; a missing key or
// value gives ERROR_FILE_NOT_FOUND.
LONG RegGetValueA(HKEY key, const char* subkey, const char* name, DWORD flags, DWORD* type,
                  std::string* data);

// Sets the value `name` of `subkey` below `key`, creating every missing level of the key
// first, and closes the key again: `size` bytes of `data` with `type`, as RegSetValueExA
// stores them. The result is the first failing call's.
LONG RegSetKeyValueA(HKEY key, const char* subkey, const char* name, DWORD type,
                     const void* data, DWORD size);

}  // namespace os
