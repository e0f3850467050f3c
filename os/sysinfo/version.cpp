#include "os/sysinfo/version.h"

#include <atomic>
#include <cstring>

#include "os/base/error.h"
#include "os/image/machine.h"

namespace os {
namespace {
std::atomic<LANGID> g_default_language{kLangKorean};
thread_local LANGID t_language = 0;  // 0: not set on this thread yet

bool Supported(LANGID lang) { return lang == kLangEnglish || lang == kLangKorean; }
}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  Machine* m = CurrentMachine();
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) || m == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const ImageSettings& s = m->settings();
  info->dwMajorVersion = static_cast<DWORD>(s.os_major);
  info->dwMinorVersion = static_cast<DWORD>(s.os_minor);
  info->dwBuildNumber = static_cast<DWORD>(s.os_build);
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  if (s.os_major == 6 && s.os_minor == 1) std::strcpy(info->szCSDVersion, "Service Pack 1");
  return TRUE;
}

bool IsWindows6OrLater() {
  Machine* m = CurrentMachine();
  return m != nullptr && m->settings().os_major >= 6;
}

BOOL SetThreadLocale(LCID locale) {
  LANGID lang = static_cast<LANGID>(locale & 0xFFFF);
  if (!Supported(lang)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t_language = lang;
  return TRUE;
}

LCID GetThreadLocale() { return GetThreadUILanguage(); }

LANGID SetThreadUILanguage(LANGID language) {
  if (!Supported(language)) return 0;
  t_language = language;
  return language;
}

LANGID GetThreadUILanguage() { return t_language != 0 ? t_language : g_default_language.load(); }

void SetDefaultUILanguage(LANGID language) {
  if (Supported(language)) g_default_language.store(language);
}

}  // namespace os
