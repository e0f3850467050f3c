// The dialog templates and the string table, in English (1033) and Korean (1042). Texts are
// kept as UTF-8 in the sources and handed out in the image's ANSI code page.
//
// `language` 0 means the calling thread's UI language (os::GetThreadUILanguage); a language
// without resources falls back to English. Thread-safe.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "os/base/types.h"
#include "os/ui/dialog.h"

namespace pelisto {

// Fills `out` with template `id`; false (and `out` untouched) for an unknown id.
bool LoadDialogTemplate(int id, os::DialogTemplate* out, os::LANGID language = 0);

// Fills `out` with string `id`; false (and `out` emptied) for an unknown id.
bool LoadResourceString(unsigned id, std::string* out, os::LANGID language = 0);
// String `id` with "%1" ... "%9" replaced by `args` (a number without an argument stays as it
// is, any other "%" too), as the class library's string formatting does.
std::string FormatResourceString(unsigned id, std::initializer_list<std::string_view> args,
                                 os::LANGID language = 0);
// The same replacement on any text.
std::string FormatPlaceholders(std::string_view text, std::initializer_list<std::string_view> args);

// The language id named by `text`: "ENG" 1033, "KOR" 1042, compared without regard to case;
// 0 for anything else.
os::LANGID LanguageIdFromText(const std::string& text);
// Makes the language named by `text` the calling thread's UI language, so dialogs and strings
// come from that set afterwards: on Windows 6 through "SetThreadUILanguage" looked up in
// "kernel32.dll" at run time (true when it returns the language asked for; false when the
// library or the call is missing), on other versions through SetThreadLocale. Any other
// text, or a failing version query, changes nothing and gives false.
bool SetLanguage(const std::string& text);

}  // namespace pelisto
