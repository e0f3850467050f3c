#include "platform/xml_node_wrapper.h"

#include "os/com/hresult.h"
#include "platform/xml_tree.h"

namespace pelisto {
namespace {
constexpr const char* kNode = "IXMLDOMNode";
constexpr const char* kAttributes = "IXMLDOMNamedNodeMap";

pugi::xml_node Node(const XmlNodeHandle& h) { return pugi::xml_node(h.node); }

DOMNodeType TypeOf(pugi::xml_node n) {
  switch (n.type()) {
    case pugi::node_element: return NODE_ELEMENT;
    case pugi::node_pcdata: return NODE_TEXT;
    case pugi::node_cdata: return NODE_CDATA_SECTION;
    case pugi::node_declaration:  // the declaration is a processing instruction to the DOM
    case pugi::node_pi: return NODE_PROCESSING_INSTRUCTION;
    case pugi::node_comment: return NODE_COMMENT;
    case pugi::node_document: return NODE_DOCUMENT;
    case pugi::node_doctype: return NODE_DOCUMENT_TYPE;
    case pugi::node_null: break;
  }
  return NODE_INVALID;
}
}  // namespace

IXMLNodeWrapper::IXMLNodeWrapper() = default;

IXMLNodeWrapper::IXMLNodeWrapper(XmlNodeHandle node) {
  if (node) node_ = std::move(node);
}

DOMNodeType IXMLNodeWrapper::GetNodeType() const {
  if (!node_) ThrowDomError(os::E_POINTER, kNode);
  return TypeOf(Node(node_));
}

void IXMLNodeWrapper::LoadAttributes() {
  if (!node_) ThrowDomError(os::E_POINTER, kNode);
  if (Node(node_).type() == pugi::node_element) {
    attributes_ = node_;
  } else {
    attributes_ = XmlNodeHandle();
  }
}

void IXMLNodeWrapper::GetAttribute(const std::string& name, std::string* value) const {
  if (!attributes_) ThrowDomError(os::E_POINTER, kAttributes);
  GuardDomCall(kAttributes, [&] {
    pugi::xml_attribute a = Node(attributes_).attribute(ToTreeText(name, kAttributes).c_str());
    if (!a) return;
    *value = FromTreeText(a.value(), kNode);
  });
}

void IXMLNodeWrapper::SetAttribute(const std::string& name, const std::string& value) {
  if (!attributes_) ThrowDomError(os::E_POINTER, kAttributes);
  GuardDomCall(kAttributes, [&] {
    std::string tree_name = ToTreeText(name, kAttributes);
    pugi::xml_attribute a = Node(attributes_).attribute(tree_name.c_str());
    if (!a) return;
    if (!a.set_value(ToTreeText(value, kNode).c_str())) ThrowDomError(os::E_OUTOFMEMORY, kNode);
    if (tree_name == "url") attributes_.tree->UrlChanged();
  });
}

}  // namespace pelisto
