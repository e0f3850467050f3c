#include "platform/xml_tree.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "platform/xml_bounds.h"
#include "platform/xml_encoding.h"
#include "platform/xml_well_formed.h"

namespace pelisto {
namespace {

constexpr unsigned kParseOptions = pugi::parse_full | pugi::parse_ws_pcdata;

// pugixml accepts an element that repeats an attribute name; XML does not.
bool HasDuplicateAttribute(pugi::xml_node element, std::string* name) {
  std::size_t count = 0;
  for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) ++count;
  if (count < 2) return false;
  if (count <= 16) {
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
      for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
        if (std::strcmp(a.name(), b.name()) == 0) return *name = a.name(), true;
      }
    }
    return false;
  }
  std::unordered_set<std::string_view> seen;
  for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
    if (!seen.insert(a.name()).second) return *name = a.name(), true;
  }
  return false;
}

// Refuses a tree that holds more than the bounds allow, or an element that repeats an
// attribute name. One walk, without recursion.
bool CheckTree(const pugi::xml_document& doc, const XmlBounds& bounds, std::string* reason) {
  XmlShape shape;
  std::size_t depth = 0;
  for (pugi::xml_node n = doc.first_child(); n;) {
    if (n.type() == pugi::node_element) {
      std::size_t count = 0;
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        ++count;
        shape.attribute_bytes = std::max(shape.attribute_bytes, std::strlen(a.value()));
      }
      shape.attributes = std::max(shape.attributes, count);
      shape.nesting = std::max(shape.nesting, depth + 1);
      if (!WithinBounds(shape, bounds, reason)) return false;
      std::string name;
      if (HasDuplicateAttribute(n, &name)) {
        *reason = "Duplicate attribute \"" + name + "\" on element \"" + n.name() + "\".";
        return false;
      }
    }
    if (n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
    }
    if (n) n = n.next_sibling();
  }
  return true;
}

// The encoding scan reads the declaration's text before the parser does. Where the two read
// it differently (an "encoding" inside another value, markup that ends the parser's reading
// early), the tree would be saved with a declaration that no longer names the encoding its
// bytes are written in, and could not be read back: such a declaration is refused.
bool DeclarationAgrees(const pugi::xml_document& doc, os::UINT code_page, std::string* reason) {
  pugi::xml_attribute named;
  if (pugi::xml_node first = doc.first_child(); first.type() == pugi::node_declaration) {
    named = first.attribute("encoding");
  }
  if ((named ? CodePageFromEncodingName(named.value()) : os::UINT{os::CP_UTF8}) == code_page) return true;
  *reason = "The XML declaration is not well-formed.";
  return false;
}

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string* out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_->append(static_cast<const char*>(data), size);
  }

 private:
  std::string* out_;
};

}  // namespace

std::shared_ptr<XmlTree> XmlTree::Parse(std::string_view bytes, std::string* reason) {
  if (bytes.size() > kConfigBounds.max_document_bytes) {
    *reason = DocumentTooLargeReason(kConfigBounds);
    return nullptr;
  }
  XmlByteEncoding encoding;
  if (!DetectXmlEncoding(bytes, os::CP_UTF8, &encoding, reason)) return nullptr;
  std::string_view body = bytes.substr(encoding.bom_size);
  if (body.find('\0') != std::string_view::npos) {
    *reason = "The document holds a NUL byte.";
    return nullptr;
  }
  std::string utf8;
  if (!ConvertCodePage(body, encoding.code_page, os::CP_UTF8, &utf8)) {
    *reason = "The document holds bytes that are not valid in its encoding (code page " +
              std::to_string(encoding.code_page) + ").";
    return nullptr;
  }
  auto tree = std::make_shared<XmlTree>();
  tree->code_page = encoding.code_page;
  tree->bom = encoding.bom_size != 0;
  pugi::xml_parse_result result =
      tree->doc.load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  if (!result) {
    *reason = std::string(result.description()) + " (at byte " + std::to_string(result.offset) + ").";
    return nullptr;
  }
  if (!DeclarationAgrees(tree->doc, encoding.code_page, reason)) return nullptr;
  if (!CheckTree(tree->doc, kConfigBounds, reason)) return nullptr;
  if (!IsWellFormedDocument(tree->doc, utf8, reason)) return nullptr;
  return tree;
}

std::string XmlTree::Serialize() const {
  std::string out;
  StringWriter writer(&out);
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    n.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    out.push_back('\n');
  }
  return out;
}

pugi::xml_node XmlTree::FirstContentWithUrl(std::string_view url) {
  if (!url_index_built_) BuildUrlIndex();
  auto it = url_index_.find(std::string(url));
  return it == url_index_.end() ? pugi::xml_node() : it->second;
}

void XmlTree::BuildUrlIndex() {
  url_index_.clear();
  // Pre-order is document order, and only the first element per address is kept.
  for (pugi::xml_node n = doc.first_child(); n;) {
    if (n.type() == pugi::node_element && std::strcmp(n.name(), "content") == 0) {
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        if (std::strcmp(a.name(), "url") == 0) url_index_.try_emplace(a.value(), n);
      }
    }
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) n = n.parent();
    if (n) n = n.next_sibling();
  }
  url_index_built_ = true;
}

void ThrowDomError(os::HRESULT hr, const char* iface, std::string description) {
  throw os::ComError(hr, iface, std::move(description));
}

std::string ToTreeText(std::string_view ansi, const char* iface) {
  std::string out;
  if (!ConvertCodePage(ansi, os::CP_ACP, os::CP_UTF8, &out)) {
    ThrowDomError(os::HRESULT_FROM_WIN32(os::ERROR_INVALID_DATA), iface,
                  "The text is not valid in the system code page.");
  }
  return out;
}

std::string FromTreeText(std::string_view utf8, const char* iface) {
  std::string out;
  if (!ConvertCodePage(utf8, os::CP_UTF8, os::CP_ACP, &out)) {
    ThrowDomError(os::HRESULT_FROM_WIN32(os::ERROR_INVALID_DATA), iface,
                  "The text cannot be represented in the system code page.");
  }
  return out;
}

}  // namespace pelisto
