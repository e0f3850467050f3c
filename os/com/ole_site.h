// What an embedded control asks of the page that holds it: its client site, the site's
// container, and the services the site's host offers (IServiceProvider). Only the calls a
// control here makes are declared.
#pragma once

#include "os/com/unknown.h"

namespace os {

// The document that holds the control's site.
class IOleContainer : public IUnknown {
 public:
  // {0000011B-0000-0000-C000-000000000046}
  static constexpr IID kIid{0x0000011B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
};

class IOleClientSite : public IUnknown {
 public:
  // {00000118-0000-0000-C000-000000000046}
  static constexpr IID kIid{0x00000118, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  // On success stores the container with a reference in `*container`; otherwise null and a
  // failure (E_NOINTERFACE when the site is not in a container).
  virtual HRESULT GetContainer(IOleContainer** container) = 0;
};

class IServiceProvider : public IUnknown {
 public:
  // {6D5140C1-7436-11CE-8034-00AA006009FA}
  static constexpr IID kIid{0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
  // The service `service` as interface `iid`, with a reference, in `*out`; null and
  // E_NOINTERFACE when the host has no such service or it lacks the interface.
  virtual HRESULT QueryService(const GUID& service, const IID& iid, void** out) = 0;
};

}  // namespace os
