#include "platform/xml_encoding.h"

#include <array>

#include "os/base/text.h"

namespace pelisto {
namespace {

struct EncodingName {
  std::string_view name;
  os::UINT code_page;
};

constexpr std::array<EncodingName, 17> kEncodingNames = {{
    {"utf-8", os::CP_UTF8},
    {"utf8", os::CP_UTF8},
    {"us-ascii", os::CP_UTF8},  // ASCII is a subset; UTF-8 still refuses stray high bytes
    {"ascii", os::CP_UTF8},
    {"euc-kr", os::CP_KOREAN},
    {"ks_c_5601-1987", os::CP_KOREAN},
    {"ks_c_5601", os::CP_KOREAN},
    {"cp949", os::CP_KOREAN},
    {"windows-949", os::CP_KOREAN},
    {"x-windows-949", os::CP_KOREAN},
    {"uhc", os::CP_KOREAN},
    {"iso-8859-1", 1252},
    {"latin1", 1252},
    {"windows-1252", 1252},
    {"cp1252", 1252},
    {"ibm437", 437},
    {"cp437", 437},
}};

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of the declaration's `encoding` pseudo-attribute; false when there is none.
bool DeclaredEncoding(std::string_view text, std::string_view* value) {
  constexpr std::string_view kOpen = "<?xml";
  if (text.substr(0, kOpen.size()) != kOpen || text.size() <= kOpen.size() ||
      !IsXmlSpace(text[kOpen.size()])) {
    return false;
  }
  std::size_t end = text.find("?>");
  std::string_view decl = text.substr(0, end);
  constexpr std::string_view kKey = "encoding";
  for (std::size_t at = decl.find(kKey); at != std::string_view::npos; at = decl.find(kKey, at + 1)) {
    if (!IsXmlSpace(decl[at - 1])) continue;
    std::size_t i = at + kKey.size();
    while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || decl[i] != '=') continue;
    ++i;
    while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) continue;
    char quote = decl[i];
    std::size_t close = decl.find(quote, i + 1);
    if (close == std::string_view::npos) continue;
    *value = decl.substr(i + 1, close - i - 1);
    return true;
  }
  return false;
}

}  // namespace

std::string EncodingNameFromCodePage(os::UINT code_page) {
  if (code_page == os::CP_ACP) code_page = os::GetACP();
  switch (code_page) {
    case os::CP_UTF8: return "UTF-8";
    case os::CP_KOREAN: return "EUC-KR";
    case 1252: return "windows-1252";
    case 437: return "IBM437";
    default: return std::string();
  }
}

os::UINT CodePageFromEncodingName(std::string_view name) {
  for (const EncodingName& e : kEncodingNames) {
    if (os::EqualsIgnoreCase(e.name, name)) return e.code_page;
  }
  return 0;
}

bool DetectXmlEncoding(std::string_view bytes, os::UINT fallback, XmlByteEncoding* out,
                       std::string* reason) {
  auto byte = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
  if ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE) ||
      (!bytes.empty() && byte(0) == 0x00) || (byte(0) == '<' && byte(1) == 0x00)) {
    *reason = "UTF-16 and UTF-32 documents are not supported.";
    return false;
  }
  XmlByteEncoding result;
  if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) result.bom_size = 3;
  std::string_view declared;
  if (DeclaredEncoding(bytes.substr(result.bom_size), &declared)) {
    result.code_page = CodePageFromEncodingName(declared);
    if (result.code_page == 0) {
      *reason = "The declared encoding \"" + std::string(declared) + "\" is not supported.";
      return false;
    }
    if (result.bom_size != 0 && result.code_page != os::CP_UTF8) {
      *reason = "The document starts with a UTF-8 byte order mark but declares \"" +
                std::string(declared) + "\".";
      return false;
    }
  } else {
    result.code_page = result.bom_size != 0 ? os::CP_UTF8 : fallback;
  }
  *out = result;
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < n) {
    unsigned c = at(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned min;
    if ((c & 0xE0) == 0xC0) {
      len = 2, min = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, min = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, min = 0x10000, c &= 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      unsigned t = at(i + k);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

bool ConvertCodePage(std::string_view text, os::UINT from, os::UINT to, std::string* out) {
  if (from == os::CP_ACP) from = os::GetACP();
  if (to == os::CP_ACP) to = os::GetACP();
  if (IsAscii(text)) {
    out->assign(text);
    return true;
  }
  if (from == to && from == os::CP_UTF8) {
    if (!IsValidUtf8(text)) return false;
    out->assign(text);
    return true;
  }
  std::u16string wide;
  if (!os::MultiByteToWide(text, &wide, from)) return false;
  if (from == to) {
    out->assign(text);
    return true;
  }
  return os::WideToMultiByte(wide, out, to);
}

}  // namespace pelisto
