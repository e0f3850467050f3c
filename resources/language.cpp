#include "os/base/text.h"
#include "os/sysinfo/version.h"
#include "resources/resources.h"

namespace pelisto {

os::LANGID LanguageIdFromText(const std::string& text) {
  if (os::EqualsIgnoreCase(text, "ENG")) return os::kLangEnglish;
  if (os::EqualsIgnoreCase(text, "KOR")) return os::kLangKorean;
  return 0;
}

bool SetLanguage(const std::string& text) {
  os::LANGID id = LanguageIdFromText(text);
  if (id == 0) return false;
  os::OSVERSIONINFOA info;
  if (!os::GetVersionExA(&info)) return false;
  if (info.dwMajorVersion == 6) return os::SetThreadUILanguage(id) == id;
  return os::SetThreadLocale(id) != os::FALSE;
}

}  // namespace pelisto
