// The pugixml-backed document behind the XML access layer (internal to platform/xml_*).
//
// Text inside a tree is UTF-8 whatever the file's encoding; the file's code page is kept so
// that Save writes the bytes the declaration promises. The layer converts at its boundary
// between that UTF-8 and the system ANSI code page.
//
// Not thread-safe: a tree belongs to the thread that runs the update.
#pragma once

#include <pugixml.hpp>

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

#include "os/base/types.h"
#include "os/com/hresult.h"
#include "platform/xml_dom.h"

namespace pelisto {

struct XmlTree {
  pugi::xml_document doc;
  os::UINT code_page = 65001;  // the file's encoding, used again by Save
  bool bom = false;            // the file began with a UTF-8 byte order mark

  // Parses a whole file's bytes into a new tree. On failure returns null and stores a
  // one-line reason; a document beyond kConfigBounds (platform/xml_bounds.h) is refused.
  static std::shared_ptr<XmlTree> Parse(std::string_view bytes, std::string* reason);

  // The whole document as UTF-8 text: its top-level nodes, each followed by a line end,
  // everything inside them as it was loaded.
  std::string Serialize() const;

  // The first `content` element in document order that has a `url` attribute equal to `url`
  // (what "//content[@url ='...']" selects first), or an empty node. Answered from an index
  // built on first use and dropped by UrlChanged, so a walk that asks once per entry stays
  // linear.
  pugi::xml_node FirstContentWithUrl(std::string_view url);
  // Must be called whenever a `url` attribute of this tree changes.
  void UrlChanged() { url_index_built_ = false; }

 private:
  void BuildUrlIndex();

  std::unordered_map<std::string, pugi::xml_node> url_index_;
  bool url_index_built_ = false;
};

// The document object that copies of one document wrapper share.
struct XmlDomDocument {
  std::shared_ptr<XmlTree> tree;  // never null
  std::string parse_error;        // why the last Load failed; empty after a success
};

// A selection being walked: the nodes in document order and the position of the next one.
struct XmlNodeList {
  std::shared_ptr<XmlTree> tree;
  pugi::xpath_node_set nodes;
  std::size_t next = 0;
};

// The COM error of a failing DOM call; `iface` names the interface ("IXMLDOMNode").
[[noreturn]] void ThrowDomError(os::HRESULT hr, const char* iface, std::string description = {});

// Conversions between the caller's ANSI text and the tree's UTF-8; a text that cannot be
// converted raises the COM error with HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for `iface`.
std::string ToTreeText(std::string_view ansi, const char* iface);
std::string FromTreeText(std::string_view utf8, const char* iface);

// Runs `body`, turning an allocation failure into the COM error E_OUTOFMEMORY for `iface`.
template <typename Body>
auto GuardDomCall(const char* iface, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    ThrowDomError(os::E_OUTOFMEMORY, iface);
  }
}

}  // namespace pelisto
