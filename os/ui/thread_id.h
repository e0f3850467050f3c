// Thread identities as window calls use them (GetWindowThreadProcessId, PostThreadMessage).
#pragma once

#include "os/base/types.h"

namespace os {

// A number that names the calling thread for the life of the process; never 0 and never
// given to another thread of this process.
DWORD GetCurrentThreadId();

}  // namespace os
