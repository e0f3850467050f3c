// A private byte stream between this process and one other that it started (or that started
// it), and the start of a host program joined to one. This is how the control reaches
// pelisto-broker: the stream is handed down at the start, so nothing else can connect to it,
// and the started program checks that the stream's maker is the process that started it.
//
// Thread safety: one thread may read while another writes; two concurrent reads (or writes)
// on one channel must be serialised by the caller. Shutdown may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/base/types.h"
#include "os/process/process.h"

namespace os {

class Channel {
 public:
  enum class Status {
    kOk,
    kClosed,   // the other end is gone (before or in the middle of the transfer)
    kTimeout,  // the time given passed first
    kFailed,   // another error; the last error says which
  };

  virtual ~Channel() = default;

  // Writes all of `data`. Never raises a signal when the other end is gone.
  virtual Status Write(std::string_view data) = 0;
  // Reads exactly `size` bytes into `data`, waiting at most `timeout_ms` for all of them
  // (INFINITE: no limit). On any status but kOk the bytes read so far are lost.
  virtual Status Read(void* data, std::size_t size, DWORD timeout_ms) = 0;
  // Ends the stream both ways: the other end then reads kClosed. Further calls here fail.
  virtual void Shutdown() = 0;
  // True when the other end is known to have closed (or this end was shut down). Never waits
  // and consumes nothing, so it may be asked while another thread reads.
  virtual bool PeerClosed() = 0;

 protected:
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
};

// Starts a program of the host (not a file of the image): `command` holds its arguments, the
// first being the program (looked for in PATH when it holds no "/"); a launcher such as
// "sudo -n" simply comes first. Its standard input and output are both joined to a new channel,
// returned in `*channel`; its standard error is the caller's; it inherits no other descriptor.
// Its environment is the caller's, with PELISTO_PREFIX set to the current machine's prefix.
//
// On success fills `*process_information` (both handles must be closed) and returns TRUE.
// Otherwise FALSE with the last error: ERROR_INVALID_PARAMETER for an empty command or null
// out-parameters, ERROR_FILE_NOT_FOUND when the program does not exist, ERROR_ACCESS_DENIED
// when it may not be run, another mapped code for other failures.
BOOL CreateHostProcessWithChannel(const std::vector<std::string>& command,
                                  std::unique_ptr<Channel>* channel,
                                  PROCESS_INFORMATION* process_information);

// The process at the other end of a channel, as the kernel recorded it when the channel was
// made.
struct ChannelPeer {
  DWORD process_id = 0;
  std::uint32_t user = 0;  // the host user id it ran as
};

// How many processes may stand between a program and the process that started it through
// CreateHostProcessWithChannel (an elevation command such as "sudo -n" and its helpers).
inline constexpr int kMaxLaunchers = 8;

// In a program started by CreateHostProcessWithChannel: takes over the channel found on
// standard input and output, only when both are one local stream socket made by the process
// that started this one: its parent, or the parent's parent and so on up to kMaxLaunchers
// processes between them. Anything else (a pipe, a file, a terminal, a socket made by any
// other process, a starter that has already left) gives null with `*why` saying what was
// refused; the caller should then leave, serving nobody. On success fills `*peer`. Standard
// input then reads nothing and standard output goes to standard error, so output of code
// loaded into the program cannot corrupt the stream; a write to a closed stream no longer
// raises a signal. Call it once, early.
std::unique_ptr<Channel> TakeStarterChannel(ChannelPeer* peer, std::string* why);

// The host path of the installation's program `name`: `configured` when it is an absolute
// host path; taken relative to the running program's folder when relative; `name` in the
// running program's folder when `configured` is empty. Empty when the running program's
// folder cannot be found. Nothing is checked for existence.
std::string LocateHostProgram(std::string_view name, std::string_view configured);

}  // namespace os
