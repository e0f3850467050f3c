// What the DOM parser lets through but a well-formed document does not hold (internal to
// platform/xml_*): the parser is lenient so that a document loads exactly when the DOM it
// stands in for would load it.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace pelisto {

// Checks the UTF-8 `text` that `doc` was parsed from: exactly one root element and no text
// beside it at the top level; every "&" in markup and text a reference to one of the five
// predefined entities or a character reference to a character XML allows (no &#0;, no
// surrogate); no control character but tab, line feed and carriage return. On failure
// returns false with a one-line reason.
bool IsWellFormedDocument(const pugi::xml_document& doc, std::string_view text,
                          std::string* reason);

}  // namespace pelisto
