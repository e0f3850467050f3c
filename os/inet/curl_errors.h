// The one table from libcurl's result codes to WinINet's error codes.
#pragma once

#include "os/base/types.h"

namespace os::inet {

// The WinINet code for a failed libcurl transfer (`code` is a CURLcode other than CURLE_OK).
// `certificate_fault` is TlsPolicy::first_fault of the handshake (0: none); a failed
// verification without one is the host name check.
DWORD WinInetErrorFromCurl(int code, int certificate_fault);

}  // namespace os::inet
