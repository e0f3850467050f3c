// Integrity levels of callers, and the rule by which Windows 6 and later refuse their writes.
//
// Every Win32-shaped call of os/ acts for the calling thread's token: the token the thread
// impersonates, or else the process token. The control's process runs at medium integrity
// (low when the image says the browser runs in protected mode); the broker process and the
// in-process elevated stand-in run at high integrity.
#pragma once

#include <string_view>

#include "os/base/types.h"
#include "os/image/win_path.h"

namespace os {

class Machine;

enum class IntegrityLevel { kLow, kMedium, kHigh };

struct Token {
  IntegrityLevel level = IntegrityLevel::kMedium;
  bool elevated() const { return level == IntegrityLevel::kHigh; }
};

// The token the calling thread acts with.
Token CurrentToken();

// The process token. Until set explicitly it follows the current machine: low in protected
// mode, medium otherwise.
Token ProcessToken();
void SetProcessIntegrity(IntegrityLevel level);
void ResetProcessIntegrity();

// Makes the calling thread act with `token` until the scope ends (scopes nest).
class ImpersonationScope {
 public:
  explicit ImpersonationScope(Token token);
  ~ImpersonationScope();
  ImpersonationScope(const ImpersonationScope&) = delete;
  ImpersonationScope& operator=(const ImpersonationScope&) = delete;

 private:
  bool had_previous_;
  Token previous_;
};

// ERROR_SUCCESS when `token` may create, change or delete `path` on `machine`, else
// ERROR_ACCESS_DENIED. Before Windows 6 everything is allowed. From Windows 6 on, a caller
// below high integrity may not write C:\Windows or C:\Program Files, and a low-integrity
// caller may write only below LocalLow, the low Internet cache and the low temporary folder.
// `path` is the place a path really reaches (HostPlace::real() on the Linux backend), not the
// text a caller gave. A folder of the rule that cannot be located refuses.
DWORD CheckFileWrite(const Machine& machine, const Token& token, const WinPath& path);

// The same rule for the registry: from Windows 6 on, a caller below high integrity may not
// write HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS or HKEY_CURRENT_CONFIG, and a
// low-integrity caller may write only HKEY_CURRENT_USER\Software\AppDataLow. `root` is the
// predefined key's number (0x80000000 ...).
DWORD CheckRegistryWrite(const Machine& machine, const Token& token, std::uint32_t root,
                         std::string_view subkey);

}  // namespace os
