// What the terminal hands the program is UTF-8; the control takes text in the image's ANSI
// code page. The page's texts are converted once, before the control sees them.
#pragma once

#include <string>

#include "host/cli_options.h"

namespace pelisto {

// Converts the values of --param, --set and --custom-dir, --page-url and the arguments of
// the called methods (and of download) from UTF-8 to the current ANSI code page. False with
// a one-line message naming the option when a text is not UTF-8 or holds a character the
// code page cannot hold; `options` is then partly converted.
bool ConvertArgumentsToCodePage(CliOptions* options, std::string* error);

}  // namespace pelisto
