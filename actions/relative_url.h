// The addresses of content entries relative to their configuration.
#pragma once

#include <string>

namespace pelisto {

// Resolves an entry's `url` against the configuration address `config_url`, whose part up to
// and including its last "/" is the base (empty when it has none):
//   "/x"    base + "x"
//   ".//x"  the base, with `*bad_form` set
//   "./x"   base + "x"
//   "../x"  base + "x" (the base folder itself: no level is climbed)
//   ".x"    (a dot followed by anything else, or a lone dot) the base, with `*bad_form` set
//   other   unchanged (a full address, a bare file name, the empty text)
// `*bad_form` is cleared otherwise.
std::string ResolveRelativeUrl(const std::string& url, const std::string& config_url, bool* bad_form);

}  // namespace pelisto
