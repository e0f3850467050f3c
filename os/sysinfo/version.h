// The Windows version the image reports, and the thread's locale and UI language.
#pragma once

#include "os/base/types.h"

namespace os {

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  DWORD dwMajorVersion = 0;
  DWORD dwMinorVersion = 0;
  DWORD dwBuildNumber = 0;
  DWORD dwPlatformId = 0;
  char szCSDVersion[128] = {};
};

inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Fills the version of the current machine. FALSE (ERROR_INSUFFICIENT_BUFFER) when the
// size field is not set, or when no machine is current.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// True when the current machine reports major version 6 or later.
bool IsWindows6OrLater();

inline constexpr LANGID kLangEnglish = 0x0409;  // 1033
inline constexpr LANGID kLangKorean = 0x0412;   // 1042

// Per-thread. A new thread starts with the process default (Korean unless set).
BOOL SetThreadLocale(LCID locale);
LCID GetThreadLocale();
// Returns the language now in effect: `language` when it is supported (1033 or 1042),
// otherwise 0 and the language is left as it was.
LANGID SetThreadUILanguage(LANGID language);
LANGID GetThreadUILanguage();
// The language a new thread starts with.
void SetDefaultUILanguage(LANGID language);

}  // namespace os
