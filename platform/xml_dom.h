// The DOM that stands behind the XML access layer: a pugixml tree per loaded document.
// The wrappers (xml_document_wrapper.h, xml_node_wrapper.h) hold only these opaque handles;
// xml_tree.h has the definitions, for platform/xml_*.cpp alone.
//
// Ownership: every handle shares ownership of the tree its node lives in, so a node stays
// valid after its document wrapper has gone or has loaded another file, as DOM nodes do.
#pragma once

#include <memory>

namespace pugi {
struct xml_node_struct;
}

namespace pelisto {

struct XmlTree;
struct XmlDomDocument;
struct XmlNodeList;

// One node of one tree; empty when `node` is null.
struct XmlNodeHandle {
  std::shared_ptr<XmlTree> tree;
  pugi::xml_node_struct* node = nullptr;

  explicit operator bool() const { return node != nullptr; }
};

}  // namespace pelisto
