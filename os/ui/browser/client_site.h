// The browser stand-in's client site for the control it embeds: GetContainer answers the
// page's document, and the site's IServiceProvider answers the web browser application
// service with the browser object. Each link can be left out, to play hosts that lack it.
#pragma once

#include "os/com/ole_site.h"
#include "os/ui/browser/web_browser.h"

namespace os::ui {

struct ClientSiteLinks {
  bool container = true;         // GetContainer succeeds
  bool service_provider = true;  // the site answers IServiceProvider
  bool browser_service = true;   // QueryService finds SID_SWebBrowserApp
};

class BrowserClientSite final : public ComObject<IOleClientSite, IServiceProvider> {
 public:
  BrowserClientSite(ClientSiteLinks links, ComPtr<IWebBrowser2> browser);

  HRESULT QueryInterface(const IID& iid, void** out) override;
  HRESULT GetContainer(IOleContainer** container) override;
  HRESULT QueryService(const GUID& service, const IID& iid, void** out) override;

 private:
  const ClientSiteLinks links_;
  const ComPtr<IWebBrowser2> browser_;
  const ComPtr<IOleContainer> document_;
};

}  // namespace os::ui
