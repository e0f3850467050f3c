#include "control/object_safety.h"

#include "control/control_ids.h"
#include "os/com/hresult.h"
#include "os/com/unknown.h"

namespace pelisto {
namespace {
constexpr os::DWORD kKnownOptions =
    INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
}  // namespace

bool ControlOffersInterface(const os::IID& iid) {
  return iid == os::IID_IUnknown || iid == IID_IDispatch || iid == DIID_DPelisto ||
         iid == IID_IObjectSafety || iid == IID_IPersistPropertyBag;
}

os::HRESULT GetInterfaceSafetyOptions(const os::IID& iid, os::DWORD* supported,
                                      os::DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return os::E_POINTER;
  if (!ControlOffersInterface(iid)) {
    *supported = *enabled = 0;
    return os::E_NOINTERFACE;
  }
  *supported = *enabled = kKnownOptions;
  return os::S_OK;
}

os::HRESULT SetInterfaceSafetyOptions(const os::IID& iid, os::DWORD mask, os::DWORD enabled) {
  if (!ControlOffersInterface(iid)) return os::E_NOINTERFACE;
  if ((mask & ~kKnownOptions) != 0) return os::E_FAIL;
  return (mask & enabled) == mask ? os::S_OK : os::E_FAIL;
}

}  // namespace pelisto
