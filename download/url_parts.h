// Splitting a download address into what a connection needs (service, server, port, object),
// and the request flags a transfer uses for it. Both transfer paths (the dialogless download
// and the download dialog's worker) parse and choose flags through these calls.
//
// The parser gives the answers of the URL parser the control was first written against:
// a scheme is required ("server/file.zip" fails; callers retry with "http://" in front);
// service types and default ports by scheme; the object is the path with its query, "/"
// when the address has none. Pure functions, safe on any thread.
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/inet/wininet.h"

namespace pelisto {

// Service types as the parser reports them.
inline constexpr os::DWORD kServiceFtp = 1;
inline constexpr os::DWORD kServiceGopher = 2;
inline constexpr os::DWORD kServiceHttp = 3;
inline constexpr os::DWORD kServiceFile = 0x1001;
inline constexpr os::DWORD kServiceHttps = 0x100B;  // 4107

// Longest address the parser accepts, without its terminating NUL.
inline constexpr size_t kMaxUrlLength = 2083;

struct UrlParts {
  os::DWORD service = 0;
  std::string server;  // host name or address; an IPv6 literal keeps its brackets
  std::string object;  // path and query, dot segments removed; never empty
  os::INTERNET_PORT port = 0;
  std::string user;      // from "user:password@", empty when absent
  std::string password;
};

// Splits `url`. False, leaving `*parts` untouched, for: no scheme or an unknown one ("http",
// "https", "ftp", "gopher" and "file" are known, in any case), a missing "//", an empty or
// malformed host, a port that is empty or not a number from 1 to 65535, a control byte or blank in the
// authority, or an address longer than kMaxUrlLength. The fragment ("#...") is dropped.
bool ParseUrlParts(const std::string& url, UrlParts* parts);

// The parse the transfers make: `*url` as it is, and when that fails "http://" + `*url`,
// which then replaces `*url`. False when both fail (`*url` then holds the prefixed text).
bool ParseUrlWithRetry(std::string* url, UrlParts* parts);

// Request flags: reload, no cache write, keep connection; and for HTTPS also secure, ignore
// certificate date and ignore certificate name.
inline constexpr os::DWORD kPlainRequestFlags = 0x84400000;
inline constexpr os::DWORD kSecureRequestFlags = 0x84C03000;

// The flag rule. An "https" address (the letters in any case) whose parsed service is HTTPS
// is sent as an HTTP service with kSecureRequestFlags: `parts->service` becomes kServiceHttp
// and the port stays the one parsed (443 by default). Everything else gets kPlainRequestFlags
// and keeps its service.
os::DWORD ChooseRequestFlags(const std::string& url, UrlParts* parts);

}  // namespace pelisto
