// Which server certificate checks a request switches off, applied to libcurl's TLS context.
#pragma once

#include <curl/curl.h>

#include "os/base/types.h"

namespace os::inet {

// One per transfer; it must outlive every connection the transfer opens.
struct TlsPolicy {
  bool ignore_unknown_ca = false;
  bool ignore_date = false;
  // The first certificate fault that was not ignored on the last handshake (an OpenSSL
  // X509_V_ERR code), 0 when none; reset by the owner before each exchange.
  int first_fault = 0;
};

// Installs `policy` (a TlsPolicy*) on a TLS context that libcurl is about to use: the chain
// is still verified, and only faults the policy ignores are let through.
// Signature of CURLOPT_SSL_CTX_FUNCTION.
CURLcode ApplyTlsPolicy(CURL* curl, void* ssl_ctx, void* policy);

// The WinINet error for a certificate fault recorded in TlsPolicy::first_fault.
DWORD WinInetErrorFromCertificateFault(int fault);

}  // namespace os::inet
