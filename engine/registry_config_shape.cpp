#include "engine/registry_config_shape.h"

#include <algorithm>
#include <vector>

namespace pelisto {
namespace {

// Where the parser gives up (its null pointer).
constexpr std::size_t kStop = std::string_view::npos;

class ShapeWalk {
 public:
  ShapeWalk(std::string_view text, bool utf8, const XmlBounds& bounds)
      : s_(text), utf8_(utf8), bounds_(bounds) {}

  XmlShape Run();

 private:
  enum class Markup { kDeclaration, kComment, kCdata, kOther, kElement };

  // The parser reads a NUL-terminated copy: past the end every byte reads as NUL.
  unsigned char At(std::size_t i) const { return i < s_.size() ? static_cast<unsigned char>(s_[i]) : 0; }
  bool End(std::size_t i) const { return i >= s_.size(); }
  bool Exceeded() const {
    return shape_.nesting > bounds_.max_nesting || shape_.attributes > bounds_.max_attributes ||
           shape_.attribute_bytes > bounds_.max_attribute_bytes;
  }

  static bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  // Bytes past ASCII count as letters, as the parser has it.
  static bool IsAlpha(unsigned char c) {
    return c >= 127 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  }
  static bool IsAlphaNum(unsigned char c) { return IsAlpha(c) || (c >= '0' && c <= '9'); }
  static bool IsHex(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }

  bool StartsWith(std::size_t i, std::string_view what) const {
    return i < s_.size() && s_.substr(i, what.size()) == what;
  }
  bool StartsWithNoCase(std::size_t i, std::string_view what) const {
    for (std::size_t k = 0; k < what.size(); ++k) {
      unsigned char c = At(i + k);
      if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
      if (c != static_cast<unsigned char>(what[k])) return false;
    }
    return true;
  }

  std::size_t SkipSpace(std::size_t i) const;
  std::size_t ReadName(std::size_t i) const;
  std::size_t NextChar(std::size_t i) const;
  std::size_t Reference(std::size_t i) const;
  std::size_t ReadText(std::size_t i, bool trim, std::string_view end) const;
  std::size_t Attribute(std::size_t i, std::size_t* value_bytes) const;
  std::size_t Declaration(std::size_t i) const;
  std::size_t Through(std::size_t i, std::string_view end) const;
  Markup Identify(std::size_t i) const;
  std::size_t ElementStart(std::size_t i);
  std::size_t EndTag(std::size_t i);

  std::string_view s_;
  bool utf8_;
  const XmlBounds& bounds_;
  XmlShape shape_;
  std::vector<std::string_view> open_;  // names of the elements being read, outermost first
};

std::size_t ShapeWalk::SkipSpace(std::size_t i) const {
  if (End(i)) return kStop;
  while (!End(i)) {
    // In UTF-8 a byte order mark (and U+FFFE, U+FFFF) reads as blank anywhere.
    if (utf8_ && At(i) == 0xEF &&
        ((At(i + 1) == 0xBB && At(i + 2) == 0xBF) || (At(i + 1) == 0xBF && (At(i + 2) == 0xBE || At(i + 2) == 0xBF)))) {
      i += 3;
    } else if (IsSpace(At(i))) {
      ++i;
    } else {
      break;
    }
  }
  return i;
}

std::size_t ShapeWalk::ReadName(std::size_t i) const {
  if (End(i) || !(IsAlpha(At(i)) || At(i) == '_')) return kStop;
  while (IsAlphaNum(At(i)) || At(i) == '_' || At(i) == '-' || At(i) == '.' || At(i) == ':') ++i;
  return i;
}

// One character of text: a whole UTF-8 sequence, a reference, or one byte.
std::size_t ShapeWalk::NextChar(std::size_t i) const {
  unsigned char c = At(i);
  if (utf8_ && c >= 0xC2 && c <= 0xF4) return i + (c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4);
  return c == '&' ? Reference(i) : i + 1;
}

// A "&#...;" reference runs to the next ';' and is checked only from there back to its
// last 'x' (or '#'); whatever lies before that, quotes and '<' included, is swallowed.
std::size_t ShapeWalk::Reference(std::size_t i) const {
  if (At(i + 1) != '#' || At(i + 2) == 0) return i + 1;  // named entities hold no markup
  const bool hex = At(i + 2) == 'x';
  if (hex && At(i + 3) == 0) return kStop;
  std::size_t semi = s_.find(';', i + (hex ? 3 : 2));
  if (semi == std::string_view::npos) return kStop;
  const unsigned char stop_at = hex ? 'x' : '#';
  for (std::size_t k = semi - 1; At(k) != stop_at; --k) {
    if (hex ? !IsHex(At(k)) : !(At(k) >= '0' && At(k) <= '9')) return kStop;
  }
  return semi + 1;
}

std::size_t ShapeWalk::ReadText(std::size_t i, bool trim, std::string_view end) const {
  if (trim) i = SkipSpace(i);
  while (i != kStop && !End(i) && !StartsWith(i, end)) i = trim && IsSpace(At(i)) ? i + 1 : NextChar(i);
  return i == kStop ? kStop : i + end.size();
}

std::size_t ShapeWalk::Attribute(std::size_t i, std::size_t* value_bytes) const {
  *value_bytes = 0;
  i = SkipSpace(i);
  if (i == kStop || End(i)) return kStop;
  i = ReadName(i);
  if (i == kStop || End(i)) return kStop;
  i = SkipSpace(i);
  if (i == kStop || At(i) != '=') return kStop;
  i = SkipSpace(i + 1);
  if (i == kStop || End(i)) return kStop;
  const unsigned char quote = At(i);
  if (quote == '"' || quote == '\'') {
    const std::size_t start = i + 1;
    const char end = static_cast<char>(quote);
    i = ReadText(start, false, std::string_view(&end, 1));
    if (i != kStop) *value_bytes = (End(i) ? s_.size() : i - 1) - start;
    return i;
  }
  const std::size_t start = i;
  while (!End(i) && !IsSpace(At(i)) && At(i) != '/' && At(i) != '>') {
    if (At(i) == '"' || At(i) == '\'') return kStop;
    ++i;
  }
  *value_bytes = i - start;
  return i;
}

// "<?xml" in any case, with its version, encoding and standalone values read as
// attributes (so a '>' inside their quotes does not end it).
std::size_t ShapeWalk::Declaration(std::size_t i) const {
  i += 5;
  while (!End(i)) {
    if (At(i) == '>') return i + 1;
    i = SkipSpace(i);
    if (End(i)) return kStop;
    if (StartsWithNoCase(i, "version") || StartsWithNoCase(i, "encoding") || StartsWithNoCase(i, "standalone")) {
      std::size_t ignored;
      i = Attribute(i, &ignored);
      if (i == kStop) return kStop;
    } else {
      while (!End(i) && At(i) != '>' && !IsSpace(At(i))) ++i;
    }
  }
  return kStop;
}

// Past the first `end` from `i`, or the end of the text when there is none.
std::size_t ShapeWalk::Through(std::size_t i, std::string_view end) const {
  std::size_t at = s_.find(end, i);
  return at == std::string_view::npos ? s_.size() : at + end.size();
}

ShapeWalk::Markup ShapeWalk::Identify(std::size_t i) const {
  if (StartsWithNoCase(i, "<?xml")) return Markup::kDeclaration;
  if (StartsWith(i, "<!--")) return Markup::kComment;
  if (StartsWith(i, "<![CDATA[")) return Markup::kCdata;
  if (StartsWith(i, "<!")) return Markup::kOther;
  if (IsAlpha(At(i + 1)) || At(i + 1) == '_') return Markup::kElement;
  return Markup::kOther;
}

// From an element's '<' through its start tag: pushes it when content follows.
std::size_t ShapeWalk::ElementStart(std::size_t i) {
  shape_.nesting = std::max(shape_.nesting, open_.size() + 1);
  if (Exceeded()) return kStop;
  const std::size_t name_start = SkipSpace(i + 1);
  i = ReadName(name_start);
  if (i == kStop || End(i)) return kStop;
  const std::string_view name = s_.substr(name_start, i - name_start);
  std::size_t attributes = 0;
  for (;;) {
    i = SkipSpace(i);
    if (i == kStop || End(i)) return kStop;
    if (At(i) == '/') return At(i + 1) == '>' ? i + 2 : kStop;
    if (At(i) == '>') {
      open_.push_back(name);
      return i + 1;
    }
    // A repeated attribute name ends the parser's reading; counting it anyway only errs
    // on the large side.
    std::size_t value_bytes = 0;
    i = Attribute(i, &value_bytes);
    shape_.attributes = std::max(shape_.attributes, ++attributes);
    shape_.attribute_bytes = std::max(shape_.attribute_bytes, value_bytes);
    if (Exceeded() || i == kStop || End(i)) return kStop;
  }
}

// "</name" of the innermost open element, blanks, then '>'; anything else ends the reading.
std::size_t ShapeWalk::EndTag(std::size_t i) {
  const std::string_view name = open_.back();
  if (!StartsWith(i + 2, name)) return kStop;
  i = SkipSpace(i + 2 + name.size());
  if (i == kStop || At(i) != '>') return kStop;
  open_.pop_back();
  return i + 1;
}

XmlShape ShapeWalk::Run() {
  std::size_t i = SkipSpace(0);
  while (i != kStop && !End(i)) {
    if (At(i) != '<') {
      // Text is content inside an element; at the top level it ends the document.
      if (open_.empty()) break;
      i = ReadText(i, true, "<");
      i = i == kStop || End(i) ? kStop : i - 1;
    } else if (!open_.empty() && StartsWith(i, "</")) {
      i = EndTag(i);
    } else {
      switch (Identify(i)) {
        case Markup::kDeclaration: i = Declaration(i); break;
        case Markup::kComment: i = Through(i + 4, "-->"); break;
        case Markup::kCdata: i = Through(i + 9, "]]>"); break;
        case Markup::kOther: i = Through(i + 1, ">"); break;
        case Markup::kElement: i = ElementStart(i); break;
      }
    }
    if (i != kStop) i = SkipSpace(i);
  }
  return shape_;
}

}  // namespace

XmlShape MeasureRegistryConfig(std::string_view text, bool utf8, const XmlBounds& bounds) {
  return ShapeWalk(text, utf8, bounds).Run();
}

}  // namespace pelisto
