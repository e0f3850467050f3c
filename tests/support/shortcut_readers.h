// Reading shortcut files back the way other programs read them: a shell link through the
// lnkinfo tool (liblnk-utils), an Internet shortcut through a plain INI reader.
#pragma once

#include <map>
#include <string>

namespace pelisto::testing {

struct LnkInfo {
  int status = -1;     // lnkinfo's exit status
  std::string output;  // all it printed, for failure messages
  // "Local path", "Description", "Command line arguments", "Icon location", "Drive type", ...
  // as lnkinfo names them, with the value after its colon.
  std::map<std::string, std::string> fields;
};

// Runs lnkinfo on the host file `host_path`.
LnkInfo ReadWithLnkinfo(const std::string& host_path);

// The keys and values of `section` in INI text (lines "[section]" and "key=value", CR LF or
// LF ends, keys as written). Empty when the section is missing.
std::map<std::string, std::string> IniSection(const std::string& text, const std::string& section);

}  // namespace pelisto::testing
