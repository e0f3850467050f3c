#include "control/web_browser_access.h"

namespace pelisto {

os::ComPtr<os::IWebBrowser2> GetWebBrowser(os::IOleClientSite* client_site) {
  if (client_site == nullptr) return nullptr;
  os::ComPtr<os::IOleClientSite> site(client_site);
  os::ComPtr<os::IOleContainer> container;
  if (os::FAILED(site->GetContainer(container.ReleaseAndGetAddressOf())) || !container) {
    return nullptr;
  }
  os::ComPtr<os::IServiceProvider> services;
  if (os::FAILED(site.As(&services)) || !services) return nullptr;
  os::ComPtr<os::IWebBrowser2> browser;
  if (os::FAILED(services->QueryService(os::SID_SWebBrowserApp, os::IWebBrowser2::kIid,
                                        browser.ReleaseAndGetVoidAddressOf()))) {
    return nullptr;
  }
  return browser;
}

}  // namespace pelisto
