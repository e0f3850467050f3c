#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "os/ui/terminal.h"

namespace os::ui {
namespace {

class HostTerminal : public Terminal {
 public:
  HostTerminal() : input_(open("/dev/tty", O_RDONLY | O_CLOEXEC)) {}
  ~HostTerminal() override {
    if (input_ >= 0) close(input_);
  }

  void Write(const std::string& text) override {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  int Width() const override {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
  }

  bool ReadLine(std::string* line, const std::atomic<bool>& cancelled) override {
    line->clear();
    if (input_ < 0) return false;
    for (;;) {
      size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line->empty() && line->back() == '\r') line->pop_back();
        return true;
      }
      if (cancelled.load()) return false;
      pollfd p{input_, POLLIN, 0};
      int ready = poll(&p, 1, 100);  // wakes up now and then to see a cancel
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      char buf[256];
      ssize_t n = read(input_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

 private:
  int input_;
  std::string pending_;
};

}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::unique_ptr<Terminal> OpenHostTerminal() { return std::make_unique<HostTerminal>(); }

}  // namespace os::ui
