#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "os/base/error.h"
#include "os/process/channel.h"
#include "os/process/channel_linux.h"

namespace os {
namespace {

bool IsSocket(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Reads from `read_fd` and writes to `write_fd` (the same descriptor for a socket).
class FdChannel final : public Channel {
 public:
  FdChannel(int read_fd, int write_fd)
      : read_fd_(read_fd),
        write_fd_(write_fd),
        read_is_socket_(IsSocket(read_fd)),
        write_is_socket_(IsSocket(write_fd)) {}

  ~FdChannel() override {
    close(read_fd_);
    if (write_fd_ != read_fd_) close(write_fd_);
  }

  Status Write(std::string_view data) override {
    if (shut_) return Status::kClosed;
    while (!data.empty()) {
      ssize_t n = write_is_socket_ ? send(write_fd_, data.data(), data.size(), MSG_NOSIGNAL)
                                   : write(write_fd_, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return Failure(errno);
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return Status::kOk;
  }

  Status Read(void* data, std::size_t size, DWORD timeout_ms) override {
    if (shut_) return Status::kClosed;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    char* out = static_cast<char*>(data);
    while (size > 0) {
      int wait_ms = -1;
      if (timeout_ms != INFINITE) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return Status::kTimeout;
        wait_ms = left > INT_MAX ? INT_MAX : static_cast<int>(left);
      }
      pollfd p{read_fd_, POLLIN, 0};
      int ready = poll(&p, 1, wait_ms);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return Failure(errno);
      }
      if (ready == 0) continue;  // the deadline is checked at the top
      ssize_t n = read_is_socket_ ? recv(read_fd_, out, size, 0) : read(read_fd_, out, size);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return Failure(errno);
      }
      if (n == 0) return Status::kClosed;
      out += n;
      size -= static_cast<size_t>(n);
    }
    return Status::kOk;
  }

  bool PeerClosed() override {
    if (shut_) return true;
    pollfd p{read_fd_, static_cast<short>(POLLRDHUP), 0};
    while (poll(&p, 1, 0) < 0) {
      if (errno != EINTR) return false;
    }
    return (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
  }

  void Shutdown() override {
    shut_ = true;
    // A socket can be ended while another thread waits on it; the descriptors themselves are
    // closed only with the object, so none is ever reused under a waiting thread.
    if (read_is_socket_) shutdown(read_fd_, SHUT_RDWR);
    if (write_is_socket_ && write_fd_ != read_fd_) shutdown(write_fd_, SHUT_RDWR);
  }

 private:
  static Status Failure(int err) {
    if (err == EPIPE || err == ECONNRESET) return Status::kClosed;
    SetLastErrorFromErrno(err);
    return Status::kFailed;
  }

  int read_fd_;
  int write_fd_;
  bool read_is_socket_;
  bool write_is_socket_;
  std::atomic<bool> shut_{false};
};

}  // namespace

std::unique_ptr<Channel> MakeFdChannel(int read_fd, int write_fd) {
  return std::make_unique<FdChannel>(read_fd, write_fd);
}

namespace {

// The parent of process `pid` as /proc tells it, or 0 when it cannot be read. The name in
// parentheses may itself hold ") ", so the fields are read after its last ")".
pid_t ParentOf(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return 0;
  buf[n] = '\0';
  const char* close_paren = std::strrchr(buf, ')');
  char state = 0;
  int parent = 0;
  if (close_paren == nullptr || std::sscanf(close_paren + 1, " %c %d", &state, &parent) != 2) return 0;
  return parent > 0 ? static_cast<pid_t>(parent) : 0;
}

// Whether `peer` started this process: it is the parent, or an ancestor with at most
// kMaxLaunchers processes between.
bool StartedBy(pid_t peer) {
  pid_t pid = getppid();
  for (int hops = 0; hops <= kMaxLaunchers && pid > 1; ++hops) {
    if (pid == peer) return true;
    pid = ParentOf(pid);
  }
  return false;
}

// Empty when standard input and output are one stream socket of this host made by the process
// that started this one (its record in `*peer`), else why not.
std::string CheckStarter(ChannelPeer* peer) {
  struct stat in, out;
  if (fstat(0, &in) != 0 || fstat(1, &out) != 0) return "standard input or output is not open";
  if (!S_ISSOCK(in.st_mode) || in.st_dev != out.st_dev || in.st_ino != out.st_ino) {
    return "standard input and output are not one socket";
  }
  int domain = 0, type = 0;
  socklen_t len = sizeof domain;
  if (getsockopt(0, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0 || domain != AF_UNIX) {
    return "the channel is not a local socket";
  }
  len = sizeof type;
  if (getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM) {
    return "the channel is not a stream";
  }
  struct ucred cred {};
  len = sizeof cred;
  if (getsockopt(0, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred || cred.pid <= 0) {
    return "the channel's other end is not known";
  }
  if (!StartedBy(cred.pid)) {
    return "the channel was made by process " + std::to_string(cred.pid) +
           ", which did not start this one";
  }
  peer->process_id = static_cast<DWORD>(cred.pid);
  peer->user = static_cast<std::uint32_t>(cred.uid);
  return {};
}

}  // namespace

std::unique_ptr<Channel> TakeStarterChannel(ChannelPeer* peer, std::string* why) {
  ChannelPeer found;
  if (std::string refused = CheckStarter(&found); !refused.empty()) {
    *why = std::move(refused);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int read_fd = fcntl(0, F_DUPFD_CLOEXEC, 3);
  if (read_fd < 0) {
    *why = std::strerror(errno);
    SetLastErrorFromErrno(errno);
    return nullptr;
  }
  int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd >= 0) {
    dup2(null_fd, 0);
    close(null_fd);
  }
  dup2(2, 1);
  signal(SIGPIPE, SIG_IGN);
  *peer = found;
  return MakeFdChannel(read_fd, read_fd);
}

}  // namespace os
