// One `content` element of an update configuration, read into its fifteen texts.
#pragma once

#include <array>
#include <string>

namespace pelisto {

class IXMLNodeWrapper;

// The attributes of a `content` element in the order they are read. Every field is a text;
// a missing attribute reads as the empty text.
struct ContentEntry {
  std::string name;
  std::string ver;
  std::string url;
  std::string target;
  std::string type;
  std::string q;
  std::string lnkName;
  std::string toSetVer;
  std::string regRoot;
  std::string regTo;
  std::string attrName;
  std::string isDown;
  std::string patchURL;
  std::string argument;
  std::string regMode;

  bool operator==(const ContentEntry&) const = default;
};

// The attribute names with the field each one fills, in reading order.
struct ContentAttribute {
  const char* name;
  std::string ContentEntry::*field;
};
extern const std::array<ContentAttribute, 15> kContentAttributes;

// Reads `node`'s attributes into `entry`: LoadAttributes, then each of the fifteen
// attributes in order; an absent attribute leaves its field as it was. Raises the XML
// layer's os::ComError (for example E_POINTER for an empty node).
void ReadContentEntry(IXMLNodeWrapper& node, ContentEntry* entry);

// The version rule of an entry, read outside the record: its `sensitive` attribute, empty
// when absent. The node's attributes must be loaded (ReadContentEntry does it).
std::string ReadSensitive(const IXMLNodeWrapper& node);

// The digest the entry's file must have: its `sha256` attribute, empty when absent or empty
// (then nothing is checked). Read outside the record as `sensitive` is; the node's attributes
// must be loaded.
std::string ReadContentHash(const IXMLNodeWrapper& node);

}  // namespace pelisto
