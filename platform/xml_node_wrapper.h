// One node of a configuration document, as the XML access layer hands it out.
//
// A value object: copies share the node and the loaded attribute map (reference counting),
// and a node keeps its document alive. Text in and out is narrow text in the system ANSI
// code page.
//
// Failures raise os::ComError (the layer catches nothing):
//   E_POINTER         a node operation on an empty wrapper ("IXMLDOMNode"), an attribute
//                     operation before LoadAttributes ("IXMLDOMNamedNodeMap")
//   E_OUTOFMEMORY     memory ran out
//   0x8007000D        a text that cannot be converted between the code pages
// Not thread-safe: used on the thread that runs the update.
#pragma once

#include <string>

#include "os/base/types.h"
#include "platform/xml_dom.h"

namespace pelisto {

// Node types as the DOM numbers them.
enum DOMNodeType : os::LONG {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
  NODE_DOCUMENT_TYPE = 10,
};

class IXMLNodeWrapper {
 public:
  // An empty node: what a selection that found nothing returns.
  IXMLNodeWrapper();
  // Holds `node` (an empty handle gives an empty wrapper).
  explicit IXMLNodeWrapper(XmlNodeHandle node);
  IXMLNodeWrapper(const IXMLNodeWrapper&) = default;
  IXMLNodeWrapper(IXMLNodeWrapper&&) = default;
  IXMLNodeWrapper& operator=(const IXMLNodeWrapper&) = default;
  IXMLNodeWrapper& operator=(IXMLNodeWrapper&&) = default;
  virtual ~IXMLNodeWrapper() = default;

  // True when the wrapper holds no node ("not found", or the end of an iteration).
  bool IsEmpty() const { return !node_; }

  DOMNodeType GetNodeType() const;

  // Fetches the node's attribute map and keeps it, replacing an earlier one. A node that is
  // not an element has none: later attribute operations then raise E_POINTER.
  void LoadAttributes();

  // Stores the attribute's value in `*value`. When the attribute is absent `*value` is left
  // exactly as the caller set it, so callers preset it.
  void GetAttribute(const std::string& name, std::string* value) const;

  // Changes the value of an existing attribute; an absent attribute is not created.
  void SetAttribute(const std::string& name, const std::string& value);

 private:
  // Released in reverse order: the attribute map first, then the node.
  XmlNodeHandle node_;
  XmlNodeHandle attributes_;
};

}  // namespace pelisto
