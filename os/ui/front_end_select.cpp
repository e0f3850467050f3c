#include "os/ui/front_end_select.h"

#include <fstream>
#include <sstream>

#include "os/ui/headless_front_end.h"
#include "os/ui/terminal.h"
#include "os/ui/tty_front_end.h"

namespace os::ui {

bool SelectFrontEnd(std::string_view name, std::string* error) {
  if (name == "auto") name = StderrIsTerminal() ? "tty" : "none";
  if (name == "tty") {
    SetFrontEnd(std::make_shared<TtyFrontEnd>(OpenHostTerminal()));
  } else if (name == "none") {
    SetFrontEnd(std::make_shared<NoneFrontEnd>());
  } else if (name == "headless") {
    SetFrontEnd(std::make_shared<HeadlessFrontEnd>());
  } else {
    *error = "unknown front end '" + std::string(name) + "' (auto, tty, none, headless)";
    return false;
  }
  return true;
}

bool LoadHeadlessScript(const std::string& host_path, std::string* error) {
  std::ifstream in(host_path, std::ios::binary);
  if (!in) {
    *error = host_path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string reason;
  std::shared_ptr<HeadlessFrontEnd> front_end = HeadlessFrontEnd::FromScript(text.str(), &reason);
  if (!front_end) {
    *error = host_path + ": " + reason;
    return false;
  }
  SetFrontEnd(front_end);
  return true;
}

}  // namespace os::ui
