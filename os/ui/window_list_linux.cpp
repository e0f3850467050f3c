#include "os/ui/window_list.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "os/image/machine.h"

namespace os::ui::internal {
namespace fs = std::filesystem;
namespace {

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

std::string ListFolder() {
  Machine* m = CurrentMachine();
  return m == nullptr ? "" : m->prefix() + "/windows";
}

}  // namespace

std::uint32_t CurrentProcessNumber() { return static_cast<std::uint32_t>(getpid()); }

std::int64_t WallClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void WriteWindowList(const std::vector<ListedWindow>& windows) {
  std::string folder = ListFolder();
  if (folder.empty()) return;
  std::error_code ec;
  std::uint32_t pid = CurrentProcessNumber();
  std::string file = folder + "/" + std::to_string(pid) + ".list";
  if (windows.empty()) {
    fs::remove(file, ec);
    return;
  }
  fs::create_directories(folder, ec);
  std::string temp = file + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << "process\t" << pid << '\t' << StartTime(pid) << '\n';
    for (const ListedWindow& w : windows) {
      out << std::hex << w.handle << std::dec << '\t' << w.created_ns << '\t' << Escape(w.class_name)
          << '\t' << Escape(w.title) << '\n';
    }
    if (!out) return;
  }
  fs::rename(temp, file, ec);
}

std::vector<ListedWindow> ReadForeignWindows() {
  std::vector<ListedWindow> out;
  std::string folder = ListFolder();
  if (folder.empty()) return out;
  std::error_code ec;
  std::uint32_t self = CurrentProcessNumber();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".list") continue;
    std::ifstream in(it->path(), std::ios::binary);
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
  return out;
}

}  // namespace os::ui::internal
