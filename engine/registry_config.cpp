#include "engine/registry_config.h"

#include <tinyxml.h>

#include <charconv>
#include <cstdio>

#include "os/base/text.h"
#include "os/fs/file_util.h"
#include "platform/xml_encoding.h"

namespace pelisto {
namespace {

// TinyXML parses elements recursively; deeper documents would exhaust the stack. Update
// configurations are two levels deep.
constexpr int kMaxNesting = 1000;

std::string FormatMessage(const std::string& path, const std::string& description) {
  return "Error in " + path + ": " + description + "\n";
}


// The deepest element nesting of `text`, skipping comments, CDATA sections, processing
// instructions and declarations. An estimate for malformed text, exact for a well-formed one.
int MaxNesting(std::string_view text) {
  int depth = 0, deepest = 0;
  auto skip_to = [&](std::size_t from, std::string_view end) {
    std::size_t at = text.find(end, from);
    return at == std::string_view::npos ? text.size() : at + end.size();
  };
  for (std::size_t i = text.find('<'); i < text.size(); i = text.find('<', i)) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = skip_to(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skip_to(i + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      i = skip_to(i + 2, "?>");
    } else if (rest.starts_with("<!")) {
      i = skip_to(i + 2, ">");
    } else if (rest.starts_with("</")) {
      --depth;
      i = skip_to(i + 2, ">");
    } else {
      std::size_t close = skip_to(i + 1, ">");
      if (close < 2 || text[close - 2] != '/') deepest = std::max(deepest, ++depth);
      i = close;
    }
  }
  return deepest;
}

}  // namespace

bool LoadRegistryConfig(const std::string& path, std::vector<ContentEntry>* entries,
                        std::string* message) {
  TiXmlDocument doc(path.c_str());
  std::string bytes;
  if (!os::ReadWholeFile(path, &bytes)) {
    doc.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    *message = FormatMessage(path, doc.ErrorDesc());
    return false;
  }
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
  if (MaxNesting(text) > kMaxNesting) {
    *message = FormatMessage(path, "Elements are nested more than " +
                                       std::to_string(kMaxNesting) + " levels deep.");
    return false;
  }
  doc.Parse(text.c_str(), nullptr,
            os::GetACP() == os::CP_UTF8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY);
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
