// Desktop shortcuts of the "makeprogramlnk" and "makeinternetlnk" entries: a shell link
// (".lnk") to a program, an Internet shortcut (".url") to a web address.
//
// A shortcut is only ever written directly in the desktop folder (the "{desktop}" folder
// value): an `lnkName` that is not a plain file name (empty, "." or "..", or holding "\",
// "/", ":" or another character Windows refuses in a name) makes no shortcut and is reported
// as a failed one. Failures are reported (ShowMessage and a level-2 line) and never end the
// run. On the control's thread.
#pragma once

#include <string>

#include "control/run_context.h"
#include "engine/content_entry.h"
#include "os/base/types.h"

namespace pelisto {

// The direct shell link (platform/shell_shortcuts.h: WriteShellLink): `link` + ".lnk" to
// `target` with `description`, and the icon and arguments when they are not empty; an
// existing link is replaced. When the save fails the box "IPersistFile->Save() Error"
// (caption "Error", OK) is shown at once, whatever selfUi says. Returns the last HRESULT (0 for
// success). COM must be initialised on the thread.
os::HRESULT CreateShellLink(const std::string& target, const std::string& link,
                            const std::string& description, const std::string& icon,
                            const std::string& arguments);

// The direct Internet shortcut file `path` (platform/shell_shortcuts.h:
// WriteInternetShortcut), COM initialised around the call. Returns the last HRESULT (0 for
// success).
os::HRESULT CreateInternetShortcut(const std::string& url, const std::string& path,
                                   const std::string& description, const std::string& icon,
                                   os::LONG icon_index);

// The "makeprogramlnk" action: the link desktop + "\" + lnkName (".lnk" added) to `url`, its
// description `lnkName`, icon `target` and arguments `argument` (each only when not empty),
// through the privileged steps (the broker from Windows 6 on, else CreateShellLink). Logs
// " Start create shortcut - " + link path and " End create shortcut - " + link path [0];
// a failure shows "Do not creat desktop shortcut!" (ShowMessage) and logs
// " Do not creat desktop shortcut! '" + link path + "'" [2], after
// " Shortcut name is not a file name '" + lnkName + "'" [2] for a refused name.
void MakeProgramLink(RunContext& context, const ContentEntry& entry);

// The "makeinternetlnk" action: the file desktop + "\" + lnkName + ".url" for `url`, with the
// description `lnkName` and the icon `target`, or the run's icon source (State().icon_source,
// the last ".ico" or ".dll" entry of the run) when `target` is empty, index 0. Logs
// " Start create internet shortcut - " and " End create internet shortcut - " with the file
// path [0]; a failure shows "Do not creat desktop internet Link!" and logs
// " Do not creat desktop internet link! '" + path + "'" [2] (and the refused-name line).
void MakeInternetLink(RunContext& context, const ContentEntry& entry);

}  // namespace pelisto
