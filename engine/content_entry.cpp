#include "engine/content_entry.h"

#include "platform/xml_node_wrapper.h"

namespace pelisto {
namespace {

// An attribute read outside the record: empty when absent.
std::string AttributeText(const IXMLNodeWrapper& node, const char* name) {
  std::string text;
  node.GetAttribute(name, &text);
  return text;
}

}  // namespace

const std::array<ContentAttribute, 15> kContentAttributes = {{
    {"name", &ContentEntry::name},
    {"ver", &ContentEntry::ver},
    {"url", &ContentEntry::url},
    {"target", &ContentEntry::target},
    {"type", &ContentEntry::type},
    {"q", &ContentEntry::q},
    {"lnkName", &ContentEntry::lnkName},
    {"toSetVer", &ContentEntry::toSetVer},
    {"regRoot", &ContentEntry::regRoot},
    {"regTo", &ContentEntry::regTo},
    {"attrName", &ContentEntry::attrName},
    {"isDown", &ContentEntry::isDown},
    {"patchURL", &ContentEntry::patchURL},
    {"argument", &ContentEntry::argument},
    {"regMode", &ContentEntry::regMode},
}};

void ReadContentEntry(IXMLNodeWrapper& node, ContentEntry* entry) {
  node.LoadAttributes();
  for (const ContentAttribute& a : kContentAttributes) node.GetAttribute(a.name, &(entry->*a.field));
}

std::string ReadSensitive(const IXMLNodeWrapper& node) { return AttributeText(node, "sensitive"); }

std::string ReadContentHash(const IXMLNodeWrapper& node) { return AttributeText(node, "sha256"); }

}  // namespace pelisto
