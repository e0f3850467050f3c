#include "tests/support/program_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/image_test.h"

extern char** environ;

namespace pelisto::testing {
namespace {

// Fields of /proc/<pid>/stat after the command name: the state, then the parent.
bool ReadStat(int pid, char* state, int* parent) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  // The command name is in parentheses and may hold blanks or parentheses itself.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(line.substr(close + 1));
  return static_cast<bool>(rest >> *state >> *parent);
}

}  // namespace

ProgramProcess::ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::string& output_stem)
    : stem_(output_stem) {
  const std::string path = std::string(PELISTO_BIN_DIR) + "/" + program;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = stem_ + ".out", err = stem_ + ".err";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  pid_ = pid;
}

ProgramProcess::~ProgramProcess() {
  if (pid_ > 0 && !status_) {
    Kill();
    Wait(10000);
  }
}

void ProgramProcess::Kill() {
  if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
}

std::optional<int> ProgramProcess::Wait(int timeout_ms) {
  if (status_ || pid_ <= 0) return status_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      return status_;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::string ProgramProcess::Out() const { return ReadHostFile(stem_ + ".out"); }
std::string ProgramProcess::Err() const { return ReadHostFile(stem_ + ".err"); }

std::vector<int> ChildProcesses(int pid, const std::string& program) {
  std::vector<int> children;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return children;
  while (dirent* e = ::readdir(proc)) {
    char* end = nullptr;
    const long candidate = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0') continue;
    char state = 0;
    int parent = 0;
    if (!ReadStat(static_cast<int>(candidate), &state, &parent) || parent != pid || state == 'Z') continue;
    if (!program.empty()) {
      char exe[4096];
      const std::string link = "/proc/" + std::string(e->d_name) + "/exe";
      const ssize_t n = ::readlink(link.c_str(), exe, sizeof exe - 1);
      if (n <= 0) continue;
      const std::string path(exe, static_cast<std::size_t>(n));
      if (path.substr(path.rfind('/') + 1) != program) continue;
    }
    children.push_back(static_cast<int>(candidate));
  }
  ::closedir(proc);
  return children;
}

bool ProcessRunning(int pid) {
  char state = 0;
  int parent = 0;
  return ReadStat(pid, &state, &parent) && state != 'Z' && state != 'X';
}

bool KillProcess(int pid) { return ::kill(pid, SIGKILL) == 0; }

}  // namespace pelisto::testing
