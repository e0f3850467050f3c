// The machine image: one Windows-like machine kept in a folder (the prefix) of the host.
//
// Layout of a prefix:
//   image.conf     settings (Windows version, code page, user, drives, elevation, broker)
//   registry.db    the registry (os/reg)
//   drive_c/       what C:\ holds
//   windows.db ... other stores of os/ modules, each owned by its module
//
// Thread safety: a Machine is shared by every thread of the process. Settings are fixed
// before the machine is made current and only read afterwards; path translation is const.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "os/base/types.h"
#include "os/image/display_settings.h"
#include "os/image/transfer_bounds.h"
#include "os/image/win_path.h"

namespace os {

namespace reg {
class Store;
}

// Folders the image keeps at fixed places; each is created the first time it is asked for.
enum class KnownFolder {
  kWindows,         // C:\Windows
  kSystem,          // C:\Windows\system32
  kProgramFiles,    // C:\Program Files
  kModule,          // C:\Windows\Downloaded Program Files (where the control's module lives)
  kProfile,         // C:\Users\<user>
  kDesktop,         // C:\Users\<user>\Desktop
  kRoamingAppData,  // ...\AppData\Roaming
  kLocalAppData,    // ...\AppData\Local
  kLocalAppDataLow, // ...\AppData\LocalLow
  kInternetCache,   // ...\AppData\Local\Microsoft\Windows\Temporary Internet Files
  kInternetCacheLow,// the same with \Low: the cache a protected-mode process writes
  kTemp,            // ...\AppData\Local\Temp
  kTempLow,         // ...\AppData\Local\Temp\Low
};

struct ImageSettings {
  int os_major = 6;  // 6 and later: the broker path; 5: the direct path
  int os_minor = 1;
  int os_build = 7601;
  UINT code_page = 65001;
  std::string user = "user";
  bool protected_mode = false;     // the browser process runs at low integrity
  bool refuse_elevation = false;   // the elevation prompt is refused
  std::string elevation_command;   // e.g. "sudo -n"; empty: start the broker directly
  std::string broker_path;         // empty: pelisto-broker beside the running program
  int broker_timeout_ms = 120000;  // a broker call that takes longer fails
  // Copies are written into an unnamed file that gets its name once whole; false: into the
  // target's part file, as on file systems that cannot make unnamed files (overlay ones, for
  // example), which the program also finds out by itself.
  bool unnamed_files = true;
  TransferBounds transfer;         // what an HTTP transfer takes from a server
  // The hosting browser's version as a new image's registry records it (the "IE" value of
  // HKLM\SOFTWARE\Microsoft\Internet Explorer\Version Vector); empty: no value is written.
  // The browser that Windows 6.1 (build 7601), the default image, comes with.
  std::string browser_version = "8.0000";
  // Drive letter (upper case) to host folder; relative folders are below the prefix. Only C:
  // is mapped unless image.conf maps more: a drive for the host's root would hand an elevated
  // broker the whole host.
  std::map<char, std::string> drives = {{'C', "drive_c"}};
  DisplaySettings display;  // the desktop and the taskbar
};

class Machine {
 public:
  // Opens the image at `prefix`, creating the folder, drive_c and image.conf when missing.
  // Returns null and fills `error` when the prefix cannot be used, and when the prefix or its
  // image.conf could be written by another user (os/image/image_trust.h).
  static std::unique_ptr<Machine> Open(const std::string& prefix, std::string* error);
  ~Machine();

  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::string& prefix() const { return prefix_; }
  const ImageSettings& settings() const { return settings_; }
  // Changes the settings in memory (before the machine is shared); Save() persists them.
  ImageSettings& mutable_settings() { return settings_; }
  bool Save(std::string* error) const;

  // The host folder behind a drive letter, or empty when the letter is not mapped.
  std::string DriveRoot(char letter) const;

  // The host path that a Windows-form path really leads to, resolved as the file calls resolve
  // it (os/image/host_place_linux.h): existing components are found without regard to case,
  // missing ones keep the case given, links inside the drive are followed. Returns
  // ERROR_SUCCESS, a ParseWinPath error, ERROR_PATH_NOT_FOUND for an unmapped drive, or
  // ERROR_ACCESS_DENIED when the path leads outside the drive or into the prefix's own files.
  // The text is for messages and tests: a call that acts on the place must resolve it itself,
  // as the text may lead elsewhere by the time it is used.
  DWORD ToHostPath(std::string_view win_path, std::string* host_path,
                   WinPath* normalised = nullptr) const;
  DWORD ToHostPath(const WinPath& path, std::string* host_path) const;

  // The Windows-form path of a host path inside a mapped drive (the longest matching drive
  // folder wins, so C: is preferred to Z:); empty when no drive holds it.
  std::string ToWinPath(const std::string& host_path) const;

  // The Windows-form path of a well-known folder; the folder is created on first use.
  std::string FolderPath(KnownFolder folder) const;
  // The same path without creating anything.
  std::string FolderLocation(KnownFolder folder) const;

  // The registry of this image (opened on first use; os/reg owns it).
  reg::Store& registry();

 private:
  explicit Machine(std::string prefix);
  bool Load(std::string* error);

  std::string prefix_;
  ImageSettings settings_;
  std::mutex registry_mu_;
  std::shared_ptr<reg::Store> registry_;
};

// The image the Win32-shaped calls of os/ act on (one per process, like the real machine).
// Null until set; calls made without one fail with ERROR_NOT_READY-like ERROR_PATH_NOT_FOUND.
Machine* CurrentMachine();
void SetCurrentMachine(Machine* machine);

// The prefix chosen the usual way: `cli_prefix` when not empty, else $PELISTO_PREFIX, else
// $XDG_DATA_HOME/pelisto/machine, else ~/.local/share/pelisto/machine.
std::string ChoosePrefix(const std::string& cli_prefix);

}  // namespace os
