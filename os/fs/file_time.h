// FILETIME (100-ns ticks since 1601, UTC) against the host's timespec, for the file calls that
// read and set a file's times.
#pragma once

#include <time.h>

#include "os/base/types.h"

namespace os {

FILETIME ToFileTime(const struct timespec& ts);
struct timespec ToTimespec(const FILETIME& ft);

}  // namespace os
