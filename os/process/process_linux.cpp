#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <limits.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/base/error.h"
#include "os/base/text.h"
#include "os/image/host_place_linux.h"
#include "os/image/integrity.h"
#include "os/image/machine.h"
#include "os/image/win_path.h"
#include "os/process/channel.h"
#include "os/process/channel_linux.h"
#include "os/process/command_line.h"
#include "os/process/process.h"

extern char** environ;

namespace os {
namespace {
constexpr char kPrefixVariable[] = "PELISTO_PREFIX";
constexpr char kIntegrityVariable[] = "PELISTO_INTEGRITY";

struct ProcessState {
  pid_t pid = 0;
  std::mutex mu;
  std::condition_variable ended_cv;
  bool ended = false;  // set, under `mu`, before the process is reaped
  DWORD exit_code = STILL_ACTIVE;
  bool terminated = false;
  DWORD terminate_code = 0;
};

DWORD ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (!WIFSIGNALED(status)) return 1;
  switch (WTERMSIG(status)) {
    case SIGABRT: return 3;
    case SIGSEGV:
    case SIGBUS: return 0xC0000005;
    case SIGILL: return 0xC000001D;
    case SIGFPE: return 0xC0000094;
    case SIGINT: return 0xC000013A;
    default: return 1;
  }
}

// Waits for the process on a thread of its own, so that it is reaped even when nobody waits
// for it and every handle can wait with a time-out.
void StartReaper(std::shared_ptr<ProcessState> state) {
  std::thread([state] {
    siginfo_t info;
    // Observed first without reaping, so that TerminateProcess never signals a recycled pid.
    while (waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(state->mu);
    int status = 0;
    while (waitpid(state->pid, &status, 0) < 0 && errno == EINTR) {
    }
    state->exit_code = state->terminated ? state->terminate_code : ExitCodeFromStatus(status);
    state->ended = true;
    state->ended_cv.notify_all();
  }).detach();
}

// The process handle and the thread handle both stand for the same running program and are
// both signalled when it ends; only the process handle answers the process calls.
class ProgramObject : public KernelObject {
 public:
  explicit ProgramObject(std::shared_ptr<ProcessState> state) : state_(std::move(state)) {}

  DWORD Wait(DWORD timeout_ms) override {
    std::unique_lock<std::mutex> lock(state_->mu);
    auto ended = [this] { return state_->ended; };
    if (timeout_ms == INFINITE) {
      state_->ended_cv.wait(lock, ended);
      return WAIT_OBJECT_0;
    }
    return state_->ended_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ended)
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
  }

  ProcessState& state() { return *state_; }

 private:
  std::shared_ptr<ProcessState> state_;
};

class ProcessObject final : public ProgramObject {
 public:
  using ProgramObject::ProgramObject;
};

class ThreadObject final : public ProgramObject {
 public:
  using ProgramObject::ProgramObject;
};

ProcessObject* AsProcess(HANDLE h) {
  return IsValidHandle(h) ? dynamic_cast<ProcessObject*>(h) : nullptr;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

bool HasExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot + 1 < name.size();
}

// The Windows-form path of the program, or an error code.
DWORD ResolveProgram(const Machine& machine, const char* application_name,
                     const std::vector<std::string>& args, WinPath* program) {
  if (application_name != nullptr) {
    DWORD rc = ParseWinPath(application_name, program);
    return rc == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : rc;
  }
  if (args.empty() || args[0].empty()) return ERROR_INVALID_PARAMETER;
  std::string name = args[0];
  if (name.find_first_of("\\/:") != std::string::npos) {
    DWORD rc = ParseWinPath(name, program);
    return rc == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : rc;
  }
  if (name.back() == '.') {
    name.pop_back();
  } else if (!HasExtension(name)) {
    name += ".exe";
  }
  for (KnownFolder folder : {KnownFolder::kSystem, KnownFolder::kWindows}) {
    WinPath candidate;
    HostPlace place;
    if (ParseWinPath(JoinWinPath(machine.FolderLocation(folder), name), &candidate) ==
            ERROR_SUCCESS &&
        ResolveHostPlace(machine, candidate, LastLink::kFollow, &place) == ERROR_SUCCESS &&
        place.exists() && S_ISREG(place.status().st_mode)) {
      *program = candidate;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

// Opens the program file, a regular file reached inside its drive, and gives it the execute
// permission Windows does not have; the program is started from this descriptor, so what runs
// is exactly the file checked. Returns ERROR_SUCCESS with `*fd` open, or the error.
DWORD PrepareProgram(const Machine& machine, const WinPath& program, int* fd) {
  HostPlace place;
  if (DWORD rc = ResolveHostPlace(machine, program, LastLink::kFollow, &place); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (!place.exists()) return MissingPlaceError(place);
  if (!S_ISREG(place.status().st_mode)) return ERROR_ACCESS_DENIED;
  *fd = place.Open(O_RDONLY | O_NONBLOCK);
  struct stat st;
  if (*fd < 0) return errno == ELOOP ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno);
  if (fstat(*fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(*fd);
    return ERROR_ACCESS_DENIED;
  }
  // Execute for whoever may read it.
  const mode_t wanted = st.st_mode | ((st.st_mode & 0444) >> 2);
  if (wanted != st.st_mode && fchmod(*fd, wanted & 07777) != 0 && !(st.st_mode & 0111)) {
    const int err = errno;
    ::close(*fd);
    return Win32ErrorFromErrno(err);
  }
  return ERROR_SUCCESS;
}

// Opens a folder of the image for a program to start in.
DWORD OpenFolder(const Machine& machine, const WinPath& folder, int* fd) {
  HostPlace place;
  if (ResolveHostPlace(machine, folder, LastLink::kFollow, &place) != ERROR_SUCCESS ||
      !place.exists() || !S_ISDIR(place.status().st_mode)) {
    return ERROR_DIRECTORY;
  }
  *fd = place.Open(O_PATH | O_DIRECTORY);
  return *fd < 0 ? ERROR_DIRECTORY : ERROR_SUCCESS;
}

// Replaces every definition of `name` in `env` by one with `value`.
void SetVariable(std::vector<std::string>* env, const char* name, const std::string& value) {
  const std::string key = std::string(name) + "=";
  std::erase_if(*env, [&key](const std::string& e) { return e.compare(0, key.size(), key) == 0; });
  env->push_back(key + value);
}

std::vector<std::string> BuildEnvironment(const char* block, const std::string& prefix) {
  std::vector<std::string> env;
  if (block == nullptr) {
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
  } else {
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) env.emplace_back(p);
  }
  SetVariable(&env, kPrefixVariable, prefix);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// Signal handling as a fresh program expects it: defaults, nothing blocked.
void SetFreshSignals(posix_spawnattr_t* attr) {
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(attr, &all);
  posix_spawnattr_setsigmask(attr, &none);
  posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

// Runs posix_spawn with the attributes a fresh program expects: default signal handling, an
// empty signal mask, standard input from /dev/null, the given folder. The program is the open
// file `program`, started by its descriptor's name; a script's interpreter opens that name
// again, so the descriptor is handed down open (only to the new program, read-only).
int Spawn(int program, int folder, std::vector<std::string>& args, std::vector<std::string>& env,
          pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addfchdir_np(&actions, folder);
  posix_spawn_file_actions_adddup2(&actions, program, program);  // clears close-on-exec
  SetFreshSignals(&attr);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  int err = posix_spawn(pid, DescriptorPath(program).c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

// Handles for a started program, reaped by a thread of its own.
void AdoptProcess(pid_t pid, PROCESS_INFORMATION* process_information) {
  auto state = std::make_shared<ProcessState>();
  state->pid = pid;
  StartReaper(state);
  process_information->hProcess = new ProcessObject(state);
  process_information->hThread = new ThreadObject(state);
  process_information->dwProcessId = static_cast<DWORD>(pid);
  process_information->dwThreadId = static_cast<DWORD>(pid);
}
}  // namespace

BOOL CreateProcessA(const char* application_name, const char* command_line, const void*,
                    const void*, BOOL, DWORD creation_flags, const void* environment,
                    const char* current_directory, const STARTUPINFOA*,
                    PROCESS_INFORMATION* process_information) {
  if (process_information == nullptr || (application_name == nullptr && command_line == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (creation_flags & (CREATE_SUSPENDED | DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS |
                        CREATE_UNICODE_ENVIRONMENT)) {
    return Fail(ERROR_NOT_SUPPORTED);
  }
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return Fail(ERROR_PATH_NOT_FOUND);

  std::vector<std::string> args =
      command_line != nullptr ? SplitCommandLine(command_line) : std::vector<std::string>{};
  WinPath program;
  if (DWORD rc = ResolveProgram(*machine, application_name, args, &program); rc != ERROR_SUCCESS) {
    return Fail(rc);
  }
  int file = -1;
  if (DWORD rc = PrepareProgram(*machine, program, &file); rc != ERROR_SUCCESS) return Fail(rc);
  if (args.empty()) args.push_back(application_name != nullptr ? application_name : program.ToString());

  int folder = -1;
  DWORD rc = ERROR_SUCCESS;
  if (current_directory != nullptr) {
    WinPath dir;
    rc = ParseWinPath(current_directory, &dir) == ERROR_SUCCESS ? OpenFolder(*machine, dir, &folder)
                                                                 : ERROR_DIRECTORY;
  } else if (OpenFolder(*machine, program.Parent(), &folder) != ERROR_SUCCESS) {
    rc = ERROR_PATH_NOT_FOUND;
  }
  if (rc != ERROR_SUCCESS) {
    ::close(file);
    return Fail(rc);
  }

  std::vector<std::string> env =
      BuildEnvironment(static_cast<const char*>(environment), machine->prefix());
  // The program runs with the starter's token: elevated when the broker starts it.
  const IntegrityLevel level = CurrentToken().level;
  SetVariable(&env, kIntegrityVariable,
              level == IntegrityLevel::kHigh     ? "high"
              : level == IntegrityLevel::kMedium ? "medium"
                                                 : "low");
  pid_t pid = 0;
  int err = Spawn(file, folder, args, env, &pid);
  ::close(file);
  ::close(folder);
  if (err != 0) {
    // The file exists, so "not found" from the system means its interpreter is missing.
    return Fail(err == ENOENT ? ERROR_BAD_EXE_FORMAT : Win32ErrorFromErrno(err));
  }

  AdoptProcess(pid, process_information);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exit_code) {
  ProcessObject* p = AsProcess(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (exit_code == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(p->state().mu);
  *exit_code = p->state().ended ? p->state().exit_code : STILL_ACTIVE;
  return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
  ProcessObject* p = AsProcess(process);
  if (p == nullptr) return Fail(ERROR_INVALID_HANDLE);
  ProcessState& s = p->state();
  std::lock_guard<std::mutex> lock(s.mu);
  // Not reaped yet (the reaper needs this lock), so the pid is still this program's.
  siginfo_t info;
  info.si_pid = 0;
  if (s.ended || (waitid(P_PID, static_cast<id_t>(s.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                  info.si_pid != 0)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (!s.terminated) {
    s.terminated = true;
    s.terminate_code = exit_code;
  }
  kill(s.pid, SIGKILL);
  return TRUE;
}

BOOL CreateHostProcessWithChannel(const std::vector<std::string>& command,
                                  std::unique_ptr<Channel>* channel,
                                  PROCESS_INFORMATION* process_information) {
  if (command.empty() || command[0].empty() || channel == nullptr ||
      process_information == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    return Fail(Win32ErrorFromErrno(errno));
  }
  // The child's end must not be one of the descriptors it is copied to (dup2 onto itself
  // would leave it closed on exec).
  if (ends[1] <= 2) {
    int moved = fcntl(ends[1], F_DUPFD_CLOEXEC, 3);
    int err = errno;
    close(ends[1]);
    if (moved < 0) {
      close(ends[0]);
      return Fail(Win32ErrorFromErrno(err));
    }
    ends[1] = moved;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  // Only the channel is handed down: nothing else of this process reaches the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  SetFreshSignals(&attr);

  std::vector<std::string> args = command;
  const Machine* machine = CurrentMachine();
  std::vector<std::string> env;
  if (machine != nullptr) {
    env = BuildEnvironment(nullptr, machine->prefix());
  } else {
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
  }
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  pid_t pid = 0;
  int err = posix_spawnp(&pid, args[0].c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (err != 0) {
    close(ends[0]);
    return Fail(Win32ErrorFromErrno(err));
  }
  AdoptProcess(pid, process_information);
  *channel = MakeFdChannel(ends[0], ends[0]);
  return TRUE;
}

std::string LocateHostProgram(std::string_view name, std::string_view configured) {
  if (!configured.empty() && configured[0] == '/') return std::string(configured);
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string folder(buf, static_cast<size_t>(n));
  folder.erase(folder.rfind('/'));
  return folder + "/" + std::string(configured.empty() ? name : configured);
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetProcessId(HANDLE process) {
  ProcessObject* p = AsProcess(process);
  if (p == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(p->state().pid);
}

}  // namespace os
