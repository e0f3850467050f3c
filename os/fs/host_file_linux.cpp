#include "os/fs/host_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace os {
namespace {

bool Fail(const std::string& path, const char* what, int error, std::string* out) {
  *out = path + ": " + what + ": " + std::strerror(error);
  return false;
}

// Writes all of `bytes` and flushes them to disk; errno is kept on failure.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return ::fsync(fd) == 0;
}

// Gives the file just made as `made` (open as `fd`) exactly `mode` (the umask can only narrow
// it) and `bytes`, and closes it; removes it when any of that fails. `path` names the target
// in the error.
bool FillNewFile(int fd, const std::string& made, mode_t mode, std::string_view bytes, const std::string& path,
                 std::string* error) {
  const bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes);
  const int e = errno;
  if (::close(fd) != 0 || !ok) {
    ::unlink(made.c_str());
    return Fail(path, "cannot write", ok ? EIO : e, error);
  }
  return true;
}

}  // namespace

bool ReadHostFileBounded(const std::string& path, std::size_t max_bytes, std::string* bytes,
                         std::string* error) {
  // Non-blocking, so a named pipe in its place cannot hang the open; it is then refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Fail(path, "cannot open", errno, error);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return Fail(path, "cannot read", e, error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = path + ": not a regular file";
    return false;
  }
  std::string data;
  char buf[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return Fail(path, "cannot read", e, error);
    }
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > max_bytes - data.size()) {
      ::close(fd);
      *error = path + ": larger than " + std::to_string(max_bytes) + " bytes";
      return false;
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  *bytes = std::move(data);
  return true;
}

bool CreatePrivateHostFile(const std::string& path, std::string_view bytes, std::string* error) {
  // O_EXCL with O_CREAT fails on any existing name, a dangling link included.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Fail(path, "cannot create", errno, error);
  return FillNewFile(fd, path, 0600, bytes, path, error);
}

bool ReplaceHostFile(const std::string& path, std::string_view bytes, std::string* error) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(path, "cannot create a temporary file beside it", errno, error);
  if (!FillNewFile(fd, temp, 0644, bytes, path, error)) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int r = errno;
    ::unlink(temp.c_str());
    return Fail(path, "cannot replace", r, error);
  }
  return true;
}

}  // namespace os
