// The hosting browser's web browser object, reached from the control's client site: the site's
// container must answer, then the site's IServiceProvider gives the web browser application
// service as IWebBrowser2. Every intermediate reference is released again.
#pragma once

#include "os/com/ole_site.h"
#include "os/com/unknown.h"
#include "os/ui/browser/web_browser.h"

namespace pelisto {

// Null when there is no site, no container, no service provider or no such service.
os::ComPtr<os::IWebBrowser2> GetWebBrowser(os::IOleClientSite* client_site);

}  // namespace pelisto
