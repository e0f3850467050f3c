#include "os/image/name_index_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "os/base/text.h"
#include "os/image/host_place_linux.h"

namespace os {
namespace {

constexpr std::size_t kMaxFolders = 64;  // folders indexed at once, least recently used leave
constexpr std::size_t kMaxNames = 1 << 20;  // names held in all indexes together
constexpr std::uint32_t kWatched = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool Skip(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// Every entry of the folder through `read` (a name at a time); false when it cannot be read.
template <typename Fn>
bool ReadFolder(int folder, Fn read) {
  int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    ::close(fd);
    return false;
  }
  errno = 0;
  bool go = true;
  while (go) {
    dirent* e = readdir(d);
    if (e == nullptr) break;
    if (!Skip(e->d_name)) go = read(e->d_name);
  }
  const bool ok = errno == 0;
  closedir(d);
  return ok;
}

struct FolderKey {
  dev_t dev;
  ino_t ino;
  bool operator<(const FolderKey& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

struct Index {
  FolderKey key;
  int watch = -1;
  std::unordered_map<std::string, std::set<std::string>> names;  // folded -> names as they are
  std::size_t count = 0;
};

class Indexes {
 public:
  std::string Find(int folder, const std::string& name) {
    struct stat st;
    if (fstat(folder, &st) != 0) return Scan(folder, name);
    const FolderKey key{st.st_dev, st.st_ino};
    const std::string folded = AsciiLower(name);
    std::lock_guard<std::mutex> lock(mu_);
    Drain();
    Index* index = Lookup(key);
    if (index == nullptr) index = Build(folder, key);
    if (index == nullptr) return Scan(folder, name);
    auto it = index->names.find(folded);
    return it == index->names.end() || it->second.empty() ? std::string() : *it->second.begin();
  }

  // The queue's descriptor, for a child made by fork to close without taking the lock.
  int notify_fd() const { return notify_; }

 private:
  static std::string Scan(int folder, const std::string& name) {
    std::string found;
    ReadFolder(folder, [&](const char* entry) {
      if (EqualsIgnoreCase(entry, name)) {
        found = entry;
        return false;
      }
      return true;
    });
    return found;
  }

  Index* Lookup(const FolderKey& key) {
    auto it = by_key_.find(key);
    if (it == by_key_.end()) return nullptr;
    lru_.splice(lru_.begin(), lru_, it->second);
    return &*it->second;
  }

  Index* Build(int folder, const FolderKey& key) {
    if (broken_) return nullptr;
    if (notify_ < 0) {
      notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (notify_ < 0) {
        broken_ = true;
        return nullptr;
      }
    }
    // Watched before it is read: a change during the reading is then in the queue too, and
    // applying it again to what was read gives the same names.
    const int watch = inotify_add_watch(notify_, DescriptorPath(folder).c_str(), kWatched);
    if (watch < 0) return nullptr;
    Index fresh;
    fresh.key = key;
    fresh.watch = watch;
    bool ok = ReadFolder(folder, [&](const char* entry) {
      if (fresh.names[AsciiLower(entry)].insert(entry).second) ++fresh.count;
      return total_ + fresh.count <= kMaxNames;
    });
    if (!ok || total_ + fresh.count > kMaxNames) {
      if (by_watch_.count(watch) == 0) inotify_rm_watch(notify_, watch);
      return nullptr;
    }
    // One folder may be open under two keys only if it was replaced: the old index goes.
    if (auto old = by_watch_.find(watch); old != by_watch_.end()) Drop(old->second);
    while (lru_.size() >= kMaxFolders) Drop(std::prev(lru_.end()), true);
    total_ += fresh.count;
    lru_.push_front(std::move(fresh));
    by_key_[key] = lru_.begin();
    by_watch_[watch] = lru_.begin();
    Drain();
    return by_key_.count(key) ? &*lru_.begin() : nullptr;
  }

  void Drop(std::list<Index>::iterator it, bool unwatch = false) {
    if (unwatch && notify_ >= 0) inotify_rm_watch(notify_, it->watch);
    total_ -= it->count;
    by_key_.erase(it->key);
    by_watch_.erase(it->watch);
    lru_.erase(it);
  }

  // Changes were lost: nothing kept can be trusted any more.
  void Forget() {
    ::close(notify_);
    notify_ = -1;
    lru_.clear();
    by_key_.clear();
    by_watch_.clear();
    total_ = 0;
  }

  void Apply(const inotify_event& e) {
    if (e.mask & IN_Q_OVERFLOW) {
      Forget();
      return;
    }
    auto it = by_watch_.find(e.wd);
    if (it == by_watch_.end()) return;
    Index& index = *it->second;
    if (e.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
      Drop(it->second, !(e.mask & IN_IGNORED));
      return;
    }
    if (e.len == 0) return;
    const std::string name(e.name);
    std::set<std::string>& spelled = index.names[AsciiLower(name)];
    if (e.mask & (IN_CREATE | IN_MOVED_TO)) {
      if (spelled.insert(name).second) {
        ++index.count;
        ++total_;
      }
    } else if (e.mask & (IN_DELETE | IN_MOVED_FROM)) {
      if (spelled.erase(name) != 0) {
        --index.count;
        --total_;
      }
    }
  }

  void Drain() {
    alignas(inotify_event) char buf[64 * 1024];
    while (notify_ >= 0) {
      ssize_t n = ::read(notify_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n < 0 && errno != EAGAIN) Forget();
        return;
      }
      for (char* p = buf; p < buf + n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(p);
        Apply(*e);
        if (notify_ < 0) return;
        p += sizeof(inotify_event) + e->len;
      }
    }
  }

  std::mutex mu_;
  int notify_ = -1;
  bool broken_ = false;  // this process cannot watch folders at all
  std::list<Index> lru_;
  std::map<FolderKey, std::list<Index>::iterator> by_key_;
  std::unordered_map<int, std::list<Index>::iterator> by_watch_;
  std::size_t total_ = 0;
};

// Never destroyed: other threads may search during exit.
std::atomic<Indexes*> g_indexes{nullptr};

// In a child made by fork the queue is shared with the parent, whose events must not be taken
// from it, and the lock may be held by a thread that does not exist here: the child starts
// afresh (what the parent held is left, not freed).
void StartAfreshInChild() {
  Indexes* old = g_indexes.load();
  if (old == nullptr) return;
  if (old->notify_fd() >= 0) ::close(old->notify_fd());
  g_indexes.store(new Indexes());
}

Indexes& TheIndexes() {
  static const bool registered = [] {
    g_indexes.store(new Indexes());
    pthread_atfork(nullptr, nullptr, StartAfreshInChild);
    return true;
  }();
  (void)registered;
  return *g_indexes.load();
}

}  // namespace

std::string FindNameWithoutCase(int folder, const std::string& name) {
  return TheIndexes().Find(folder, name);
}

}  // namespace os
