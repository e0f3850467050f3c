#include "os/com/apartment.h"

#include "os/com/hresult.h"

namespace os {
namespace {
struct ThreadCom {
  ULONG inits = 0;
  ULONG ole_inits = 0;
  bool apartment = false;  // the model fixed by the first CoInitializeEx
};
thread_local ThreadCom t_com;

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
}  // namespace

HRESULT CoInitializeEx(void* reserved, DWORD coinit) {
  if (reserved != nullptr || (coinit & ~kKnownFlags) != 0) return E_INVALIDARG;
  const bool apartment = (coinit & COINIT_APARTMENTTHREADED) != 0;
  if (t_com.inits == 0) {
    t_com.apartment = apartment;
    t_com.inits = 1;
    return S_OK;
  }
  if (t_com.apartment != apartment) return RPC_E_CHANGED_MODE;
  ++t_com.inits;
  return S_FALSE;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_com.inits == 0) return;
  if (--t_com.inits == 0) t_com = ThreadCom{};
}

HRESULT OleInitialize(void* reserved) {
  HRESULT hr = CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return hr;
  // The answer follows OLE's own count: the first OleInitialize succeeds with S_OK even on a
  // thread that CoInitialize had already set up.
  return t_com.ole_inits++ == 0 ? S_OK : S_FALSE;
}

void OleUninitialize() {
  if (t_com.ole_inits == 0) return;
  --t_com.ole_inits;
  CoUninitialize();
}

HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier) {
  if (type == nullptr || qualifier == nullptr) return E_INVALIDARG;
  *qualifier = APTTYPEQUALIFIER_NONE;
  if (t_com.inits == 0) {
    *type = APTTYPE_CURRENT;
    return CO_E_NOTINITIALIZED;
  }
  *type = t_com.apartment ? APTTYPE_STA : APTTYPE_MTA;
  return S_OK;
}

}  // namespace os
