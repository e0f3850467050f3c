#include <dirent.h>
#include <fcntl.h>
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
#include "os/image/integrity.h"
#include "os/image/machine.h"

namespace os {
namespace {

constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;

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

// Deleting or renaming an open file needs every handle on it to share delete access.
bool DeleteConflict(const std::string& host) {
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return false;
  std::lock_guard<std::mutex> lock(g_share_mu);
  auto range = g_open.equal_range(FileId{st.st_dev, st.st_ino});
  for (auto it = range.first; it != range.second; ++it) {
    if (!(it->second.share & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

bool WriteConflict(const std::string& host) {
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return false;
  std::lock_guard<std::mutex> lock(g_share_mu);
  return SharingConflict(FileId{st.st_dev, st.st_ino}, GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE);
}

// Translates `path`; for writes also applies the integrity rule. Sets the last error.
bool Resolve(const std::string& path, bool write, std::string* host, WinPath* win = nullptr) {
  Machine* m = CurrentMachine();
  if (m == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  WinPath parsed;
  DWORD rc = m->ToHostPath(path, host, &parsed);
  if (rc == ERROR_SUCCESS && write) rc = CheckFileWrite(*m, CurrentToken(), parsed);
  if (rc != ERROR_SUCCESS) {
    SetLastError(rc);
    return false;
  }
  if (win) *win = std::move(parsed);
  return true;
}

std::string ParentOf(const std::string& host) {
  size_t slash = host.find_last_of('/');
  return slash == 0 ? "/" : host.substr(0, slash);
}

bool IsDir(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& host) {
  struct stat st;
  return lstat(host.c_str(), &st) == 0;
}

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0; }

// The error a missing file gives: "file not found" when its folder exists, else "path".
DWORD MissingError(const std::string& host) {
  return IsDir(ParentOf(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

FILETIME ToFileTime(const struct timespec& ts) {
  std::int64_t v = kUnixEpochInFileTime + static_cast<std::int64_t>(ts.tv_sec) * 10000000LL +
                   ts.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFF), static_cast<DWORD>(v >> 32)};
}

struct timespec ToTimespec(const FILETIME& ft) {
  std::int64_t v = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  v -= kUnixEpochInFileTime;
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(v / 10000000LL);
  ts.tv_nsec = static_cast<long>((v % 10000000LL) * 100);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000L;
    ts.tv_sec -= 1;
  }
  return ts;
}

void FillSystemTime(const struct tm& tm, long ms, SYSTEMTIME* s) {
  s->wYear = static_cast<WORD>(tm.tm_year + 1900);
  s->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  s->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  s->wDay = static_cast<WORD>(tm.tm_mday);
  s->wHour = static_cast<WORD>(tm.tm_hour);
  s->wMinute = static_cast<WORD>(tm.tm_min);
  s->wSecond = static_cast<WORD>(tm.tm_sec);
  s->wMilliseconds = static_cast<WORD>(ms);
}

// Writes `src` into a fresh file beside `dst` and renames it into place.
bool CopyAtomically(const std::string& src, const std::string& dst) {
  int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(Win32ErrorFromErrno(errno));
  struct stat st;
  fstat(in, &st);
  std::string tmp = ParentOf(dst) + "/.pelisto-copy-XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int out = mkstemp(name.data());
  if (out < 0) {
    int err = errno;
    ::close(in);
    return Fail(Win32ErrorFromErrno(err));
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      err = errno;
      break;
    }
    for (ssize_t off = 0; off < n;) {
      ssize_t w = ::write(out, buf.data() + off, static_cast<size_t>(n - off));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        err = errno;
        break;
      }
      off += w;
    }
    if (!ok) break;
  }
  if (ok && fsync(out) != 0) {
    ok = false;
    err = errno;
  }
  fchmod(out, st.st_mode & 07777);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  ::close(in);
  ::close(out);
  if (ok && std::rename(name.data(), dst.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(name.data());
    return Fail(Win32ErrorFromErrno(err));
  }
  return true;
}

}  // namespace

BOOL CopyFileA(const std::string& existing, const std::string& new_name, BOOL fail_if_exists) {
  std::string src, dst;
  if (!Resolve(existing, false, &src) || !Resolve(new_name, true, &dst)) return FALSE;
  struct stat st;
  if (stat(src.c_str(), &st) != 0) return Fail(MissingError(src));
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (!IsDir(ParentOf(dst))) return Fail(ERROR_PATH_NOT_FOUND);
  struct stat dst_st;
  if (stat(dst.c_str(), &dst_st) == 0) {
    if (fail_if_exists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISDIR(dst_st.st_mode) || IsReadOnly(dst_st)) return Fail(ERROR_ACCESS_DENIED);
    if (WriteConflict(dst)) return Fail(ERROR_SHARING_VIOLATION);
  }
  return CopyAtomically(src, dst) ? TRUE : FALSE;
}

BOOL MoveFileA(const std::string& existing, const std::string& new_name) {
  return MoveFileExA(existing, new_name, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExA(const std::string& existing, const std::string& new_name, DWORD flags) {
  std::string src, dst;
  if (!Resolve(existing, true, &src) || !Resolve(new_name, true, &dst)) return FALSE;
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return Fail(MissingError(src));
  if (!IsDir(ParentOf(dst))) return Fail(ERROR_PATH_NOT_FOUND);
  if (DeleteConflict(src)) return Fail(ERROR_SHARING_VIOLATION);
  struct stat dst_st;
  // Renaming a file onto another spelling of its own name changes only the case.
  bool same = stat(dst.c_str(), &dst_st) == 0 && dst_st.st_ino == st.st_ino && dst_st.st_dev == st.st_dev;
  if (!same && Exists(dst)) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING) || S_ISDIR(st.st_mode)) return Fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(dst_st.st_mode) || IsReadOnly(dst_st)) return Fail(ERROR_ACCESS_DENIED);
    if (DeleteConflict(dst)) return Fail(ERROR_SHARING_VIOLATION);
  }
  if (std::rename(src.c_str(), dst.c_str()) == 0) return TRUE;
  if (errno == EXDEV && !S_ISDIR(st.st_mode) && (flags & MOVEFILE_COPY_ALLOWED)) {
    if (!CopyAtomically(src, dst)) return FALSE;
    if (::unlink(src.c_str()) != 0) return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
  }
  return Fail(Win32ErrorFromErrno(errno));
}

BOOL DeleteFileA(const std::string& path) {
  std::string host;
  if (!Resolve(path, true, &host)) return FALSE;
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return Fail(MissingError(host));
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (DeleteConflict(host)) return Fail(ERROR_SHARING_VIOLATION);
  if (::unlink(host.c_str()) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

BOOL CreateDirectoryA(const std::string& path, const void*) {
  std::string host;
  if (!Resolve(path, true, &host)) return FALSE;
  if (Exists(host)) return Fail(ERROR_ALREADY_EXISTS);
  if (!IsDir(ParentOf(host))) return Fail(ERROR_PATH_NOT_FOUND);
  if (::mkdir(host.c_str(), 0777) != 0) {
    return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : Win32ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL RemoveDirectoryA(const std::string& path) {
  std::string host;
  if (!Resolve(path, true, &host)) return FALSE;
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return Fail(MissingError(host));
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (::rmdir(host.c_str()) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

DWORD GetFileAttributesA(const std::string& path) {
  std::string host;
  if (!Resolve(path, false, &host)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    SetLastError(MissingError(host));
    return INVALID_FILE_ATTRIBUTES;
  }
  // A symbolic link shows as a reparse point, as Windows shows its links.
  struct stat link_st;
  const DWORD reparse =
      lstat(host.c_str(), &link_st) == 0 && S_ISLNK(link_st.st_mode) ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | reparse;
  return (IsReadOnly(st) ? (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE) : FILE_ATTRIBUTE_ARCHIVE) | reparse;
}

BOOL SetFileAttributesA(const std::string& path, DWORD attributes) {
  std::string host;
  if (!Resolve(path, true, &host)) return FALSE;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail(MissingError(host));
  if (S_ISDIR(st.st_mode)) return TRUE;
  mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (st.st_mode & ~0222) : (st.st_mode | 0200);
  if (::chmod(host.c_str(), mode & 07777) != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

UINT GetTempFileNameA(const std::string& path, const std::string& prefix, UINT unique,
                      std::string* temp_file) {
  std::string host;
  if (!Resolve(path, unique == 0, &host)) return 0;
  if (!IsDir(host)) {
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
    std::string candidate = host + "/" + name;
    int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      *temp_file = JoinWinPath(path, name);
      return n;
    }
    if (errno != EEXIST) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
  }
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
  std::string host;
  WinPath win;
  if (!Resolve(path, false, &host, &win)) return INVALID_HANDLE_VALUE;
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  // Reading an existing file is allowed anywhere; writing, creating or truncating is not.
  bool creates = !exists && (creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS);
  bool truncates = exists && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING);
  if ((access & GENERIC_WRITE) || creates || truncates) {
    DWORD rc = CheckFileWrite(*CurrentMachine(), CurrentToken(), win);
    if (rc != ERROR_SUCCESS) {
      SetLastError(rc);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (exists && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_CLOEXEC;
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
    SetLastError(MissingError(host));
    return INVALID_HANDLE_VALUE;
  }
  if (!exists && !IsDir(ParentOf(host))) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (exists && IsReadOnly(st) && ((access & GENERIC_WRITE) || (flags & O_TRUNC))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(g_share_mu);
  if (exists && SharingConflict(FileId{st.st_dev, st.st_ino}, access, share)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  // Truncation waits until the share check passed.
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  fstat(fd, &st);
  FileId id{st.st_dev, st.st_ino};
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

BOOL SystemTimeToFileTime(const SYSTEMTIME& s, FILETIME* ft) {
  if (s.wMonth < 1 || s.wMonth > 12 || s.wDay < 1 || s.wDay > 31 || s.wHour > 23 ||
      s.wMinute > 59 || s.wSecond > 59 || s.wMilliseconds > 999 || s.wYear < 1601) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  struct tm tm {};
  tm.tm_year = s.wYear - 1900;
  tm.tm_mon = s.wMonth - 1;
  tm.tm_mday = s.wDay;
  tm.tm_hour = s.wHour;
  tm.tm_min = s.wMinute;
  tm.tm_sec = s.wSecond;
  struct timespec ts;
  ts.tv_sec = timegm(&tm);
  ts.tv_nsec = static_cast<long>(s.wMilliseconds) * 1000000L;
  *ft = ToFileTime(ts);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME* s) {
  struct timespec ts = ToTimespec(ft);
  struct tm tm {};
  if (gmtime_r(&ts.tv_sec, &tm) == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  FillSystemTime(tm, ts.tv_nsec / 1000000L, s);
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME& local, FILETIME* utc) {
  // The local time's offset from UTC at that moment, as the host's time zone gives it.
  struct timespec ts = ToTimespec(local);
  struct tm tm {};
  gmtime_r(&ts.tv_sec, &tm);
  tm.tm_isdst = -1;
  time_t as_local = mktime(&tm);
  ts.tv_sec = as_local;
  *utc = ToFileTime(ts);
  return TRUE;
}

BOOL DosDateTimeToFileTime(WORD fat_date, WORD fat_time, FILETIME* ft) {
  SYSTEMTIME s;
  s.wYear = static_cast<WORD>(1980 + (fat_date >> 9));
  s.wMonth = static_cast<WORD>((fat_date >> 5) & 0x0F);
  s.wDay = static_cast<WORD>(fat_date & 0x1F);
  s.wHour = static_cast<WORD>(fat_time >> 11);
  s.wMinute = static_cast<WORD>((fat_time >> 5) & 0x3F);
  s.wSecond = static_cast<WORD>((fat_time & 0x1F) * 2);
  return SystemTimeToFileTime(s, ft);
}

void GetLocalTime(SYSTEMTIME* s) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  localtime_r(&ts.tv_sec, &tm);
  FillSystemTime(tm, ts.tv_nsec / 1000000L, s);
}

void GetSystemTime(SYSTEMTIME* s) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  gmtime_r(&ts.tv_sec, &tm);
  FillSystemTime(tm, ts.tv_nsec / 1000000L, s);
}

DWORD GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000L);
}

std::FILE* FileOpen(const std::string& path, const char* mode) {
  std::string m = mode ? mode : "";
  bool writes = m.find_first_of("wa+") != std::string::npos;
  bool creates = m.find_first_of("wa") != std::string::npos;
  std::string host;
  WinPath win;
  if (!Resolve(path, false, &host, &win)) {
    errno = ENOENT;
    return nullptr;
  }
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  if (writes && (exists || creates)) {
    DWORD rc = CheckFileWrite(*CurrentMachine(), CurrentToken(), win);
    if (rc != ERROR_SUCCESS) {
      SetLastError(rc);
      errno = EACCES;
      return nullptr;
    }
    if (exists && (IsReadOnly(st) || S_ISDIR(st.st_mode))) {
      SetLastError(ERROR_ACCESS_DENIED);
      errno = EACCES;
      return nullptr;
    }
    if (exists && WriteConflict(host)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      errno = EACCES;
      return nullptr;
    }
  }
  std::string host_mode;
  for (char c : m) {
    if (c != 't') host_mode.push_back(c);  // text mode has no meaning on the host
  }
  host_mode += "e";  // close on exec
  std::FILE* f = std::fopen(host.c_str(), host_mode.c_str());
  if (f == nullptr) {
    int err = errno;
    SetLastError(err == ENOENT && !exists && !IsDir(ParentOf(host)) ? ERROR_PATH_NOT_FOUND
                                                                     : Win32ErrorFromErrno(err));
    errno = err;
  }
  return f;
}

}  // namespace os
