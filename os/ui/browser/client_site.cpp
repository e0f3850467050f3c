#include "os/ui/browser/client_site.h"

namespace os::ui {
namespace {

// The page's document: a container that holds the control's site and offers nothing else.
class BrowserDocument final : public ComObject<IOleContainer> {};

}  // namespace

BrowserClientSite::BrowserClientSite(ClientSiteLinks links, ComPtr<IWebBrowser2> browser)
    : links_(links), browser_(std::move(browser)), document_(MakeCom<BrowserDocument>()) {}

HRESULT BrowserClientSite::QueryInterface(const IID& iid, void** out) {
  if (!links_.service_provider && iid == IServiceProvider::kIid) {
    if (out != nullptr) *out = nullptr;
    return out != nullptr ? E_NOINTERFACE : E_POINTER;
  }
  return ComObject::QueryInterface(iid, out);
}

HRESULT BrowserClientSite::GetContainer(IOleContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = nullptr;
  if (!links_.container) return E_NOINTERFACE;
  return document_.CopyTo(container);
}

HRESULT BrowserClientSite::QueryService(const GUID& service, const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!links_.browser_service || service != SID_SWebBrowserApp || !browser_) {
    return E_NOINTERFACE;
  }
  return browser_->QueryInterface(iid, out);
}

}  // namespace os::ui
