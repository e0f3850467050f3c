// The privileged steps of a run: the one interface through which engine/, actions/,
// download/ and archive/ copy, move, delete and write files, make folders, start programs,
// make shortcuts, register components and write or read machine-wide registry values.
//
// The run context hands out one implementation, chosen once when the control is made from
// the machine's major version: from Windows 6 on every step goes to the elevated broker
// (which may prompt; a refused or failed start shows "Create Brokerprocess
// failed...[IFileManager]" and the next step asks again), before Windows 6 each step is the
// direct call. Tests may hand in a fake. A step never chooses between the two itself; where a
// step's own flow differs on Windows 6 (a work file in a per-user folder that is then copied
// into place), it asks Brokered().
//
// Results follow the broker wrappers: 1 on success, 0 on failure, unless an operation says
// otherwise. No operation throws. Paths are Windows-form texts in the ANSI code page.
//
// Thread safety: every operation may be called from any thread (the download and gzip
// workers call them too); the broker path fetches the broker for the calling thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "os/base/types.h"
#include "os/reg/registry.h"

namespace pelisto {

class RunContext;

class PrivilegedOps {
 public:
  virtual ~PrivilegedOps() = default;

  // True when the steps go to the elevated broker (Windows 6 and later).
  virtual bool Brokered() const = 0;

  // CopyFileA: `destination` is replaced whole (a reader never sees part of it).
  virtual int CopyFile(const std::string& source, const std::string& destination,
                       os::BOOL fail_if_exists) = 0;
  virtual int MoveFile(const std::string& source, const std::string& destination) = 0;
  // Puts the regular file `source` in place of `destination` in one step, replacing a file
  // there (a reader sees the old file or the whole new one) and leaving no `source` behind:
  // a work file's one call instead of a copy and a delete. A source that is a folder or a
  // link is refused (on the broker path); after a failure `source` may still be there.
  virtual int MoveFileReplacing(const std::string& source, const std::string& destination) = 0;
  virtual int DeleteFile(const std::string& path) = 0;
  // One folder (its parent must exist); a folder that already exists counts as success.
  virtual int CreateDirectory(const std::string& path) = 0;
  // As CreateDirectory, but the failing HRESULT itself (S_OK for a new folder,
  // HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) for an existing one): the zip extraction's
  // folder creation raises a COM error on a failure.
  virtual os::HRESULT CreateDirectoryResult(const std::string& path) = 0;

  // Replaces `path` with `bytes`: afterwards the file holds either its previous content or
  // all of `bytes`, never a part, whatever fails or is killed in between. On the broker path
  // `bytes` is handed over as text in the ANSI code page (the stored configuration copy).
  virtual int WriteFileAtomically(const std::string& path, std::string_view bytes) = 0;
  // Creates `path` empty when it does not exist; an existing file is kept as it is.
  virtual int CreateFileIfMissing(const std::string& path) = 0;
  // Appends `text` at the end of the file `path`: the update log's lines. The direct path
  // never creates the file (a file removed meanwhile loses the text); the broker path opens
  // it as "a+" does, creating it again.
  virtual int AppendToFile(const std::string& path, std::string_view text) = 0;

  // Starts the program `path` (no command line). Before Windows 6 this is ExecuteFile
  // (actions/execute_file.h: its log lines, the wait cursor, the wait for the program's end);
  // from Windows 6 on the broker starts it elevated and does not wait for it. 1 when started.
  virtual int RunProgram(const std::string& path) = 0;
  // A shell link `link` + ".lnk" to `target`; 0 on success, otherwise a failure value. The
  // direct path is CreateShellLink of actions/shortcuts.h, with its box for a failed save.
  virtual os::LONG CreateShellLink(const std::string& target, const std::string& link,
                                   const std::string& description, const std::string& icon,
                                   const std::string& arguments) = 0;
  // An Internet shortcut file `path` for `url`; 0 on success, otherwise a failure value.
  virtual os::LONG CreateInternetShortcut(const std::string& url, const std::string& path,
                                          const std::string& description,
                                          const std::string& icon, os::LONG icon_index) = 0;

  // Self-registration of the component at `path` ("DllRegisterServer" /
  // "DllUnregisterServer"). Before Windows 6 the component is loaded into this process.
  virtual int RegisterComponent(const std::string& path) = 0;
  virtual int UnregisterComponent(const std::string& path) = 0;
  // The zip extraction's registration of a member: the broker is taken from the global
  // interface table as it is, never created (no prompt, no box). 1 registered; -1 when there
  // is no broker or it failed (before Windows 6: 1 or 0 from the in-process registration).
  virtual int RegisterExtractedComponent(const std::string& path) = 0;

  // Registry values under a predefined root, the key created when missing. Before Windows 6
  // the direct write also writes its log lines (the registry operations' own).
  virtual int WriteRegString(os::HKEY root, const std::string& subkey, const std::string& name,
                             const std::string& text) = 0;
  virtual int WriteRegNumber(os::HKEY root, const std::string& subkey, const std::string& name,
                             os::LONG number) = 0;
  // The value's text; empty on failure (or without a broker).
  virtual std::string ReadRegString(os::HKEY root, const std::string& subkey,
                                    const std::string& name) = 0;
};

// The broker path (`brokered`) or the direct calls. `context` receives the log lines that
// only the direct path writes and must outlive the result.
std::unique_ptr<PrivilegedOps> MakePrivilegedOps(bool brokered, RunContext& context);

}  // namespace pelisto
