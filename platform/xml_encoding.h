// Code pages of XML documents, and conversions of their text to and from the system ANSI
// code page. Both XML readers use these, so a document means the same bytes to either.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "os/base/types.h"

namespace pelisto {

// The code page an encoding name of an XML declaration stands for ("EUC-KR" and its
// aliases: 949; "UTF-8": 65001; ...). Names compare without case. 0 for a name this system
// cannot convert.
os::UINT CodePageFromEncodingName(std::string_view name);
// The name a declaration gives text in `code_page` (CP_ACP allowed): "EUC-KR" for 949,
// "UTF-8" for 65001, ...; empty for a page this system cannot convert.
std::string EncodingNameFromCodePage(os::UINT code_page);

// How a document's bytes are to be read.
struct XmlByteEncoding {
  os::UINT code_page = 0;   // the page the text after the mark is in
  std::size_t bom_size = 0; // bytes of a UTF-8 byte order mark at the front (0 or 3)
};

// Decides the encoding of `bytes`: a UTF-8 byte order mark, else the `encoding` of the XML
// declaration, else `fallback`. On failure returns false and stores the reason in `reason`
// (UTF-16/32 text, an encoding name this system cannot convert, a mark that contradicts the
// declaration); `out` is then untouched.
bool DetectXmlEncoding(std::string_view bytes, os::UINT fallback, XmlByteEncoding* out,
                       std::string* reason);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsValidUtf8(std::string_view text);
bool IsAscii(std::string_view text);

// Converts `text` from code page `from` to `to` (CP_ACP allowed for either). Text made only of
// ASCII is copied as it stands, since every supported page is an ASCII superset. Returns
// false, leaving `out` untouched, when `text` holds bytes that are not valid in `from` or
// characters that `to` cannot represent. Throws std::bad_alloc when memory runs out.
bool ConvertCodePage(std::string_view text, os::UINT from, os::UINT to, std::string* out);

}  // namespace pelisto
