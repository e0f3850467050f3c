// The option string of setStyle2 ("width=800, height=600,Top=0,toolbar=no") and how its
// options are applied to the browser object.
//
// Grammar: the string is split at every "," (an empty piece after a final "," counts too); in
// each piece the first "=" parts the name from the value; both are trimmed of ASCII white
// space; a piece without "=", or whose name or value is then empty, is ignored. The map is
// ordered by byte comparison of the names, exact case, and keeps the first value of a name.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "os/base/types.h"
#include "os/ui/browser/web_browser.h"

namespace pelisto {

using StyleOptions = std::map<std::string, std::string>;

StyleOptions ParseStyleOptions(std::string_view status);

// The decimal number of the leading digits of `value`; 0 without any (a sign is not a digit).
// A number beyond the largest LONG is read as the largest LONG.
os::LONG StyleOptionNumber(std::string_view value);

// Applies the options in map order: "width", "height", "left", "top" (names without regard to
// case) as numbers; "resizable", "status", "toolbar", "location", "fullscreen", "menubar" as
// booleans, true (-1) only for exactly "yes". Other names are ignored.
void ApplyStyleOptions(const StyleOptions& options, os::IWebBrowser2& browser);

}  // namespace pelisto
