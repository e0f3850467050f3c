// For the Linux backend only: where a Windows-form path leads on the host.
//
// A path is resolved from its drive's root folder one component at a time, each opened
// relative to the folder before it without following links; a link met on the way is read
// and followed here, inside the drive only. So no link, rename race or length can lead a call
// outside the drive: every call then acts on the open folder that holds the place (the *at
// calls with no-follow flags), never on a path text the kernel would walk again. A check that
// cannot be completed (a link loop, a link out, an unreadable link, a folder that cannot be
// opened) refuses with ERROR_ACCESS_DENIED. The prefix's own files (registry, image.conf, the
// window list) are never reachable through any drive, even one that maps a folder above them.
//
// Nothing is cached between calls: each resolution opens the drive's root afresh.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "os/base/types.h"
#include "os/image/win_path.h"

namespace os {

class Machine;

// Whether a link that is the path's last component is followed (opening, reading, writing a
// file) or is the place itself (deleting, renaming, creating a folder: Windows acts on links).
enum class LastLink { kFollow, kKeep };

class HostPlace {
 public:
  HostPlace() = default;
  ~HostPlace();
  HostPlace(HostPlace&& other) noexcept;
  HostPlace& operator=(HostPlace&& other) noexcept;
  HostPlace(const HostPlace&) = delete;
  HostPlace& operator=(const HostPlace&) = delete;

  // The open folder (an O_PATH descriptor) that holds the place; -1 when a folder on the way
  // is missing (or is a file).
  int folder() const { return folder_; }
  bool folder_exists() const { return folder_ >= 0; }
  // The place's name in that folder: the existing name when one matched without regard to
  // case, else the name given. "." for a drive's root.
  const std::string& name() const { return name_; }
  bool is_root() const { return name_ == "."; }
  bool exists() const { return exists_; }
  // The place's status when it exists (with LastLink::kKeep, a link's own).
  const struct stat& status() const { return status_; }
  // Where the path really leads, on the drive that really holds it (links inside the drive
  // followed; a drive that maps a folder holding another drive's folder gives that drive).
  // This is what the integrity rule judges.
  const WinPath& real() const { return real_; }
  // The host path, for texts and for the few host calls that take nothing but a name.
  const std::string& host() const { return host_; }

  // Opens the place with open(2) `flags`; O_NOFOLLOW and O_CLOEXEC are always added, so a
  // link swapped in after the resolution fails (ELOOP) rather than being followed. Returns
  // the descriptor, or -1 with errno set.
  int Open(int flags, mode_t mode = 0) const;

 private:
  friend class PlaceWalk;
  int folder_ = -1;
  std::string name_;
  bool exists_ = false;
  struct stat status_ {};
  WinPath real_;
  std::string host_;
};

// Resolves `path` on `machine` into `place`. Returns ERROR_SUCCESS (the place may be missing:
// see exists() and folder_exists()), ERROR_PATH_NOT_FOUND when the drive is not mapped or its
// folder cannot be opened, ERROR_ACCESS_DENIED when the path leads outside the drive or into
// the prefix's own files or the check cannot be completed, ERROR_INVALID_NAME for a component
// that is not one plain name (empty, "." or "..", or holding "/"), or another mapped host error
// (ERROR_TOO_MANY_OPEN_FILES, ERROR_NOT_ENOUGH_MEMORY) when the walk runs out of resources.
DWORD ResolveHostPlace(const Machine& machine, const WinPath& path, LastLink last, HostPlace* place);

// Creates every missing folder of `path` (like mkdir -p, inside the drive only). Returns
// ERROR_SUCCESS when the folder exists afterwards.
DWORD CreateHostFolders(const Machine& machine, const WinPath& path);

// The error a missing place gives: ERROR_FILE_NOT_FOUND when its folder exists, else
// ERROR_PATH_NOT_FOUND.
DWORD MissingPlaceError(const HostPlace& place);

// "/proc/self/fd/N": a name for an open descriptor, for host calls that take only a name
// (the loader, the program start, chmod) yet must reach exactly the file already checked.
std::string DescriptorPath(int fd);

}  // namespace os
