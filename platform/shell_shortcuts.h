// Making a shell link or an Internet shortcut through the shell's objects, the way both the
// control's direct path (actions/shortcuts.h) and the elevated broker make them: create the
// object, set what is given, save it. Paths are Windows-form texts in the ANSI code page.
#pragma once

#include <string>

#include "os/base/types.h"

namespace pelisto {

// The shell link `link` + ".lnk" to `target` (CLSID_ShellLink, IShellLinkA): SetPath, then
// SetDescription; SetIconLocation (index 0) only with an icon path, SetArguments only with
// arguments; no working folder, hot key or show command. Saved through IPersistFile with the
// path converted to wide text (at most 259 characters, else HRESULT_FROM_WIN32(
// ERROR_INSUFFICIENT_BUFFER) and nothing saved), remembered. An existing link is replaced.
//
// Returns the last HRESULT: the creation's, the query's for IPersistFile, or the save's (S_OK
// when the link was written). `*save_failed` (when given) tells whether it was the save
// that failed. COM must be initialised on the calling thread (CO_E_NOTINITIALIZED otherwise).
os::HRESULT WriteShellLink(const std::string& target, const std::string& link,
                           const std::string& description, const std::string& icon,
                           const std::string& arguments, bool* save_failed = nullptr);

// The Internet shortcut file `path` for `url` (CLSID_InternetShortcut), with COM initialised
// around the call: SetURL (flags 0; its result is not looked at), then SetIconLocation with
// `icon` and `icon_index`, SetDescription and the save (the path as wide text, at most 259
// characters, remembered), each only when the step before succeeded (the query for
// IShellLinkA counts as the step before SetIconLocation). Returns the last HRESULT (S_OK when
// the file was written).
os::HRESULT WriteInternetShortcut(const std::string& url, const std::string& path,
                                  const std::string& description, const std::string& icon,
                                  os::LONG icon_index);

}  // namespace pelisto
