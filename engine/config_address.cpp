#include "engine/config_address.h"

namespace pelisto {
namespace {

std::string SiteRoot(const std::string& page_address) {
  std::size_t at = std::string::npos;
  int slashes = 0;
  for (std::size_t i = 0; i < page_address.size(); ++i) {
    if (page_address[i] == '/' && ++slashes == 3) {
      at = i;
      break;
    }
  }
  if (at == std::string::npos) return page_address.substr(0, 1);
  return page_address.substr(0, at + 1);
}

}  // namespace

bool ResolveConfigAddress(const std::string& address, const std::string& page_address,
                          std::string* resolved) {
  if (address.empty() || (address[0] != '/' && address[0] != '.')) {
    *resolved = address;
    return true;
  }
  auto starts = [&address](const char* prefix) { return address.rfind(prefix, 0) == 0; };
  std::string rest;
  if (starts("/")) {
    rest = address.substr(1);
  } else if (starts(".//")) {
    return false;
  } else if (starts("./")) {
    rest = address.substr(2);
  } else if (starts("../")) {
    rest = address.substr(3);
  } else {
    return false;
  }
  *resolved = SiteRoot(page_address) + rest;
  return true;
}

std::string LastPathSegment(const std::string& address) {
  const std::size_t slash = address.rfind('/');
  return slash == std::string::npos ? address : address.substr(slash + 1);
}

}  // namespace pelisto
