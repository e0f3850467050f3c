#include "actions/relative_url.h"

namespace pelisto {

std::string ResolveRelativeUrl(const std::string& url, const std::string& config_url, bool* bad_form) {
  *bad_form = false;
  const std::size_t slash = config_url.rfind('/');
  const std::string base = slash == std::string::npos ? std::string() : config_url.substr(0, slash + 1);
  auto starts = [&url](const char* prefix) { return url.rfind(prefix, 0) == 0; };
  if (starts("/")) return base + url.substr(1);
  if (starts(".//")) {
    *bad_form = true;
    return base;
  }
  if (starts("./")) return base + url.substr(2);
  if (starts("../")) return base + url.substr(3);
  if (starts(".")) {
    *bad_form = true;
    return base;
  }
  return url;
}

}  // namespace pelisto
