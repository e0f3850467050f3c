// The terminal the tty front end draws on and reads from.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace os::ui {

class Terminal {
 public:
  virtual ~Terminal() = default;
  // Writes UTF-8 text (with control sequences) to the display.
  virtual void Write(const std::string& text) = 0;
  // Columns of the display.
  virtual int Width() const = 0;
  // Reads one line typed by the user, without its line end. False at the end of input, when
  // nothing can be read, or as soon as `cancelled` becomes true.
  virtual bool ReadLine(std::string* line, const std::atomic<bool>& cancelled) = 0;
};

// True when the process's standard error is a terminal.
bool StderrIsTerminal();
// Draws on standard error and reads from the controlling terminal (/dev/tty).
std::unique_ptr<Terminal> OpenHostTerminal();

}  // namespace os::ui
