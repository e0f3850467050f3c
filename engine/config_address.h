// The configuration address of a run as the page gives it, and the names made from it.
#pragma once

#include <string>

namespace pelisto {

// Resolves a configuration address the page gave against the page's own address. An address
// that begins with neither "/" nor "." is returned as it is. Otherwise the base is the page
// address up to and including its third "/" (the site root; with fewer than three "/" its
// first character): "/rest", "./rest" and "../rest" all become base + rest, against the site
// root, not the page's folder. A "." followed by "//", or by anything but "/" or "./", is a
// bad form: returns false and leaves `*resolved` untouched.
bool ResolveConfigAddress(const std::string& address, const std::string& page_address,
                          std::string* resolved);

// The text after the last "/" of `address`; the whole address when it holds none.
std::string LastPathSegment(const std::string& address);

}  // namespace pelisto
