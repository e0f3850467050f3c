// For the Linux backend only: finding an entry of a folder by its name without regard to case.
//
// Proving that no entry matches needs every name of the folder, and reading a large folder
// for each new file would make filling it quadratic. So the names of recently searched
// folders are kept, indexed by their folded form, and kept exact by the kernel's change
// notifications on the folder (inotify): every change made by any process before a search is
// in the notification queue when the search drains it, so a kept index never answers for a
// folder as it was. Where a folder cannot be watched (or the queue overflowed), the folder is
// read again, as without an index. An answer is only a name to open in that folder (with no
// link followed), never a permission.
#pragma once

#include <string>

namespace os {

// The name of an entry of the open folder `folder` (any descriptor, O_PATH included) equal to
// `name` without regard to ASCII case, or empty when there is none. Thread-safe.
std::string FindNameWithoutCase(int folder, const std::string& name);

}  // namespace os
