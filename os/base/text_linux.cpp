#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <type_traits>
#include <cerrno>
#include <vector>

#include "os/base/error.h"
#include "os/base/text.h"

namespace os {
namespace {
std::atomic<UINT> g_acp{CP_UTF8};

const char* IconvName(UINT code_page) {
  switch (code_page == CP_ACP ? GetACP() : code_page) {
    case CP_UTF8: return "UTF-8";
    case CP_KOREAN: return "CP949";
    case 1252: return "CP1252";
    case 437: return "CP437";
    default: return nullptr;
  }
}

// Runs one whole conversion; false on an invalid or incomplete sequence.
bool Convert(const char* from, const char* to, const char* in, size_t in_len, std::string* out,
             bool lossy) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  std::vector<char> buf(4096);
  char* src = const_cast<char*>(in);
  size_t left = in_len;
  bool ok = true;
  while (left > 0) {
    char* dst = buf.data();
    size_t room = buf.size();
    size_t rc = iconv(cd, &src, &left, &dst, &room);
    // Taken before the append, whose allocation may change errno: a full buffer read as an
    // invalid byte would turn a good character into '?'.
    const int err = rc == static_cast<size_t>(-1) ? errno : 0;
    result.append(buf.data(), dst);
    if (rc != static_cast<size_t>(-1)) continue;
    if (err == E2BIG) continue;
    if (!lossy) {
      ok = false;
      break;
    }
    // Replace one undecodable unit and go on; a wide text's unit is two bytes, and skipping
    // one would read the rest of it out of step.
    const size_t unit = std::min<size_t>(std::string_view(from) == "UTF-16LE" ? 2 : 1, left);
    src += unit;
    left -= unit;
    const char question[] = {'?', 0};
    if (std::string_view(to) == "UTF-16LE") {
      result.append(question, 2);
    } else {
      result.push_back('?');
    }
  }
  iconv_close(cd);
  if (ok) *out = std::move(result);
  return ok;
}
}  // namespace

UINT GetACP() { return g_acp.load(); }
void SetAnsiCodePage(UINT code_page) { g_acp.store(code_page == CP_ACP ? CP_UTF8 : code_page); }
bool IsSupportedCodePage(UINT code_page) { return IconvName(code_page) != nullptr; }

// Every supported page encodes U+0000..U+007F as the one byte of the same value, and no
// multibyte sequence starts below 0x80: the text before the first other byte or unit
// converts unit for unit, without iconv. (A CP949 trail byte may be below 0x80, so only the
// leading run is taken so.)
template <class Unit>
size_t AsciiPrefix(std::basic_string_view<Unit> text) {
  size_t n = 0;
  while (n < text.size() && static_cast<std::make_unsigned_t<Unit>>(text[n]) < 0x80) ++n;
  return n;
}

static bool ToWide(std::string_view text, std::u16string* out, UINT code_page, bool lossy) {
  const char* name = IconvName(code_page);
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  const size_t ascii = AsciiPrefix(text);
  std::string bytes;
  if (ascii < text.size() &&
      !Convert(name, "UTF-16LE", text.data() + ascii, text.size() - ascii, &bytes, lossy)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  std::u16string wide(ascii + bytes.size() / 2, u'\0');
  for (size_t i = 0; i < ascii; ++i) wide[i] = static_cast<char16_t>(text[i]);
  for (size_t i = 0; i < bytes.size() / 2; ++i) {
    wide[ascii + i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  *out = std::move(wide);
  return true;
}

static bool FromWide(std::u16string_view text, std::string* out, UINT code_page, bool lossy) {
  const char* name = IconvName(code_page);
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  const size_t ascii = AsciiPrefix(text);
  std::string rest;
  if (ascii < text.size()) {
    std::string bytes((text.size() - ascii) * 2, '\0');
    for (size_t i = ascii; i < text.size(); ++i) {
      bytes[2 * (i - ascii)] = static_cast<char>(text[i] & 0xFF);
      bytes[2 * (i - ascii) + 1] = static_cast<char>(text[i] >> 8);
    }
    if (!Convert("UTF-16LE", name, bytes.data(), bytes.size(), &rest, lossy)) {
      SetLastError(ERROR_INVALID_DATA);
      return false;
    }
  }
  std::string narrow(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(ascii));
  narrow += rest;
  *out = std::move(narrow);
  return true;
}

bool MultiByteToWide(std::string_view text, std::u16string* out, UINT code_page) {
  return ToWide(text, out, code_page, false);
}
bool WideToMultiByte(std::u16string_view text, std::string* out, UINT code_page) {
  return FromWide(text, out, code_page, false);
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  ToWide(text, &out, CP_ACP, true);
  return out;
}
std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  FromWide(text, &out, CP_ACP, true);
  return out;
}
std::string AnsiToUtf8(std::string_view text) {
  if (GetACP() == CP_UTF8) return std::string(text);
  std::string out;
  Convert(IconvName(CP_ACP), "UTF-8", text.data(), text.size(), &out, true);
  return out;
}
std::string Utf8ToAnsi(std::string_view text) {
  if (GetACP() == CP_UTF8) return std::string(text);
  std::string out;
  Convert("UTF-8", IconvName(CP_ACP), text.data(), text.size(), &out, true);
  return out;
}

}  // namespace os
