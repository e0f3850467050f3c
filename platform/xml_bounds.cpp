#include "platform/xml_bounds.h"

namespace pelisto {

bool WithinBounds(const XmlShape& shape, const XmlBounds& bounds, std::string* reason) {
  if (shape.nesting > bounds.max_nesting) {
    *reason = "Elements are nested more than " + std::to_string(bounds.max_nesting) + " levels deep.";
  } else if (shape.attributes > bounds.max_attributes) {
    *reason = "An element has more than " + std::to_string(bounds.max_attributes) + " attributes.";
  } else if (shape.attribute_bytes > bounds.max_attribute_bytes) {
    *reason = "An attribute value is longer than " + std::to_string(bounds.max_attribute_bytes) + " bytes.";
  } else {
    return true;
  }
  return false;
}

std::string DocumentTooLargeReason(const XmlBounds& bounds) {
  return "The document is larger than " + std::to_string(bounds.max_document_bytes) + " bytes.";
}

}  // namespace pelisto
