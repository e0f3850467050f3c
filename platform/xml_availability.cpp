#include "platform/xml_availability.h"

#include <string>

#include "os/base/error.h"
#include "os/com/guid.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/reg/key_helpers.h"
#include "os/reg/registry.h"
#include "platform/xml_document_wrapper.h"

namespace pelisto {
namespace {

constexpr char kDomClsid[] = "{88D969C0-F192-11D4-A65F-0040963251E5}";
constexpr char kDomProgId[] = "Msxml2.DOMDocument.4.0";

// The default text value of HKEY_CLASSES_ROOT\`subkey`; false when the key or value is
// missing or is not text.
bool ReadClassesRootText(const std::string& subkey, std::string* text) {
  std::string value;
  if (os::RegGetValueA(os::HKEY_CLASSES_ROOT, subkey.c_str(), nullptr,
                       os::RRF_RT_REG_SZ | os::RRF_RT_REG_EXPAND_SZ, nullptr,
                       &value) != os::ERROR_SUCCESS) {
    return false;
  }
  // The text without the terminating zeros it was stored with.
  while (!value.empty() && value.back() == '\0') value.pop_back();
  *text = std::move(value);
  return true;
}

}  // namespace

bool IsMsxml4Available() {
  try {
    std::string server;
    if (!ReadClassesRootText(std::string("CLSID\\") + kDomClsid + "\\InprocServer32", &server) ||
        server.empty() || !os::FileExists(server) || os::IsDirectory(server)) {
      return false;
    }
    std::string progid_clsid;
    os::GUID registered, expected;
    if (!ReadClassesRootText(std::string(kDomProgId) + "\\CLSID", &progid_clsid) ||
        !os::GuidFromString(progid_clsid, &registered) || !os::GuidFromString(kDomClsid, &expected) ||
        registered != expected) {
      return false;
    }
    IXMLDocumentWrapper probe;
    return os::SUCCEEDED(probe.Create());
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace pelisto
