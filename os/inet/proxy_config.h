// Where a session's requests go: straight to the server or through a proxy.
#pragma once

#include <string>

#include "os/base/types.h"

namespace os::inet {

struct ProxyConfig {
  std::string http;      // proxy for http URLs, empty: none
  std::string https;     // proxy for https URLs, empty: none
  std::string no_proxy;  // comma-separated hosts or domains that go direct
};

// The proxies the environment names, read the usual way: http_proxy (lower case only, as
// the upper-case name can be set by a web server's request), https_proxy or HTTPS_PROXY,
// all_proxy or ALL_PROXY for a scheme without its own, no_proxy or NO_PROXY.
ProxyConfig ProxyFromEnvironment();

// The proxies given to InternetOpenA: "host:port" for both schemes, or per-scheme entries
// "http=host:port https=host:port" separated by blanks or ';'. The bypass list's names are
// separated by blanks, ';' or ','; "<local>" is dropped (names without a dot are not told
// apart here).
ProxyConfig ProxyFromArguments(const std::string& proxy, const std::string& bypass);

}  // namespace os::inet
