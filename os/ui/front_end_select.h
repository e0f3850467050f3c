// Choosing the front end of the host program.
#pragma once

#include <string>
#include <string_view>

namespace os::ui {

// Makes the named front end current: "auto" (tty when standard error is a terminal, none
// otherwise), "tty", "none" or "headless" (no script: every box its default button, every
// waiting dialog Esc). False, with `error` set and the current front end kept, for another name.
bool SelectFrontEnd(std::string_view name, std::string* error);

// Reads a headless script (os/ui/headless_script.h) from a host file and makes a headless
// front end running it current. False, with `error` naming the file or the bad line, when the
// file cannot be read or does not parse; the current front end is then kept. Call it after the
// machine image is opened: quoted texts are converted to the image's code page.
bool LoadHeadlessScript(const std::string& host_path, std::string* error);

}  // namespace os::ui
