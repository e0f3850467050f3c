// What the shell's link objects share when they save themselves (os/shell/shell_link.h,
// os/shell/internet_shortcut.h).
#pragma once

#include <string>

#include "os/base/types.h"

namespace os {

// IPersistFile::Save of a link object: writes `bytes` whole to `file` (null: `*current_file`),
// replacing an existing file, and with `remember` makes it `*current_file`. E_INVALIDARG
// without a file, HRESULT_FROM_WIN32(ERROR_INVALID_NAME) for a name not valid in the ANSI
// code page, the write's Windows error as an HRESULT.
HRESULT SaveShortcutFile(const char16_t* file, BOOL remember, const std::string& bytes,
                         std::u16string* current_file);

}  // namespace os
