// The control's user-interface language: "ENG" or "KOR" (any case) selects the English (1033)
// or Korean (1042) resources of the calling thread.
#pragma once

#include <string>

namespace pelisto {

// Applies `language` to the calling thread. Any other text leaves the thread's language as it
// was and returns false; so does a failure to apply it. On Windows 6 the language is set with
// SetThreadUILanguage, looked up in "kernel32.dll" at run time; on other versions with
// SetThreadLocale.
bool ApplyLanguage(const std::string& language);

}  // namespace pelisto
