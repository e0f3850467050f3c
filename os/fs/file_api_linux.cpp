#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <vector>

#include "os/base/error.h"
#include "os/fs/file_api.h"
#include "os/fs/file_time.h"
#include "os/fs/file_util.h"
#include "os/image/host_place_linux.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"

namespace os {
namespace {


struct FileId {
  dev_t dev;
  ino_t ino;
  bool operator<(const FileId& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

struct OpenEntry {
  DWORD access;
  DWORD share;
};

// Open handles of this process by file, for share-mode checks.
std::mutex g_share_mu;
std::multimap<FileId, OpenEntry> g_open;

class FileObject : public KernelObject {
 public:
  FileObject(int fd, FileId id, DWORD access, DWORD share)
      : fd_(fd), id_(id), access_(access), share_(share) {}
  ~FileObject() override {
    {
      std::lock_guard<std::mutex> lock(g_share_mu);
      auto range = g_open.equal_range(id_);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second.access == access_ && it->second.share == share_) {
          g_open.erase(it);
          break;
        }
      }
    }
    ::close(fd_);
  }
  int fd() const { return fd_; }
  DWORD access() const { return access_; }

 private:
  int fd_;
  FileId id_;
  DWORD access_;
  DWORD share_;
};

FileObject* AsFile(HANDLE h) {
  if (!IsValidHandle(h)) return nullptr;
  return dynamic_cast<FileObject*>(h);
}

// Whether an open with `access`/`share` conflicts with the handles already open on `id`.
bool SharingConflict(const FileId& id, DWORD access, DWORD share) {
  auto range = g_open.equal_range(id);
  for (auto it = range.first; it != range.second; ++it) {
    const OpenEntry& e = it->second;
    if ((access & GENERIC_WRITE) && !(e.share & FILE_SHARE_WRITE)) return true;
    if ((access & GENERIC_READ) && !(e.share & FILE_SHARE_READ)) return true;
    if ((e.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    if ((e.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
  }
  return false;
}

FileId IdOf(const struct stat& st) { return FileId{st.st_dev, st.st_ino}; }

// Deleting or renaming an open file needs every handle on it to share delete access.
bool DeleteConflict(const struct stat& st) {
  std::lock_guard<std::mutex> lock(g_share_mu);
  auto range = g_open.equal_range(IdOf(st));
  for (auto it = range.first; it != range.second; ++it) {
    if (!(it->second.share & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

bool WriteConflict(const struct stat& st) {
  std::lock_guard<std::mutex> lock(g_share_mu);
  return SharingConflict(IdOf(st), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

// Resolves `path` into the place it really reaches; for writes also applies the integrity
// rule to that place. Sets the last error on failure.
bool Resolve(const std::string& path, LastLink last, bool write, HostPlace* place,
             WinPath* given = nullptr) {
  Machine* m = CurrentMachine();
  if (m == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  WinPath parsed;
  DWORD rc = ParseWinPath(path, &parsed);
  if (rc == ERROR_SUCCESS) rc = ResolveHostPlace(*m, parsed, last, place);
  if (rc == ERROR_SUCCESS && write) rc = CheckFileWrite(*m, CurrentToken(), place->real());
  if (rc != ERROR_SUCCESS) {
    SetLastError(rc);
    return false;
  }
  if (given) *given = std::move(parsed);
  return true;
}

bool IsDir(const HostPlace& place) { return place.exists() && S_ISDIR(place.status().st_mode); }

bool IsReadOnly(const struct stat& st) {
  return !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0;
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Copies the rest of `in` into `out`, then gives `out` the mode and times of `st`; 0 or errno.
int CopyContent(int in, int out, const struct stat& st) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (!WriteAll(out, buf.data(), static_cast<std::size_t>(n))) return errno;
  }
  if (fsync(out) != 0) return errno;
  fchmod(out, st.st_mode & 07777);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  return 0;
}

// A copy that cannot write into an unnamed file, and an unnamed copy in the instant between
// getting a name and being renamed over its target, go by the target's part file
// (PartFilePath): a copy or whole-file write of the target killed midway leaves at most that
// one file, which the next copy takes over. A copy holds an exclusive lock on its file while
// it bears that name, so a leftover is told from a copy still running.
std::string PartName(const HostPlace& dst) { return PartFilePath("\\" + dst.name()).substr(1); }

// Whether the file open as `fd` is still the one named `name` in `folder`.
bool StillNamed(int folder, const std::string& name, int fd) {
  struct stat by_name, by_fd;
  return fstatat(folder, name.c_str(), &by_name, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &by_fd) == 0 &&
         by_name.st_dev == by_fd.st_dev && by_name.st_ino == by_fd.st_ino;
}

// Removes the part file `name` in `folder` when no running copy or open handle of this process
// holds it; 0 or errno (EBUSY while one does, EEXIST when the name is not a file's).
int TakeOverPartFile(int folder, const std::string& name) {
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
  if (S_ISLNK(st.st_mode)) return ::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
  if (!S_ISREG(st.st_mode)) return EEXIST;
  int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  int err = 0;
  if (!StillNamed(folder, name, fd) || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = EAGAIN;  // replaced meanwhile: judged again by the caller's next attempt
  } else if (DeleteConflict(st)) {
    err = EBUSY;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    err = errno == EWOULDBLOCK ? EBUSY : errno;
  } else if (StillNamed(folder, name, fd) && ::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) {
    err = errno;
  }
  ::close(fd);
  return err == EAGAIN ? 0 : err;
}

// Creates `dst`'s part file for writing, locked, taking over a leftover; the descriptor, or
// -1 with errno.
int CreateLockedPartFile(const HostPlace& dst, const std::string& part) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::openat(dst.folder(), part.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno != EEXIST) return -1;
      const int err = TakeOverPartFile(dst.folder(), part);
      if (err != 0) return errno = err, -1;
      continue;
    }
    // Another copy may have judged it a leftover before the lock was had; then it is gone.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(dst.folder(), part, fd)) return fd;
    ::close(fd);
  }
  errno = EBUSY;
  return -1;
}

// Renames the part file `part`, open as `fd`, over `dst`; removes it when that fails. 0 or errno.
int RenamePartFile(int fd, const HostPlace& dst, const std::string& part) {
  if (::renameat(dst.folder(), part.c_str(), dst.folder(), dst.name().c_str()) == 0) return 0;
  const int err = errno;
  if (StillNamed(dst.folder(), part, fd)) ::unlinkat(dst.folder(), part.c_str(), 0);
  return err;
}

// Gives the unnamed file `fd` the name `dst` in its folder: linked straight in when nothing
// is there, else linked under the part file's name and renamed over it. 0 or errno.
int LinkInPlace(int fd, const HostPlace& dst) {
  const std::string self = DescriptorPath(fd);
  if (!dst.exists()) {
    if (::linkat(AT_FDCWD, self.c_str(), dst.folder(), dst.name().c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno;
  const std::string part = PartName(dst);
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (::linkat(AT_FDCWD, self.c_str(), dst.folder(), part.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return RenamePartFile(fd, dst, part);
    }
    if (errno != EEXIST) return errno;
    const int err = TakeOverPartFile(dst.folder(), part);
    if (err != 0) return err;
  }
  return EBUSY;
}

// The Windows error of a copy that failed with `err`: its part file held by another (EBUSY)
// or its name taken by something no copy made (EEXIST).
DWORD CopyError(int err) {
  return err == EBUSY ? ERROR_SHARING_VIOLATION : err == EEXIST ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(err);
}

// Writes the regular file `in` (status `st`) into a fresh file in `dst`'s folder and puts it
// in place in one step, so `dst` is never half-written. The fresh file has no name while it
// is written: a copy that fails, or a process killed in the middle, leaves nothing behind.
// Where the file system cannot make unnamed files (or the image says so), the target's part
// file is written instead and removed on failure.
bool CopyAtomically(int in, const struct stat& st, const HostPlace& dst) {
  const Machine* m = CurrentMachine();
  int out = -1;
  errno = EOPNOTSUPP;
  if (m == nullptr || m->settings().unnamed_files) {
    out = ::openat(dst.folder(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  }
  if (out >= 0) {
    int err = CopyContent(in, out, st);
    if (err == 0) err = LinkInPlace(out, dst);
    ::close(out);
    return err == 0 ? true : Fail(CopyError(err));
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Fail(Win32ErrorFromErrno(errno));
  const std::string part = PartName(dst);
  out = CreateLockedPartFile(dst, part);
  if (out < 0) return Fail(CopyError(errno));
  int err = CopyContent(in, out, st);
  if (err == 0) {
    err = RenamePartFile(out, dst, part);
  } else if (StillNamed(dst.folder(), part, out)) {
    ::unlinkat(dst.folder(), part.c_str(), 0);
  }
  ::close(out);
  return err == 0 ? true : Fail(CopyError(err));
}

// Opens an existing regular file of the image for reading; -1 with the last error set.
int OpenSource(const HostPlace& src, struct stat* st) {
  if (!src.exists()) return Fail(MissingPlaceError(src)), -1;
  if (!S_ISREG(src.status().st_mode)) return Fail(ERROR_ACCESS_DENIED), -1;
  int fd = src.Open(O_RDONLY | O_NONBLOCK);
  if (fd < 0) return Fail(errno == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno)), -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    return Fail(ERROR_ACCESS_DENIED), -1;
  }
  return fd;
}

// Changes a file's permission bits through the descriptor of exactly the file resolved.
bool ChangeMode(const HostPlace& place, mode_t mode) {
  int fd = place.Open(O_PATH);
  if (fd < 0) return Fail(errno == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
  struct stat st;
  int rc = fstat(fd, &st) == 0 && !S_ISLNK(st.st_mode) ? ::chmod(DescriptorPath(fd).c_str(), mode) : -1;
  int err = errno;
  ::close(fd);
  if (rc != 0) return Fail(Win32ErrorFromErrno(err));
  return true;
}

}  // namespace

BOOL CopyFileA(const std::string& existing, const std::string& new_name, BOOL fail_if_exists) {
  HostPlace src, dst;
  if (!Resolve(existing, LastLink::kFollow, false, &src) ||
      !Resolve(new_name, LastLink::kFollow, true, &dst)) {
    return FALSE;
  }
  if (IsDir(src)) return Fail(ERROR_ACCESS_DENIED);
  struct stat st;
  int in = OpenSource(src, &st);
  if (in < 0) return FALSE;
  auto refuse = [in](DWORD code) {
    ::close(in);
    return Fail(code);
  };
  if (!dst.folder_exists()) return refuse(ERROR_PATH_NOT_FOUND);
  if (dst.exists()) {
    if (fail_if_exists) return refuse(ERROR_FILE_EXISTS);
    const struct stat& dst_st = dst.status();
    if (!S_ISREG(dst_st.st_mode) || IsReadOnly(dst_st)) return refuse(ERROR_ACCESS_DENIED);
    if (WriteConflict(dst_st)) return refuse(ERROR_SHARING_VIOLATION);
  }
  bool ok = CopyAtomically(in, st, dst);
  ::close(in);
  return ok ? TRUE : FALSE;
}

BOOL MoveFileA(const std::string& existing, const std::string& new_name) {
  return MoveFileExA(existing, new_name, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExA(const std::string& existing, const std::string& new_name, DWORD flags) {
  HostPlace src, dst;
  WinPath given;
  if (!Resolve(existing, LastLink::kKeep, true, &src) ||
      !Resolve(new_name, LastLink::kKeep, true, &dst, &given)) {
    return FALSE;
  }
  if (!src.exists()) return Fail(MissingPlaceError(src));
  if (src.is_root() || dst.is_root()) return Fail(ERROR_ACCESS_DENIED);
  if (!dst.folder_exists()) return Fail(ERROR_PATH_NOT_FOUND);
  const struct stat& st = src.status();
  if (DeleteConflict(st)) return Fail(ERROR_SHARING_VIOLATION);
  // Renaming a file onto another spelling of its own name changes only the case.
  const bool same = dst.exists() && dst.status().st_ino == st.st_ino && dst.status().st_dev == st.st_dev;
  if (!same && dst.exists()) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING) || S_ISDIR(st.st_mode)) return Fail(ERROR_ALREADY_EXISTS);
    const struct stat& dst_st = dst.status();
    if (S_ISDIR(dst_st.st_mode) || IsReadOnly(dst_st)) return Fail(ERROR_ACCESS_DENIED);
    if (DeleteConflict(dst_st)) return Fail(ERROR_SHARING_VIOLATION);
  }
  const std::string& to = same ? given.parts.back() : dst.name();
  if (::renameat(src.folder(), src.name().c_str(), dst.folder(), to.c_str()) == 0) return TRUE;
  if (errno == EXDEV && S_ISREG(st.st_mode) && (flags & MOVEFILE_COPY_ALLOWED)) {
    struct stat in_st;
    int in = OpenSource(src, &in_st);
    if (in < 0) return FALSE;
    bool ok = CopyAtomically(in, in_st, dst);
    ::close(in);
    if (!ok) return FALSE;
    if (::unlinkat(src.folder(), src.name().c_str(), 0) != 0) return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
  }
  return Fail(Win32ErrorFromErrno(errno));
}

BOOL DeleteFileA(const std::string& path) {
  HostPlace place;
  if (!Resolve(path, LastLink::kKeep, true, &place)) return FALSE;
  if (!place.exists()) return Fail(MissingPlaceError(place));
  const struct stat& st = place.status();
  if (place.is_root() || S_ISDIR(st.st_mode) || IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (DeleteConflict(st)) return Fail(ERROR_SHARING_VIOLATION);
  if (::unlinkat(place.folder(), place.name().c_str(), 0) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

BOOL CreateDirectoryA(const std::string& path, const void*) {
  HostPlace place;
  if (!Resolve(path, LastLink::kKeep, true, &place)) return FALSE;
  if (place.exists()) return Fail(ERROR_ALREADY_EXISTS);
  if (!place.folder_exists()) return Fail(ERROR_PATH_NOT_FOUND);
  if (::mkdirat(place.folder(), place.name().c_str(), 0777) != 0) {
    return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : Win32ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL RemoveDirectoryA(const std::string& path) {
  HostPlace place;
  if (!Resolve(path, LastLink::kKeep, true, &place)) return FALSE;
  if (!place.exists()) return Fail(MissingPlaceError(place));
  if (!S_ISDIR(place.status().st_mode)) return Fail(ERROR_DIRECTORY);
  if (place.is_root()) return Fail(ERROR_ACCESS_DENIED);
  if (::unlinkat(place.folder(), place.name().c_str(), AT_REMOVEDIR) != 0) {
    return Fail(Win32ErrorFromErrno(errno));
  }
  return TRUE;
}

DWORD GetFileAttributesA(const std::string& path) {
  // The place itself first: a symbolic link shows as a reparse point, as Windows shows its
  // links, with the attributes of what it leads to.
  HostPlace place;
  if (!Resolve(path, LastLink::kKeep, false, &place)) return INVALID_FILE_ATTRIBUTES;
  DWORD reparse = 0;
  if (place.exists() && S_ISLNK(place.status().st_mode)) {
    reparse = FILE_ATTRIBUTE_REPARSE_POINT;
    if (!Resolve(path, LastLink::kFollow, false, &place)) return INVALID_FILE_ATTRIBUTES;
  }
  if (!place.exists()) {
    SetLastError(MissingPlaceError(place));
    return INVALID_FILE_ATTRIBUTES;
  }
  const struct stat& st = place.status();
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | reparse;
  return (IsReadOnly(st) ? (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE) : FILE_ATTRIBUTE_ARCHIVE) |
         reparse;
}

BOOL SetFileAttributesA(const std::string& path, DWORD attributes) {
  HostPlace place;
  if (!Resolve(path, LastLink::kFollow, true, &place)) return FALSE;
  if (!place.exists()) return Fail(MissingPlaceError(place));
  const struct stat& st = place.status();
  if (S_ISDIR(st.st_mode)) return TRUE;
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (st.st_mode & ~0222) : (st.st_mode | 0200);
  return ChangeMode(place, mode & 07777) ? TRUE : FALSE;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

UINT GetTempFileNameA(const std::string& path, const std::string& prefix, UINT unique,
                      std::string* temp_file) {
  HostPlace place;
  if (!Resolve(path, LastLink::kFollow, unique == 0, &place)) return 0;
  if (!IsDir(place)) {
    SetLastError(ERROR_DIRECTORY);
    return 0;
  }
  std::string pfx = prefix.substr(0, 3);
  auto name_for = [&](UINT n) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", n & 0xFFFF);
    return pfx + hex + ".tmp";
  };
  if (unique != 0) {
    *temp_file = JoinWinPath(path, name_for(unique));
    return unique;
  }
  int dir = place.Open(O_PATH | O_DIRECTORY);
  if (dir < 0) {
    SetLastError(errno == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
    return 0;
  }
  static std::mutex mu;
  static std::minstd_rand rng(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid()));
  UINT start;
  {
    std::lock_guard<std::mutex> lock(mu);
    start = static_cast<UINT>(rng() % 0xFFFF) + 1;
  }
  for (UINT i = 0; i < 0xFFFF; ++i) {
    UINT n = (start + i - 1) % 0xFFFF + 1;
    std::string name = name_for(n);
    int fd = ::openat(dir, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      ::close(dir);
      *temp_file = JoinWinPath(path, name);
      return n;
    }
    if (errno != EEXIST) {
      SetLastErrorFromErrno(errno);
      ::close(dir);
      return 0;
    }
  }
  ::close(dir);
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

DWORD GetTempPathA(std::string* path) {
  Machine* m = CurrentMachine();
  if (m == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  KnownFolder f = CurrentToken().level == IntegrityLevel::kLow ? KnownFolder::kTempLow : KnownFolder::kTemp;
  *path = m->FolderPath(f) + "\\";
  return static_cast<DWORD>(path->size());
}

HANDLE CreateFileA(const std::string& path, DWORD access, DWORD share, const void*,
                   DWORD creation, DWORD, HANDLE) {
  HostPlace place;
  if (!Resolve(path, LastLink::kFollow, false, &place)) return INVALID_HANDLE_VALUE;
  const bool exists = place.exists();
  const struct stat& st = place.status();
  // Reading an existing file is allowed anywhere; writing, creating or truncating is not.
  bool creates = !exists && (creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS);
  bool truncates = exists && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING);
  if ((access & GENERIC_WRITE) || creates || truncates) {
    DWORD rc = CheckFileWrite(*CurrentMachine(), CurrentToken(), place.real());
    if (rc != ERROR_SUCCESS) {
      SetLastError(rc);
      return INVALID_HANDLE_VALUE;
    }
  }
  // Windows files are files or folders: a device, pipe or socket planted in the image is
  // neither read nor written (a pipe would hang the caller, a device never ends). The open
  // never waits either (O_NONBLOCK, which means nothing for the regular file it must be).
  if (exists && !S_ISREG(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_NONBLOCK;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
    flags |= O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  switch (creation) {
    case CREATE_NEW:
      if (exists) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  if (!exists && (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING)) {
    SetLastError(MissingPlaceError(place));
    return INVALID_HANDLE_VALUE;
  }
  if (!place.folder_exists()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (exists && IsReadOnly(st) && ((access & GENERIC_WRITE) || (flags & O_TRUNC))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(g_share_mu);
  if (exists && SharingConflict(IdOf(st), access, share)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  // Truncation waits until the share check passed.
  int fd = place.Open(flags, 0666);
  struct stat opened;
  if (fd >= 0 && (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
    // Something else was put in the file's place after it was resolved.
    ::close(fd);
    fd = -1;
    errno = ELOOP;
  }
  if (fd < 0) {
    SetLastError(errno == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  FileId id = IdOf(opened);
  g_open.emplace(id, OpenEntry{access, share});
  SetLastError(exists && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                : ERROR_SUCCESS);
  return new FileObject(fd, id, access, share);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void*) {
  FileObject* f = AsFile(file);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(f->access() & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  ssize_t n;
  do {
    n = ::read(f->fd(), buffer, to_read);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(Win32ErrorFromErrno(errno));
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written, void*) {
  FileObject* f = AsFile(file);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(f->access() & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  const char* p = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < to_write) {
    ssize_t n = ::write(f->fd(), p + done, to_write - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = done;
      return Fail(Win32ErrorFromErrno(errno));
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  FileObject* f = AsFile(file);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (fsync(f->fd()) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high, DWORD method) {
  FileObject* f = AsFile(file);
  if (f == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  off_t off = distance_high ? ((static_cast<off_t>(*distance_high) << 32) | static_cast<DWORD>(distance))
                            : static_cast<off_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(f->fd(), off, whence);
  if (pos < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : Win32ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high) *distance_high = static_cast<LONG>(pos >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(pos & 0xFFFFFFFF);
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  FileObject* f = AsFile(file);
  struct stat st;
  if (f == nullptr || fstat(f->fd(), &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFF;
  }
  if (size_high) *size_high = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_size) >> 32);
  return static_cast<DWORD>(st.st_size & 0xFFFFFFFF);
}

BOOL SetEndOfFile(HANDLE file) {
  FileObject* f = AsFile(file);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  off_t pos = ::lseek(f->fd(), 0, SEEK_CUR);
  if (pos < 0 || ftruncate(f->fd(), pos) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access, FILETIME* write) {
  FileObject* f = AsFile(file);
  struct stat st;
  if (f == nullptr || fstat(f->fd(), &st) != 0) return Fail(ERROR_INVALID_HANDLE);
  if (creation) *creation = ToFileTime(st.st_ctim);
  if (access) *access = ToFileTime(st.st_atim);
  if (write) *write = ToFileTime(st.st_mtim);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME* access, const FILETIME* write) {
  FileObject* f = AsFile(file);
  if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (!(f->access() & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (access) times[0] = ToTimespec(*access);
  if (write) times[1] = ToTimespec(*write);
  if (futimens(f->fd(), times) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

std::FILE* FileOpen(const std::string& path, const char* mode) {
  const std::string m = mode ? mode : "";
  if (m.empty() || (m[0] != 'r' && m[0] != 'w' && m[0] != 'a')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    errno = EINVAL;
    return nullptr;
  }
  const bool plus = m.find('+') != std::string::npos;
  const bool writes = m[0] != 'r' || plus;
  const bool creates = m[0] != 'r';
  HostPlace place;
  if (!Resolve(path, LastLink::kFollow, false, &place)) {
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
    return nullptr;
  }
  const bool exists = place.exists();
  auto refuse = [](DWORD code, int err) -> std::FILE* {
    SetLastError(code);
    errno = err;
    return nullptr;
  };
  if (exists && !S_ISREG(place.status().st_mode)) return refuse(ERROR_ACCESS_DENIED, EACCES);
  if (writes && (exists || creates)) {
    DWORD rc = CheckFileWrite(*CurrentMachine(), CurrentToken(), place.real());
    if (rc != ERROR_SUCCESS) return refuse(rc, EACCES);
    if (exists && IsReadOnly(place.status())) return refuse(ERROR_ACCESS_DENIED, EACCES);
    if (exists && WriteConflict(place.status())) return refuse(ERROR_SHARING_VIOLATION, EACCES);
  }
  if (!exists && (!creates || !place.folder_exists())) {
    return refuse(MissingPlaceError(place), ENOENT);
  }
  int flags = (plus ? O_RDWR : m[0] == 'r' ? O_RDONLY : O_WRONLY) | O_NONBLOCK;
  if (m[0] == 'w') flags |= O_CREAT | O_TRUNC;
  if (m[0] == 'a') flags |= O_CREAT | O_APPEND;
  if (m.find('x') != std::string::npos) flags |= O_EXCL;
  int fd = place.Open(flags, 0666);
  struct stat opened;
  if (fd >= 0 && (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
    ::close(fd);
    return refuse(ERROR_ACCESS_DENIED, EACCES);
  }
  if (fd < 0) {
    const int err = errno;
    return refuse(err == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(err), err == ELOOP ? EACCES : err);
  }
  std::string stream_mode;
  for (char c : m) {
    if (c != 't' && c != 'x' && c != 'e') stream_mode.push_back(c);  // text mode has no meaning on the host
  }
  std::FILE* f = fdopen(fd, stream_mode.c_str());
  if (f == nullptr) {
    const int err = errno;
    ::close(fd);
    return refuse(Win32ErrorFromErrno(err), err);
  }
  return f;
}

}  // namespace os
