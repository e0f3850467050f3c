// What a configuration document may hold, for both XML readers (the DOM layer and the
// registry-mode reader), so that one document is refused or taken by both alike. Update
// configurations are two levels deep with some fifteen short attributes per element; the
// bounds sit far above that and far below what would exhaust the stack, the memory or the
// time of a load.
#pragma once

#include <cstddef>
#include <string>

namespace pelisto {

struct XmlBounds {
  std::size_t max_document_bytes = 64u << 20;  // the file as stored
  std::size_t max_nesting = 256;               // elements inside one another
  std::size_t max_attributes = 256;            // attributes of one element
  std::size_t max_attribute_bytes = 64u << 10; // one attribute's value, as written
};

inline constexpr XmlBounds kConfigBounds{};

// The largest of each measure found in a document (or in its part read before a measure
// went past its bound).
struct XmlShape {
  std::size_t nesting = 0;
  std::size_t attributes = 0;
  std::size_t attribute_bytes = 0;
};

// True when `shape` is within `bounds`; otherwise false with a one-line reason.
bool WithinBounds(const XmlShape& shape, const XmlBounds& bounds, std::string* reason);

// The reason given for a file larger than `bounds` allows.
std::string DocumentTooLargeReason(const XmlBounds& bounds);

}  // namespace pelisto
