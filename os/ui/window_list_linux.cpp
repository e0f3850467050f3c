#include "os/ui/window_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "os/image/machine.h"

namespace os::ui::internal {
namespace {

constexpr char kListFolder[] = "windows";
// A list longer than this was not written by a process of the image.
constexpr off_t kMaxListBytes = 1 << 20;

// The start time of a process (field 22 of /proc/<pid>/stat), which tells a process from a
// later one that got the same number; empty when it cannot be read.
std::string StartTime(std::uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return "";
  std::istringstream rest(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && (rest >> field); ++i) {
    if (i == 22) return field;
  }
  return "";
}

bool Alive(std::uint32_t pid, const std::string& start_time) {
  if (pid == 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return false;
  return start_time.empty() || StartTime(pid) == start_time;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
  }
  return out;
}

// The image's folder of window lists, opened (and made when `create`) without following a
// link: another process of the image could plant one to have this process (the broker among
// them) write or read a file elsewhere. -1 when there is none.
int OpenListFolder(bool create) {
  Machine* m = CurrentMachine();
  if (m == nullptr) return -1;
  int prefix = ::open(m->prefix().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (prefix < 0) return -1;
  if (create) ::mkdirat(prefix, kListFolder, 0755);
  int folder = ::openat(prefix, kListFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  ::close(prefix);
  return folder;
}

// The whole of the regular file `name` in `folder` (never through a link), or empty.
std::string ReadListFile(int folder, const char* name) {
  int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxListBytes) {
    char buf[8192];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 && text.size() <= kMaxListBytes;) {
      text.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return text.size() <= kMaxListBytes ? text : std::string();
}

}  // namespace

std::uint32_t CurrentProcessNumber() { return static_cast<std::uint32_t>(getpid()); }

std::int64_t WallClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void WriteWindowList(const std::vector<ListedWindow>& windows) {
  int folder = OpenListFolder(!windows.empty());
  if (folder < 0) return;
  std::uint32_t pid = CurrentProcessNumber();
  const std::string file = std::to_string(pid) + ".list";
  if (windows.empty()) {
    ::unlinkat(folder, file.c_str(), 0);
    ::close(folder);
    return;
  }
  std::ostringstream out;
  out << "process\t" << pid << '\t' << StartTime(pid) << '\n';
  for (const ListedWindow& w : windows) {
    out << std::hex << w.handle << std::dec << '\t' << w.created_ns << '\t' << Escape(w.class_name)
        << '\t' << Escape(w.title) << '\n';
  }
  const std::string text = out.str();
  const std::string temp = file + ".tmp";
  ::unlinkat(folder, temp.c_str(), 0);
  int fd = ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (done == text.size()) {
      ::renameat(folder, temp.c_str(), folder, file.c_str());
    } else {
      ::unlinkat(folder, temp.c_str(), 0);
    }
  }
  ::close(folder);
}

std::vector<ListedWindow> ReadForeignWindows() {
  std::vector<ListedWindow> out;
  int folder = OpenListFolder(false);
  if (folder < 0) return out;
  std::vector<std::string> names;
  const int listing = ::dup(folder);
  if (DIR* dir = listing < 0 ? nullptr : fdopendir(listing)) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".list") == 0) names.push_back(name);
    }
    closedir(dir);
  } else if (listing >= 0) {
    ::close(listing);
  }
  std::uint32_t self = CurrentProcessNumber();
  for (const std::string& name : names) {
    std::istringstream in(ReadListFile(folder, name.c_str()));
    std::string header;
    if (!std::getline(in, header)) continue;
    std::istringstream hs(header);
    std::string word, start_time;
    std::uint32_t pid = 0;
    if (!std::getline(hs, word, '\t') || word != "process" || !(hs >> pid)) continue;
    hs.ignore(1);
    std::getline(hs, start_time);
    if (pid == self || !Alive(pid, start_time)) continue;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      std::string handle, created, cls, title;
      if (!std::getline(ls, handle, '\t') || !std::getline(ls, created, '\t') ||
          !std::getline(ls, cls, '\t')) {
        continue;
      }
      std::getline(ls, title);
      ListedWindow w;
      try {
        w.handle = static_cast<std::uintptr_t>(std::stoull(handle, nullptr, 16));
        w.created_ns = std::stoll(created);
      } catch (const std::exception&) {
        continue;
      }
      if ((static_cast<std::uint64_t>(w.handle) >> 32) != pid) continue;  // not that process's
      w.class_name = Unescape(cls);
      w.title = Unescape(title);
      out.push_back(std::move(w));
    }
  }
  ::close(folder);
  return out;
}

}  // namespace os::ui::internal
