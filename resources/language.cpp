#include "os/base/text.h"
#include "os/module/module.h"
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
  if (info.dwMajorVersion != 6) return os::SetThreadLocale(id) != os::FALSE;
  // A newer call: looked up at run time, as a program that also runs on older systems must.
  os::HMODULE kernel = os::LoadLibraryA("kernel32.dll");
  if (kernel == nullptr) return false;
  auto set_language =
      reinterpret_cast<os::PFN_SetThreadUILanguage>(os::GetProcAddress(kernel, "SetThreadUILanguage"));
  bool ok = set_language != nullptr && set_language(id) == id;
  os::FreeLibrary(kernel);
  return ok;
}

}  // namespace pelisto
