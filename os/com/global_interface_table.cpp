#include "os/com/global_interface_table.h"

#include <map>
#include <mutex>

#include "os/com/apartment.h"
#include "os/com/hresult.h"
#include "os/shell/internet_shortcut.h"
#include "os/shell/shell_link.h"

namespace os {
namespace {
bool ComInitialized() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier));
}

class GlobalInterfaceTable final : public ComObject<IGlobalInterfaceTable> {
 public:
  HRESULT RegisterInterfaceInGlobal(IUnknown* unknown, const IID& iid, DWORD* cookie) override {
    if (!ComInitialized()) return CO_E_NOTINITIALIZED;
    if (unknown == nullptr || cookie == nullptr) return E_INVALIDARG;
    ComPtr<IUnknown> held;
    HRESULT hr = unknown->QueryInterface(iid, held.ReleaseAndGetVoidAddressOf());
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> lock(mu_);
    do {
      ++last_cookie_;
    } while (last_cookie_ == 0 || entries_.count(last_cookie_) != 0);
    entries_.emplace(last_cookie_, std::move(held));
    *cookie = last_cookie_;
    return S_OK;
  }

  HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override {
    if (!ComInitialized()) return CO_E_NOTINITIALIZED;
    ComPtr<IUnknown> dropped;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      dropped = std::move(it->second);
      entries_.erase(it);
    }
    // Released outside the lock: the object's destructor may call the table itself.
    return S_OK;
  }

  HRESULT GetInterfaceFromGlobal(DWORD cookie, const IID& iid, void** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (!ComInitialized()) return CO_E_NOTINITIALIZED;
    ComPtr<IUnknown> held;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      held = it->second;
    }
    return held->QueryInterface(iid, out);
  }

 private:
  std::mutex mu_;
  DWORD last_cookie_ = 0;
  std::map<DWORD, ComPtr<IUnknown>> entries_;
};

// The process's table lives until the process ends, as the system's does.
GlobalInterfaceTable* TheTable() {
  static GlobalInterfaceTable* table = MakeCom<GlobalInterfaceTable>().Detach();
  return table;
}
}  // namespace

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD context, const IID& iid,
                         void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!ComInitialized()) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  if (clsid == CLSID_StdGlobalInterfaceTable) return TheTable()->QueryInterface(iid, out);
  if (clsid == CLSID_ShellLink) return CreateShellLinkObject(iid, out);
  if (clsid == CLSID_InternetShortcut) return CreateInternetShortcutObject(iid, out);
  return REGDB_E_CLASSNOTREG;
}

}  // namespace os
