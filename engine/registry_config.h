// The configuration as the registry-mode run reads it, through TinyXML: the element children
// of the document's first element, in order, whatever their names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/content_entry.h"

namespace pelisto {

// Loads the configuration at the Windows-form `path` and reads every element child of its
// first (root) element into `entries`, in document order; text, comments and other node kinds
// are skipped, and a document without a root element gives no entries. The file's text is
// taken in the encoding its declaration names (the system code page when it names none) and
// handed over in the system code page.
//
// On failure returns false, leaves `entries` untouched and stores the parser's message in
// `message`, formatted "Error in %s: %s\n" with the path and the error description: a file
// that cannot be read ("Failed to open file"), that does not parse, that holds bytes not
// valid in its encoding or a NUL byte, or that holds more than kConfigBounds allows
// (platform/xml_bounds.h: size, nesting, attributes per element, attribute size), which is
// judged before the parser runs.
// With `content` given, that is the file's content (already read and checked, as a signed
// document's is) and the file is not read again; `path` then only names it in messages.
bool LoadRegistryConfig(const std::string& path, std::vector<ContentEntry>* entries,
                        std::string* message, const std::string* content = nullptr);

// The leading decimal number of a version text, as the registry-mode run compares versions:
// an optional sign, digits, a point and fraction digits; reading stops at the first character
// that cannot continue the number ("2.6" 2.6, "1.10" 1.1, "1.2.3" 1.2). A text that does not
// start with a number reads as 0.
double ReadVersionNumber(std::string_view text);

}  // namespace pelisto
