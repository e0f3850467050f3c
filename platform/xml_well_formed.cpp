#include "platform/xml_well_formed.h"

#include <cstdint>

namespace pelisto {
namespace {

bool IsXmlChar(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsDigit(char c, bool hex) {
  return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// The reference that starts at `text[at]` ('&'); its length through the ';', or 0 when it is
// not one a well-formed document may hold.
std::size_t ReferenceLength(std::string_view text, std::size_t at) {
  const std::size_t semi = text.find(';', at + 1);
  if (semi == std::string_view::npos || semi - at > 12) return 0;
  const std::string_view name = text.substr(at + 1, semi - at - 1);
  if (name == "amp" || name == "lt" || name == "gt" || name == "apos" || name == "quot") {
    return semi - at + 1;
  }
  if (name.size() < 2 || name[0] != '#') return 0;
  const bool hex = name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (!IsDigit(c, hex)) return 0;
    const std::uint32_t d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * (hex ? 16 : 10) + d;
    if (value > 0x10FFFF) return 0;
  }
  return IsXmlChar(value) ? semi - at + 1 : 0;
}

// Where the construct that starts at `text[at]` ('<') and in which "&" is no reference ends,
// or `at` when none starts there.
std::size_t SkipLiteral(std::string_view text, std::size_t at) {
  auto past = [&](std::string_view end) {
    const std::size_t found = text.find(end, at);
    return found == std::string_view::npos ? text.size() : found + end.size();
  };
  const std::string_view rest = text.substr(at);
  if (rest.starts_with("<!--")) return past("-->");
  if (rest.starts_with("<![CDATA[")) return past("]]>");
  if (rest.starts_with("<?")) return past("?>");
  if (rest.starts_with("<!DOCTYPE")) {
    // The internal subset may hold ">" inside its declarations.
    int brackets = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
      if (text[i] == '[') ++brackets;
      if (text[i] == ']') --brackets;
      if (text[i] == '>' && brackets <= 0) return i + 1;
    }
    return text.size();
  }
  return at;
}

// Where the tag that starts at `text[at]` ('<') ends (past its '>'), quotes respected.
std::size_t TagEnd(std::string_view text, std::size_t at) {
  char quote = 0;
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (quote != 0) {
      if (text[i] == quote) quote = 0;
    } else if (text[i] == '"' || text[i] == '\'') {
      quote = text[i];
    } else if (text[i] == '>') {
      return i + 1;
    }
  }
  return text.size();
}

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool CheckCharacters(std::string_view text, std::string* reason) {
  int depth = 0;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      *reason = "The document holds a control character (at byte " + std::to_string(i) + ").";
      return false;
    }
    if (c == '<') {
      const std::size_t end = SkipLiteral(text, i);
      if (end != i) {
        // Comments and the like still may not hold control characters.
        for (std::size_t j = i; j < end; ++j) {
          const unsigned char d = static_cast<unsigned char>(text[j]);
          if (d < 0x20 && d != '\t' && d != '\n' && d != '\r') {
            *reason = "The document holds a control character (at byte " + std::to_string(j) + ").";
            return false;
          }
        }
        i = end;
        continue;
      }
      // An element's tag: the nesting tells text inside the root from text beside it.
      const std::size_t end_of_tag = TagEnd(text, i);
      if (text.substr(i, 2) == "</") {
        --depth;
      } else if (end_of_tag < 2 || text[end_of_tag - 2] != '/') {
        ++depth;
      }
      for (std::size_t j = i; j < end_of_tag; ++j) {
        const unsigned char d = static_cast<unsigned char>(text[j]);
        if (d < 0x20 && d != '\t' && d != '\n' && d != '\r') {
          *reason = "The document holds a control character (at byte " + std::to_string(j) + ").";
          return false;
        }
        if (d == '&') {
          const std::size_t length = ReferenceLength(text, j);
          if (length == 0) {
            *reason = "The document holds an undefined or invalid reference (at byte " +
                      std::to_string(j) + ").";
            return false;
          }
          j += length - 1;
        }
      }
      i = end_of_tag;
      continue;
    }
    if (depth == 0 && !IsBlankChar(text[i])) {
      *reason = "The document holds text outside its root element.";
      return false;
    }
    if (c == '&') {
      const std::size_t length = ReferenceLength(text, i);
      if (length == 0) {
        *reason = "The document holds an undefined or invalid reference (at byte " +
                  std::to_string(i) + ").";
        return false;
      }
      i += length;
      continue;
    }
    ++i;
  }
  return true;
}

bool IsBlank(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
  }
  return true;
}

}  // namespace

bool IsWellFormedDocument(const pugi::xml_document& doc, std::string_view text,
                          std::string* reason) {
  int roots = 0;
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    switch (n.type()) {
      case pugi::node_element:
        ++roots;
        break;
      case pugi::node_pcdata:
        if (IsBlank(n.value())) break;
        [[fallthrough]];
      case pugi::node_cdata:
        *reason = "The document holds text outside its root element.";
        return false;
      default:
        break;
    }
  }
  if (roots != 1) {
    *reason = roots == 0 ? "The document has no root element."
                         : "The document has more than one root element.";
    return false;
  }
  return CheckCharacters(text, reason);
}

}  // namespace pelisto
