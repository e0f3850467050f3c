// IBindStatusCallback: what the URL moniker service calls back while it binds a URL (start,
// priority, progress, the end of the binding, data and object arrivals), in its slot order.
#pragma once

#include "os/base/types.h"
#include "os/com/unknown.h"

namespace os {

class IBinding;  // the binding in progress; never looked at here

// Bind status codes of OnProgress.
inline constexpr ULONG BINDSTATUS_FINDINGRESOURCE = 1;
inline constexpr ULONG BINDSTATUS_CONNECTING = 2;
inline constexpr ULONG BINDSTATUS_BEGINDOWNLOADDATA = 4;
inline constexpr ULONG BINDSTATUS_DOWNLOADINGDATA = 5;
inline constexpr ULONG BINDSTATUS_ENDDOWNLOADDATA = 6;

class IBindStatusCallback : public IUnknown {
 public:
  // {79EAC9C1-BAF9-11CE-8C82-00AA004BA90B}
  static constexpr IID kIid{0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

  virtual HRESULT OnStartBinding(DWORD reserved, IBinding* binding) = 0;
  virtual HRESULT GetPriority(LONG* priority) = 0;
  virtual HRESULT OnLowResource(DWORD reserved) = 0;
  virtual HRESULT OnProgress(ULONG progress, ULONG progress_max, ULONG status_code,
                             const char16_t* status_text) = 0;
  virtual HRESULT OnStopBinding(HRESULT result, const char16_t* error) = 0;
  virtual HRESULT GetBindInfo(DWORD* bind_flags, void* bind_info) = 0;
  virtual HRESULT OnDataAvailable(DWORD flags, DWORD size, void* format, void* medium) = 0;
  virtual HRESULT OnObjectAvailable(const IID& iid, IUnknown* object) = 0;

 protected:
  ~IBindStatusCallback() = default;
};

}  // namespace os
