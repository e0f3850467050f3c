// Narrow text in the image's ANSI code page, and conversions to and from wide (UTF-16) text.
#pragma once

#include <string>
#include <string_view>

#include "os/base/types.h"

namespace os {

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr UINT CP_KOREAN = 949;  // EUC-KR / Unified Hangul Code

// The process's ANSI code page (UTF-8 unless the image selects another). Set once when the
// machine image is opened; CP_ACP in the calls below means this page.
UINT GetACP();
void SetAnsiCodePage(UINT code_page);
// True for the pages this stand-in can convert (65001, 949, 1252, 437).
bool IsSupportedCodePage(UINT code_page);

// Conversions fail (return false, last error ERROR_NO_UNICODE_TRANSLATION-like
// ERROR_INVALID_DATA) on bytes that are not valid in the page; `out` is then untouched.
bool MultiByteToWide(std::string_view text, std::u16string* out, UINT code_page = CP_ACP);
bool WideToMultiByte(std::u16string_view text, std::string* out, UINT code_page = CP_ACP);

// Lossy conveniences: invalid sequences become '?'. For display and logs only.
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

// ASCII-only case folding, as the file system and registry compare names.
char AsciiLower(char c);
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace os
