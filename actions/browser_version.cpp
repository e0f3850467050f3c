#include "actions/browser_version.h"

#include <cmath>
#include <cstdlib>

#include "actions/registry_ops.h"

namespace pelisto {

double BrowserVersionFromText(const std::string& text) {
  const double version = std::strtod(text.c_str(), nullptr);
  return std::isfinite(version) ? version : 0.0;
}

double ReadBrowserVersion(PrivilegedOps& privileged) {
  return BrowserVersionFromText(
      privileged.ReadRegString(os::HKEY_LOCAL_MACHINE, kBrowserVersionKey, kBrowserVersionValue));
}

double ReadBrowserVersionDirect(RunContext& context) {
  return BrowserVersionFromText(ReadRegistryValue(context, "HKEY_LOCAL_MACHINE",
                                                  kBrowserVersionKey, kBrowserVersionValue,
                                                  "STRING"));
}

}  // namespace pelisto
