// The version check of the comparison run: is a `content` entry of the new configuration
// already installed, judged against the configuration stored by the previous run?
#pragma once

#include <string>
#include <string_view>

#include "os/base/types.h"

namespace pelisto {

class IXMLDocumentWrapper;
class IXMLNodeWrapper;

// Finds the first `content` element of `stored` whose `url` equals `url` (selected with
// "//content[@url ='<url>']", the address put in unchanged) and compares its `ver` with `ver`
// under the `sensitive` rule read from `entry` (whose attributes must be loaded):
//
//   rule          stored after new    equal               stored before new
//   "upgrade"     1, entry ver:=old   1, entry ver:=old   0
//   "downgrade"   0                   1, entry ver:=old   1, entry ver:=old
//   other         0                   1                   0
//
// Returns 1 for "already installed" and 0 for "changed", and 0 when `stored` has no element
// with the address. Rule texts match exactly, with case; a missing `ver` or `sensitive` is
// the empty text; `entry`'s `ver` is only rewritten when the attribute exists.
//
// Raises RunError("Failed new") when the expression cannot be allocated, and the XML layer's
// os::ComError for a failing DOM call. An address holding an apostrophe cannot be put in the
// expression: it raises os::ComError(E_FAIL, "IXMLDOMDocument") even where the text it makes
// happens to be a valid expression that would select some other element.
int CheckVersion(const IXMLDocumentWrapper& stored, const std::string& url,
                 const std::string& ver, IXMLNodeWrapper& entry);

// Compares two texts character by character by code value in `code_page`, a double-byte
// character of a DBCS page (949) counting as one value made of its two bytes; a text that is
// the beginning of the other sorts first. Returns a negative, zero or positive value.
int CompareMultiByte(std::string_view a, std::string_view b, os::UINT code_page);

}  // namespace pelisto
