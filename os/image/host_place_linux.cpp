#include "os/image/host_place_linux.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <map>
#include <string_view>
#include <mutex>
#include <utility>
#include <vector>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/machine.h"
#include "os/image/name_index_linux.h"

namespace os {
namespace {

constexpr int kMaxLinks = 40;         // as the kernel's own bound on links in one lookup
constexpr std::size_t kMaxDepth = 256;  // open folders held by one walk
constexpr int kPathFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;

// Set once the kernel (or a filter in front of it) refuses openat2: the walk then always goes
// one component at a time, which is as safe, only slower.
std::atomic<bool> g_no_openat2{false};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

DWORD WalkError(int err) {
  switch (err) {
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;  // the check cannot be completed
  }
}

// Opens the folder `path` (absolute) with the kernel refusing any link on the way, the drive's
// root folder's own path included. Components given by a caller never hold "..", so with no
// link the folder lies below the root's path.
int OpenWithoutLinks(const std::string& path) {
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
  if (fd < 0 && (errno == ENOSYS || errno == EPERM || errno == EINVAL || errno == E2BIG)) {
    g_no_openat2.store(true);
  }
  return static_cast<int>(fd);
}

std::vector<std::string> SplitHost(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('/', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) parts.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

std::string JoinHost(const std::string& base, const std::string& name) {
  return base == "/" ? "/" + name : base + "/" + name;
}

struct Identity {
  dev_t dev;
  ino_t ino;
  char drive;  // 0: the prefix itself
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the folder `outer` is `inner` or one of the folders above it.
bool Holds(const struct stat& outer, const std::string& inner) {
  Fd fd(::open(inner.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (int up = 0; fd.get() >= 0 && up < 4096; ++up) {
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return false;
    if (SameFile(st, outer)) return true;
    Fd parent(::openat(fd.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat pst;
    if (parent.get() < 0 || fstat(parent.get(), &pst) != 0 || SameFile(pst, st)) return false;
    fd = std::move(parent);
  }
  return false;
}

// Whether the drive's folder holds the prefix or another drive's folder. Only such a drive
// needs the walk that knows, at every folder, which drive or prefix it is in. The answer
// depends only on where the image's own folders lie (its owner's to change), so it is kept
// per layout of the image.
bool DriveHoldsOthers(const Machine& machine, char letter) {
  std::string key = machine.prefix();
  for (const auto& [l, folder] : machine.settings().drives) {
    key += '\0';
    key += l;
    key += folder;
  }
  key += '\0';
  key += letter;
  static std::mutex mu;
  static std::map<std::string, bool> known;
  {
    std::lock_guard<std::mutex> lock(mu);
    auto it = known.find(key);
    if (it != known.end()) return it->second;
  }
  bool holds = false;
  struct stat root;
  const std::string root_text = machine.DriveRoot(letter);
  if (::stat(root_text.c_str(), &root) != 0) return false;  // not kept: the folder may appear
  holds = Holds(root, machine.prefix());
  for (const auto& [other, folder] : machine.settings().drives) {
    if (!holds && other != letter) holds = Holds(root, machine.DriveRoot(other));
  }
  std::lock_guard<std::mutex> lock(mu);
  known.emplace(key, holds);
  return holds;
}

}  // namespace

HostPlace::~HostPlace() {
  if (folder_ >= 0) ::close(folder_);
}

HostPlace::HostPlace(HostPlace&& o) noexcept
    : folder_(std::exchange(o.folder_, -1)),
      name_(std::move(o.name_)),
      exists_(o.exists_),
      status_(o.status_),
      real_(std::move(o.real_)),
      host_(std::move(o.host_)) {}

HostPlace& HostPlace::operator=(HostPlace&& o) noexcept {
  if (this != &o) {
    if (folder_ >= 0) ::close(folder_);
    folder_ = std::exchange(o.folder_, -1);
    name_ = std::move(o.name_);
    exists_ = o.exists_;
    status_ = o.status_;
    real_ = std::move(o.real_);
    host_ = std::move(o.host_);
  }
  return *this;
}

int HostPlace::Open(int flags, mode_t mode) const {
  if (folder_ < 0) {
    errno = ENOENT;
    return -1;
  }
  return ::openat(folder_, name_.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

// One resolution: the stack of open folders from the drive's root to where the walk stands.
class PlaceWalk {
 public:
  PlaceWalk(const Machine& machine, char drive, LastLink last)
      : machine_(machine), drive_(drive), last_(last), root_text_(machine.DriveRoot(drive)) {}

  DWORD Run(const WinPath& path, HostPlace* out) {
    if (root_text_.empty() || root_text_[0] != '/') return ERROR_PATH_NOT_FOUND;
    // Components come from ParseWinPath or are single names; one that is not a plain name
    // would have the kernel walk several host components at once, links included.
    for (const std::string& part : path.parts) {
      if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos ||
          part.find('\0') != std::string::npos) {
        return ERROR_INVALID_NAME;
      }
    }
    const bool others = DriveHoldsOthers(machine_, drive_);
    if (!others && !g_no_openat2.load() && !path.parts.empty()) {
      if (Quick(path, out)) return ERROR_SUCCESS;
    }
    // The drive's own folder is as the image's settings name it: links in its path are the
    // image owner's, and followed.
    Fd root(::open(root_text_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) return ERROR_PATH_NOT_FOUND;
    if (others && !LoadIdentities()) return ERROR_ACCESS_DENIED;
    return Walk(path, std::move(root), out);
  }

 private:
  struct Level {
    Fd fd;
    std::string name;        // this folder's name in the one below it ("" for the root)
    char drive;              // the drive that really holds this folder
    std::size_t drive_root;  // the level of that drive's root
    bool in_prefix;          // inside the prefix, outside every drive of it
  };

  // Components without a link, every folder found with its exact name: one call resolves the
  // folders (the kernel refusing any link), then the last component. False when anything is
  // unusual (a link anywhere, a name in another case, a missing folder); the walk below then
  // decides.
  bool Quick(const WinPath& path, HostPlace* out) {
    const std::size_t n = path.parts.size();
    std::string folder = root_text_;
    for (std::size_t i = 0; i + 1 < n; ++i) folder = JoinHost(folder, path.parts[i]);
    Fd parent(OpenWithoutLinks(folder));
    if (parent.get() < 0) return false;
    std::string name = path.parts.back();
    struct stat st;
    bool exists = fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists) {
      if (errno != ENOENT) return false;
      std::string other = FindNameWithoutCase(parent.get(), name);
      if (!other.empty()) {
        if (fstatat(parent.get(), other.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        name = std::move(other);
        exists = true;
      }
    }
    if (exists && S_ISLNK(st.st_mode) && last_ == LastLink::kFollow) return false;
    HostPlace place;
    place.folder_ = parent.Release();
    place.exists_ = exists;
    if (exists) place.status_ = st;
    place.real_.drive = drive_;
    place.real_.parts.assign(path.parts.begin(), path.parts.end() - 1);
    place.real_.parts.push_back(name);
    place.host_ = JoinHost(folder, name);
    place.name_ = std::move(name);
    *out = std::move(place);
    return true;
  }

  bool LoadIdentities() {
    auto add = [this](const std::string& folder, char drive) {
      struct stat st;
      if (!folder.empty() && ::stat(folder.c_str(), &st) == 0) {
        identities_.push_back({st.st_dev, st.st_ino, drive});
      }
    };
    add(machine_.prefix(), 0);
    for (const auto& [letter, folder] : machine_.settings().drives) add(machine_.DriveRoot(letter), letter);
    check_identity_ = true;
    return !identities_.empty();
  }

  // The level a folder with status `st` found below `parent` is at.
  Level MakeLevel(Fd fd, std::string name, const struct stat& st, std::size_t index) const {
    Level level{std::move(fd), std::move(name), drive_, 0, false};
    if (index > 0) {
      const Level& parent = levels_.back();
      level.drive = parent.drive;
      level.drive_root = parent.drive_root;
      level.in_prefix = parent.in_prefix;
    }
    if (check_identity_) {
      // The prefix itself is the prefix's, even where a drive maps it; a drive inside it
      // (drive_c) is that drive. Among drives mapped to one folder the first letter wins, so
      // C: is C: whatever else maps its folder.
      for (const Identity& id : identities_) {
        if (id.drive == 0 && id.dev == st.st_dev && id.ino == st.st_ino) {
          level.in_prefix = true;
          return level;
        }
      }
      for (const Identity& id : identities_) {
        if (id.drive != 0 && id.dev == st.st_dev && id.ino == st.st_ino) {
          level.drive = id.drive;
          level.drive_root = index;
          level.in_prefix = false;
          break;
        }
      }
    }
    return level;
  }

  WinPath RealOf(std::size_t top) const {
    WinPath real;
    real.drive = levels_[top].drive;
    for (std::size_t i = levels_[top].drive_root + 1; i <= top; ++i) real.parts.push_back(levels_[i].name);
    return real;
  }

  std::string HostOf(std::size_t top) const {
    std::string host = root_text_;
    for (std::size_t i = 1; i <= top; ++i) host = JoinHost(host, levels_[i].name);
    return host;
  }

  // The place is the folder at the top of the stack itself.
  DWORD FinishAtTop(HostPlace* out) {
    const std::size_t top = levels_.size() - 1;
    if (levels_[top].in_prefix) return ERROR_ACCESS_DENIED;
    HostPlace place;
    place.exists_ = true;
    if (fstat(levels_[top].fd.get(), &place.status_) != 0) return WalkError(errno);
    place.real_ = RealOf(top);
    place.host_ = HostOf(top);
    if (top == 0) {
      place.folder_ = levels_[0].fd.Release();
      place.name_ = ".";
    } else {
      place.folder_ = levels_[top - 1].fd.Release();
      place.name_ = levels_[top].name;
    }
    *out = std::move(place);
    return ERROR_SUCCESS;
  }

  // The place `name` in the top folder, with status `st` when it exists.
  DWORD FinishIn(std::string name, bool exists, const struct stat& st, HostPlace* out) {
    const std::size_t top = levels_.size() - 1;
    bool in_prefix = levels_[top].in_prefix;
    WinPath real = RealOf(top);
    real.parts.push_back(name);
    if (exists && S_ISDIR(st.st_mode) && check_identity_) {
      Level as_level = MakeLevel(Fd(), name, st, levels_.size());
      in_prefix = as_level.in_prefix;
      if (as_level.drive_root == levels_.size()) {
        real.drive = as_level.drive;
        real.parts.clear();
      }
    }
    if (in_prefix) return ERROR_ACCESS_DENIED;
    HostPlace place;
    place.exists_ = exists;
    if (exists) place.status_ = st;
    place.real_ = std::move(real);
    place.host_ = JoinHost(HostOf(top), name);
    place.folder_ = levels_[top].fd.Release();
    place.name_ = std::move(name);
    *out = std::move(place);
    return ERROR_SUCCESS;
  }

  // A folder on the way is missing: the rest is named as given, and nothing can be there.
  DWORD FinishMissing(std::string name, std::vector<std::string> pending, HostPlace* out) {
    const std::size_t top = levels_.size() - 1;
    if (levels_[top].in_prefix) return ERROR_ACCESS_DENIED;
    WinPath real = RealOf(top);
    std::string host = HostOf(top);
    pending.push_back(std::move(name));
    std::vector<std::string> tail;
    while (!pending.empty()) {
      std::string part = std::move(pending.back());
      pending.pop_back();
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (tail.empty()) return ERROR_ACCESS_DENIED;  // back into folders already left
        tail.pop_back();
        continue;
      }
      tail.push_back(std::move(part));
    }
    HostPlace place;
    for (const std::string& part : tail) {
      real.parts.push_back(part);
      host = JoinHost(host, part);
    }
    place.name_ = tail.empty() ? std::string(".") : tail.back();
    place.real_ = std::move(real);
    place.host_ = std::move(host);
    *out = std::move(place);
    return ERROR_SUCCESS;
  }

  // Where a link's target text leads: its components pushed for the walk, from the root for an
  // absolute target that lies inside the drive's folder. False when it leads out.
  bool Follow(const std::string& target, std::vector<std::string>* pending) {
    std::string_view rest = target;
    if (!target.empty() && target[0] == '/') {
      if (!StripRoot(&rest)) return false;
      while (levels_.size() > 1) levels_.pop_back();
    }
    std::vector<std::string> parts = SplitHost(rest);
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) pending->push_back(std::move(*it));
    return true;
  }

  bool StripRoot(std::string_view* text) {
    if (canonical_root_.empty()) {
      char buf[PATH_MAX];
      ssize_t n = readlink(DescriptorPath(levels_[0].fd.get()).c_str(), buf, sizeof buf);
      if (n > 0 && static_cast<std::size_t>(n) < sizeof buf) canonical_root_.assign(buf, static_cast<std::size_t>(n));
    }
    for (const std::string& root : {root_text_, canonical_root_}) {
      if (root.empty()) continue;
      if (root == "/") {
        text->remove_prefix(1);
        return true;
      }
      if (text->compare(0, root.size(), root) == 0 &&
          (text->size() == root.size() || (*text)[root.size()] == '/')) {
        text->remove_prefix(root.size());
        return true;
      }
    }
    return false;
  }

  DWORD Walk(const WinPath& path, Fd root, HostPlace* out) {
    struct stat st;
    if (fstat(root.get(), &st) != 0) return WalkError(errno);
    levels_.push_back(MakeLevel(std::move(root), "", st, 0));
    std::vector<std::string> pending(path.parts.rbegin(), path.parts.rend());
    int links = 0;
    while (!pending.empty()) {
      std::string part = std::move(pending.back());
      pending.pop_back();
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (levels_.size() == 1) return ERROR_ACCESS_DENIED;  // a link climbing out
        levels_.pop_back();
        continue;
      }
      const bool last = pending.empty();
      const int folder = levels_.back().fd.get();
      Fd fd(::openat(folder, part.c_str(), kPathFlags));
      int err = fd.get() < 0 ? errno : 0;
      if (err == ENOENT) {
        std::string other = FindNameWithoutCase(folder, part);
        if (!other.empty()) {
          part = std::move(other);
          fd = Fd(::openat(folder, part.c_str(), kPathFlags));
          err = fd.get() < 0 ? errno : 0;
        }
      }
      if (fd.get() < 0) {
        if (err != ENOENT) return WalkError(err);
        if (last) return FinishIn(std::move(part), false, st, out);
        return FinishMissing(std::move(part), std::move(pending), out);
      }
      if (fstat(fd.get(), &st) != 0) return WalkError(errno);
      if (S_ISLNK(st.st_mode) && (!last || last_ == LastLink::kFollow)) {
        if (++links > kMaxLinks) return ERROR_ACCESS_DENIED;
        char buf[PATH_MAX];
        ssize_t n = readlinkat(fd.get(), "", buf, sizeof buf);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return ERROR_ACCESS_DENIED;
        if (!Follow(std::string(buf, static_cast<std::size_t>(n)), &pending)) return ERROR_ACCESS_DENIED;
        if (pending.empty()) return FinishAtTop(out);
        continue;
      }
      if (last) return FinishIn(std::move(part), true, st, out);
      if (!S_ISDIR(st.st_mode)) return FinishMissing(std::move(part), std::move(pending), out);
      if (levels_.size() >= kMaxDepth) return ERROR_ACCESS_DENIED;
      levels_.push_back(MakeLevel(std::move(fd), std::move(part), st, levels_.size()));
    }
    return FinishAtTop(out);
  }

  const Machine& machine_;
  const char drive_;
  const LastLink last_;
  const std::string root_text_;
  std::string canonical_root_;
  bool check_identity_ = false;
  std::vector<Identity> identities_;
  std::vector<Level> levels_;
};

DWORD ResolveHostPlace(const Machine& machine, const WinPath& path, LastLink last, HostPlace* place) {
  return PlaceWalk(machine, path.drive, last).Run(path, place);
}

DWORD CreateHostFolders(const Machine& machine, const WinPath& path) {
  HostPlace place;
  if (DWORD rc = ResolveHostPlace(machine, path, LastLink::kFollow, &place); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (place.exists()) return S_ISDIR(place.status().st_mode) ? ERROR_SUCCESS : ERROR_DIRECTORY;
  WinPath step;
  step.drive = path.drive;
  for (const std::string& part : path.parts) {
    step.parts.push_back(part);
    if (DWORD rc = ResolveHostPlace(machine, step, LastLink::kFollow, &place); rc != ERROR_SUCCESS) {
      return rc;
    }
    if (place.exists()) {
      if (!S_ISDIR(place.status().st_mode)) return ERROR_DIRECTORY;
      continue;
    }
    if (!place.folder_exists()) return ERROR_PATH_NOT_FOUND;
    if (::mkdirat(place.folder(), place.name().c_str(), 0777) != 0 && errno != EEXIST) {
      return Win32ErrorFromErrno(errno);
    }
  }
  return ERROR_SUCCESS;
}

DWORD MissingPlaceError(const HostPlace& place) {
  return place.folder_exists() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace os
