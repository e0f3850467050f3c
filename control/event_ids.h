// Dispatch identifiers of the control's outgoing event interface, in declaration order.
// Lower layers may include this header to name an event; they fire events only through
// the run context.
#pragma once

#include "os/base/types.h"

namespace pelisto {

enum EventId : os::LONG {
  kEventDownloadFile = 1,
  kEventDownloadProgress = 2,
  kEventStartDownload = 3,
  kEventDownloading = 4,
  kEventChangeStatus = 5,
  kEventUnZipFileNumber = 6,
  kEventUnZipping = 7,
  kEventEndUnZip = 8,
  kEventTotalDownloadFileNumber = 9,
  kEventIsDownload = 10,
  kEventErrorNotify = 11,
};

}  // namespace pelisto
