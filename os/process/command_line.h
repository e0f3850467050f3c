// Splitting a Windows command line into arguments, as the C runtime of a started program does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace os {

// The first argument (the program) ends at the first blank outside double quotes; quotes are
// dropped and backslashes kept as they are, since a program path holds no escapes. The others
// follow the runtime's rules: blanks or tabs separate arguments unless quoted; 2n backslashes
// before a quote give n backslashes and the quote opens or closes a quoted part; 2n+1 give n
// backslashes and a literal quote; inside a quoted part "" is a literal quote; other backslashes
// are literal. An empty or blank line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

}  // namespace os
