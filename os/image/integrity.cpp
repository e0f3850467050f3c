#include "os/image/integrity.h"

#include <atomic>
#include <optional>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/machine.h"

namespace os {
namespace {
// -1: follow the machine; otherwise an IntegrityLevel.
std::atomic<int> g_process_level{-1};
thread_local std::optional<Token> t_impersonated;

// Whether `path` lies in the folder `folder` of the machine. A folder whose path cannot be
// parsed holds nothing (never the whole drive): the callers decide which way that fails.
bool Within(const Machine& machine, const WinPath& path, KnownFolder folder, bool* parsed) {
  WinPath p;
  *parsed = ParseWinPath(machine.FolderLocation(folder), &p) == ERROR_SUCCESS && !p.IsRoot();
  return *parsed && path.IsWithin(p);
}
}  // namespace

Token ProcessToken() {
  int level = g_process_level.load();
  if (level >= 0) return Token{static_cast<IntegrityLevel>(level)};
  Machine* m = CurrentMachine();
  if (m != nullptr && m->settings().protected_mode) return Token{IntegrityLevel::kLow};
  return Token{IntegrityLevel::kMedium};
}

void SetProcessIntegrity(IntegrityLevel level) { g_process_level.store(static_cast<int>(level)); }
void ResetProcessIntegrity() { g_process_level.store(-1); }

Token CurrentToken() { return t_impersonated ? *t_impersonated : ProcessToken(); }

ImpersonationScope::ImpersonationScope(Token token)
    : had_previous_(t_impersonated.has_value()), previous_(t_impersonated.value_or(Token{})) {
  t_impersonated = token;
}

ImpersonationScope::~ImpersonationScope() {
  if (had_previous_) {
    t_impersonated = previous_;
  } else {
    t_impersonated.reset();
  }
}

DWORD CheckFileWrite(const Machine& machine, const Token& token, const WinPath& path) {
  if (machine.settings().os_major < 6 || token.elevated()) return ERROR_SUCCESS;
  bool parsed = false;
  if (token.level == IntegrityLevel::kLow) {
    for (KnownFolder f : {KnownFolder::kLocalAppDataLow, KnownFolder::kInternetCacheLow,
                          KnownFolder::kTempLow}) {
      if (Within(machine, path, f, &parsed)) return ERROR_SUCCESS;
    }
    return ERROR_ACCESS_DENIED;
  }
  for (KnownFolder f : {KnownFolder::kWindows, KnownFolder::kProgramFiles}) {
    if (Within(machine, path, f, &parsed) || !parsed) return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

DWORD CheckRegistryWrite(const Machine& machine, const Token& token, std::uint32_t root,
                         std::string_view subkey) {
  if (machine.settings().os_major < 6 || token.elevated()) return ERROR_SUCCESS;
  constexpr std::uint32_t kCurrentUser = 0x80000001;
  if (root != kCurrentUser) return ERROR_ACCESS_DENIED;
  if (token.level == IntegrityLevel::kLow) {
    std::string key = AsciiLower(subkey);
    while (!key.empty() && key.front() == '\\') key.erase(0, 1);
    const std::string allowed = "software\\appdatalow";
    bool within = key.compare(0, allowed.size(), allowed) == 0 &&
                  (key.size() == allowed.size() || key[allowed.size()] == '\\');
    if (!within) return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

}  // namespace os
