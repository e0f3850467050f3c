#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include "os/image/image_trust.h"

namespace os {
namespace {

constexpr std::size_t kMaxConfBytes = 1 << 20;

std::mutex g_mu;
std::set<uid_t> g_extra;

bool Trusted(uid_t owner) {
  if (owner == 0 || owner == geteuid()) return true;
  std::lock_guard<std::mutex> lock(g_mu);
  return g_extra.count(owner) != 0;
}

// Empty when `st` (of `what`) may be trusted, else why not.
std::string Refusal(const std::string& what, const struct stat& st) {
  if (!Trusted(st.st_uid)) {
    return what + ": refused: owned by user " + std::to_string(st.st_uid) +
           ", neither this user nor root (image.conf is trusted like a program)";
  }
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    return what + ": refused: other users can write it (image.conf is trusted like a program; " +
           "chmod go-w)";
  }
  return {};
}

}  // namespace

void TrustImageOwner(std::uint32_t user) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_extra.insert(static_cast<uid_t>(user));
}

bool ReadTrustedImageConf(const std::string& prefix, std::string* text, bool* exists,
                          std::string* error) {
  const std::string conf = prefix + "/image.conf";
  int dir = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (dir < 0 || fstat(dir, &st) != 0) {
    *error = "cannot open the machine image at " + prefix + ": " + std::strerror(errno);
    if (dir >= 0) ::close(dir);
    return false;
  }
  if (std::string why = Refusal(prefix, st); !why.empty()) {
    ::close(dir);
    *error = why;
    return false;
  }
  int fd = ::openat(dir, "image.conf", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  const int open_errno = errno;
  ::close(dir);
  if (fd < 0) {
    if (open_errno == ENOENT) {
      *exists = false;
      return true;
    }
    *error = conf + (open_errno == ELOOP ? ": refused: it is a link" : ": cannot be read: ") +
             (open_errno == ELOOP ? "" : std::strerror(open_errno));
    return false;
  }
  std::string why;
  if (fstat(fd, &st) != 0) {
    why = conf + ": cannot be read: " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = conf + ": refused: not a regular file";
  } else if (static_cast<std::size_t>(st.st_size) > kMaxConfBytes) {
    why = conf + ": refused: larger than " + std::to_string(kMaxConfBytes) + " bytes";
  } else {
    why = Refusal(conf, st);
  }
  std::string bytes;
  char buf[8192];
  while (why.empty()) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) why = conf + ": cannot be read: " + std::strerror(errno);
    if (n <= 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxConfBytes) why = conf + ": refused: larger than " + std::to_string(kMaxConfBytes) + " bytes";
  }
  ::close(fd);
  if (!why.empty()) {
    *error = why;
    return false;
  }
  *exists = true;
  *text = std::move(bytes);
  return true;
}

}  // namespace os
