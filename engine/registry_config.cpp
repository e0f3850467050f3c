#include "engine/registry_config.h"

#include <tinyxml.h>

#include <charconv>
#include <cstdio>

#include "engine/registry_config_shape.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/fs/file_util.h"
#include "platform/xml_bounds.h"
#include "platform/xml_encoding.h"

namespace pelisto {
namespace {

// The parser may step up to three bytes past the end of a malformed text; these NULs are
// what it finds there.
constexpr std::size_t kEndPadding = 4;

std::string FormatMessage(const std::string& path, const std::string& description) {
  return "Error in " + path + ": " + description + "\n";
}

}  // namespace

bool LoadRegistryConfig(const std::string& path, std::vector<ContentEntry>* entries,
                        std::string* message, const std::string* content) {
  TiXmlDocument doc(path.c_str());
  std::string read;
  if (content == nullptr) {
    if (!os::ReadWholeFile(path, &read, kConfigBounds.max_document_bytes)) {
      if (os::GetLastError() == os::ERROR_FILE_TOO_LARGE) {
        *message = FormatMessage(path, DocumentTooLargeReason(kConfigBounds));
        return false;
      }
      doc.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
      *message = FormatMessage(path, doc.ErrorDesc());
      return false;
    }
    content = &read;
  } else if (content->size() > kConfigBounds.max_document_bytes) {
    *message = FormatMessage(path, DocumentTooLargeReason(kConfigBounds));
    return false;
  }
  const std::string& bytes = *content;
  XmlByteEncoding encoding;
  std::string reason;
  if (!DetectXmlEncoding(bytes, os::GetACP(), &encoding, &reason)) {
    *message = FormatMessage(path, reason);
    return false;
  }
  std::string_view body = std::string_view(bytes).substr(encoding.bom_size);
  std::string text;
  if (body.find('\0') != std::string_view::npos) {
    *message = FormatMessage(path, "The document holds a NUL byte.");
    return false;
  }
  if (!ConvertCodePage(body, encoding.code_page, os::CP_ACP, &text)) {
    *message = FormatMessage(path, "The document holds text that is not valid in code page " +
                                       std::to_string(encoding.code_page) +
                                       " or cannot be represented in the system code page.");
    return false;
  }
  const bool utf8 = os::GetACP() == os::CP_UTF8;
  // The parser recurses once per nested element and is quadratic in an element's
  // attributes: its shape is checked before it runs.
  if (!WithinBounds(MeasureRegistryConfig(text, utf8, kConfigBounds), kConfigBounds, &reason)) {
    *message = FormatMessage(path, reason);
    return false;
  }
  text.append(kEndPadding, '\0');
  doc.Parse(text.c_str(), nullptr, utf8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY);
  if (doc.Error()) {
    *message = FormatMessage(path, doc.ErrorDesc());
    return false;
  }
  std::vector<ContentEntry> result;
  if (const TiXmlElement* root = doc.RootElement()) {
    for (const TiXmlElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
      ContentEntry& entry = result.emplace_back();
      for (const ContentAttribute& a : kContentAttributes) {
        if (const char* value = e->Attribute(a.name)) entry.*a.field = value;
      }
    }
  }
  *entries = std::move(result);
  return true;
}

double ReadVersionNumber(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::size_t start = i;
  auto digits = [&] {
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  };
  digits();
  std::size_t integer_end = i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    digits();
  }
  // A lone point, or a sign without digits, is no number.
  if (integer_end == start && i <= start + 1) return 0.0;
  std::string number(text.substr(start, i - start));
  if (number.front() == '.') number.insert(number.begin(), '0');
  if (number.back() == '.') number.pop_back();
  double value = 0.0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return negative ? -value : value;
}

}  // namespace pelisto
