#include "os/inet/proxy_config.h"

#include <cstdlib>
#include <string_view>
#include <vector>

namespace os::inet {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string FirstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    std::string value = Env(name);
    if (!value.empty()) return value;
  }
  return "";
}

std::vector<std::string> Split(std::string_view text, std::string_view separators) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

ProxyConfig ProxyFromEnvironment() {
  ProxyConfig config;
  std::string all = FirstSet({"all_proxy", "ALL_PROXY"});
  config.http = Env("http_proxy");
  if (config.http.empty()) config.http = all;
  config.https = FirstSet({"https_proxy", "HTTPS_PROXY"});
  if (config.https.empty()) config.https = all;
  config.no_proxy = FirstSet({"no_proxy", "NO_PROXY"});
  return config;
}

ProxyConfig ProxyFromArguments(const std::string& proxy, const std::string& bypass) {
  ProxyConfig config;
  for (const std::string& entry : Split(proxy, " ;")) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      config.http = config.https = entry;
    } else if (entry.compare(0, eq, "http") == 0) {
      config.http = entry.substr(eq + 1);
    } else if (entry.compare(0, eq, "https") == 0) {
      config.https = entry.substr(eq + 1);
    }
  }
  for (const std::string& name : Split(bypass, " ;,")) {
    if (name == "<local>") continue;
    if (!config.no_proxy.empty()) config.no_proxy += ',';
    config.no_proxy += name;
  }
  return config;
}

}  // namespace os::inet
