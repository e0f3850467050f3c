#include "control/language.h"

#include "os/base/text.h"
#include "os/module/module.h"
#include "os/sysinfo/version.h"

namespace pelisto {
namespace {

bool SetLanguage(os::LANGID language) {
  os::OSVERSIONINFOA version;
  if (!os::GetVersionExA(&version)) return false;
  if (version.dwMajorVersion != 6) return os::SetThreadLocale(language) != os::FALSE;
  // Windows 6 has the UI-language call; earlier systems do not export it, so it is looked up.
  os::HMODULE kernel32 = os::LoadLibraryA("kernel32.dll");
  if (kernel32 == nullptr) return false;
  auto set_ui_language = reinterpret_cast<os::PFN_SetThreadUILanguage>(
      os::GetProcAddress(kernel32, "SetThreadUILanguage"));
  bool ok = set_ui_language != nullptr && set_ui_language(language) == language;
  os::FreeLibrary(kernel32);
  return ok;
}

}  // namespace

bool ApplyLanguage(const std::string& language) {
  if (os::EqualsIgnoreCase(language, "ENG")) return SetLanguage(os::kLangEnglish);
  if (os::EqualsIgnoreCase(language, "KOR")) return SetLanguage(os::kLangKorean);
  return false;
}

}  // namespace pelisto
